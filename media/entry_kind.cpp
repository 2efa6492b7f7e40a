#include "media/entry_kind.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "media/media_headers.h"
#include "storage/path_name.h"
#include "rules/rules_parser.h"
#include "rules/rules_search.h"

namespace {

constexpr size_t kHead = 8192;

// An extension of at most seven bytes as one word, its bytes from the
// lowest: comparing two is one comparison.
constexpr uint64_t ExtensionWord(std::string_view text) {
  uint64_t word = 0;
  for (size_t i = 0; i < text.size() && i < 8; ++i)
    word |= uint64_t{static_cast<uint8_t>(text[i])} << (8 * i);
  return word;
}

// The name's extension without the dot, when it is one of at most seven
// bytes (every extension looked at here is shorter), lowered so that it
// equals a known one (CKnownExtension) in any case; names use '\\' or '/'
// between folders. Kept in place: this runs for every entry of an archive.
struct CExtension {
  uint64_t word = 0;
  size_t size = 0;
  bool Is(uint64_t otherWord, size_t otherSize) const {
    return word == otherWord && size == otherSize;
  }
};

// An extension compared with, made once: lower-case letters and digits
// only (ExtensionOf).
struct CKnownExtension {
  uint64_t word;
  size_t size;
  constexpr explicit CKnownExtension(std::string_view text)
      : word(ExtensionWord(text)), size(text.size()) {}
};
bool operator==(const CExtension& extension, const CKnownExtension& known) {
  return extension.Is(known.word, known.size);
}

constexpr CKnownExtension kBmp("bmp"), kTga("tga"), kIni("ini");

constexpr uint64_t kOnes = 0x0101010101010101u;
constexpr uint64_t kHighs = kOnes * 0x80;

// 0x80 in each byte of `word` that is `c`, and 0 in the others: exact,
// unlike the usual test for a zero byte, which flags bytes after one.
uint64_t BytesEqual(uint64_t word, char c) {
  const uint64_t x = word ^ (kOnes * static_cast<uint8_t>(c));
  return ~(((x & ~kHighs) + ~kHighs) | x) & kHighs;
}

CExtension ShortExtensionOf(std::string_view name) {
  CExtension extension;
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || name.size() - dot - 1 >= 8) return extension;
  uint64_t word = 0;
  for (size_t i = dot + 1, k = 0; i < name.size(); ++i, ++k) {
    const char c = name[i];
    if (c == '\\' || c == '/') return CExtension();
    word |= uint64_t{static_cast<uint8_t>(AsciiLower(c))} << (8 * k);
  }
  extension.word = word;
  extension.size = name.size() - dot - 1;
  return extension;
}

