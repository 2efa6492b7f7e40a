// A path held as folder, title and extension, and ASCII case copies.
//
// Paths follow Windows conventions: only the backslash separates folders; a
// forward slash or a colon is an ordinary byte of the title. Strings are byte
// strings; no character-set conversion happens anywhere here. Parts may be
// longer than the classic 259-byte limit.
#pragma once

#include <string>
#include <string_view>

class CPathName {
 public:
  CPathName() = default;
  explicit CPathName(std::string_view path) { Split(path); }

  // Sets the parts that `path` has. A part it lacks (no backslash: no
  // folder; no dot in the title: no extension) keeps its old value, so
  // joining the parts gives `path` back exactly only on an object that had
  // none of them, such as one made from `path`.
  CPathName Split(std::string_view path);

  std::string GetFolder() const { return m_folder; }
  std::string GetName() const { return m_title + m_extension; }
  std::string GetExtension() const { return m_extension; }
  std::string GetTitle() const { return m_title; }
  std::string GetFullPath() const { return m_folder + m_title + m_extension; }
  // The caller includes the dot: SetExtension(".map").
  void SetExtension(std::string_view extension) { m_extension = extension; }

 private:
  std::string m_folder;  // up to and including the last backslash
  std::string m_title;
  std::string m_extension;  // from the last dot after the folder, dot included
};

// One byte with only an ASCII letter changed in case: the "C" locale's
// tolower/toupper, spelled out so that a process locale (the editor runs
// under one) can never change bytes above 0x7F.
constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Same-length copies with only the ASCII letters changed; every other byte,
// those from 0x80 up included, passes through unchanged.
std::string ToLower(std::string_view text);
std::string ToUpper(std::string_view text);
