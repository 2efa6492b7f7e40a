#include "media/dds_reader.h"

#include <algorithm>
#include <bit>
#include <new>

#include "media/byte_reading.h"
#include "media/entry_kind.h"
#include "media/media_headers.h"

namespace {

constexpr size_t kHeaderEnd = 128;  // "DDS " and the 124-byte header
constexpr uint32_t kMipMapCountFlag = 0x20000;
constexpr uint32_t kAlphaPixels = 0x1;
constexpr uint32_t kAlphaOnly = 0x2;
constexpr uint32_t kFourCc = 0x4;
constexpr uint32_t kRgb = 0x40;
constexpr uint32_t kLuminance = 0x20000;

constexpr uint32_t FourCc(const char (&code)[5]) {
  return static_cast<uint8_t>(code[0]) | static_cast<uint8_t>(code[1]) << 8 |
         static_cast<uint8_t>(code[2]) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(code[3])) << 24;
}

std::string FourCcText(uint32_t code) {
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((code >> (8 * i)) & 0xFF);
    text += c >= 0x20 && c < 0x7F ? c : '?';
  }
  return text;
}

// How many levels a side of `side` pixels can have: halving down to 1.
uint32_t MostLevels(uint32_t side) { return static_cast<uint32_t>(std::bit_width(side)); }

bool ReadPixelFormat(std::string_view bytes, CDdsHeader& header, std::string& why) {
  const uint32_t flags = Le32(bytes, 80);
  if ((flags & kFourCc) != 0) {
    const uint32_t code = Le32(bytes, 84);
    if (code == FourCc("DXT1")) {
      header.encoding = CDdsHeader::Encoding::Dxt1;
    } else if (code == FourCc("DXT3") || code == FourCc("DXT2")) {
      header.encoding = CDdsHeader::Encoding::Dxt3;
    } else if (code == FourCc("DXT5") || code == FourCc("DXT4")) {
      header.encoding = CDdsHeader::Encoding::Dxt5;
    } else {
      why = "pixel format '" + FourCcText(code) + "' is not one this reader knows";
      return false;
    }
    return true;
  }
  if ((flags & (kRgb | kLuminance | kAlphaOnly)) == 0) {
    why = "pixel format says neither compressed, colour, grey nor alpha";
    return false;
  }
  header.bitCount = Le32(bytes, 88);
  if (header.bitCount != 8 && header.bitCount != 16 && header.bitCount != 24 &&
      header.bitCount != 32) {
    why = std::to_string(header.bitCount) + " bits a pixel is not 8, 16, 24 or 32";
    return false;
  }
  header.luminance = (flags & kLuminance) != 0;
  for (size_t i = 0; i < 4; ++i) header.masks[i] = Le32(bytes, 92 + 4 * i);
  if ((flags & (kAlphaPixels | kAlphaOnly)) == 0) header.masks[3] = 0;
  if ((flags & kAlphaOnly) != 0 && (flags & (kRgb | kLuminance)) == 0)
    header.masks[0] = header.masks[1] = header.masks[2] = 0;
  return true;
}

uint64_t TopLevelBytes(const CDdsHeader& header) {
  const uint64_t blocksAcross = (uint64_t{header.width} + 3) / 4;
  const uint64_t blocksDown = (uint64_t{header.height} + 3) / 4;
  switch (header.encoding) {
    case CDdsHeader::Encoding::Dxt1: return blocksAcross * blocksDown * 8;
    case CDdsHeader::Encoding::Dxt3:
    case CDdsHeader::Encoding::Dxt5: return blocksAcross * blocksDown * 16;
    case CDdsHeader::Encoding::Masks: break;
  }
  return uint64_t{header.width} * header.height * (header.bitCount / 8);
}

}  // namespace

std::string DdsEncodingWord(const CDdsHeader& header) {
  switch (header.encoding) {
    case CDdsHeader::Encoding::Dxt1: return "dxt1";
    case CDdsHeader::Encoding::Dxt3: return "dxt3";
    case CDdsHeader::Encoding::Dxt5: return "dxt5";
    case CDdsHeader::Encoding::Masks: break;
  }
  std::string word = header.luminance ? "l" : "";
  if (!header.luminance && (header.masks[0] | header.masks[1] | header.masks[2]) != 0) word = "rgb";
  if (header.masks[3] != 0) word += "a";
  return word + std::to_string(header.bitCount);
}

namespace {

bool ParseHeader(std::string_view bytes, CDdsHeader& header, std::string& why) {
  header = CDdsHeader();
  if (bytes.size() < 4 || bytes.substr(0, 4) != "DDS ") {
    why = "no DDS signature";
    return false;
  }
  if (bytes.size() < kHeaderEnd) {
    why = "header cut short at " + std::to_string(bytes.size()) + " of 128 bytes";
    return false;
  }
  if (Le32(bytes, 4) != 124 || Le32(bytes, 76) != 32) {
    why = "header sizes are " + std::to_string(Le32(bytes, 4)) + " and " +
          std::to_string(Le32(bytes, 76)) + ", not 124 and 32";
    return false;
  }
  header.height = Le32(bytes, 12);
  header.width = Le32(bytes, 16);
  if (header.width == 0 || header.height == 0) {
    why = SizeOutOfRange(header.width, header.height, kMaxDdsSide);
    return false;
  }
  if (header.width > kMaxDdsSide || header.height > kMaxDdsSide) {
    why = std::to_string(header.width) + "x" + std::to_string(header.height) + " is larger than " +
          std::to_string(kMaxDdsSide) + "x" + std::to_string(kMaxDdsSide);
    return false;
  }
  if ((Le32(bytes, 8) & kMipMapCountFlag) != 0) header.mipmaps = std::max(1u, Le32(bytes, 28));
  const uint32_t most = MostLevels(std::max(header.width, header.height));
  if (header.mipmaps > most) {
    why = "claims " + std::to_string(header.mipmaps) + " mipmaps; at most " + std::to_string(most) +
          " fit";
    return false;
  }
  if (!ReadPixelFormat(bytes, header, why)) return false;
  header.topBytes = TopLevelBytes(header);
  if (header.topBytes > bytes.size() - kHeaderEnd) {
    why = "pixels need " + std::to_string(header.topBytes) + " bytes; the entry holds " +
          std::to_string(bytes.size() - kHeaderEnd) + " after the header";
    return false;
  }
  return true;
}

}  // namespace

CResult<CDdsHeader> ParseDdsHeader(std::string_view bytes) {
  CDdsHeader header;
  std::string why;
  if (!ParseHeader(bytes, header, why)) return CStatus::Failure({}, std::move(why));
  return header;
}

CHeaderFound ReadDdsHeader(std::string_view bytes, CImageFacts& image) {
  std::string why;
  if (bytes.substr(0, 4) != "DDS ") return std::nullopt;
  CDdsHeader header;
  image.format = "dds";
  if (!ParseHeader(bytes, header, why)) return Found(std::move(why));
  image.width = header.width;
  image.height = header.height;
  image.bitsPerPixel = header.encoding == CDdsHeader::Encoding::Masks ? header.bitCount : 0;
  image.encoding = DdsEncodingWord(header);
  image.mipmaps = header.mipmaps;
  return Found(std::move(why));
}
