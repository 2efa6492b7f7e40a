#include "archive/big_archive.h"

#include "storage/platform.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <utility>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

constexpr uint32_t kHeaderBytes = 16;
constexpr uint32_t kMagic = 0x46474942;  // "BIGF" read little-endian
// Smallest record: two 32-bit numbers and the zero byte of an empty name.
constexpr uint32_t kMinRecordBytes = 9;

uint32_t DecodeLE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t DecodeBE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

uint64_t DecodeBE64(const uint8_t* p) { return uint64_t{DecodeBE32(p)} << 32 | DecodeBE32(p + 4); }

// Eight bytes of a name from `offset`, big-endian, zero-padded past its end.
// Comparing these words compares names byte-wise as unsigned bytes with a
// prefix first, because no name holds a zero byte (it ends the name).
uint64_t NameWord(std::string_view name, size_t offset) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(name.data());
  if (offset + 8 <= name.size()) return DecodeBE64(bytes + offset);
  uint64_t word = 0;
  for (size_t k = 0; offset + k < name.size(); ++k) word |= uint64_t{bytes[offset + k]} << (56 - 8 * k);
  return word;
}

// Below this, large pages would not save a fault worth the call.
constexpr size_t kLargePageBytes = size_t{2} << 20;

template <typename T>
void AdviseLarge(T* data, size_t count) {
  if (count * sizeof(T) >= kLargePageBytes) platform::AdviseLargePages(data, count * sizeof(T));
}

// A name's position in the file, with the word of it that is being sorted on.
struct SortKey {
  uint64_t word;
  uint32_t record;
};

// The records in name order, records of one name in file order. Names in an
// archive share long folder prefixes, so comparing them as strings spends
// most of its time walking those prefixes again and again. This is a
// three-way radix quicksort on eight bytes at a time instead: a range is
// split by the word at its offset, and only the part whose words are equal
// moves on to the next eight bytes. No recursion: a pending list of ranges.
// REQUIRES: fewer than 2^32 names, since records are numbered in 32 bits.
std::vector<SortKey> NameOrder(const std::vector<std::string_view>& names) {
  assert(names.size() <= UINT32_MAX);
  struct Range {
    size_t begin;
    size_t end;
    size_t offset;  // the names of the range agree on every byte before it
    bool fresh;     // the words at `offset` are still to be taken
    int budget;     // splits left before a hostile order gets std::sort instead
  };
  constexpr size_t kSmall = 12;
  std::vector<SortKey> keys;
  keys.reserve(names.size());
  AdviseLarge(keys.data(), names.size());
  keys.resize(names.size());
  for (size_t i = 0; i < keys.size(); ++i) keys[i].record = static_cast<uint32_t>(i);
  const auto at = [&keys](size_t i) { return keys.begin() + static_cast<std::ptrdiff_t>(i); };
  // Quicksort degrades to quadratic time on an order made to defeat its
  // pivot choice; after about 2 log2(n) uneven splits a range is handed to
  // std::sort, which stays n log n whatever the names.
  int budget = 4;
  for (size_t n = keys.size(); n > 1; n >>= 1) budget += 2;
  const auto fullOrder = [&names](size_t offset) {
    return [&names, offset](const SortKey& x, const SortKey& y) {
      const int order = names[x.record].substr(offset).compare(names[y.record].substr(offset));
      return order != 0 ? order < 0 : x.record < y.record;
    };
  };
  std::vector<Range> pending{{0, keys.size(), 0, true, budget}};
  while (!pending.empty()) {
    const Range r = pending.back();
    pending.pop_back();
    if (r.end - r.begin < 2) continue;
    if (r.budget == 0) {
      std::sort(at(r.begin), at(r.end), fullOrder(r.offset));
      continue;
    }
    if (r.fresh)
      for (size_t i = r.begin; i < r.end; ++i) keys[i].word = NameWord(names[keys[i].record], r.offset);
    if (r.end - r.begin <= kSmall) {
      // Few names: insertion sort, on the words while they differ.
      const auto before = [&](const SortKey& x, const SortKey& y) {
        if (x.word != y.word) return x.word < y.word;
        const std::string_view u = names[x.record], v = names[y.record];
        const size_t from = std::min({r.offset + 8, u.size(), v.size()});
        const int order = u.substr(from).compare(v.substr(from));
        return order != 0 ? order < 0 : x.record < y.record;
      };
      for (size_t i = r.begin + 1; i < r.end; ++i) {
        const SortKey moving = keys[i];
        size_t j = i;
        for (; j > r.begin && before(moving, keys[j - 1]); --j) keys[j] = keys[j - 1];
        keys[j] = moving;
      }
      continue;
    }
    // Median of three as the pivot; the smaller words go to [begin, lt),
    // the equal ones to [lt, gt), the larger after.
    const uint64_t a = keys[r.begin].word, b = keys[(r.begin + r.end) / 2].word, c = keys[r.end - 1].word;
    const uint64_t pivot = a < b ? (b < c ? b : (a < c ? c : a)) : (a < c ? a : (b < c ? c : b));
    const auto less = std::partition(at(r.begin), at(r.end), [pivot](const SortKey& k) { return k.word < pivot; });
    const auto equal = std::partition(less, at(r.end), [pivot](const SortKey& k) { return k.word == pivot; });
    const auto lt = static_cast<size_t>(less - keys.begin());
    const auto gt = static_cast<size_t>(equal - keys.begin());
    pending.push_back({r.begin, lt, r.offset, false, r.budget - 1});
    pending.push_back({gt, r.end, r.offset, false, r.budget - 1});
    if (names[keys[lt].record].size() >= r.offset + 8) {
      // Longer names may follow, and so may a name that ends with this word.
      pending.push_back({lt, gt, r.offset + 8, true, budget});
    } else {
      // A name ends inside this word, so the zero bytes that pad it match
      // no byte of another name: the names here are all equal. Keep file
      // order.
      std::sort(less, equal, [](const SortKey& x, const SortKey& y) { return x.record < y.record; });
    }
  }
  return keys;
}

}  // namespace

