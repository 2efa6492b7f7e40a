// Reader of BIG archives: a 16-byte header, an index of named entries, and
// the entries' bytes.
//
//   offset 0   "BIGF"
//   offset 4   archive size, little-endian; must equal the file's size
//   offset 8   entry count, big-endian; top bit clear
//   offset 12  header size (header plus index), big-endian; 16 or more
//   offset 16  records: offset (BE32), size (BE32), name bytes, 0
//
// OnOpen() tests the header and reads the index into a map ordered byte-wise
// by name (the last record of a repeated name wins) plus the names in record
// order. The reader never touches entry bytes; callers slice them out of
// GetData() at the offsets the index gives.
//
// Threading: none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
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
};

// Short words for a failure, e.g. "not a BIG archive".
const char* DescribeBigFailure(BigFailure failure);

// Memory for the index's nodes, handed out in order from large blocks and
// given back all at once: a node costs a few instructions, and 200,000 of
// them cost a handful of allocations.
class CNodeArena {
 public:
  CNodeArena() = default;
  CNodeArena(const CNodeArena&) = delete;
  CNodeArena& operator=(const CNodeArena&) = delete;

  void* Allocate(size_t size, size_t align) {
    const size_t at = (m_used + align - 1) & ~(align - 1);
    if (m_block == nullptr || at + size > m_capacity) return AllocateSlow(size, align);
    m_used = at + size;
    return m_block + at;
  }
  // Makes room for `size` more bytes in one block, when they are known in
  // advance: one block is advised for large pages as a whole, where blocks
  // that double their way up to the same size would mostly not be.
  void Reserve(size_t size);
  // Gives back every block. Nothing allocated here may be used afterwards.
  void Release();

 private:
  void* AllocateSlow(size_t size, size_t align);

  std::vector<std::unique_ptr<std::byte[]>> m_blocks;
  std::byte* m_block = nullptr;  // the newest block, where allocation goes on
  size_t m_used = 0;
  size_t m_capacity = 0;
};

template <typename T>
class CNodeAllocator {
 public:
  using value_type = T;
  explicit CNodeAllocator(CNodeArena* arena) noexcept : m_arena(arena) {}
  template <typename U>
  CNodeAllocator(const CNodeAllocator<U>& other) noexcept : m_arena(other.m_arena) {}
  T* allocate(size_t count) { return static_cast<T*>(m_arena->Allocate(count * sizeof(T), alignof(T))); }
  void deallocate(T*, size_t) noexcept {}
  friend bool operator==(const CNodeAllocator& a, const CNodeAllocator& b) { return a.m_arena == b.m_arena; }

 private:
  template <typename U>
  friend class CNodeAllocator;
  CNodeArena* m_arena;
};

class CBigArchive final : public CGameFile {
 public:
  // Names are views of the reader's own copy of the names' bytes, and the
  // index nodes live in the reader's own arena: an index of 200,000 entries
  // costs a few large allocations and no copy of a name. Both stay valid
  // until the next Open or the reader's destruction (Close keeps them); a
  // copy of the index shares the arena, so it must not outlive the reader
  // either. Callers that keep names copy them into strings, as the archive
  // document does. std::less<> compares the names as unsigned bytes,
  // case-sensitively, with a prefix before every longer name that starts
  // with it.
  using Index = std::map<std::string_view, CBigEntry, std::less<>,
                         CNodeAllocator<std::pair<const std::string_view, CBigEntry>>>;
  using Names = std::vector<std::string_view>;

  CBigArchive() : CGameFile(false) {}

  int32_t OnOpen() override;
  int32_t ReadIndex();
  bool IsBigHeader();

  const Index& GetIndex() const { return m_index; }
  const Names& GetNames() const { return m_names; }
  // The reason of the last refused Open; None after a successful one.
  BigFailure GetFailure() const { return m_failure; }
  int32_t Open(const std::string& name);

 private:
  int32_t Refuse(BigFailure failure);
  BigFailure TestHeader();

  void ClearIndex();

  CDataBuffer m_region;  // the names' bytes, in name order; names point here
  CNodeArena m_arena;  // the index's nodes
  Index m_index{Index::allocator_type(&m_arena)};
  Names m_names;
  BigFailure m_failure = BigFailure::None;
};
