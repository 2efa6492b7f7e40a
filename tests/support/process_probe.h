// Looks at this process from the outside, through /proc: how many files it
// holds open and where a file is mapped. Tests use it to prove that a mapped
// archive stays open exactly as long as some buffer shares it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Number of open file descriptors of this process.
int CountOpenDescriptors();
// What each open descriptor refers to ("/path", "pipe:[123]", ...), one
// "N -> target" line per descriptor; for failure messages.
std::vector<std::string> ListOpenDescriptors();

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

// The next two also find a file that has been deleted, or replaced by
// another, since it was opened: /proc then names it "PATH (deleted)". The
// folders of `path` must still exist; the file itself need not.

// Descriptors of this process open on the file at `path`.
int CountDescriptorsOn(const std::string& path);
// Whether any part of this process's memory is a mapping of that file.
bool IsMapped(const std::string& path);

// A listening Unix socket bound at `path`, for tests of paths that are no
// file; its descriptor, or -1 when it cannot be made. The caller closes it.
int ListenAtPath(const std::string& path);
