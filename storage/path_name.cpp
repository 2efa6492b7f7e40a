#include "storage/path_name.h"

CPathName CPathName::Split(std::string_view path) {
  const size_t slash = path.rfind('\\');
  size_t dot = path.rfind('.');
  if (dot != std::string_view::npos && slash != std::string_view::npos && dot < slash)
    dot = std::string_view::npos;  // the dot belongs to a folder name
  const size_t titleStart = slash == std::string_view::npos ? 0 : slash + 1;
  if (slash != std::string_view::npos) m_folder = path.substr(0, titleStart);
  const size_t titleEnd = dot == std::string_view::npos ? path.size() : dot;
  m_title = path.substr(titleStart, titleEnd - titleStart);
  if (dot != std::string_view::npos) m_extension = path.substr(dot);
  return *this;
}

std::string ToLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

std::string ToUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}