// The name's last eight bytes are looked at as one word: looking for the
// dot a byte at a time and lowering each took a fifth of deciding the kind
// of an entry with no header. The bytes after the dot are lowered by
// setting 0x20 in each, which makes no other byte a lower-case letter;
// every extension compared with is of lower-case letters and digits, and
// one with a folder's slash after the dot equals none of them, so the
// slashes need no test.
CExtension ExtensionOf(std::string_view name) {
  if (std::endian::native != std::endian::little || name.size() < 8) return ShortExtensionOf(name);
  uint64_t word;
  std::memcpy(&word, name.data() + name.size() - 8, 8);
  const uint64_t dots = BytesEqual(word, '.');
  if (dots == 0) return CExtension();
  const auto dot = static_cast<unsigned>(63 - std::countl_zero(dots)) / 8;  // from the first byte
  if (dot == 7) return {0, 0};
  return {(word | kOnes * 0x20) >> (8 * (dot + 1)), 7 - dot};
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Whether a line of the head starts with the word "End", which closes a
// block: text without one has no block and is not rules text. Jumps from
// line to line with memchr, since this runs for every text entry.
bool HeadClosesABlock(std::string_view head) {
  for (size_t at = 0; at < head.size();) {
    while (at < head.size() && IsBlank(head[at])) ++at;
    if (head.size() - at >= 3 && (head[at] | 0x20) == 'e' && (head[at + 1] | 0x20) == 'n' &&
        (head[at + 2] | 0x20) == 'd' &&
        (head.size() - at == 3 || IsBlank(head[at + 3]) || head[at + 3] == '\r' ||
         head[at + 3] == '\n' || head[at + 3] == ';'))
      return true;
    const void* end = std::memchr(head.data() + at, '\n', head.size() - at);
    if (end == nullptr) break;
    at = static_cast<size_t>(static_cast<const char*>(end) - head.data()) + 1;
  }
  return false;
}

// The formats a name's extension claims when the bytes show none, each
// with its whole details, which end with the words for its missing
// signature.
struct CNamedFormat {
  CKnownExtension extension;
  const char* format;
  std::string_view details;
  constexpr std::string_view Missing() const {
    return details.substr(std::string_view("damaged ").size() +
                          std::char_traits<char>::length(format) + std::string_view(": ").size());
  }
};
constexpr CNamedFormat kNamedFormats[] = {
    {CKnownExtension("png"), "png", "damaged png: no PNG signature"},
    {CKnownExtension("jpg"), "jpeg", "damaged jpeg: no JPEG signature"},
    {CKnownExtension("jpeg"), "jpeg", "damaged jpeg: no JPEG signature"},
    {CKnownExtension("bmp"), "bmp", "damaged bmp: no BMP signature"},
    {CKnownExtension("dds"), "dds", "damaged dds: no DDS signature"},
    {CKnownExtension("wav"), "wav", "damaged wav: no WAV signature"},
};
static_assert(kNamedFormats[1].Missing() == "no JPEG signature");

// The row of kNamedFormats whose format an entry was damaged as, when its
// name said the format and the bytes lack its signature.
const CNamedFormat* NamedDamage(const CEntryFacts& facts) {
  if (!facts.damagedWhy.empty() || facts.damagedFormat == nullptr) return nullptr;
  // The format is one of the table's own words (DescribeNamed), found
  // without comparing text: this runs for every such entry of an archive.
  for (const CNamedFormat& named : kNamedFormats)
    if (named.format == facts.damagedFormat) return &named;
  for (const CNamedFormat& named : kNamedFormats)
    if (std::string_view(named.format) == facts.damagedFormat) return &named;
  return nullptr;
}

// Whether the extension may be one of kNamedFormats': its first letter.
// Most entries' are not, and are told so without a look at the table.
bool MayBeNamed(const CExtension& extension) {
  switch (extension.word & 0xFF) {
    case 'p':
    case 'j':
    case 'b':
    case 'd':
    case 'w': return true;
    default: return false;
  }
}

// The header the bytes begin with: the one reader whose signature starts
// with their first byte is asked (PNG, JPEG, DDS, BMP, WAV), and a TGA,
// which has none, only under a name that says so. An image's before a
// sound's: a .tga is read as one whatever it starts with. Most entries
// start with none of those bytes, and no reader is asked.
CHeaderFound ReadMediaHeader(const CExtension& extension, std::string_view bytes,
                             CEntryFacts& facts, bool& sound) {
  CImageFacts& image = facts.image;
  const uint8_t first = bytes.empty() ? 0 : static_cast<uint8_t>(bytes[0]);
  // Each reader's result is returned where it is made: moving it cost as
  // much as reading a TGA header.
  if (first == 0x89 || first == 0xFF || first == 'D' || first == 'B') {
    CHeaderFound found = first == 0x89   ? ReadPngHeader(bytes, image)
                         : first == 0xFF ? ReadJpegHeader(bytes, image)
                         : first == 'D'  ? ReadDdsHeader(bytes, image)
                                         : ReadBmpHeader(bytes, extension == kBmp, image);
    if (found) return found;
  }
  if (extension == kTga) return ReadTgaHeader(bytes, image);
  if (first != 'R') return std::nullopt;
  CHeaderFound found = ReadWavHeader(bytes, facts.sound);
  sound = found.has_value();
  return found;
}

// Whether ReadMediaHeader may find a header: most entries' first byte
// starts no signature, and they are told so before a reader's result is
// made ready.
bool MayHoldHeader(const CExtension& extension, std::string_view bytes) {
  switch (bytes.empty() ? 0 : static_cast<uint8_t>(bytes[0])) {
    case 0x89:
    case 0xFF:
    case 'D':
    case 'B':
    case 'R': return true;
    default: return extension == kTga;
  }
}

// The format a name's extension claims, for bytes without its signature.
bool DescribeNamed(const CExtension& extension, CEntryFacts& facts) {
  if (!MayBeNamed(extension)) return false;
  for (const CNamedFormat& named : kNamedFormats) {
    if (!(extension == named.extension)) continue;
    facts.damagedFormat = named.format;
    return true;
  }
  return false;
}

// An image or sound whose header the bytes (MayHoldHeader) or the name
// point to; false when neither does.
bool DescribeMedia(const CExtension& extension, std::string_view bytes, CEntryFacts& facts) {
  bool sound = false;
  CHeaderFound found = ReadMediaHeader(extension, bytes, facts, sound);
  if (!found) return DescribeNamed(extension, facts);
  facts.kind = sound ? EntryKind::Sound : EntryKind::Image;
  const char* const format = sound ? "wav" : facts.image.format;
  if (!found->IsOk()) {
    facts.kind = EntryKind::Binary;
    facts.damagedFormat = format;
    facts.damagedWhy = std::move(*found).TakeWords();
    facts.image = CImageFacts();
    facts.sound = CSoundFacts();
  }
  return true;
}

}  // namespace

