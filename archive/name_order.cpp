#include "archive/name_order.h"

#include "storage/byte_order.h"
#include "threads/run_beside.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// Fewer names sort faster than a thread starts. At 20,000 names under long
// prefixes (bench/make_bench_archive.cpp, callgrind --separate-threads), the
// second thread still takes 2.0 of the 10.6 million instructions of the
// caller's listing, a few tenths of a millisecond against a thread's start
// of a few tens of microseconds.
constexpr size_t kSortBesideLeast = 20000;

// Eight bytes of a name from `offset`, big-endian, zero-padded past its end.
// Comparing these words compares names byte-wise as unsigned bytes with a
// prefix first, because no name holds a zero byte (it ends the name). The
// load may cover bytes after the name (the next record's), which the mask
// then clears: hence the 16 readable bytes after every name.
uint64_t NameWord(const uint8_t* base, CNameRef name, size_t offset) {
  // Eight bytes of the name itself, the common case, in one test.
  if (offset + 8 <= name.length) return ReadBigEndian64(base + name.at + offset);
  if (offset >= name.length) return 0;
  // 1 to 7 bytes left keep their top bytes.
  const size_t left = name.length - offset;
  return ReadBigEndian64(base + name.at + offset) & ~(~uint64_t{0} >> (8 * left));
}

// A name with eight of its bytes, from the depth its range has reached,
// big-endian: the range's names agree on every byte before that depth.
// Comparing words compares names there, a prefix first (see NameWord).
struct SortKey {
  uint64_t word;
  CNameRef name;
};
// The reader reserves its arena by this figure before the sort: a key, and
// the 4 bytes a name of the word splitter's table takes.
static_assert(kSortScratchPerName == sizeof(SortKey) + 4,
              "kSortScratchPerName no longer matches SortKey");

// Ranges of at most this many names are sorted by insertion; above it, a
// split by bytes pays. Chosen with bench/archive_bench.sh's callgrind step
// (tarn list, 200,000 shuffled entries, instructions an entry, today's
// names / names under long folder prefixes): 8: 501 / 553, 16: 499 / 553,
// 24: 494 / 550, 32: 497 / 551, 48: 498 / 557.
constexpr size_t kInsertionMost = 24;

// A range of keys that agree on every byte before `depth`, each word
// holding the name's 8 bytes from there. `aside`: the keys lie in the
// sort's second buffer, at the same places.
struct SortRange {
  size_t begin;
  size_t end;
  size_t depth;
  bool aside;
};

// What the sort keeps from one range to the next: an archive of many
// folders sorts thousands of groups, which should not each allocate.
// A split moves a range's keys from one buffer to the other and its parts
// are split again from there, so no pass copies keys back; a part that is
// done while aside (one name, or equal names) is copied home on its own.
struct CSortState {
  std::vector<SortRange> pending;
  std::vector<SortRange> settle;  // done parts of the last split, aside
  std::vector<SortKey> aside;
  std::vector<uint32_t> count;
};

// Whether x's name comes before y's; both agree before `depth`, and their
// words hold the 8 bytes from there.
bool NameBefore(const uint8_t* base, const SortKey& x, const SortKey& y, size_t depth) {
  if (x.word != y.word) return x.word < y.word;
  const size_t from = std::min<size_t>({depth + 8, x.name.length, y.name.length});
  const std::string_view a(reinterpret_cast<const char*>(base) + x.name.at + from,
                           x.name.length - from);
  const std::string_view b(reinterpret_cast<const char*>(base) + y.name.at + from,
                           y.name.length - from);
  return a < b;
}

// Few names: an insertion sort from `from` into `to` (the same buffer or
// not), which moves a key only past greater ones, so equal names keep their
// order.
void InsertionSort(const uint8_t* base, const SortKey* from, SortKey* to, const SortRange& r) {
  for (size_t i = r.begin; i < r.end; ++i) {
    const SortKey moving = from[i];
    size_t j = i;
    for (; j > r.begin && NameBefore(base, moving, to[j - 1], r.depth); --j) to[j] = to[j - 1];
    to[j] = moving;
  }
}

