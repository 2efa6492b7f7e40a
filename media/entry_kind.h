// What an archive entry is: rules text, other text, an image, a sound, or
// bytes of no kind known here, with the facts a person wants to see about it.
//
// The bytes decide first: a signature and a header that checks out. The
// name's extension decides only what the bytes leave open (a TGA has no
// signature; text and rules text look alike: text is rules text when its
// first or last 8 KiB hold a line "End"), and says which format an
// entry with a broken header was meant to be. Only headers are read, so
// deciding the kind of any entry costs the same, whatever its size; the
// rules counts alone read the whole entry, and only when asked for.
//
// Threading: none; every function here is pure.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

enum class EntryKind : uint8_t { Rules, Text, Image, Sound, Binary };

// "rules", "text", "image", "sound", "binary". Known when compiling, so
// lines made for every entry of an archive can hold it ready.
constexpr std::string_view KindWord(EntryKind kind) {
  switch (kind) {
    case EntryKind::Rules: return "rules";
    case EntryKind::Text: return "text";
    case EntryKind::Image: return "image";
    case EntryKind::Sound: return "sound";
    case EntryKind::Binary: break;
  }
  return "binary";
}

struct CImageFacts {
  const char* format = "";  // "tga", "bmp", "png", "jpeg", "dds"
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bitsPerPixel = 0;  // 0 for block-compressed DDS
  std::string encoding;       // DDS only: "dxt1", "dxt3", "dxt5", "rgba32", ...
  uint32_t mipmaps = 0;       // DDS only: levels in the file, at least 1
};

struct CSoundFacts {
  std::string encoding;  // "pcm", "ima-adpcm", "float", "alaw", "mulaw", "format-85"
  uint32_t rate = 0;     // frames a second
  uint32_t channels = 0;
  uint32_t bits = 0;  // a sample, as stored
  double seconds = 0;
};

struct CEntryFacts {
  EntryKind kind = EntryKind::Binary;
  uint64_t size = 0;
  CImageFacts image;  // for Image
  CSoundFacts sound;  // for Sound
  // A header that does not check out: the format it claimed ("dds") and
  // why it is refused (empty when the name says the format and the bytes
  // lack its signature: DamagedWords); the kind is then Binary.
  const char* damagedFormat = nullptr;
  std::string damagedWhy;
  // Rules only, when counted (CountRules).
  bool counted = false;
  uint64_t blocks = 0;
  uint64_t rows = 0;
};

// The kind and facts of an entry named `name` holding `bytes`.
CEntryFacts DescribeEntry(std::string_view name, std::string_view bytes);

// The samples of a WAV entry: its "data" chunk's bytes as far as its size
// says, cut at the entry's end; what follows them (a LIST chunk of names)
// is no sound. Empty when its chunks do not check out.
std::string_view WavSamples(std::string_view bytes);

// Parses a Rules entry whole to fill in its blocks and rows.
void CountRules(std::string_view bytes, CEntryFacts& facts);

// Why a damaged entry is refused: its damagedWhy, or "no DDS signature".
std::string_view DamagedWords(const CEntryFacts& facts);
// The details of an entry whose name says a format its bytes lack, whole:
// "damaged dds: no DDS signature". Empty for any other entry.
std::string_view NamedDamageDetails(const CEntryFacts& facts);

// A sound's length in a line's words, "1.52s", made in `text`.
using CSecondsText = std::array<char, 40>;
std::string_view SecondsText(double seconds, CSecondsText& text);

// The facts in a line's words: "tga 256x256 32bpp", "dds 512x512 dxt5
// mips=9", "wav pcm 22050Hz 1ch 16bit 1.52s", "rules 14 blocks 312 rows",
// "binary 5120 bytes", "damaged dds: WHY".
std::string DetailsText(const CEntryFacts& facts);
