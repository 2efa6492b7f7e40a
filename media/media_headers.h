// The header readers behind DescribeEntry, one a format. Each looks at the
// signature first: nothing found when the bytes are not of its format at
// all. When they are, it reads and checks the header in order (size, then
// each field) and either fills `image` or `sound` (Ok), or says the first
// thing wrong.
#pragma once

#ifndef TARN_INSIDE_MEDIA
#error "media/media_headers.h is internal to the media library"
#endif

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "media/entry_kind.h"
#include "storage/status.h"

// What a header reader found: nothing of its format, or its format, read
// (Ok) or damaged (the words say how).
using CHeaderFound = std::optional<CStatus>;
inline CHeaderFound Found(std::string why) {
  return why.empty() ? CStatus() : CStatus::Failure({}, std::move(why));
}

// Why a width and height not both from 1 to `most` are refused, each
// named: a size written "0x10" reads as the number 16.
inline std::string SizeOutOfRange(uint32_t width, uint32_t height, uint32_t most) {
  return "width " + std::to_string(width) + " and height " + std::to_string(height) +
         ": each must be from 1 to " + std::to_string(most);
}

// A signature of its own.
CHeaderFound ReadPngHeader(std::string_view bytes, CImageFacts& image);
CHeaderFound ReadJpegHeader(std::string_view bytes, CImageFacts& image);
CHeaderFound ReadDdsHeader(std::string_view bytes, CImageFacts& image);
CHeaderFound ReadWavHeader(std::string_view bytes, CSoundFacts& sound);
// "BM" is too short a signature to trust alone: without `named` (the name
// says .bmp) a header that does not check out is no BMP at all; with it,
// a damaged one.
CHeaderFound ReadBmpHeader(std::string_view bytes, bool named, CImageFacts& image);
// No signature: tried only on entries named .tga, and then always found.
CHeaderFound ReadTgaHeader(std::string_view bytes, CImageFacts& image);
// Where a TGA's pixels start: after its 18-byte header, its image ID and
// its colour map, which a true-colour image may carry too. For bytes of
// at least 18.
uint64_t TgaPixelsAt(std::string_view bytes);
