#include "media/entry_kind.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "media/media_headers.h"
#include "rules/rules_parser.h"

namespace {

constexpr size_t kHead = 8192;

// The name's extension in lower case, without the dot; names use '\' or
// '/' between folders.
std::string Extension(std::string_view name) {
  const size_t dot = name.find_last_of('.');
  const size_t folder = name.find_last_of("\\/");
  if (dot == std::string_view::npos || (folder != std::string_view::npos && folder > dot))
    return {};
  std::string extension(name.substr(dot + 1));
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

// Whether a line of the head starts with the word "End", which closes a
// block: text without one has no block and is not rules text.
bool HeadClosesABlock(std::string_view head) {
  size_t at = 0;
  while (at < head.size()) {
    size_t start = head.find_first_not_of(" \t", at);
    if (start == std::string_view::npos) break;
    const std::string_view word = head.substr(start, 4);
    if (word.size() >= 3 && (word[0] == 'E' || word[0] == 'e') &&
        (word[1] == 'n' || word[1] == 'N') && (word[2] == 'd' || word[2] == 'D') &&
        (word.size() == 3 || std::isspace(static_cast<unsigned char>(word[3])) || word[3] == ';'))
      return true;
    at = head.find('\n', start);
    if (at == std::string_view::npos) break;
    ++at;
  }
  return false;
}

// An image or sound whose header the bytes or the name point to; false
// when neither does.
bool DescribeMedia(std::string_view extension, std::string_view bytes, CEntryFacts& facts) {
  std::string why;
  CImageFacts& image = facts.image;
  bool found = ReadPngHeader(bytes, image, why) || ReadJpegHeader(bytes, image, why) ||
               ReadDdsHeader(bytes, image, why) ||
               ReadBmpHeader(bytes, extension == "bmp", image, why) ||
               (extension == "tga" && ReadTgaHeader(bytes, image, why));
  if (found) {
    facts.kind = EntryKind::Image;
  } else if (ReadWavHeader(bytes, facts.sound, why)) {
    facts.kind = EntryKind::Sound;
    found = true;
    image.format = "wav";
  } else if (extension == "png" || extension == "jpg" || extension == "jpeg" ||
             extension == "dds" || extension == "wav") {
    image.format = extension == "jpg" ? "jpeg" : std::string(extension);
    std::string upper = image.format;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    why = "no " + upper + " signature";
    found = true;
  }
  if (found && !why.empty()) {
    facts.kind = EntryKind::Binary;
    facts.damagedFormat = image.format;
    facts.damagedWhy = why;
    facts.image = CImageFacts();
    facts.sound = CSoundFacts();
  }
  return found;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2fs", seconds);
  return text;
}

}  // namespace

const char* KindWord(EntryKind kind) {
  switch (kind) {
    case EntryKind::Rules: return "rules";
    case EntryKind::Text: return "text";
    case EntryKind::Image: return "image";
    case EntryKind::Sound: return "sound";
    case EntryKind::Binary: break;
  }
  return "binary";
}

bool HeadLooksBinary(std::string_view bytes) {
  return bytes.substr(0, kHead).find('\0') != std::string_view::npos;
}

CEntryFacts DescribeEntry(std::string_view name, std::string_view bytes) {
  CEntryFacts facts;
  facts.size = bytes.size();
  const std::string extension = Extension(name);
  if (DescribeMedia(extension, bytes, facts)) return facts;
  if (HeadLooksBinary(bytes)) return facts;
  const bool rules = extension == "ini" || HeadClosesABlock(bytes.substr(0, kHead));
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

std::string DetailsText(const CEntryFacts& facts) {
  if (!facts.damagedFormat.empty())
    return "damaged " + facts.damagedFormat + ": " + facts.damagedWhy;
  const CImageFacts& image = facts.image;
  const CSoundFacts& sound = facts.sound;
  switch (facts.kind) {
    case EntryKind::Image: {
      std::string text =
          image.format + " " + std::to_string(image.width) + "x" + std::to_string(image.height);
      if (image.format == "dds")
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
