// Reader of BIG archives: a 16-byte header, an index of named entries, and
// the entries' bytes.
//
//   offset 0   "BIGF"
//   offset 4   archive size, little-endian; must equal the file's size
//   offset 8   entry count, big-endian; top bit clear
//   offset 12  header size (header plus index), big-endian; 16 or more
//   offset 16  records: offset (BE32), size (BE32), name bytes, 0
//
// OnOpen() tests the header and reads the index: the names ordered byte-wise
// (the last record of a repeated name wins) plus the names in record order.
// The reader never touches entry bytes; callers slice them out of GetData()
// at the offsets the index gives.
//
// Threading: one caller. Opening a large archive puts a second thread to
// work for parts of the open (threads/run_beside.h); it has ended when Open
// returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/game_file.h"
#include "archive/padded_name.h"
#include "archive/position_iterator.h"
#include "storage/byte_order.h"
#include "storage/status.h"

// The layout of the index's names, internal to archive/, for the reads
// below that are inline.
#define TARN_ARCHIVE_PUBLIC_HEADER
#include "archive/name_ref.h"
#undef TARN_ARCHIVE_PUBLIC_HEADER

class CLargeArena;

struct CBigEntry {
  uint32_t offset = 0;
  uint32_t size = 0;
};

// The index: every distinct name once, in byte order (unsigned bytes,
// case-sensitive, a prefix before every longer name that starts with it),
// with the last record of that name. Elements are made from the reader's
// copy of the records as they are visited: a name and its two numbers. The
// names are views of that copy, so the index is not copyable: a copy would
// dangle once the reader goes. Callers that keep names copy them. Every
// name is a CPaddedName: readable bytes follow it, so it can be copied 16
// bytes at a time.
class CBigIndex {
 public:
  using value_type = std::pair<CPaddedName, CBigEntry>;

  using const_iterator = CPositionIterator<CBigIndex>;

  CBigIndex() = default;
  CBigIndex(const CBigIndex&) = delete;
  CBigIndex& operator=(const CBigIndex&) = delete;
  // A move hands over views of the same memory: whoever owns that memory
  // must move along (CKeptBigIndex does).
  CBigIndex(CBigIndex&& other) noexcept { Swap(other); }
  CBigIndex& operator=(CBigIndex&& other) noexcept {
    CBigIndex gone;
    gone.Swap(other);
    Swap(gone);
    return *this;
  }

  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, m_count}; }
  size_t size() const { return m_count; }
  bool empty() const { return m_count == 0; }
  // The element named `name`, or end(). A binary search.
  const_iterator find(std::string_view name) const;
  size_t count(std::string_view name) const { return find(name) != end() ? 1 : 0; }
  // The entry named `name`, or Kind::NotFound about the name.
  CResult<CBigEntry> Get(std::string_view name) const;

  // Element `i` without an iterator: (*this)[i] is begin()[i].
  CPaddedName NameAt(size_t i) const {
    return {reinterpret_cast<const char*>(m_records) + m_names[i].at, m_names[i].length};
  }
  CBigEntry EntryAt(size_t i) const {
    const uint8_t* numbers = m_records + m_names[i].at - 8;
    return {ReadBigEndian32(numbers), ReadBigEndian32(numbers + 4)};
  }
  // Where the record that reaches furthest ends (offset plus size), over
  // every record read, kept or not: none reaches past an archive this long.
  uint64_t FurthestEnd() const { return m_furthestEnd; }

 private:
  friend class CBigArchive;
  friend const_iterator;
  void Swap(CBigIndex& other) noexcept {
    std::swap(m_records, other.m_records);
    std::swap(m_names, other.m_names);
    std::swap(m_count, other.m_count);
    std::swap(m_furthestEnd, other.m_furthestEnd);
  }
  using Name = CNameRef;
  value_type ElementAt(size_t i) const {
    PrefetchAhead(m_records, m_names, i, m_count);
    return {NameAt(i), EntryAt(i)};
  }

  const uint8_t* m_records = nullptr;
  const Name* m_names = nullptr;  // in the reader's arena
  size_t m_count = 0;
  uint64_t m_furthestEnd = 0;
};

// An index taken from its reader (CBigArchive::TakeIndex) together with the
// memory its names live in: valid for as long as it lives, whatever becomes
// of the reader or the file. Keeping the reader's own arrays costs nothing
// to make and about 60 bytes an entry, where a copy of every name into
// containers of its own would cost a few times that.
class CKeptBigIndex {
 public:
  CKeptBigIndex();
  CKeptBigIndex(CKeptBigIndex&&) noexcept;
  CKeptBigIndex& operator=(CKeptBigIndex&&) noexcept;
  ~CKeptBigIndex();

  const CBigIndex& Get() const { return m_index; }

 private:
  friend class CBigArchive;
  std::unique_ptr<CLargeArena> m_arena;
  CBigIndex m_index;
};

class CBigArchive final : public CGameFile {
 public:
  using Index = CBigIndex;
  using Names = std::vector<std::string_view>;

  CBigArchive();
  ~CBigArchive() override;

  int32_t OnOpen() override;
  bool IsBigHeader();

  // Names in both are views of the reader's own copy of the index region:
  // an index of 200,000 entries costs a few large allocations and no copy
  // of a name. They stay valid until the next Open or the reader's
  // destruction; Close keeps them.
  const Index& GetIndex() const { return m_index; }
  const Names& GetNames() const;
  // The reason of the last refused Open; Ok after a successful one.
  CStatus::Kind GetFailure() const;
  // The same with the file's name and the words for a user: the system's
  // when the file could not be opened.
  CStatus GetStatus() const;
  // Hands the index and its memory over; the reader is left with an empty
  // index (and no names) until its next Open.
  CKeptBigIndex TakeIndex();

 private:
  int32_t ReadIndex();
  CStatus::Kind ReadHeader(uint32_t& count, uint32_t& regionSize);
  CStatus::Kind WalkRecords(uint32_t count, uint32_t regionSize);
  void BuildOrder();
  int32_t Refuse(CStatus::Kind failure);
  CStatus::Kind TestHeader();
  void ClearIndex();

  // The index region's records, read from the file, then 64 zero bytes:
  // names point here, and a name's last bytes can be read 16 at a time.
  const uint8_t* m_records = nullptr;  // in m_arena, like the index's names
  std::unique_ptr<CLargeArena> m_arena;
  Index m_index;
  // Made on the first GetNames after an open: listing an archive needs none.
  mutable Names m_names;
  mutable bool m_namesMade = false;
  uint32_t m_recordCount = 0;
  CStatus::Kind m_failure = CStatus::Kind::Ok;
};