std::string_view SecondsText(double seconds, CSecondsText& text) {
  // printf's "%.2f" took a thousand instructions, and to_chars four hundred:
  // tarn info writes it for every sound. Hundredths not near a half round
  // the same in whole numbers (below 10^9 the product errs by under 10^-6);
  // the rest go to to_chars, which rounds as printf does.
  const double hundredths = seconds * 100;
  size_t length = 0;
  if (hundredths >= 0 && hundredths < 1e9 &&
      std::fabs(hundredths - std::floor(hundredths) - 0.5) > 1e-6) {
    const auto whole = static_cast<uint64_t>(hundredths + 0.5);
    const auto made = std::to_chars(text.data(), text.data() + text.size(), whole / 100);
    char* out = made.ptr;
    *out++ = '.';
    *out++ = static_cast<char>('0' + whole % 100 / 10);
    *out++ = static_cast<char>('0' + whole % 10);
    length = static_cast<size_t>(out - text.data());
  } else if (const auto made = std::to_chars(text.data(), text.data() + text.size() - 1, seconds,
                                             std::chars_format::fixed, 2);
             made.ec == std::errc()) {
    length = static_cast<size_t>(made.ptr - text.data());
  } else {
    const int printed = std::snprintf(text.data(), text.size() - 1, "%.2f", seconds);
    length = static_cast<size_t>(std::clamp(printed, 0, static_cast<int>(text.size()) - 2));
  }
  text[length] = 's';
  return {text.data(), length + 1};
}

CEntryFacts DescribeEntry(std::string_view name, std::string_view bytes) {
  CEntryFacts facts;
  facts.size = bytes.size();
  const CExtension extension = ExtensionOf(name);
  // Most entries hold no header a reader knows, and are not handed to
  // DescribeMedia, whose readers make a call cost more.
  if (MayHoldHeader(extension, bytes) ? DescribeMedia(extension, bytes, facts)
                                      : DescribeNamed(extension, facts))
    return facts;
  // Binary unless the search of the rules would read it as text.
  if (!IsRulesText(bytes)) return facts;
  // A block's first "End" can lie past the head; the last block's ends near
  // the end of the text.
  const bool rules = extension == kIni || HeadClosesABlock(bytes.substr(0, kHead)) ||
                     (bytes.size() > kHead && HeadClosesABlock(bytes.substr(bytes.size() - kHead)));
  facts.kind = rules ? EntryKind::Rules : EntryKind::Text;
  return facts;
}

void CountRules(std::string_view bytes, CEntryFacts& facts) {
  if (facts.kind != EntryKind::Rules) return;
  CRulesParser parser;
  parser.SetSourceBytes(bytes);
  parser.Parse();
  facts.counted = true;
  facts.blocks = parser.GetBlockCount();
  facts.rows = parser.GetRowCount();
}

std::string_view DamagedWords(const CEntryFacts& facts) {
  const CNamedFormat* const named = NamedDamage(facts);
  return named != nullptr ? named->Missing() : std::string_view(facts.damagedWhy);
}

std::string_view NamedDamageDetails(const CEntryFacts& facts) {
  const CNamedFormat* const named = NamedDamage(facts);
  return named != nullptr ? named->details : std::string_view();
}

std::string DetailsText(const CEntryFacts& facts) {
  if (facts.damagedFormat != nullptr)
    return "damaged " + std::string(facts.damagedFormat) + ": " + std::string(DamagedWords(facts));
  const CImageFacts& image = facts.image;
  const CSoundFacts& sound = facts.sound;
  switch (facts.kind) {
    case EntryKind::Image: {
      std::string text = std::string(image.format) + " " + std::to_string(image.width) + "x" +
                         std::to_string(image.height);
      if (std::string_view(image.format) == "dds")
        return text + " " + image.encoding + " mips=" + std::to_string(image.mipmaps);
      return text + " " + std::to_string(image.bitsPerPixel) + "bpp";
    }
    case EntryKind::Sound: {
      CSecondsText seconds;
      return "wav " + sound.encoding + " " + std::to_string(sound.rate) + "Hz " +
             std::to_string(sound.channels) + "ch " + std::to_string(sound.bits) + "bit " +
             std::string(SecondsText(sound.seconds, seconds));
    }
    case EntryKind::Rules:
      if (facts.counted)
        return "rules " + std::to_string(facts.blocks) + " blocks " + std::to_string(facts.rows) +
               " rows";
      return "rules " + std::to_string(facts.size) + " bytes";
    case EntryKind::Text: return "text " + std::to_string(facts.size) + " bytes";
    case EntryKind::Binary: break;
  }
  return "binary " + std::to_string(facts.size) + " bytes";
}
