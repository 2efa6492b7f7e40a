// The archive document's open operation, free of any window: read an
// archive once through CBigArchive and keep every entry, by name, as a slice
// of the archive's mapped bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/big_archive.h"
#include "archive/position_iterator.h"
#include "storage/data_buffer.h"

struct CArchiveOpenError {
  BigFailure failure = BigFailure::None;
  std::string detail;  // the system's words when the file could not be opened or read

  // The words for a user: the system's when there are any, else the reader's.
  std::string Describe() const { return detail.empty() ? DescribeBigFailure(failure) : detail; }
};

// Every entry of an opened archive: unique names in byte-wise,
// case-sensitive order (like the archive index), each with a buffer of the
// entry's bytes. Filled by OpenArchiveEntries only, and never changed
// afterwards, so the address of an entry's buffer stays valid while the map
// lives.
//
// The names are the reader's own index, kept; a buffer is cut from the
// archive's bytes the first time its entry is visited. An archive of a
// million entries thus costs about 70 bytes an entry, and opening it costs
// nothing an entry beyond the reader's own work.
//
// Threading: none; even reading may cut a buffer.
class CEntryMap {
 public:
  using value_type = std::pair<std::string_view, const CDataBuffer&>;

  using const_iterator = CPositionIterator<CEntryMap>;

  CEntryMap() = default;
  CEntryMap(const CEntryMap&) = delete;
  CEntryMap& operator=(const CEntryMap&) = delete;
  CEntryMap(CEntryMap&& other) noexcept { swap(other); }
  CEntryMap& operator=(CEntryMap&& other) noexcept {
    CEntryMap gone;
    gone.swap(other);
    swap(gone);
    return *this;
  }

  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }
  size_t size() const { return m_buffers.size(); }
  bool empty() const { return m_buffers.empty(); }
  // The entry named `name`, or end(). A binary search.
  const_iterator find(std::string_view name) const;
  size_t count(std::string_view name) const { return find(name) != end() ? 1 : 0; }
  // The buffer of the entry named `name`; throws std::out_of_range when
  // there is none.
  const CDataBuffer& at(std::string_view name) const;
  void clear() { *this = CEntryMap(); }
  void swap(CEntryMap& other) noexcept;

  // The entry at `position` in name order.
  // REQUIRES: position < size().
  std::string_view NameAt(size_t position) const { return m_index.Get().NameAt(position); }
  const CDataBuffer& BufferAt(size_t position) const;
  // Where the entry's bytes start in the archive's file (cut at its end,
  // like the buffer).
  uint32_t OffsetAt(size_t position) const;

 private:
  // The entry's size, cut at the archive's end.
  uint32_t SizeAt(size_t position) const;
  friend const_iterator;
  value_type ElementAt(size_t position) const { return {NameAt(position), BufferAt(position)}; }
  friend bool OpenArchiveEntries(const std::string& path, CEntryMap& entries, CArchiveOpenError* error);

  CKeptBigIndex m_index;
  // The archive's bytes, shared by every buffer cut from them; held here
  // so they stay while the map lives.
  CDataBuffer m_whole;
  CDataOwner* m_owner = nullptr;  // m_whole's owner, for new cuts
  // One per entry, in name order; empty until its entry is first visited.
  mutable std::vector<CDataBuffer> m_buffers;
};

// Opens `path`; on success empties `entries`, fills it with every index
// element, lets the reader go and returns true. On failure `entries` is
// untouched and `error`, when given, says why.
//
// An entry whose range reaches past the archive's end is kept, cut at the
// end (0 bytes when it starts at or past the end). No entry byte is copied:
// once this returns, the archive stays mapped only through the map and the
// buffers cut from it.
bool OpenArchiveEntries(const std::string& path, CEntryMap& entries,
                        CArchiveOpenError* error = nullptr);

// Whether an index element reaches past the end of an archive of `total` bytes.
inline bool ReachesPastEnd(const CBigEntry& entry, uint64_t total) {
  return uint64_t{entry.offset} + entry.size > total;
}
