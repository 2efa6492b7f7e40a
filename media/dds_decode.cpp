// Decoding a DDS file's top level, as the DirectDraw Surface format's public
// description lays out its pixels: rows of little-endian pixels split by
// channel masks, or 4 × 4 blocks of two 5:6:5 end colours and 2-bit
// indices between them, with 4-bit alpha (DXT3) or two end alphas and
// 3-bit indices (DXT5) before the colours.
#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "media/byte_reading.h"
#include "media/dds_reader.h"
#include "threads/run_beside.h"

namespace {

constexpr size_t kHeaderEnd = 128;

// A pixel's four bytes R, G, B, A as they lie in memory, in one word: a
// block is written a pixel a store, whatever the machine's byte order.
uint32_t Pack(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(r), static_cast<uint8_t>(g),
                            static_cast<uint8_t>(b), static_cast<uint8_t>(a)};
  uint32_t pixel;
  std::memcpy(&pixel, bytes, 4);
  return pixel;
}

const uint32_t kAlphaByte = Pack(0, 0, 0, 255);

// The colour half's four colours: `fourAlways` for DXT3 and DXT5, whose
// colour blocks always have four.
void ColourPalette(const uint8_t* block, bool fourAlways, uint32_t palette[4]) {
  const uint32_t c0 = block[0] | block[1] << 8, c1 = block[2] | block[3] << 8;
  const uint32_t r0 = (c0 >> 11) & 31, g0 = (c0 >> 5) & 63, b0 = c0 & 31;
  const uint32_t r1 = (c1 >> 11) & 31, g1 = (c1 >> 5) & 63, b1 = c1 & 31;
  const uint32_t r[2] = {r0 << 3 | r0 >> 2, r1 << 3 | r1 >> 2};
  const uint32_t g[2] = {g0 << 2 | g0 >> 4, g1 << 2 | g1 >> 4};
  const uint32_t b[2] = {b0 << 3 | b0 >> 2, b1 << 3 | b1 >> 2};
  palette[0] = Pack(r[0], g[0], b[0], 255);
  palette[1] = Pack(r[1], g[1], b[1], 255);
  if (fourAlways || c0 > c1) {
    palette[2] = Pack((2 * r[0] + r[1]) / 3, (2 * g[0] + g[1]) / 3, (2 * b[0] + b[1]) / 3, 255);
    palette[3] = Pack((r[0] + 2 * r[1]) / 3, (g[0] + 2 * g[1]) / 3, (b[0] + 2 * b[1]) / 3, 255);
  } else {
    palette[2] = Pack((r[0] + r[1]) / 2, (g[0] + g[1]) / 2, (b[0] + b[1]) / 2, 255);
    palette[3] = 0;
  }
}

// The eight alphas of a DXT5 block, each alone in its pixel's alpha byte.
void AlphaPalette(const uint8_t* block, uint32_t alphas[8]) {
  const uint32_t a0 = block[0], a1 = block[1];
  uint32_t values[8] = {a0, a1};
  if (a0 > a1) {
    for (uint32_t k = 1; k < 7; ++k) values[k + 1] = ((7 - k) * a0 + k * a1) / 7;
  } else {
    for (uint32_t k = 1; k < 5; ++k) values[k + 1] = ((5 - k) * a0 + k * a1) / 5;
    values[6] = 0;
    values[7] = 255;
  }
  for (int k = 0; k < 8; ++k) alphas[k] = Pack(0, 0, 0, values[k]);
}

// One block's 4 × 4 pixels written to `out`, rows `stride` bytes apart.
template <CDdsHeader::Encoding kEncoding>
void DecodeBlock(const uint8_t* block, uint8_t* out, size_t stride) {
  using Encoding = CDdsHeader::Encoding;
  const uint8_t* colours = kEncoding == Encoding::Dxt1 ? block : block + 8;
  uint32_t palette[4];
  ColourPalette(colours, kEncoding != Encoding::Dxt1, palette);
  const uint32_t indices =
      colours[4] | colours[5] << 8 | colours[6] << 16 | static_cast<uint32_t>(colours[7]) << 24;
  uint32_t alphas[8];
  uint64_t alphaBits = 0;
  if constexpr (kEncoding == Encoding::Dxt5) {
    AlphaPalette(block, alphas);
    for (int k = 0; k < 6; ++k) alphaBits |= uint64_t{block[2 + k]} << (8 * k);
  } else if constexpr (kEncoding == Encoding::Dxt3) {
    for (int k = 0; k < 8; ++k) alphaBits |= uint64_t{block[k]} << (8 * k);
  }
  if constexpr (kEncoding != Encoding::Dxt1)
    for (uint32_t& colour : palette) colour &= ~kAlphaByte;
  for (int y = 0; y < 4; ++y, out += stride) {
    for (int x = 0; x < 4; ++x) {
      const int i = 4 * y + x;
      uint32_t pixel = palette[(indices >> (2 * i)) & 3];
      if constexpr (kEncoding == Encoding::Dxt5) {
        pixel |= alphas[(alphaBits >> (3 * i)) & 7];
      } else if constexpr (kEncoding == Encoding::Dxt3) {
        pixel |= Pack(0, 0, 0, static_cast<uint32_t>((alphaBits >> (4 * i)) & 0xF) * 17);
      }
      std::memcpy(out + 4 * x, &pixel, 4);
    }
  }
}

uint32_t ScaleToByte(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  const uint32_t shifted = (pixel & mask) >> std::countr_zero(mask);
  const uint32_t most = mask >> std::countr_zero(mask);
  return static_cast<uint32_t>(uint64_t{shifted} * 255 / most);
}

