// The archive document's open operation, free of any window: read an
// archive once through CBigArchive and keep every entry as a slice of the
// archive's mapped bytes, by name.
#pragma once

#include <map>
#include <string>

#include "archive/big_archive.h"
#include "storage/data_buffer.h"

// Byte-wise, case-sensitive name order, like the archive index.
using CEntryMap = std::map<std::string, CDataBuffer, std::less<>>;

struct CArchiveOpenError {
  BigFailure failure = BigFailure::None;
  std::string detail;  // the system's words when the file could not be opened or read

  // The words for a user: the system's when there are any, else the reader's.
  std::string Describe() const { return detail.empty() ? DescribeBigFailure(failure) : detail; }
};

// Opens `path`; on success empties `entries`, fills it with one slice per
// index element, lets the reader go and returns true. On failure `entries`
// is untouched and `error`, when given, says why.
//
// An entry whose range reaches past the archive's end is kept, cut at the
// end (0 bytes when it starts at or past the end). No entry byte is copied:
// once this returns, the archive stays mapped only through the slices.
bool OpenArchiveEntries(const std::string& path, CEntryMap& entries,
                        CArchiveOpenError* error = nullptr);

// Whether an index element reaches past the end of an archive of `total` bytes.
inline bool ReachesPastEnd(const CBigEntry& entry, uint64_t total) {
  return uint64_t{entry.offset} + entry.size > total;
}