// Splits a range by the first byte in which its words differ, skipping the
// bytes all of them share, into ranges that agree on that byte too, moving
// its keys from `from` to `to`; by two bytes when the range has more names
// than the two bytes have values between its least and greatest word (the
// benchmark of kInsertionMost, at 32: 497 / 551; with more names than half
// of those values, 496 / 579). Each key's word is read again from after the
// bytes split on, as it moves: words shifted instead hold fewer bytes, and
// ranges split by one byte and pass over their keys again to read them
// (at kInsertionMost 16: 525 / 590 against 501 / 554). A counting sort,
// stable, so equal names keep their order. No choice of names makes a range
// cost more than a pass for each byte its names do not all share.
void SplitByBytes(const uint8_t* base, const SortKey* from, SortKey* to, const SortRange& r,
                  uint64_t least, uint64_t greatest, CSortState& state) {
  const size_t size = r.end - r.begin;
  const size_t skip = static_cast<size_t>(std::countl_zero(least ^ greatest)) / 8;
  const int firstShift = 56 - 8 * static_cast<int>(skip);
  const bool two =
      skip < 7 &&
      ((greatest >> (firstShift - 8)) & 0xFFFF) - ((least >> (firstShift - 8)) & 0xFFFF) < size;
  const int shift = two ? firstShift - 8 : firstShift;
  const uint64_t mask = two ? 0xFFFF : 0xFF;
  const size_t depth = r.depth + skip + (two ? 2 : 1);
  const size_t low = (least >> shift) & mask, span = ((greatest >> shift) & mask) - low + 1;
  // count[d - low + 1]: keys whose bytes are d; then, summed, where d's run starts.
  state.count.assign(span + 1, 0);
  uint32_t* const count = state.count.data();
  for (size_t i = r.begin; i < r.end; ++i) ++count[((from[i].word >> shift) & mask) - low + 1];
  count[0] = static_cast<uint32_t>(r.begin);
  const bool aside = !r.aside;
  state.settle.clear();
  for (size_t d = 0; d < span; ++d) {
    const size_t at = count[d], n = count[d + 1];
    // A last byte 0 lies past the end of a name (no name holds one): names
    // there are equal, and stay in their order.
    if (n > 1 && ((low + d) & 0xFF) != 0) state.pending.push_back({at, at + n, depth, aside});
    else if (n != 0 && aside) state.settle.push_back({at, at + n, depth, aside});
    count[d + 1] += count[d];
  }
  for (size_t i = r.begin; i < r.end; ++i) {
    const CNameRef name = from[i].name;
    to[count[((from[i].word >> shift) & mask) - low]++] = {NameWord(base, name, depth), name};
  }
}

// An MSD radix sort with common-prefix skipping. Names in archives share
// long folder prefixes; a range whose words all agree moves eight bytes on
// with one pass, and a split starts at the first byte in which the words
// differ. No recursion: a pending list of ranges.
// REQUIRES: the `count` keys agree on every byte before `depth`, in file
// order, their words holding the 8 bytes from there.
void RadixSort(const uint8_t* base, SortKey* keys, size_t count, size_t depth, CSortState& state) {
  if (state.aside.size() < count) state.aside.resize(count);
  SortKey* const buffers[2] = {keys, state.aside.data()};
  state.pending.assign(1, {0, count, depth, false});
  while (!state.pending.empty()) {
    const SortRange r = state.pending.back();
    state.pending.pop_back();
    SortKey* const here = buffers[r.aside];
    if (r.end - r.begin <= kInsertionMost) {
      InsertionSort(base, here, keys, r);
      continue;
    }
    // The words share their leading bytes; the least and the greatest
    // differ first where any two do, and hold the least and greatest byte.
    uint64_t least = here[r.begin].word, greatest = least;
    for (size_t i = r.begin; i < r.end; ++i) {
      least = std::min(least, here[i].word);
      greatest = std::max(greatest, here[i].word);
    }
    if (least != greatest) {
      SortKey* const there = buffers[!r.aside];
      SplitByBytes(base, here, there, r, least, greatest, state);
      for (const SortRange& done : state.settle)
        std::copy(there + done.begin, there + done.end, keys + done.begin);
      continue;
    }
    uint32_t longest = 0;
    for (size_t i = r.begin; i < r.end; ++i) longest = std::max(longest, here[i].name.length);
    if (longest > r.depth + 8) {
      // All share these bytes, and some go on past them.
      for (size_t i = r.begin; i < r.end; ++i)
        here[i].word = NameWord(base, here[i].name, r.depth + 8);
      state.pending.push_back({r.begin, r.end, r.depth + 8, r.aside});
    } else if (r.aside) {
      // The names are equal, in file order.
      std::copy(here + r.begin, here + r.end, keys + r.begin);
    }
  }
}

