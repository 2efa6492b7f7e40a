// Small images and sounds made in code, for the tests and the demo archive:
// every byte is ours, and each maker writes exactly the header the readers
// expect unless told otherwise. Not part of the program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An uncompressed 32-bit TGA of `rgba` (width × height × 4 bytes, rows top
// down).
std::string MakeTga(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgba);

// A DDS header for `fourCc` ("DXT1", "DXT3", "DXT5", or "" for 32-bit
// BGRA with alpha) followed by `pixels` as given: the caller decides
// whether they are enough.
std::string MakeDds(uint32_t width, uint32_t height, const std::string& fourCc, uint32_t mipmaps,
                    const std::string& pixels);
// A DXT5 DDS of one colour per 4 × 4 block, alpha fading across, with
// every mipmap level: a picture with alpha for the eye.
std::string MakeDxt5Picture(uint32_t side);

// A PCM WAV of a sine tone: `frames` frames at `rate` Hz, mono, 16 bits.
std::string MakeWav(uint32_t rate, uint32_t frames);
// A WAV of `frames` frames of 32-bit float samples, mono, all silent: a
// sound of an encoding that is not played.
std::string MakeFloatWav(uint32_t rate, uint32_t frames);