void DecodeMasks(std::string_view bytes, const CDdsHeader& header, uint8_t* out) {
  const size_t step = header.bitCount / 8;
  const size_t pixels = size_t{header.width} * header.height;
  const uint8_t* in = reinterpret_cast<const uint8_t*>(bytes.data()) + kHeaderEnd;
  for (size_t i = 0; i < pixels; ++i, in += step, out += 4) {
    uint32_t pixel = 0;
    for (size_t k = 0; k < step; ++k) pixel |= static_cast<uint32_t>(in[k]) << (8 * k);
    const uint32_t r = ScaleToByte(pixel, header.masks[0]);
    out[0] = static_cast<uint8_t>(r);
    out[1] = static_cast<uint8_t>(header.luminance ? r : ScaleToByte(pixel, header.masks[1]));
    out[2] = static_cast<uint8_t>(header.luminance ? r : ScaleToByte(pixel, header.masks[2]));
    out[3] = static_cast<uint8_t>(header.masks[3] != 0 ? ScaleToByte(pixel, header.masks[3]) : 255);
  }
}

// The block rows [first, last) of the top level.
template <CDdsHeader::Encoding kEncoding>
void DecodeBlockRows(const uint8_t* in, const CDdsHeader& header, uint32_t first, uint32_t last,
                     uint8_t* pixels) {
  constexpr size_t kBlockSize = kEncoding == CDdsHeader::Encoding::Dxt1 ? 8 : 16;
  const uint32_t width = header.width, height = header.height;
  const uint32_t across = (width + 3) / 4;
  const size_t stride = size_t{width} * 4;
  in += size_t{first} * across * kBlockSize;
  for (uint32_t by = first; by < last; ++by) {
    uint8_t* const row = pixels + size_t{by} * 4 * stride;
    const bool whole = by * 4 + 4 <= height;
    for (uint32_t bx = 0; bx < across; ++bx, in += kBlockSize) {
      if (whole && bx * 4 + 4 <= width) {
        DecodeBlock<kEncoding>(in, row + size_t{bx} * 16, stride);
        continue;
      }
      // Blocks at the right and bottom edges hang over the image.
      uint8_t block[64];
      DecodeBlock<kEncoding>(in, block, 16);
      const uint32_t shown = std::min(4u, width - bx * 4);
      for (uint32_t y = 0; y < 4 && by * 4 + y < height; ++y)
        std::memcpy(row + y * stride + size_t{bx} * 16, &block[y * 16], size_t{shown} * 4);
    }
  }
}

// Images this large are decoded half on each core: a 4096 × 4096 DXT5
// texture took half the time on two.
constexpr size_t kSplitPixels = size_t{1} << 20;

template <CDdsHeader::Encoding kEncoding>
void DecodeBlocks(std::string_view bytes, const CDdsHeader& header, CRgbaImage& image) {
  const uint8_t* in = reinterpret_cast<const uint8_t*>(bytes.data()) + kHeaderEnd;
  const uint32_t down = (header.height + 3) / 4;
  uint8_t* const pixels = image.pixels.data();
  if (size_t{header.width} * header.height < kSplitPixels) {
    DecodeBlockRows<kEncoding>(in, header, 0, down, pixels);
    return;
  }
  const uint32_t half = down / 2;
  RunBeside([&] { DecodeBlockRows<kEncoding>(in, header, 0, half, pixels); },
            [&] { DecodeBlockRows<kEncoding>(in, header, half, down, pixels); });
}

}  // namespace

void DecodeDxt1Block(const uint8_t* block, uint8_t rgba[64]) {
  DecodeBlock<CDdsHeader::Encoding::Dxt1>(block, rgba, 16);
}

void DecodeDxt3Block(const uint8_t* block, uint8_t rgba[64]) {
  DecodeBlock<CDdsHeader::Encoding::Dxt3>(block, rgba, 16);
}

void DecodeDxt5Block(const uint8_t* block, uint8_t rgba[64]) {
  DecodeBlock<CDdsHeader::Encoding::Dxt5>(block, rgba, 16);
}

void* AllocateLargePixels(size_t bytes) {
#if defined(__linux__)
  constexpr size_t kHugePage = size_t{2} << 20;
  const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* const at = std::aligned_alloc(kHugePage, rounded);
  if (at == nullptr) throw std::bad_alloc();
  // Only advice: without huge pages the memory is the same, in small ones.
  ::madvise(at, rounded, MADV_HUGEPAGE);
  return at;
#else
  return ::operator new(bytes);
#endif
}

void FreeLargePixels(void* at, size_t bytes) noexcept {
#if defined(__linux__)
  (void)bytes;
  std::free(at);
#else
  ::operator delete(at, bytes);
#endif
}

CResult<CRgbaImage> DecodeDds(std::string_view bytes) {
  const CResult<CDdsHeader> parsed = ParseDdsHeader(bytes);
  if (!parsed) return parsed.GetStatus();
  const CDdsHeader& header = *parsed;
  CRgbaImage image;
  // Bounded by the header's check: the pixels' bytes are in the entry.
  image.pixels.resize(size_t{header.width} * header.height * 4);
  image.width = header.width;
  image.height = header.height;
  if (header.encoding == CDdsHeader::Encoding::Masks) {
    DecodeMasks(bytes, header, image.pixels.data());
  } else if (header.encoding == CDdsHeader::Encoding::Dxt1) {
    DecodeBlocks<CDdsHeader::Encoding::Dxt1>(bytes, header, image);
  } else if (header.encoding == CDdsHeader::Encoding::Dxt3) {
    DecodeBlocks<CDdsHeader::Encoding::Dxt3>(bytes, header, image);
  } else {
    DecodeBlocks<CDdsHeader::Encoding::Dxt5>(bytes, header, image);
  }
  return image;
}