// The names' first 16 bytes, grouped: most names of an archive share them
// with many others (a folder's path), and only names of one group need to
// be compared past them. Open addressing on a table sized for few groups;
// crafted names that collide, or more groups than a quarter of the names,
// make it give up (-1), and the caller sorts without it. Groups of four
// names on average still pay: in bench/archive_bench.sh's callgrind step,
// tarn list of 20,000 of the bench's names (3,882 groups) costs 10.2 million
// instructions grouped and 12.6 million with the limit at a sixteenth of the
// names, which gave up; at 50,000, 23.8 and 31.1 million. The limit bounds
// the table at about one slot a name.
class CPrefixGroups {
 public:
  explicit CPrefixGroups(size_t names) {
    m_most = names / 4 + 64;
    m_slots.assign(256, Slot{});
    m_mask = m_slots.size() - 1;
    m_probesLeft = 4 * names + 1024;
  }
  static size_t Hash(uint64_t w0, uint64_t w1) {
    return static_cast<size_t>((w0 * 0x9E3779B97F4A7C15ull ^ w1 * 0xC2B2AE3D27D4EB4Full) >> 32);
  }
  // The group of a name's first 16 bytes (w0, w1), made when new; -1 when
  // grouping does not pay.
  int64_t Find(uint64_t w0, uint64_t w1) {
    size_t h = Hash(w0, w1) & m_mask;
    for (;;) {
      Slot& slot = m_slots[h];
      if (slot.count == 0) {
        if (m_size == m_most) return -1;
        if (2 * (m_size + 1) > m_slots.size()) {
          Grow();
          return Find(w0, w1);
        }
        slot = {w0, w1, static_cast<uint32_t>(m_size++), 1};
        return slot.group;
      }
      if (slot.w0 == w0 && slot.w1 == w1) {
        ++slot.count;
        return slot.group;
      }
      if (m_probesLeft-- == 0) return -1;
      h = (h + 1) & m_mask;
    }
  }
  // The group of each of names [from, to) in `groupOf`; false when
  // grouping does not pay.
  bool FindEach(const uint8_t* base, const CNameRef* names, size_t from, size_t to,
                uint32_t* groupOf) {
    for (size_t i = from; i < to; ++i) {
      const int64_t g = Find(NameWord(base, names[i], 0), NameWord(base, names[i], 8));
      if (g < 0) return false;
      groupOf[i] = static_cast<uint32_t>(g);
    }
    return true;
  }
  size_t size() const { return m_size; }
  // The names found so far in each group, by group.
  std::vector<size_t> Counts() const {
    std::vector<size_t> counts(m_size);
    for (const Slot& slot : m_slots)
      if (slot.count != 0) counts[slot.group] = slot.count;
    return counts;
  }
  // Twice the slots, every group placed again: the table stays at most half
  // full without being sized for the most groups up front.
  void Grow() {
    std::vector<Slot> old(2 * m_slots.size());
    old.swap(m_slots);
    m_mask = m_slots.size() - 1;
    for (const Slot& slot : old) {
      if (slot.count == 0) continue;
      size_t h = Hash(slot.w0, slot.w1) & m_mask;
      while (m_slots[h].count != 0) h = (h + 1) & m_mask;
      m_slots[h] = slot;
    }
  }
  // Where the groups' names go in byte order of the groups' 16 bytes: by
  // group, where its first name goes (`next`); by rank, where each group
  // starts, and the count of names after the last (`start`).
  void Place(std::vector<size_t>& next, std::vector<size_t>& start) const {
    std::vector<Slot> order;
    order.reserve(m_size);
    for (const Slot& slot : m_slots)
      if (slot.count != 0) order.push_back(slot);
    std::sort(order.begin(), order.end(), [](const Slot& x, const Slot& y) {
      return x.w0 != y.w0 ? x.w0 < y.w0 : x.w1 < y.w1;
    });
    next.resize(m_size);
    start.resize(m_size + 1);
    size_t at = 0;
    for (size_t r = 0; r < order.size(); ++r) {
      start[r] = at;
      next[order[r].group] = at;
      at += order[r].count;
    }
    start[m_size] = at;
  }

 private:
  struct Slot {
    uint64_t w0 = 0;
    uint64_t w1 = 0;
    uint32_t group = 0;
    uint32_t count = 0;  // names in the group; 0: free
  };
  std::vector<Slot> m_slots;
  size_t m_size = 0;  // groups made
  size_t m_mask;
  size_t m_most;
  size_t m_probesLeft;
};

// The sorted keys' names back at `names`, each run of equal names as its
// last: the count kept. Equal names went through the same ranges and end
// with the same word: only then are the names themselves compared.
size_t KeepLastOfEqual(const uint8_t* base, const SortKey* keys, size_t n, CNameRef* names) {
  if (n == 0) return 0;
  size_t kept = 0;
  for (size_t i = 0; i + 1 < n; ++i) {
    const CNameRef name = keys[i].name;
    if (keys[i].word == keys[i + 1].word && name.length == keys[i + 1].name.length &&
        std::memcmp(base + name.at, base + keys[i + 1].name.at, name.length) == 0)
      continue;
    names[kept++] = name;
  }
  names[kept++] = keys[n - 1].name;
  return kept;
}

