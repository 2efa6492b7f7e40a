#include "archive/big_archive.h"

#include "archive/large_arena.h"
#include "archive/name_order.h"
#include "storage/byte_order.h"
#include "threads/run_beside.h"
#include "storage/platform.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstddef>
#include <utility>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr uint32_t kHeaderBytes = 16;
constexpr uint32_t kMagic = 0x46474942;  // "BIGF" read little-endian
// Index regions from this size on are read by two threads at once.
constexpr uint32_t kSplitReadLeast = uint32_t{4} << 20;
// Smallest record: two 32-bit numbers and the zero byte of an empty name.
constexpr uint32_t kMinRecordBytes = 9;
// Zero bytes after the records: every name can be read in 64-byte steps
// and ends by the slack at the latest.
constexpr uint32_t kSlackBytes = 64;

// The bytes before the first zero byte at `name`, looked for 64 at a time:
// most names are shorter, and four loads side by side find their end in
// one step, where 16-byte steps would each wait for the one before.
// REQUIRES: a zero byte at most kSlackBytes - 64 bytes before the end of the
// readable bytes (the slack after the records).
size_t NameLength(const uint8_t* name) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const auto zeros = [zero](const uint8_t* at) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return static_cast<uint64_t>(
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, zero))));
  };
  for (size_t at = 0;; at += 64) {
    const uint64_t found = zeros(name + at) | zeros(name + at + 16) << 16 |
                           zeros(name + at + 32) << 32 | zeros(name + at + 48) << 48;
    if (found != 0) return at + static_cast<size_t>(std::countr_zero(found));
  }
#else
  return std::strlen(reinterpret_cast<const char*>(name));
#endif
}

}  // namespace

CBigIndex::const_iterator CBigIndex::find(std::string_view name) const {
  size_t low = 0, high = m_count;
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    if (NameAt(middle) < name) low = middle + 1;
    else high = middle;
  }
  return low < m_count && NameAt(low) == name ? const_iterator(this, low) : end();
}

CResult<CBigEntry> CBigIndex::Get(std::string_view name) const {
  const auto found = find(name);
  if (found == end()) return CStatus::Of(CStatus::Kind::NotFound, std::string(name));
  return EntryAt(static_cast<size_t>(found - begin()));
}

CKeptBigIndex::CKeptBigIndex() = default;
CKeptBigIndex::CKeptBigIndex(CKeptBigIndex&&) noexcept = default;
CKeptBigIndex& CKeptBigIndex::operator=(CKeptBigIndex&&) noexcept = default;
CKeptBigIndex::~CKeptBigIndex() = default;

CKeptBigIndex CBigArchive::TakeIndex() {
  CKeptBigIndex kept;
  auto fresh = std::make_unique<CLargeArena>();
  // The sort's scratch lies after everything the index uses: its pages can
  // go back now, as no name will be sorted again.
  m_arena->ForgetRest();
  kept.m_arena = std::exchange(m_arena, std::move(fresh));
  kept.m_index = std::move(m_index);
  ClearIndex();
  return kept;
}

CBigArchive::CBigArchive() : CGameFile(false), m_arena(std::make_unique<CLargeArena>()) {}

CBigArchive::~CBigArchive() = default;

CStatus::Kind CBigArchive::GetFailure() const {
  // A failed disk open never reaches OnOpen, which resets the reason: its
  // words tell it apart from an older refusal.
  return GetOpenError().empty() ? m_failure : CStatus::Kind::CannotOpen;
}

CStatus CBigArchive::GetStatus() const {
  const CStatus::Kind failure = GetFailure();
  if (failure == CStatus::Kind::CannotOpen)
    return CStatus::Failure(GetPath(), GetOpenError(), failure);
  return failure == CStatus::Kind::Ok ? CStatus() : CStatus::Of(failure, GetPath());
}

