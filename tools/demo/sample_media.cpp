#include "tools/demo/sample_media.h"

#include <cmath>

namespace {

void PutLe16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void PutLe32(std::string& out, uint32_t value) {
  PutLe16(out, value & 0xFFFF);
  PutLe16(out, value >> 16);
}

uint32_t Rgb565(uint32_t r, uint32_t g, uint32_t b) {
  return (r >> 3) << 11 | (g >> 2) << 5 | b >> 3;
}

}  // namespace

std::string MakeTga(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgba) {
  std::string out;
  out += std::string("\0\0\x02", 3);  // no id, no colour map, true colour
  out += std::string(9, '\0');        // colour map and origin
  PutLe16(out, width);
  PutLe16(out, height);
  out += static_cast<char>(32);
  out += static_cast<char>(0x28);  // 8 alpha bits, rows top down
  for (size_t i = 0; i + 3 < rgba.size(); i += 4) {
    out += static_cast<char>(rgba[i + 2]);
    out += static_cast<char>(rgba[i + 1]);
    out += static_cast<char>(rgba[i]);
    out += static_cast<char>(rgba[i + 3]);
  }
  return out;
}

std::string MakeDds(uint32_t width, uint32_t height, const std::string& fourCc, uint32_t mipmaps,
                    const std::string& pixels) {
  std::string out = "DDS ";
  PutLe32(out, 124);
  PutLe32(out, 0x1007 | (mipmaps > 1 ? 0x20000 : 0));  // caps, height, width, format, mipmaps
  PutLe32(out, height);
  PutLe32(out, width);
  PutLe32(out, 0);  // pitch or linear size
  PutLe32(out, 0);  // depth
  PutLe32(out, mipmaps);
  out += std::string(44, '\0');
  PutLe32(out, 32);
  if (fourCc.empty()) {
    PutLe32(out, 0x41);  // colour with alpha
    PutLe32(out, 0);
    PutLe32(out, 32);
    PutLe32(out, 0x00FF0000);
    PutLe32(out, 0x0000FF00);
    PutLe32(out, 0x000000FF);
    PutLe32(out, 0xFF000000);
  } else {
    PutLe32(out, 0x4);
    out += fourCc.substr(0, 4);
    out += std::string(20, '\0');
  }
  PutLe32(out, 0x1000);  // a texture
  out += std::string(16, '\0');
  return out + pixels;
}

std::string MakeDxt5Picture(uint32_t side) {
  std::string pixels;
  uint32_t levels = 0;
  for (uint32_t size = side;; size /= 2) {
    const uint32_t blocks = (size + 3) / 4;
    for (uint32_t y = 0; y < blocks; ++y) {
      for (uint32_t x = 0; x < blocks; ++x) {
        const uint32_t across = blocks > 1 ? x * 255 / (blocks - 1) : 255;
        const uint32_t down = blocks > 1 ? y * 255 / (blocks - 1) : 0;
        pixels += static_cast<char>(across);  // both end alphas: one alpha a block
        pixels += static_cast<char>(across);
        pixels += std::string(6, '\0');
        const uint32_t colour = Rgb565(255 - down, across, down);
        PutLe16(pixels, colour);
        PutLe16(pixels, colour);
        PutLe32(pixels, 0);
      }
    }
    ++levels;
    if (size <= 1) break;
  }
  return MakeDds(side, side, "DXT5", levels, pixels);
}

namespace {

// A mono WAV's header up to its samples: `format` 1 for PCM, 3 for float,
// `frames` of `bytes` each.
std::string WavHeader(uint32_t format, uint32_t rate, uint32_t bytes, uint32_t frames) {
  std::string out = "RIFF";
  PutLe32(out, 36 + frames * bytes);
  out += "WAVEfmt ";
  PutLe32(out, 16);
  PutLe16(out, format);
  PutLe16(out, 1);
  PutLe32(out, rate);
  PutLe32(out, rate * bytes);
  PutLe16(out, bytes);
  PutLe16(out, 8 * bytes);
  out += "data";
  PutLe32(out, frames * bytes);
  return out;
}

}  // namespace

std::string MakeWav(uint32_t rate, uint32_t frames) {
  std::string out = WavHeader(1, rate, 2, frames);
  for (uint32_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    const double fade = 1.0 - static_cast<double>(i) / frames;
    PutLe16(out, static_cast<uint32_t>(
                     static_cast<int32_t>(8000 * fade * std::sin(2 * 3.14159265358979 * 440 * t))) &
                     0xFFFF);
  }
  return out;
}

std::string MakeFloatWav(uint32_t rate, uint32_t frames) {
  return WavHeader(3, rate, 4, frames) + std::string(size_t{frames} * 4, '\0');
}
