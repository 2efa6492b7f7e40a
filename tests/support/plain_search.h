// The search the fast one is checked against: every position tried, one
// byte at a time, with ASCII letters folded when case is ignored. Used by
// the grep tests and the search fuzz target alike, so both hold the fast
// search to the same meaning.
#pragma once

#include <cstddef>
#include <string_view>

inline bool PlainContains(std::string_view field, std::string_view pattern, bool ignoreCase) {
  const auto fold = [ignoreCase](char c) {
    return ignoreCase && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  };
  for (size_t at = 0; at + pattern.size() <= field.size(); ++at) {
    size_t i = 0;
    while (i < pattern.size() && fold(field[at + i]) == fold(pattern[i])) ++i;
    if (i == pattern.size()) return true;
  }
  return false;
}
