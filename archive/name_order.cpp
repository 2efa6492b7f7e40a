#include "archive/name_order.h"

#include "storage/run_beside.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>

namespace {

// Fewer names sort faster than a thread starts.
constexpr size_t kSortBesideLeast = 20000;

uint64_t DecodeBE64(const uint8_t* p) {
#if defined(__GNUC__)
  uint64_t word;
  std::memcpy(&word, p, 8);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  return word;
#else
  uint64_t word = 0;
  for (int k = 0; k < 8; ++k) word = word << 8 | p[k];
  return word;
#endif
}

// Eight bytes of a name from `offset`, big-endian, zero-padded past its end.
// Comparing these words compares names byte-wise as unsigned bytes with a
// prefix first, because no name holds a zero byte (it ends the name). The
// load may cover bytes after the name (the next record's), which the mask
// then clears: hence the 16 readable bytes after every name.
uint64_t NameWord(const uint8_t* base, CNameRef name, size_t offset) {
  if (offset >= name.length) return 0;
  const uint64_t word = DecodeBE64(base + name.at + offset);
  const size_t left = name.length - offset;
  // 1 to 7 bytes left keep their top bytes; 8 or more keep all.
  return left >= 8 ? word : word & ~(~uint64_t{0} >> (8 * left));
}

// A name with the word of it that is being sorted on and, while it is
// known, the word after that one. Names of one folder mostly differ within
// 16 bytes of the folder's path: the second word lets most ranges go one
// word deeper without reading the name again, and every such read is a
// cache miss, since names are visited out of file order.
struct SortKey {
  uint64_t word;
  uint64_t next;
  CNameRef name;
};
// The reader reserves its arena by this figure before the sort: a key, and
// the 4 bytes a name of the word splitter's table takes.
static_assert(kSortScratchPerName == sizeof(SortKey) + 4, "kSortScratchPerName no longer matches SortKey");

// Splits a range of keys by their words when few distinct words are shared
// by many names (the files of one folder): each name is then touched a few
// times, where quicksort would pass over it once per split. Ranges whose
// words are mostly distinct, or whose words collide in the table (crafted
// names), are left to quicksort.
class CWordSplitter {
 public:
  static constexpr size_t kLeast = 128;       // smaller ranges: quicksort
  static constexpr size_t kMost = 1 << 15;   // larger: quicksort first

  // Orders [begin, end) by word, stably; false (keys untouched) when it
  // does not pay. `runs` gets the start of every run of one word, and end.
  bool Split(SortKey* keys, size_t begin, size_t end, std::vector<size_t>& runs) {
    const size_t size = end - begin;
    if (size < kLeast || size > kMost) return false;
    size_t mask = 1;
    while (mask < 2 * size) mask <<= 1;
    // Grown to the largest range seen: memory is touched only as needed.
    if (m_slots.size() < mask) m_slots.resize(mask);
    if (m_moved.size() < size) {
      m_groupOf.resize(size);
      m_moved.resize(size);
    }
    --mask;
    ++m_stamp;
    const size_t mostWords = size / 4;
    size_t probesLeft = 2 * size;
    m_words.clear();
    for (size_t i = 0; i < size; ++i) {
      const uint64_t word = keys[begin + i].word;
      size_t h = static_cast<size_t>((word * 0x9E3779B97F4A7C15ull) >> 40) & mask;
      for (;;) {
        Slot& slot = m_slots[h];
        if (slot.stamp != m_stamp) {
          if (m_words.size() == mostWords) return false;
          slot = {word, m_stamp, static_cast<uint32_t>(m_words.size())};
          m_words.push_back({word, 0});
          break;
        }
        if (slot.word == word) break;
        if (probesLeft-- == 0) return false;
        h = (h + 1) & mask;
      }
      const uint32_t group = m_slots[h].group;
      m_groupOf[i] = group;
      ++m_words[group].second;
    }
    // The distinct words in order, each with where its run starts.
    m_order.resize(m_words.size());
    for (uint32_t g = 0; g < m_order.size(); ++g) m_order[g] = g;
    std::sort(m_order.begin(), m_order.end(), [this](uint32_t x, uint32_t y) { return m_words[x].first < m_words[y].first; });
    runs.clear();
    size_t at = 0;
    for (const uint32_t g : m_order) {
      runs.push_back(begin + at);
      const size_t count = m_words[g].second;
      m_words[g].second = at;  // now where the group's next key goes
      at += count;
    }
    runs.push_back(end);
    for (size_t i = 0; i < size; ++i) m_moved[m_words[m_groupOf[i]].second++] = keys[begin + i];
    std::copy(m_moved.begin(), m_moved.begin() + static_cast<std::ptrdiff_t>(size), keys + begin);
    return true;
  }

