// Looks at this process from the outside, through /proc: how many files it
// holds open and where a file is mapped. Tests use it to prove that a mapped
// archive stays open exactly as long as some buffer shares it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Number of open file descriptors of this process.
int CountOpenDescriptors();

struct CMappedRange {
  uintptr_t begin;
  uintptr_t end;  // one past the last mapped byte of the last page
  // Whether the `size` bytes at `p` all lie inside the range.
  bool Contains(const void* p, size_t size) const {
    const auto at = reinterpret_cast<uintptr_t>(p);
    return at >= begin && at <= end && size <= end - at;
  }
};

// The address range at which `path` is mapped into this process, if it is
// (the first mapping of that file when there are several).
std::optional<CMappedRange> FindMapping(const std::string& path);
