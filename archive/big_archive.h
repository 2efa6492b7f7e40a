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
// Threading: none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/game_file.h"

struct CBigEntry {
  uint32_t offset = 0;
  uint32_t size = 0;
};

// Why an archive was refused, for callers that need to say it. The reader's
// own result stays 0 or 1.
enum class BigFailure {
  None,
  CannotOpen,       // the disk open failed; GetOpenError() has the words
  TooShort,         // fewer than 16 bytes
  TooLarge,         // 2 GiB or more, or a size that cannot be read
  BadMagic,
  SizeMismatch,     // archive size field differs from the file's size
  BadCount,         // entry count with its top bit set
  BadHeaderSize,    // header size below 16
  IndexPastEnd,     // header size beyond the end of the file
  RecordsOverrun,   // records do not fit in the index region
  OutOfMemory,      // the index needs more memory than the system gives
  CannotRead,       // the bytes could be neither mapped nor read; see the caller's words
};

// Short words for a failure, e.g. "not a BIG archive".
const char* DescribeBigFailure(BigFailure failure);

// The index: every distinct name once, in byte order (unsigned bytes,
// case-sensitive, a prefix before every longer name that starts with it),
// with the last record of that name. Names are views of bytes the reader
// owns, so the index is not copyable: a copy would dangle once the reader
// goes. Callers that keep names copy them into strings.
class CBigIndex {
 public:
  using value_type = std::pair<std::string_view, CBigEntry>;
  using const_iterator = std::vector<value_type>::const_iterator;

  CBigIndex() = default;
  CBigIndex(const CBigIndex&) = delete;
  CBigIndex& operator=(const CBigIndex&) = delete;

  const_iterator begin() const { return m_entries.begin(); }
  const_iterator end() const { return m_entries.end(); }
  size_t size() const { return m_entries.size(); }
  bool empty() const { return m_entries.empty(); }
  // The element named `name`, or end(). A binary search.
  const_iterator find(std::string_view name) const;
  size_t count(std::string_view name) const { return find(name) != end() ? 1 : 0; }
  // The entry named `name`; throws std::out_of_range when there is none.
  const CBigEntry& at(std::string_view name) const;

 private:
  friend class CBigArchive;
  std::vector<value_type> m_entries;
};

class CBigArchive final : public CGameFile {
 public:
  using Index = CBigIndex;
  using Names = std::vector<std::string_view>;

  CBigArchive() : CGameFile(false) {}

  int32_t OnOpen() override;
  bool IsBigHeader();

  // Names in both are views of the reader's own copy of the names' bytes,
  // one copy per distinct name: an index of 200,000 entries costs a few
  // large allocations. They stay valid until the next Open or the reader's
  // destruction; Close keeps them.
  const Index& GetIndex() const { return m_index; }
  const Names& GetNames() const { return m_names; }
  // The reason of the last refused Open; None after a successful one.
  BigFailure GetFailure() const;

 private:
  struct Region {
    uint32_t count;
    const uint8_t* bytes;  // the records, `size` bytes
    uint32_t size;
  };

  int32_t ReadIndex();
  BigFailure ReadHeader(Region& region, CDataBuffer& copy);
  BigFailure WalkRecords(const Region& region);
  void BuildOrder();
  int32_t Refuse(BigFailure failure);
  BigFailure TestHeader();
  void ClearIndex();

  CDataBuffer m_region;  // the names' bytes, in name order; names point here
  Index m_index;
  Names m_names;
  BigFailure m_failure = BigFailure::None;
};
