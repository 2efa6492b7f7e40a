// Decoding a DDS file's top level, as the DirectDraw Surface format's public
// description lays out its pixels: rows of little-endian pixels split by
// channel masks, or 4 × 4 blocks of two 5:6:5 end colours and 2-bit
// indices between them, with 4-bit alpha (DXT3) or two end alphas and
// 3-bit indices (DXT5) before the colours.
#include <algorithm>
#include <bit>
#include <cstring>

#include "media/byte_reading.h"
#include "media/dds_reader.h"

namespace {

constexpr size_t kHeaderEnd = 128;

struct CColour {
  uint32_t r, g, b, a;
};

CColour Expand565(uint32_t c) {
  const uint32_t r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
  return {r << 3 | r >> 2, g << 2 | g >> 4, b << 3 | b >> 2, 255};
}

CColour Mix(const CColour& x, uint32_t wx, const CColour& y, uint32_t wy) {
  const uint32_t total = wx + wy;
  return {(x.r * wx + y.r * wy) / total, (x.g * wx + y.g * wy) / total,
          (x.b * wx + y.b * wy) / total, 255};
}

// The colour half of a block: `fourAlways` for DXT3 and DXT5, whose colour
// blocks always have four colours.
void DecodeColours(const uint8_t* block, bool fourAlways, uint8_t rgba[64]) {
  const uint32_t c0 = block[0] | block[1] << 8, c1 = block[2] | block[3] << 8;
  CColour palette[4] = {Expand565(c0), Expand565(c1), {}, {}};
  if (fourAlways || c0 > c1) {
    palette[2] = Mix(palette[0], 2, palette[1], 1);
    palette[3] = Mix(palette[0], 1, palette[1], 2);
  } else {
    palette[2] = Mix(palette[0], 1, palette[1], 1);
    palette[3] = {0, 0, 0, 0};
  }
  const uint32_t indices =
      block[4] | block[5] << 8 | block[6] << 16 | static_cast<uint32_t>(block[7]) << 24;
  for (int i = 0; i < 16; ++i) {
    const CColour& c = palette[(indices >> (2 * i)) & 3];
    rgba[4 * i] = static_cast<uint8_t>(c.r);
    rgba[4 * i + 1] = static_cast<uint8_t>(c.g);
    rgba[4 * i + 2] = static_cast<uint8_t>(c.b);
    rgba[4 * i + 3] = static_cast<uint8_t>(c.a);
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

void DecodeBlocks(std::string_view bytes, const CDdsHeader& header, CRgbaImage& image) {
  const size_t blockSize = header.encoding == CDdsHeader::Encoding::Dxt1 ? 8 : 16;
  const uint32_t across = (header.width + 3) / 4, down = (header.height + 3) / 4;
  const uint8_t* in = reinterpret_cast<const uint8_t*>(bytes.data()) + kHeaderEnd;
  uint8_t block[64];
  for (uint32_t by = 0; by < down; ++by) {
    for (uint32_t bx = 0; bx < across; ++bx, in += blockSize) {
      switch (header.encoding) {
        case CDdsHeader::Encoding::Dxt1: DecodeDxt1Block(in, block); break;
        case CDdsHeader::Encoding::Dxt3: DecodeDxt3Block(in, block); break;
        default: DecodeDxt5Block(in, block); break;
      }
      // Blocks at the right and bottom edges hang over the image.
      for (uint32_t y = 0; y < 4 && by * 4 + y < header.height; ++y) {
        const uint32_t width = std::min(4u, header.width - bx * 4);
        std::memcpy(&image.pixels[(size_t{by * 4 + y} * header.width + bx * 4) * 4], &block[y * 16],
                    size_t{width} * 4);
      }
    }
  }
}

}  // namespace

void DecodeDxt1Block(const uint8_t* block, uint8_t rgba[64]) { DecodeColours(block, false, rgba); }

void DecodeDxt3Block(const uint8_t* block, uint8_t rgba[64]) {
  DecodeColours(block + 8, true, rgba);
  for (int i = 0; i < 16; ++i) {
    const uint32_t nibble = (block[i / 2] >> (4 * (i % 2))) & 0xF;
    rgba[4 * i + 3] = static_cast<uint8_t>(nibble * 17);
  }
}

void DecodeDxt5Block(const uint8_t* block, uint8_t rgba[64]) {
  DecodeColours(block + 8, true, rgba);
  const uint32_t a0 = block[0], a1 = block[1];
  uint32_t alphas[8] = {a0, a1};
  if (a0 > a1) {
    for (uint32_t k = 1; k < 7; ++k) alphas[k + 1] = ((7 - k) * a0 + k * a1) / 7;
  } else {
    for (uint32_t k = 1; k < 5; ++k) alphas[k + 1] = ((5 - k) * a0 + k * a1) / 5;
    alphas[6] = 0;
    alphas[7] = 255;
  }
  uint64_t indices = 0;
  for (int k = 0; k < 6; ++k) indices |= uint64_t{block[2 + k]} << (8 * k);
  for (int i = 0; i < 16; ++i)
    rgba[4 * i + 3] = static_cast<uint8_t>(alphas[(indices >> (3 * i)) & 7]);
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
  } else {
    DecodeBlocks(bytes, header, image);
  }
  return image;
}
