#include "media/entry_kind.h"

#include <algorithm>
#include <cctype>
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

// The name's extension in lower case, without the dot, when it is one of
// at most seven bytes (every extension looked at here is shorter); names
// use '\\' or '/' between folders. Kept in place: this runs for every
// entry of an archive.
struct CExtension {
  uint64_t word = 0;
  size_t size = 0;
  bool Is(uint64_t otherWord, size_t otherSize) const {
    return word == otherWord && size == otherSize;
  }
};

// An extension compared with, made once.
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

CExtension ExtensionOf(std::string_view name) {
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
// with the words for its missing signature.
struct CNamedFormat {
  CKnownExtension extension;
  const char* format;
  std::string_view missing;
};
constexpr CNamedFormat kNamedFormats[] = {
    {CKnownExtension("png"), "png", "no PNG signature"},
    {CKnownExtension("jpg"), "jpeg", "no JPEG signature"},
    {CKnownExtension("jpeg"), "jpeg", "no JPEG signature"},
    {CKnownExtension("bmp"), "bmp", "no BMP signature"},
    {CKnownExtension("dds"), "dds", "no DDS signature"},
    {CKnownExtension("wav"), "wav", "no WAV signature"},
};

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
  CHeaderFound found;
  switch (first) {
    case 0x89: found = ReadPngHeader(bytes, image); break;
    case 0xFF: found = ReadJpegHeader(bytes, image); break;
    case 'D': found = ReadDdsHeader(bytes, image); break;
    case 'B': found = ReadBmpHeader(bytes, extension == kBmp, image); break;
    default: break;
  }
  if (!found && extension == kTga) found = ReadTgaHeader(bytes, image);
  if (!found && first == 'R') {
    found = ReadWavHeader(bytes, facts.sound);
    sound = found.has_value();
  }
  return found;
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

// An image or sound whose header the bytes or the name point to; false
// when neither does.
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

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2fs", seconds);
  return text;
}

}  // namespace

std::string_view KindWord(EntryKind kind) {
  switch (kind) {
    case EntryKind::Rules: return "rules";
    case EntryKind::Text: return "text";
    case EntryKind::Image: return "image";
    case EntryKind::Sound: return "sound";
    case EntryKind::Binary: break;
  }
  return "binary";
}

CEntryFacts DescribeEntry(std::string_view name, std::string_view bytes) {
  CEntryFacts facts;
  facts.size = bytes.size();
  const CExtension extension = ExtensionOf(name);
  if (DescribeMedia(extension, bytes, facts)) return facts;
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
  if (!facts.damagedWhy.empty() || facts.damagedFormat == nullptr) return facts.damagedWhy;
  // The format is one of the table's own words, found without comparing
  // text: this runs for every such entry of an archive.
  for (const CNamedFormat& named : kNamedFormats)
    if (named.format == facts.damagedFormat) return named.missing;
  for (const CNamedFormat& named : kNamedFormats)
    if (std::string_view(named.format) == facts.damagedFormat) return named.missing;
  return {};
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
    case EntryKind::Sound:
      return "wav " + sound.encoding + " " + std::to_string(sound.rate) + "Hz " +
             std::to_string(sound.channels) + "ch " + std::to_string(sound.bits) + "bit " +
             Seconds(sound.seconds);
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
