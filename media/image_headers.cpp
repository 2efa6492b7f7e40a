// The headers of the images Qt's readers decode; only their facts are read
// here, to name the kind and to refuse a header before a reader sees it.
#include <algorithm>
#include <charconv>
#include <string>

#include "media/byte_reading.h"
#include "media/media_headers.h"

namespace {

std::string Size(uint32_t width, uint32_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// Why run-length packets in `bytes` bytes, each of `packet` bytes and of
// at most `run` pixels, cannot hold a width × height image; nothing when
// they can. Decoding such a claim would allocate its pixels first.
std::string RunLengthProblem(uint64_t bytes, uint64_t packet, uint64_t run, uint32_t width,
                             uint32_t height) {
  const uint64_t most = bytes / packet * run;
  if (uint64_t{width} * height <= most) return {};
  return std::to_string(bytes) + " bytes of run-length packets hold at most " +
         std::to_string(most) + " pixels, not " + Size(width, height);
}

// The channels of a PNG colour type, 0 for one the format lacks.
uint32_t PngChannels(uint32_t colourType) {
  switch (colourType) {
    case 0: return 1;
    case 2: return 3;
    case 3: return 1;
    case 4: return 2;
    case 6: return 4;
    default: return 0;
  }
}

// Whether a PNG colour type takes samples of `depth` bits.
bool PngDepthFits(uint32_t colourType, uint32_t depth) {
  switch (colourType) {
    case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    default: return depth == 8 || depth == 16;
  }
}

bool IsJpegFrame(uint32_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Whether what follows a BMP's information header can be what it says: a
// known compression, a palette that fits its pixels and the entry, and
// uncompressed rows all inside the entry. Else false, with `problem` set.
bool BmpBodyFits(std::string_view bytes, uint32_t info, uint32_t width, uint32_t height,
                 uint32_t bits, std::string& problem) {
  const uint32_t compression = info >= 40 ? Le32(bytes, 30) : 0;
  const uint32_t colours = info >= 40 ? Le32(bytes, 46) : 0;
  const uint64_t pixelsAt = Le32(bytes, 10);  // inside the entry, as the caller saw
  const uint64_t rowBytes = (uint64_t{width} * bits + 31) / 32 * 4;
  if (compression > 6) {
    problem = "compression " + std::to_string(compression) + " is not a BMP one";
  } else if (bits <= 8 && colours > (1u << bits)) {
    problem = "a palette of " + std::to_string(colours) + " colours for " + std::to_string(bits) +
              "-bit pixels";
  } else if (14 + uint64_t{info} + uint64_t{colours} * 4 > bytes.size()) {
    problem = "palette reaches past the end of the entry";
  } else if ((compression == 0 || compression == 3) &&
             height > (bytes.size() - pixelsAt) / rowBytes) {
    problem = "pixels reach past the end of the entry";
  }
  // Run-length BMPs are not held to their bytes: an escape may end a row or
  // the image early, leaving the rest of a large one undrawn, and still be
  // one.
  return problem.empty();
}

}  // namespace

CHeaderFound ReadPngHeader(std::string_view bytes, CImageFacts& image) {
  std::string why;
  if (bytes.substr(0, 8) != std::string_view("\x89PNG\r\n\x1a\n", 8)) return std::nullopt;
  image.format = "png";
  if (bytes.size() < 33) {
    why = "header cut short at " + std::to_string(bytes.size()) + " of 33 bytes";
  } else if (Be32(bytes, 8) != 13 || bytes.substr(12, 4) != "IHDR") {
    why = "the first chunk is not a 13-byte IHDR";
  } else if (Be32(bytes, 16) == 0 || Be32(bytes, 20) == 0 || Be32(bytes, 16) > 0x7FFFFFFF ||
             Be32(bytes, 20) > 0x7FFFFFFF) {
    why = SizeOutOfRange(Be32(bytes, 16), Be32(bytes, 20), 0x7FFFFFFF);
  } else if (PngChannels(ByteAt(bytes, 25)) == 0 ||
             !PngDepthFits(ByteAt(bytes, 25), ByteAt(bytes, 24))) {
    why = "colour type " + std::to_string(ByteAt(bytes, 25)) + " with " +
          std::to_string(ByteAt(bytes, 24)) + "-bit samples is not a PNG one";
  } else {
    image.width = Be32(bytes, 16);
    image.height = Be32(bytes, 20);
    image.bitsPerPixel = ByteAt(bytes, 24) * PngChannels(ByteAt(bytes, 25));
  }
  return Found(std::move(why));
}

CHeaderFound ReadJpegHeader(std::string_view bytes, CImageFacts& image) {
  std::string why;
  if (bytes.size() < 3 || Be16(bytes, 0) != 0xFFD8 || ByteAt(bytes, 2) != 0xFF) return std::nullopt;
  image.format = "jpeg";
  size_t at = 2;
  while (at + 4 <= bytes.size()) {
    if (ByteAt(bytes, at) != 0xFF) break;
    const uint32_t marker = ByteAt(bytes, at + 1);
    if (marker == 0xFF) {  // fill byte before a marker
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // markers with no length
      at += 2;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;
    const uint32_t length = Be16(bytes, at + 2);
    if (IsJpegFrame(marker) && length >= 8 && at + 10 <= bytes.size()) {
      image.height = Be16(bytes, at + 5);
      image.width = Be16(bytes, at + 7);
      const uint32_t precision = ByteAt(bytes, at + 4), components = ByteAt(bytes, at + 9);
      image.bitsPerPixel = precision * components;
      if (image.width == 0 || image.height == 0) {
        why = "the frame has no pixels";
      } else if (components == 0 || components > 4) {
        why = "a frame of " + std::to_string(components) + " components is not an image's";
      } else if (precision < 2 || precision > 16) {  // 8 or 12, and 2-16 lossless
        why = std::to_string(precision) + "-bit samples are not a JPEG precision";
      }
      return Found(std::move(why));
    }
    if (length < 2) break;
    at += 2 + length;
  }
  why = "no frame header before the scan or the end";
  return Found(std::move(why));
}

CHeaderFound ReadBmpHeader(std::string_view bytes, bool named, CImageFacts& image) {
  std::string why;
  if (bytes.substr(0, 2) != "BM") return std::nullopt;
  std::string problem;
  const uint32_t info = bytes.size() >= 18 ? Le32(bytes, 14) : 0;
  if (bytes.size() < 26) {
    problem = "header cut short at " + std::to_string(bytes.size()) + " bytes";
  } else if (info != 12 && info != 40 && info != 52 && info != 56 && info != 108 && info != 124) {
    problem = "information header of " + std::to_string(info) + " bytes is not a BMP one";
  } else if (bytes.size() < 14 + info) {
    problem = "information header cut short";
  } else {
    const bool core = info == 12;
    const uint32_t width = core ? Le16(bytes, 18) : Le32(bytes, 18);
    uint32_t height = core ? Le16(bytes, 20) : Le32(bytes, 22);
    if (!core && (height & 0x80000000u) != 0) height = 0u - height;  // rows top down
    const uint32_t bits = core ? Le16(bytes, 24) : Le16(bytes, 28);
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) {
      problem = SizeOutOfRange(width, height, 0x7FFFFFFF);
    } else if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
      problem = std::to_string(bits) + " bits a pixel is not a BMP depth";
    } else if (Le32(bytes, 10) >= bytes.size()) {
      problem = "pixels start past the end of the entry";
    } else if (BmpBodyFits(bytes, info, width, height, bits, problem)) {
      image = {"bmp", width, height, bits, {}, 0};
      return Found(std::move(why));
    }
  }
  if (!named) return std::nullopt;
  image.format = "bmp";
  why = problem;
  return Found(std::move(why));
}

uint64_t TgaPixelsAt(std::string_view bytes) {
  const uint64_t mapBytes =
      ByteAt(bytes, 1) == 1 ? uint64_t{Le16(bytes, 5)} * ((ByteAt(bytes, 7) + 7) / 8) : 0;
  return 18 + ByteAt(bytes, 0) + mapBytes;
}

CHeaderFound ReadTgaHeader(std::string_view bytes, CImageFacts& image) {
  std::string why;
  image.format = "tga";
  if (bytes.size() < 18) {
    why = "header cut short at " + std::to_string(bytes.size()) + " of 18 bytes";
    return Found(std::move(why));
  }
  const uint32_t mapType = ByteAt(bytes, 1), type = ByteAt(bytes, 2);
  const uint32_t width = Le16(bytes, 12), height = Le16(bytes, 14), bits = ByteAt(bytes, 16);
  const bool mapped = type == 1 || type == 9;
  const bool colour = type == 2 || type == 10;
  const bool grey = type == 3 || type == 11;
  const uint64_t pixelsAt = TgaPixelsAt(bytes);
  if (mapType > 1 || !(mapped || colour || grey) || (mapped && mapType != 1)) {
    // Made in place and copied once: bytes of no format, under a name
    // ending in .tga, all come here, and an archive can hold thousands.
    char words[64];
    char* at = words;
    const auto put = [&at](std::string_view piece) {
      at = std::copy(piece.begin(), piece.end(), at);
    };
    put("image type ");
    at = std::to_chars(at, at + 3, type).ptr;
    put(" with colour map type ");
    at = std::to_chars(at, at + 3, mapType).ptr;
    put(" is not a TGA one");
    return Found(std::string(words, at));
  }
  if (width == 0 || height == 0) {
    why = SizeOutOfRange(width, height, 65535);
  } else if ((colour && bits != 15 && bits != 16 && bits != 24 && bits != 32) ||
             (!colour && bits != 8 && bits != 16)) {
    why =
        std::to_string(bits) + " bits a pixel does not go with image type " + std::to_string(type);
  } else if (18 + uint64_t{ByteAt(bytes, 0)} > bytes.size()) {
    why = "image ID reaches past the end of the entry";
  } else if (pixelsAt > bytes.size()) {
    why = "colour map reaches past the end of the entry";
  } else if (type < 9 && pixelsAt + uint64_t{width} * height * ((bits + 7) / 8) > bytes.size()) {
    why = "pixels reach past the end of the entry";
  } else if (type >= 9) {  // a packet of 1 + bytesPer bytes gives at most 128 pixels
    why = RunLengthProblem(bytes.size() - pixelsAt, 1 + (bits + 7) / 8, 128, width, height);
  }
  if (why.empty()) image = {"tga", width, height, bits, {}, 0};
  return Found(std::move(why));
}
