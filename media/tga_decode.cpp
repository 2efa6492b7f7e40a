// Decoding TGA pixels: true-colour and grey images, plain or run-length
// encoded, rows bottom up unless the descriptor says top down, and right
// to left when it says so. Qt's own reader takes only files with the
// format's 2.0 footer, which most files lack; this one needs none.
#include <algorithm>

#include "media/byte_reading.h"
#include "media/dds_reader.h"
#include "media/media_headers.h"

namespace {

// One pixel of `bytesPer` bytes at `in` to RGBA.
void PutPixel(const uint8_t* in, uint32_t bytesPer, bool grey, uint8_t* out) {
  if (grey) {
    out[0] = out[1] = out[2] = in[0];
    out[3] = bytesPer == 2 ? in[1] : 255;
  } else if (bytesPer == 2) {
    const uint32_t v = in[0] | in[1] << 8;
    const uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
    out[0] = static_cast<uint8_t>(r << 3 | r >> 2);
    out[1] = static_cast<uint8_t>(g << 3 | g >> 2);
    out[2] = static_cast<uint8_t>(b << 3 | b >> 2);
    out[3] = 255;
  } else {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    out[3] = bytesPer == 4 ? in[3] : 255;
  }
}

// Reads `count` pixels from `bytes` at `at`, run-length encoded or not;
// false when the bytes end first.
bool ReadPixels(std::string_view bytes, size_t at, bool packed, uint32_t bytesPer, bool grey,
                size_t count, uint8_t* out) {
  const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
  for (size_t done = 0; done < count;) {
    size_t run = 1;
    bool repeat = false;
    if (packed) {
      if (at >= bytes.size()) return false;
      repeat = (in[at] & 0x80) != 0;
      run = std::min<size_t>((in[at] & 0x7F) + 1u, count - done);
      ++at;
    }
    for (size_t k = 0; k < run; ++k, ++done) {
      if (at + bytesPer > bytes.size()) return false;
      PutPixel(in + at, bytesPer, grey, out + 4 * done);
      if (!repeat || k + 1 == run) at += bytesPer;
    }
  }
  return true;
}

// Puts rows stored as the descriptor says (bottom up unless bit 0x20 says
// top down, each right to left when bit 0x10 says so) top down, and each
// left to right.
void Orient(CRgbaImage& image, uint32_t descriptor) {
  const size_t row = size_t{image.width} * 4;
  uint8_t* const pixels = image.pixels.data();
  if ((descriptor & 0x20) == 0) {
    for (uint32_t y = 0; y < image.height / 2; ++y)
      std::swap_ranges(pixels + y * row, pixels + (y + 1) * row,
                       pixels + (image.height - 1 - y) * row);
  }
  if ((descriptor & 0x10) != 0) {
    for (size_t start = 0; start < row * image.height; start += row)
      for (size_t left = start, right = start + row - 4; left < right; left += 4, right -= 4)
        std::swap_ranges(pixels + left, pixels + left + 4, pixels + right);
  }
}

}  // namespace

bool IsColourMappedTga(std::string_view bytes) {
  return bytes.size() > 2 && (ByteAt(bytes, 2) == 1 || ByteAt(bytes, 2) == 9);
}

CResult<CRgbaImage> DecodeTga(std::string_view bytes) {
  const auto refused = [](std::string why) { return CStatus::Failure({}, std::move(why)); };
  CImageFacts facts;
  const CHeaderFound header = ReadTgaHeader(bytes, facts);
  if (!header->IsOk()) return *header;
  if (IsColourMappedTga(bytes)) return refused("colour-mapped TGA images are not drawn");
  const uint32_t type = ByteAt(bytes, 2);
  const uint32_t bytesPer = (facts.bitsPerPixel + 7) / 8;
  const size_t pixels = size_t{facts.width} * facts.height;
  CRgbaImage image;
  image.pixels.resize(pixels * 4);
  const auto at = static_cast<size_t>(TgaPixelsAt(bytes));
  if (!ReadPixels(bytes, at, type >= 9, bytesPer, type == 3 || type == 11, pixels,
                  image.pixels.data()))
    return refused("pixels end before the image does");
  image.width = facts.width;
  image.height = facts.height;
  Orient(image, ByteAt(bytes, 17));
  return image;
}
