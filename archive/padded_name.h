// A name as the reader's index hands it out: its bytes, followed by at least
// kPadding more readable bytes that are not its own (the next records, or
// the zeros after the last), so it can be copied in whole 16-byte steps
// without reading outside memory. Only the index makes one; to everyone
// else it is the string_view it is.
//
// Threading: a value.
#pragma once

#include <cstddef>
#include <string_view>

class CBigIndex;

class CPaddedName : public std::string_view {
 public:
  static constexpr size_t kPadding = 16;

 private:
  friend class CBigIndex;
  CPaddedName(const char* data, size_t size) : std::string_view(data, size) {}
};