const char* DescribeBigFailure(BigFailure failure) {
  switch (failure) {
    case BigFailure::None: return "no error";
    case BigFailure::CannotOpen: return "cannot open file";
    case BigFailure::TooShort: return "too short to be a BIG archive";
    case BigFailure::TooLarge: return "too large for a BIG archive (2 GiB or more)";
    case BigFailure::BadMagic: return "not a BIG archive";
    case BigFailure::SizeMismatch: return "size field does not match the file";
    case BigFailure::BadCount: return "bad entry count";
    case BigFailure::BadHeaderSize: return "bad header size";
    case BigFailure::IndexPastEnd: return "index does not fit in the file";
    case BigFailure::RecordsOverrun: return "index records do not fit in the index";
    case BigFailure::OutOfMemory: return "not enough memory for its index";
    case BigFailure::CannotRead: return "cannot read file";
  }
  return "unknown error";
}

CBigIndex::const_iterator CBigIndex::find(std::string_view name) const {
  const auto at = std::lower_bound(m_entries.begin(), m_entries.end(), name,
                                   [](const value_type& e, std::string_view n) { return e.first < n; });
  return at != m_entries.end() && at->first == name ? at : m_entries.end();
}

const CBigEntry& CBigIndex::at(std::string_view name) const {
  const auto found = find(name);
  if (found == end()) throw std::out_of_range("no entry of that name in the index");
  return found->second;
}

BigFailure CBigArchive::GetFailure() const {
  // A failed disk open never reaches OnOpen, which resets the reason: its
  // words tell it apart from an older refusal.
  return GetOpenError().empty() ? m_failure : BigFailure::CannotOpen;
}

void CBigArchive::ClearIndex() {
  decltype(m_index.m_entries)().swap(m_index.m_entries);
  Names().swap(m_names);
  m_region.Reset();
}

int32_t CBigArchive::Refuse(BigFailure failure) {
  m_failure = failure;
  ClearIndex();
  return 1;
}

BigFailure CBigArchive::TestHeader() {
  // The size is taken as unsigned: a failed query (-1) reads as huge here and
  // is then refused by the size-field test, since no field can hold it.
  const auto fileSize = static_cast<uint32_t>(GetSize());
  if (fileSize < kHeaderBytes) return BigFailure::TooShort;
  uint8_t header[kHeaderBytes];
  Seek(0);
  if (Read(header, kHeaderBytes) != 0) return GetSize() < 0 ? BigFailure::TooLarge : BigFailure::TooShort;
  if (DecodeLE32(header) != kMagic) return BigFailure::BadMagic;
  if (DecodeLE32(header + 4) != fileSize) return BigFailure::SizeMismatch;
  if (header[8] & 0x80) return BigFailure::BadCount;
  if (DecodeBE32(header + 12) < kHeaderBytes) return BigFailure::BadHeaderSize;
  return BigFailure::None;
}

bool CBigArchive::IsBigHeader() { return TestHeader() == BigFailure::None; }

int32_t CBigArchive::OnOpen() {
  m_failure = BigFailure::None;
  // The index costs memory in proportion to the entry count that the file
  // claims, and a file of 2 GiB can claim hundreds of millions: when the
  // system cannot give that much, the archive is refused like any other
  // that cannot be read.
  try {
    return ReadIndex();
  } catch (const std::bad_alloc&) {
    return Refuse(BigFailure::OutOfMemory);
  }
}