const CBigArchive::Names& CBigArchive::GetNames() const {
  if (m_namesMade) return m_names;
  // The records were checked when they were read: each name ends inside them.
  m_names.reserve(m_recordCount);
  const auto* p = reinterpret_cast<const char*>(m_records);
  for (uint32_t i = 0; i < m_recordCount; ++i) {
    const std::string_view name(p + 8);
    m_names.push_back(name);
    p += 8 + name.size() + 1;
  }
  m_namesMade = true;
  return m_names;
}

void CBigArchive::ClearIndex() {
  m_index.m_names = nullptr;
  m_index.m_count = 0;
  m_index.m_records = nullptr;
  Names().swap(m_names);
  m_namesMade = false;
  m_recordCount = 0;
  m_records = nullptr;
  m_arena->Release();
}

int32_t CBigArchive::Refuse(CStatus::Kind failure) {
  m_failure = failure;
  ClearIndex();
  return 1;
}

CStatus::Kind CBigArchive::TestHeader() {
  // The size is taken as unsigned: a failed query (-1) reads as huge here and
  // is then refused by the size-field test, since no field can hold it.
  const auto fileSize = static_cast<uint32_t>(GetSize());
  if (fileSize < kHeaderBytes) return CStatus::Kind::TooShort;
  uint8_t header[kHeaderBytes];
  Seek(0);
  if (Read(header, kHeaderBytes) != 0)
    return GetSize() < 0 ? CStatus::Kind::TooLarge : CStatus::Kind::TooShort;
  if (ReadLittleEndian32(header) != kMagic) return CStatus::Kind::BadMagic;
  if (ReadLittleEndian32(header + 4) != fileSize) return CStatus::Kind::SizeMismatch;
  if (header[8] & 0x80) return CStatus::Kind::BadCount;
  if (ReadBigEndian32(header + 12) < kHeaderBytes) return CStatus::Kind::BadHeaderSize;
  return CStatus::Kind::Ok;
}

bool CBigArchive::IsBigHeader() { return TestHeader() == CStatus::Kind::Ok; }

int32_t CBigArchive::OnOpen() {
  m_failure = CStatus::Kind::Ok;
  // The index costs memory in proportion to the entry count that the file
  // claims, and a file of 2 GiB can claim hundreds of millions: when the
  // system cannot give that much, the archive is refused like any other
  // that cannot be read.
  try {
    return ReadIndex();
  } catch (const std::bad_alloc&) {
    return Refuse(CStatus::Kind::OutOfMemory);
  }
}

int32_t CBigArchive::ReadIndex() {
  ClearIndex();
  uint32_t count = 0;
  uint32_t regionSize = 0;
  CStatus::Kind failure = ReadHeader(count, regionSize);
  if (failure == CStatus::Kind::Ok) failure = WalkRecords(count, regionSize);
  if (failure != CStatus::Kind::Ok) return Refuse(failure);
  BuildOrder();
  return 0;
}

