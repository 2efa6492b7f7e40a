#include "archive/windows_names.h"

#include "storage/path_name.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A device name: the part before the first dot, without trailing blanks, is
// one of the names Windows keeps for devices in every folder. The digit of
// COM and LPT may also be a superscript one, two or three.
bool IsReservedSegment(std::string_view segment) {
  std::string_view base = segment.substr(0, segment.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string upper;
  for (const char c : base) upper += AsciiUpper(c);
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
      upper == "CONOUT$") {
    return true;
  }
  if (upper.size() != 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0))
    return false;
  const auto digit = static_cast<unsigned char>(upper[3]);
  return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

}  // namespace

CStatus CheckWindowsEntryName(std::string_view name) {
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && !IsSeparator(name[i])) continue;
    const std::string_view segment = name.substr(start, i - start);
    start = i + 1;
    if (segment.empty()) continue;  // the shared test refuses those
    for (const char c : segment)
      if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
        return CStatus::Of(CStatus::Kind::ForbiddenCharacter);
    // Windows drops the dot or space, so the file would get another name
    // than the entry, or the same as another entry.
    if (segment.back() == '.' || segment.back() == ' ') return CStatus::Of(CStatus::Kind::TrailingDotOrSpace);
    if (IsReservedSegment(segment)) return CStatus::Of(CStatus::Kind::ReservedName);
  }
  return {};
}

std::string WindowsCaseKey(std::string_view name) {
  std::string key(name);
  for (char& c : key) {
    const auto byte = static_cast<unsigned char>(c);
    auto upper = static_cast<unsigned char>(AsciiUpper(c));
    // Latin-1 small letters but the division sign; the three small letters
    // of 0x80-0x9F (s, oe and z with their marks); and y with diaeresis,
    // whose capital is at 0x9F. The sharp s has no capital of its own.
    if (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7)
      upper = static_cast<unsigned char>(byte - 0x20);
    if (byte == 0x9A || byte == 0x9C || byte == 0x9E)
      upper = static_cast<unsigned char>(byte - 0x10);
    if (byte == 0xFF) upper = 0x9F;
    c = IsSeparator(c) ? '\\' : static_cast<char>(upper);
  }
  return key;
}