int32_t CBigArchive::ReadIndex() {
  ClearIndex();
  Region region{};
  CDataBuffer copy;  // holds the records when the archive is not mapped
  BigFailure failure = ReadHeader(region, copy);
  if (failure == BigFailure::None) failure = WalkRecords(region);
  if (failure != BigFailure::None) return Refuse(failure);
  BuildOrder();
  return 0;
}

// Tests the header and finds the records: where the archive is loaded,
// without a copy; only when it could not be mapped are they read into
// `copy` first. Either way the position ends after the index, as one read
// of it would leave it.
BigFailure CBigArchive::ReadHeader(Region& region, CDataBuffer& copy) {
  const BigFailure header = TestHeader();
  if (header != BigFailure::None) return header;
  uint8_t fields[kHeaderBytes];
  Seek(0);
  if (Read(fields, kHeaderBytes) != 0) return BigFailure::TooShort;
  const uint32_t count = DecodeBE32(fields + 8);
  const uint32_t headerSize = DecodeBE32(fields + 12);
  // Refuse before reserving room: a header size past the end would otherwise
  // ask for up to 4 GiB that the read then cannot fill.
  if (headerSize > static_cast<uint32_t>(GetSize())) return BigFailure::IndexPastEnd;
  const uint32_t regionSize = headerSize - kHeaderBytes;
  if (count > regionSize / kMinRecordBytes) return BigFailure::RecordsOverrun;

  const CDataBuffer whole = GetData();
  if (whole.HasData() && whole.GetSize() >= headerSize) {
    region = {count, whole.GetData() + kHeaderBytes, regionSize};
    Seek(static_cast<int32_t>(headerSize));
    return BigFailure::None;
  }
  uint8_t* room = copy.GetWritable(static_cast<int32_t>(regionSize));
  if (Read(room, static_cast<int32_t>(regionSize)) != 0) return BigFailure::IndexPastEnd;
  region = {count, room, regionSize};
  return BigFailure::None;
}

// Walks the records once, in file order: each must fit in the region, and
// its name becomes a view of the region, in m_names. A name's record starts
// eight bytes before it.
BigFailure CBigArchive::WalkRecords(const Region& region) {
  m_names.reserve(region.count);
  AdviseLarge(m_names.data(), region.count);
  const uint8_t* p = region.bytes;
  const uint8_t* const end = region.bytes + region.size;
  for (uint32_t i = 0; i < region.count; ++i) {
    if (end - p < static_cast<std::ptrdiff_t>(kMinRecordBytes)) return BigFailure::RecordsOverrun;
    const uint8_t* const name = p + 8;
    const auto* zero = static_cast<const uint8_t*>(std::memchr(name, 0, static_cast<size_t>(end - name)));
    if (zero == nullptr) return BigFailure::RecordsOverrun;
    m_names.emplace_back(reinterpret_cast<const char*>(name), static_cast<size_t>(zero - name));
    p = zero + 1;
  }
  return BigFailure::None;
}

// Puts the names in byte order, keeps the last record of each, and moves
// the names to the reader's own buffer, in name order, one copy per
// distinct name: the names then stay when the archive is closed, and
// everything that walks the index in order reads its names in order.
// REQUIRES: m_names holds views of the records, as WalkRecords left them.
void CBigArchive::BuildOrder() {
  const size_t count = m_names.size();
  assert(m_index.empty() && !m_region.HasData());
  // Archives are mostly written in name order and need no sorting.
  bool ascending = true;
  size_t nameBytes = 0;
  for (size_t i = 0; i < count; ++i) {
    if (ascending && i > 0 && !(m_names[i - 1] < m_names[i])) ascending = false;
    nameBytes += m_names[i].size();
  }
  const std::vector<SortKey> sorted = ascending ? std::vector<SortKey>() : NameOrder(m_names);
  const auto recordAt = [&](size_t i) { return ascending ? static_cast<uint32_t>(i) : sorted[i].record; };

  auto* store = reinterpret_cast<char*>(m_region.GetWritable(static_cast<int32_t>(nameBytes)));
  AdviseLarge(store, nameBytes);
  auto& entries = m_index.m_entries;
  entries.reserve(count);
  AdviseLarge(entries.data(), count);
  size_t used = 0;
  bool startsGroup = true;
  std::string_view kept;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t record = recordAt(i);
    const std::string_view name = m_names[record];
    const auto* numbers = reinterpret_cast<const uint8_t*>(name.data()) - 8;
    if (startsGroup) {
      if (!name.empty()) std::memcpy(store + used, name.data(), name.size());
      kept = std::string_view(store + used, name.size());
      used += name.size();
    }
    m_names[record] = kept;
    // Records of one name are adjacent, in file order: the last one wins.
    startsGroup = i + 1 == count || m_names[recordAt(i + 1)] != name;
    if (startsGroup) entries.emplace_back(kept, CBigEntry{DecodeBE32(numbers), DecodeBE32(numbers + 4)});
  }
}