 private:
  struct Slot {
    uint64_t word = 0;
    uint32_t stamp = 0;  // the slot is in use by the split of this stamp
    uint32_t group = 0;
  };
  std::vector<Slot> m_slots;
  std::vector<uint32_t> m_groupOf;
  std::vector<SortKey> m_moved;
  std::vector<std::pair<uint64_t, size_t>> m_words;  // word, count
  std::vector<uint32_t> m_order;
  uint32_t m_stamp = 0;
};

// What the keys of a range hold.
enum class Words : uint8_t {
  Both,   // the word at the range's offset, and the next
  One,    // the word at the range's offset only
  Shift,  // the word at the offset is in `next`
  Read,   // neither: both are to be read from the names
};

// What RadixQuicksort keeps from one call to the next: an archive of many
// folders makes thousands of calls, which should not each allocate.
struct CSortState {
  struct Range {
    size_t begin;
    size_t end;
    size_t offset;  // the names of the range agree on every byte before it
    Words words;
    int budget;     // splits left before a hostile order gets std::sort instead
  };
  std::vector<Range> pending;
  std::vector<size_t> runs;
  std::vector<SortKey> moved;
  CWordSplitter splitter;
};

// Names in archives share long folder prefixes, so comparing them as
// strings spends most of its time walking those prefixes again and again.
// This is a three-way radix quicksort on eight bytes at a time instead: a
// range is split by the word at its offset, and only the part whose words
// are equal moves on to the next eight bytes. No recursion: a pending list
// of ranges.
// REQUIRES: the keys of [begin, end) agree on every byte before `offset`,
// and hold the words at `offset` and `offset` + 8.
void RadixQuicksort(const uint8_t* base, SortKey* keys, size_t begin, size_t end, size_t offset,
                    CSortState& state) {
  using Range = CSortState::Range;
  constexpr size_t kSmall = 24;
  // Ranges from kWordSplitLeast names up try the word splitter first; from
  // kByteSplitLeast to kByteSplitMost they are split by bytes; others by
  // quicksort.
  constexpr size_t kWordSplitLeast = 1024;
  constexpr size_t kByteSplitLeast = 128;
  constexpr size_t kByteSplitMost = CWordSplitter::kMost;
  const auto at = [keys](size_t i) { return keys + i; };
  const auto view = [base](CNameRef n) { return std::string_view(reinterpret_cast<const char*>(base) + n.at, n.length); };
  // Quicksort degrades to quadratic time on an order made to defeat its
  // pivot choice; after about 2 log2(n) uneven splits a range is handed to
  // std::sort, which stays n log n whatever the names.
  int budget = 4;
  for (size_t n = end - begin; n > 1; n >>= 1) budget += 2;
  const auto fullOrder = [&view](size_t from) {
    return [&view, from](const SortKey& x, const SortKey& y) {
      const int order = view(x.name).substr(std::min<size_t>(from, x.name.length))
                            .compare(view(y.name).substr(std::min<size_t>(from, y.name.length)));
      return order != 0 ? order < 0 : x.name.at < y.name.at;
    };
  };
  const auto fileOrder = [](const SortKey& x, const SortKey& y) { return x.name.at < y.name.at; };
  std::vector<Range>& pending = state.pending;
  std::vector<size_t>& runs = state.runs;
  pending.assign(1, Range{begin, end, offset, Words::Both, budget});
  while (!pending.empty()) {
    Range r = pending.back();
    pending.pop_back();
    if (r.end - r.begin < 2) continue;
    if (r.budget == 0) {
      std::sort(at(r.begin), at(r.end), fullOrder(r.offset));
      continue;
    }
    if (r.words == Words::Shift) {
      for (size_t i = r.begin; i < r.end; ++i) keys[i].word = keys[i].next;
      r.words = Words::One;
    } else if (r.words == Words::Read) {
      // One read of each name, for two words.
      for (size_t i = r.begin; i < r.end; ++i) {
        keys[i].word = NameWord(base, keys[i].name, r.offset);
        keys[i].next = NameWord(base, keys[i].name, r.offset + 8);
      }
      r.words = Words::Both;
    }
    // The words of the part that goes on to the next offset.
    const Words deeper = r.words == Words::Both ? Words::Shift : Words::Read;
    const size_t size = r.end - r.begin;
    if (size >= kWordSplitLeast && state.splitter.Split(keys, r.begin, r.end, runs)) {
      for (size_t k = 0; k + 1 < runs.size(); ++k) {
        const size_t from = runs[k], to = runs[k + 1];
        if (to - from < 2) continue;
        if (keys[from].name.length >= r.offset + 8) {
          pending.push_back({from, to, r.offset + 8, deeper, budget});
        } else {
          // Equal names (see below); the split kept their order, which
          // need not be file order any more.
          std::sort(at(from), at(to), fileOrder);
        }
      }
      continue;
    }
    if (size >= kByteSplitLeast && size <= kByteSplitMost) {
      // Split by the first byte in which the words differ, skipping those
      // they share: each split reads every key once and leaves ranges whose
      // words share one more byte at least, so no choice of names makes a
      // range cost more than a few passes for each byte of its names.
      const uint64_t first = keys[r.begin].word;
      uint64_t differ = 0;
      for (size_t i = r.begin + 1; i < r.end; ++i) differ |= keys[i].word ^ first;
      if (differ == 0) {
        if (keys[r.begin].name.length >= r.offset + 8) {
          pending.push_back({r.begin, r.end, r.offset + 8, deeper, budget});
        } else {
          std::sort(at(r.begin), at(r.end), fileOrder);  // equal names, as below
        }
        continue;
      }
      const int shift = 56 - (std::countl_zero(differ) & ~7);
      // count[b + 1]: keys whose byte is b; then, summed, where b's run starts.
      uint32_t count[257] = {};
      for (size_t i = r.begin; i < r.end; ++i) ++count[((keys[i].word >> shift) & 0xFF) + 1];
      for (size_t b = 1; b < 257; ++b) {
        if (count[b] > 1) pending.push_back({r.begin + count[b - 1], r.begin + count[b - 1] + count[b], r.offset, r.words, r.budget});
        count[b] += count[b - 1];
      }
      std::vector<SortKey>& moved = state.moved;
      if (moved.size() < size) moved.resize(size);
      for (size_t i = r.begin; i < r.end; ++i) moved[count[(keys[i].word >> shift) & 0xFF]++] = keys[i];
      std::copy(moved.begin(), moved.begin() + static_cast<std::ptrdiff_t>(size), at(r.begin));
      continue;
    }
    if (r.end - r.begin <= kSmall) {
      // Few names: insertion sort on the words, which mostly differ; then
      // each run of one word by the rest of its names.
      const bool both = r.words == Words::Both;
      const auto before = [&](const SortKey& x, const SortKey& y) {
        if (both && x.next != y.next) return x.next < y.next;
        const size_t from = std::min<size_t>({r.offset + (both ? 16 : 8), x.name.length, y.name.length});
        const int order = view(x.name).substr(from).compare(view(y.name).substr(from));
        return order != 0 ? order < 0 : x.name.at < y.name.at;
      };
      for (size_t i = r.begin + 1; i < r.end; ++i) {
        const SortKey moving = keys[i];
        size_t j = i;
        for (; j > r.begin && moving.word < keys[j - 1].word; --j) keys[j] = keys[j - 1];
        keys[j] = moving;
      }
      for (size_t from = r.begin, to = r.begin + 1; to <= r.end; ++to) {
        if (to < r.end && keys[to].word == keys[from].word) continue;
        for (size_t i = from + 1; i < to; ++i) {
          const SortKey moving = keys[i];
          size_t j = i;
          for (; j > from && before(moving, keys[j - 1]); --j) keys[j] = keys[j - 1];
          keys[j] = moving;
        }
        from = to;
      }
      continue;
    }
    // Median of three as the pivot; the smaller words go to [begin, lt),
    // the equal ones to [lt, gt), the larger after.
    const uint64_t a = keys[r.begin].word, b = keys[(r.begin + r.end) / 2].word, c = keys[r.end - 1].word;
    const uint64_t pivot = a < b ? (b < c ? b : (a < c ? c : a)) : (a < c ? a : (b < c ? c : b));
    // One pass, three ways (Dijkstra's flag).
    size_t lt = r.begin, gt = r.end;
    for (size_t i = r.begin; i < gt;) {
      const uint64_t word = keys[i].word;
      if (word < pivot) std::swap(keys[lt++], keys[i++]);
      else if (word > pivot) std::swap(keys[i], keys[--gt]);
      else ++i;
    }
    pending.push_back({r.begin, lt, r.offset, r.words, r.budget - 1});
    pending.push_back({gt, r.end, r.offset, r.words, r.budget - 1});
    if (keys[lt].name.length >= r.offset + 8) {
      // Longer names may follow, and so may a name that ends with this word.
      pending.push_back({lt, gt, r.offset + 8, deeper, budget});
    } else {
      // A name ends inside this word, so the zero bytes that pad it match
      // no byte of another name: the names here are all equal. Keep file
      // order.
      std::sort(at(lt), at(gt), fileOrder);
    }
  }
}

// The names' first 16 bytes, grouped: most names of an archive share them
// with many others (a folder's path), and only names of one group need to
// be compared past them. Open addressing on a table sized for few groups;
// crafted names that collide, or too many groups for this to pay, make it
// give up (false), and the caller sorts without it.
class CPrefixGroups {
 public:
  explicit CPrefixGroups(size_t names) {
    m_most = names / 16 + 64;
    m_slots.assign(256, Slot{});
    m_mask = m_slots.size() - 1;
    m_probesLeft = 4 * names + 1024;
  }
  // The group of a name's first 16 bytes (w0, w1), made when new; -1 when
  // grouping does not pay.
  static size_t Hash(uint64_t w0, uint64_t w1) {
    return static_cast<size_t>((w0 * 0x9E3779B97F4A7C15ull ^ w1 * 0xC2B2AE3D27D4EB4Full) >> 32);
  }
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
  size_t size() const { return m_size; }
  // How many names each group has so far, by group.
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
    std::sort(order.begin(), order.end(),
              [](const Slot& x, const Slot& y) { return x.w0 != y.w0 ? x.w0 < y.w0 : x.w1 < y.w1; });
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
  size_t kept = 0;
  for (size_t i = 0; i < n; ++i) {
    const CNameRef name = keys[i].name;
    if (i + 1 < n && keys[i].word == keys[i + 1].word && name.length == keys[i + 1].name.length &&
        std::memcmp(base + name.at, base + keys[i + 1].name.at, name.length) == 0)
      continue;
    names[kept++] = name;
  }
  return kept;
}

// Sorts through the groups; 0 (names untouched) when grouping gives up, else
// the count kept.
size_t SortByGroups(const uint8_t* base, CNameRef* names, size_t n, CLargeArena& scratch) {
  CPrefixGroups groups(n);
  uint32_t* const groupOf = scratch.Take<uint32_t>(n);
  const auto group = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      const int64_t g = groups.Find(NameWord(base, names[i], 0), NameWord(base, names[i], 8));
      if (g < 0) return false;
      groupOf[i] = static_cast<uint32_t>(g);
    }
    return true;
  };
  // For many names, the later half is placed by a second thread, after the
  // earlier half's names of each group (counted here).
  const size_t half = n < kSortBesideLeast ? n : n / 2;
  if (!group(0, half)) return 0;
  const std::vector<size_t> earlier = half < n ? groups.Counts() : std::vector<size_t>();
  if (!group(half, n)) return 0;
  // A counting sort by rank: stable, so each group keeps file order.
  std::vector<size_t> next;
  std::vector<size_t> start;
  groups.Place(next, start);
  SortKey* const keys = scratch.Take<SortKey>(n);
  // The words are read here, in file order, where the names come in
  // sequence through the cache.
  const auto place = [&](std::vector<size_t>& to, size_t from, size_t end) {
    for (size_t i = from; i < end; ++i)
      keys[to[groupOf[i]]++] = {NameWord(base, names[i], 16), NameWord(base, names[i], 24), names[i]};
  };
  if (half == n) {
    place(next, 0, n);
  } else {
    std::vector<size_t> laterNext = next;
    for (size_t g = 0; g < earlier.size(); ++g) laterNext[g] += earlier[g];
    RunBeside([&] { place(next, 0, half); }, [&] { place(laterNext, half, n); });
  }
  // Groups are independent: for many names a second thread sorts some of
  // them. Each thread takes the next few groups not yet taken, so neither
  // waits for the other at the end however the work falls.
  const size_t groupCount = start.size() - 1;
  std::atomic<size_t> untaken{0};
  const auto sortGroups = [&] {
    constexpr size_t kTake = 32;
    CSortState state;
    for (size_t first; (first = untaken.fetch_add(kTake, std::memory_order_relaxed)) < groupCount;) {
      const size_t last = std::min(groupCount, first + kTake);
      for (size_t g = first; g < last; ++g)
        if (start[g + 1] - start[g] > 1) RadixQuicksort(base, keys, start[g], start[g + 1], 16, state);
    }
  };
  if (n < kSortBesideLeast) sortGroups();
  else RunBeside(sortGroups, sortGroups);
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
  for (size_t i = 0; i < count; ++i) keys[i] = {NameWord(base, names[i], 0), NameWord(base, names[i], 8), names[i]};
  CSortState state;
  RadixQuicksort(base, keys, 0, count, 0, state);
  const size_t kept = KeepLastOfEqual(base, keys, count, names);
  scratch.Rewind(mark);
  return kept;
}