// Sorts each group of `keys`, group g being [start[g], start[g + 1]).
void SortEachGroup(const uint8_t* base, SortKey* keys, const std::vector<size_t>& start,
                   bool beside) {
  // Groups are independent: for many names a second thread sorts some of
  // them. Each thread takes the next few groups not yet taken, so neither
  // waits for the other at the end however the work falls. In
  // bench/archive_bench.sh's callgrind step (--separate-threads, 200,000
  // names) the second thread takes 16.5 of the 33 million instructions the
  // sort costs on the bench's names, and 22.5 of 45 million on names under
  // long prefixes: it pays when a second core is free.
  const size_t groupCount = start.size() - 1;
  std::atomic<size_t> untaken{0};
  const auto sortGroups = [&] {
    // Taken 32 at a time, the groups split as evenly as the figures above.
    constexpr size_t kTake = 32;
    CSortState state;
    for (size_t first;
         (first = untaken.fetch_add(kTake, std::memory_order_relaxed)) < groupCount;) {
      const size_t last = std::min(groupCount, first + kTake);
      for (size_t g = first; g < last; ++g)
        if (start[g + 1] - start[g] > 1)
          RadixSort(base, keys + start[g], start[g + 1] - start[g], 16, state);
    }
  };
  if (beside) RunBeside(sortGroups, sortGroups);
  else sortGroups();
}

// Sorts through the groups; 0 (names untouched) when grouping gives up, else
// the count kept.
size_t SortByGroups(const uint8_t* base, CNameRef* names, size_t n, CLargeArena& scratch) {
  CPrefixGroups groups(n);
  uint32_t* const groupOf = scratch.Take<uint32_t>(n);
  // For many names, a second thread places the later half, after the
  // earlier half's names of each group (counted here). Few instructions
  // move (2.3 of 110 million in bench/archive_bench.sh's callgrind step, on
  // 200,000 names under long prefixes), but placing waits on memory more
  // than it computes: tarn list of the bench's 200,000 shuffled names,
  // median wall time of 100 runs taking turns, 24.4 ms with it against
  // 26.5 ms without (both with the lines made beside, cli/tarn_main.cpp).
  const size_t half = n < kSortBesideLeast ? n : n / 2;
  if (!groups.FindEach(base, names, 0, half, groupOf)) return 0;
  const std::vector<size_t> earlier = half < n ? groups.Counts() : std::vector<size_t>();
  if (!groups.FindEach(base, names, half, n, groupOf)) return 0;
  // A counting sort by rank: stable, so each group keeps file order. The
  // words are read here, in file order, where the names come in sequence
  // through the cache.
  std::vector<size_t> next;
  std::vector<size_t> start;
  groups.Place(next, start);
  SortKey* const keys = scratch.Take<SortKey>(n);
  const auto place = [&](std::vector<size_t>& to, size_t from, size_t end) {
    for (size_t i = from; i < end; ++i)
      keys[to[groupOf[i]]++] = {NameWord(base, names[i], 16), names[i]};
  };
  if (half == n) {
    place(next, 0, n);
  } else {
    std::vector<size_t> laterNext = next;
    for (size_t g = 0; g < earlier.size(); ++g) laterNext[g] += earlier[g];
    RunBeside([&] { place(next, 0, half); }, [&] { place(laterNext, half, n); });
  }
  SortEachGroup(base, keys, start, n >= kSortBesideLeast);
  return KeepLastOfEqual(base, keys, n, names);
}

}  // namespace

size_t SortUniqueNames(const uint8_t* base, CNameRef* names, size_t count, CLargeArena& scratch) {
  assert(std::is_sorted(names, names + count, [](CNameRef x, CNameRef y) { return x.at < y.at; }));
  if (count < 2) return count;
  std::byte* const mark = scratch.Mark();
  const size_t grouped = SortByGroups(base, names, count, scratch);
  scratch.Rewind(mark);
  if (grouped != 0) return grouped;
  SortKey* const keys = scratch.Take<SortKey>(count);
  for (size_t i = 0; i < count; ++i) keys[i] = {NameWord(base, names[i], 0), names[i]};
  CSortState state;
  RadixSort(base, keys, count, 0, state);
  const size_t kept = KeepLastOfEqual(base, keys, count, names);
  scratch.Rewind(mark);
  return kept;
}