// Tests the header and reads the index region into m_records, from the
// file itself: a copy through the mapping would bring every page of the
// region into memory twice. The position ends after the index, as one read
// of it leaves it.
CStatus::Kind CBigArchive::ReadHeader(uint32_t& count, uint32_t& regionSize) {
  const CStatus::Kind header = TestHeader();
  if (header != CStatus::Kind::Ok) return header;
  uint8_t fields[kHeaderBytes];
  Seek(0);
  if (Read(fields, kHeaderBytes) != 0) return CStatus::Kind::TooShort;
  count = ReadBigEndian32(fields + 8);
  const uint32_t headerSize = ReadBigEndian32(fields + 12);
  // Refuse before reserving room: a header size past the end would otherwise
  // ask for up to 4 GiB that the read then cannot fill.
  if (headerSize > static_cast<uint32_t>(GetSize())) return CStatus::Kind::IndexPastEnd;
  regionSize = headerSize - kHeaderBytes;
  if (count > regionSize / kMinRecordBytes) return CStatus::Kind::RecordsOverrun;
  // Everything the index needs, in one block: the records, their names,
  // and the sort's scratch.
  m_arena->Reserve(size_t{regionSize} + kSlackBytes +
                   size_t{count} * (sizeof(CNameRef) + kSortScratchPerName) + 64);
  uint8_t* room = m_arena->Take<uint8_t>(size_t{regionSize} + kSlackBytes);
  m_records = room;
  if (regionSize < kSplitReadLeast || !IsDiskOpen()) {
    if (ReadUncached(room, static_cast<int32_t>(regionSize)) != 0)
      return CStatus::Kind::IndexPastEnd;
  } else {
    // Most of such a read's time goes to the system filling fresh pages:
    // a second thread reads the later half, and then has the pages that the
    // walk and the sort will write filled too. No more of them than the
    // region's size, though: the count is not yet known to be true, and a
    // damaged index must not make the reader take memory it never uses.
    // bench/archive_bench.sh's 1,000,000 names (a 50 MiB region): tarn list
    // best of 10 344 ms against 365 ms with one thread, on a busy machine.
    const uint32_t half = regionSize / 2;
    bool first = false;
    bool later = false;
    RunBeside([&] { first = ReadUncachedAt(kHeaderBytes, room, static_cast<int32_t>(half)) == 0; },
              [&] {
                later = ReadUncachedAt(static_cast<int32_t>(kHeaderBytes + half), room + half,
                                       static_cast<int32_t>(regionSize - half)) == 0;
                m_arena->Prefault(regionSize);
              });
    if (!first || !later) return CStatus::Kind::IndexPastEnd;
    Seek(static_cast<int32_t>(headerSize));
  }
  std::memset(room + regionSize, 0, kSlackBytes);
  return CStatus::Kind::Ok;
}

// Walks the records once, in file order: each must fit in the region. The
// index's names are left in file order for BuildOrder.
CStatus::Kind CBigArchive::WalkRecords(uint32_t count, uint32_t regionSize) {
  CNameRef* const names = m_arena->Take<CNameRef>(count);
  m_index.m_names = names;
  const uint8_t* const records = m_records;
  size_t at = 0;
  // Noted here, where each record is read anyway, so that whoever reads the
  // entries can tell at once that none is cut at the archive's end.
  uint64_t furthest = 0;
  for (CNameRef* ref = names; ref != names + count; ++ref) {
    if (regionSize - at < kMinRecordBytes) return CStatus::Kind::RecordsOverrun;
    const size_t name = at + 8;
    const size_t length = NameLength(records + name);
    // Only the slack's zeros ended it: the name runs past the region.
    if (name + length >= regionSize) return CStatus::Kind::RecordsOverrun;
    *ref = {static_cast<uint32_t>(name), static_cast<uint32_t>(length)};
    furthest = std::max(
        furthest, uint64_t{ReadBigEndian32(records + at)} + ReadBigEndian32(records + at + 4));
    at = name + length + 1;
  }
  m_recordCount = count;
  m_index.m_count = count;
  m_index.m_furthestEnd = furthest;
  return CStatus::Kind::Ok;
}

// Puts the names in byte order and keeps the last record of each.
// REQUIRES: the index's names in file order, as WalkRecords left them.
void CBigArchive::BuildOrder() {
  CNameRef* const names = const_cast<CNameRef*>(m_index.m_names);
  const size_t count = m_index.m_count;
  const uint8_t* const records = m_records;
  m_index.m_records = records;
  const auto view = [records](CBigIndex::Name n) {
    return std::string_view(reinterpret_cast<const char*>(records) + n.at, n.length);
  };
  // Archives are mostly written in name order and need no sorting.
  size_t i = 1;
  while (i < count && view(names[i - 1]) < view(names[i])) ++i;
  if (i >= count) return;
  m_index.m_count = SortUniqueNames(records, names, count, *m_arena);
}
