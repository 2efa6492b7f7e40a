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

#include <cstdint>
#include <map>
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
};

// Short words for a failure, e.g. "not a BIG archive".
const char* DescribeBigFailure(BigFailure failure);

class CBigArchive final : public CGameFile {
 public:
  // std::less<> compares std::string as unsigned bytes, case-sensitively,
  // with a prefix before every longer name that starts with it.
  using Index = std::map<std::string, CBigEntry, std::less<>>;

  CBigArchive() : CGameFile(false) {}

  int32_t OnOpen() override;
  bool IsBigHeader();

  const Index& GetIndex() const { return m_index; }
  const std::vector<std::string>& GetNames() const { return m_names; }
  // The reason of the last refused Open; None after a successful one.
  BigFailure GetFailure() const { return m_failure; }
  int32_t Open(const std::string& name);

 private:
  int32_t Refuse(BigFailure failure);
  BigFailure TestHeader();

  Index m_index;
  std::vector<std::string> m_names;
  BigFailure m_failure = BigFailure::None;
};
