// The header readers behind DescribeEntry, one a format. Each looks at the
// signature first: false when the bytes are not of its format at all. When
// they are, it reads and checks the header in order (size, then each field)
// and either fills `image` or `sound`, or sets `why` to the first thing
// wrong, and returns true.
#pragma once

#ifndef TARN_INSIDE_MEDIA
#error "media/media_headers.h is internal to the media library"
#endif

#include <string>
#include <string_view>

#include "media/entry_kind.h"

// A signature of its own.
bool ReadPngHeader(std::string_view bytes, CImageFacts& image, std::string& why);
bool ReadJpegHeader(std::string_view bytes, CImageFacts& image, std::string& why);
bool ReadDdsHeader(std::string_view bytes, CImageFacts& image, std::string& why);
bool ReadWavHeader(std::string_view bytes, CSoundFacts& sound, std::string& why);
// "BM" is too short a signature to trust alone: without `named` (the name
// says .bmp) a header that does not check out is no BMP at all; with it,
// a damaged one.
bool ReadBmpHeader(std::string_view bytes, bool named, CImageFacts& image, std::string& why);
// No signature: tried only on entries named .tga, and then always true.
bool ReadTgaHeader(std::string_view bytes, CImageFacts& image, std::string& why);
