#include "archive/load_order.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <memory>

#include "archive/archive_compare.h"
#include "archive/entry_map.h"
#include "archive/entry_path.h"
#include "archive/large_arena.h"
#include "storage/disk_file.h"
#include "storage/handle_owner.h"
#include "storage/platform.h"

namespace {

// A load order lists archives, a few lines each: a file larger than this
// is not one, and is refused before it is read whole.
constexpr uint64_t kMostOrderBytes = 16u << 20;

constexpr std::string_view kBom = "\xEF\xBB\xBF";

#ifdef _WIN32
bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }
// A drive letter ("C:\x", "C:x") or a leading separator ("\\server\x").
bool IsAbsolutePath(std::string_view path) {
  if (!path.empty() && IsPathSeparator(path[0])) return true;
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  return path.size() >= 2 && letter(path[0]) && path[1] == ':';
}
#else
// A '\' is a byte of a file name here, as any other.
bool IsPathSeparator(char c) { return c == '/'; }
bool IsAbsolutePath(std::string_view path) { return !path.empty() && path[0] == '/'; }
#endif

// The folder part of `file`, its last separator included; empty for a file
// named without one, whose relative lines are then relative as they are.
std::string FolderOf(const std::string& file) {
  for (size_t at = file.size(); at-- > 0;)
    if (IsPathSeparator(file[at])) return file.substr(0, at + 1);
  return {};
}

// A folder stands where pack and overrides take one, as an archive does.
bool IsFolder(const std::string& path) {
  const CHandleOwner folder(*platform::OpenFolder(path, false));
  return folder.Get() != platform::kInvalidHandle;
}

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

std::string At(const std::string& file, size_t line) { return file + ":" + std::to_string(line); }

struct CListedArchive {
  std::string path;
  size_t line;  // from 1
};

// The archives `text` lists, each with the number of its line.
CResult<std::vector<CListedArchive>> ParseListed(std::string_view text, const std::string& file) {
  if (text.starts_with(kBom)) text.remove_prefix(kBom.size());
  const std::string folder = FolderOf(file);
  std::vector<CListedArchive> listed;
  size_t number = 0;
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    ++number;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (IsBlank(line) || line[0] == '#') continue;
    if (line.find('\0') != std::string_view::npos)
      return CStatus::Failure(At(file, number), "a path cannot hold a NUL byte");
    listed.push_back(
        {IsAbsolutePath(line) ? std::string(line) : folder + std::string(line), number});
  }
  if (listed.empty()) return CStatus::Failure(file, "names no archive");
  return listed;
}

std::vector<std::string> PathsOf(std::vector<CListedArchive>& listed) {
  std::vector<std::string> paths;
  paths.reserve(listed.size());
  for (CListedArchive& archive : listed) paths.push_back(std::move(archive.path));
  return paths;
}

}  // namespace

CResult<std::vector<std::string>> ParseLoadOrder(std::string_view text, const std::string& file) {
  CResult<std::vector<CListedArchive>> listed = ParseListed(text, file);
  if (!listed) return listed.GetStatus();
  return PathsOf(*listed);
}

CResult<std::vector<std::string>> ReadLoadOrderFile(const std::string& file) {
  CDiskFile disk;
  if (disk.OpenRead(file) != 0) return disk.GetLastError();
  const int32_t size = disk.GetSize();
  if (size < 0 || static_cast<uint64_t>(size) > kMostOrderBytes)
    return CStatus::Failure(file, "too large for a load order");
  CDataBuffer bytes;
  CStatus error;
  if (disk.LoadWhole(bytes, &error) != 0) return error;
  CResult<std::vector<CListedArchive>> listed = ParseListed(bytes.View(), file);
  if (!listed) return listed.GetStatus();
  // The command would name only the path; the line is what there is to fix.
  for (const CListedArchive& archive : *listed) {
    CDiskFile opened;
    if (opened.OpenRead(archive.path) != 0 && !IsFolder(archive.path))
      return CStatus::Failure(At(file, archive.line),
                              archive.path + ": " + opened.GetLastError().GetWords());
  }
  return PathsOf(*listed);
}

namespace {

// An opened archive's entries for the resolver: mapped, a view; else read
// where they lie, into memory of its own kept until the next read.
class CMapSource {
 public:
  explicit CMapSource(const CEntryMap& map) : m_map(map) {}
  size_t size() const { return m_map.size(); }
  std::string_view NameAt(size_t i) const { return m_map.NameAt(i); }
  CStatus BytesAt(size_t i, std::string_view& bytes) {
    if (m_map.IsMapped() || m_map.empty()) {
      bytes = m_map.BytesAt(i);
      return {};
    }
    m_scratch.resize(m_map.SizeAt(i));
    if (!m_scratch.empty()) {
      const platform::Error error = platform::ReadAt(m_map.GetFile().Get(), m_map.OffsetAt(i),
                                                     m_scratch.data(), m_map.SizeAt(i));
      if (error.Failed()) return CStatus::FromSystem({}, error);
    }
    bytes = m_scratch;
    return {};
  }

 private:
  const CEntryMap& m_map;
  std::string m_scratch;
};

class CSideSource {
 public:
  explicit CSideSource(CCompareSide& side) : m_side(side) {}
  size_t size() const { return m_side.size(); }
  std::string_view NameAt(size_t i) const { return m_side.NameAt(i); }
  CStatus BytesAt(size_t i, std::string_view& bytes) { return m_side.BytesAt(i, bytes); }

 private:
  CCompareSide& m_side;
};

// Each byte's key byte, as the game folds names (EntryKey with letters
// folded), in one table, for names with bytes past ASCII.
struct CFoldTable {
  char key[256];
  CFoldTable() {
    for (int b = 0; b < 256; ++b) key[b] = EntryKeyByte(static_cast<char>(b), true);
  }
};

const CFoldTable& Fold() {
  static const CFoldTable kFold;
  return kFold;
}

constexpr uint64_t kEveryByte = 0x0101010101010101ull;

uint64_t FoldBytes(uint64_t word, const CFoldTable& fold) {
  uint64_t folded = 0;
  for (int b = 0; b < 64; b += 8) {
    const auto byte = static_cast<unsigned char>(word >> b);
    folded |= uint64_t{static_cast<unsigned char>(fold.key[byte])} << b;
  }
  return folded;
}

// Eight bytes as their key bytes. ASCII bytes are folded eight at a time,
// as the table folds them: small letters to capitals, '/' to '\'.
inline uint64_t FoldWord(uint64_t word, const CFoldTable& fold) {
  if ((word & (kEveryByte * 0x80)) != 0) return FoldBytes(word, fold);
  // The top bit of each byte from 'a' up, then of each byte past 'z'.
  const uint64_t small = (word + kEveryByte * (0x80 - 'a')) &
                         ~(word + kEveryByte * (0x80 - 'z' - 1)) & (kEveryByte * 0x80);
  word ^= small >> 2;
  const uint64_t slash = word ^ (kEveryByte * '/');
  const uint64_t isSlash =
      ~(((slash & (kEveryByte * 0x7F)) + kEveryByte * 0x7F) | slash) & (kEveryByte * 0x80);
  return word ^ (isSlash >> 7) * ('/' ^ '\\');
}

// A hash of the name's key: names of one key have one hash.
uint64_t KeyHash(std::string_view name, const CFoldTable& fold) {
  constexpr uint64_t kMix = 0xFF51AFD7ED558CCDull;
  uint64_t hash = name.size() * 0x9E3779B97F4A7C15ull;
  uint64_t word = 0;
  size_t at = 0;
  if (name.size() < 8) {
    std::memcpy(&word, name.data(), name.size());
    hash = (hash ^ FoldWord(word, fold)) * kMix;
    at = name.size();
  }
  for (; at + 8 <= name.size(); at += 8) {
    std::memcpy(&word, name.data() + at, 8);
    hash = (hash ^ FoldWord(word, fold)) * kMix;
  }
  if (at < name.size()) {
    // The last eight bytes, less those hashed already: names of one key
    // have one length, so each is cut the same.
    std::memcpy(&word, name.data() + name.size() - 8, 8);
    hash = (hash ^ FoldWord(word >> (at + 8 - name.size()) * 8, fold)) * kMix;
  }
  return hash ^ (hash >> 29);
}

// An array whose room is taken from an arena once, for values copied as
// bytes: the resolver knows from the start how many copies there are, and
// no name or copy outnumbers them.
template <typename T>
class CFixedArray {
 public:
  CFixedArray(CLargeArena& arena, size_t room) : m_data(arena.Take<T>(room)), m_room(room) {}
  size_t size() const { return m_size; }
  T& operator[](size_t i) { return m_data[i]; }
  const T& operator[](size_t i) const { return m_data[i]; }
  std::span<const T> View() const { return {m_data, m_size}; }
  std::span<T> View() { return {m_data, m_size}; }
  // REQUIRES: `count` fits the room.
  void Fill(size_t count, const T& value) {
    assert(count <= m_room);
    std::fill_n(m_data, count, value);
    m_size = count;
  }
  // REQUIRES: size() is less than the room.
  void push_back(const T& value) {
    assert(m_size < m_room);
    m_data[m_size++] = value;
  }
  // REQUIRES: `values` fit the room.
  void Assign(std::span<const T> values) {
    assert(values.size() <= m_room);
    std::copy(values.begin(), values.end(), m_data);
    m_size = values.size();
  }

 private:
  T* m_data;
  size_t m_room;
  size_t m_size = 0;
};

// Asks for the cache line at `at` ahead of its use.
inline void Prefetch(const void* at) {
#if defined(__GNUC__)
  __builtin_prefetch(at);
#else
  (void)at;
#endif
}

// The archives' names merged in byte order, as a tournament of their next
// names: the smallest name first and, of equal names, the earliest archive's.
template <typename Source>
class CNameMerge {
 public:
  explicit CNameMerge(std::span<Source> sources)
      : m_sources(sources), m_heads(sources.size()), m_losers(sources.size(), 0) {
    for (uint32_t a = 0; a < sources.size(); ++a) {
      m_heads[a].end = static_cast<uint32_t>(sources[a].size());
      Load(a);
    }
    if (!sources.empty()) m_winner = Play(1);
  }

  bool Done() const { return m_heads.empty() || AtEnd(m_winner); }
  CLoadOrderEntry Top() const { return {m_winner, m_heads[m_winner].next}; }
  std::string_view TopName() const { return m_heads[m_winner].name; }

  void Pop() {
    uint32_t winner = m_winner;
    ++m_heads[winner].next;
    Load(winner);
    for (size_t node = (winner + m_heads.size()) / 2; node > 0; node /= 2)
      if (Before(m_losers[node], winner)) std::swap(m_losers[node], winner);
    m_winner = winner;
  }

 private:
  struct CHead {
    std::string_view name;  // at `next`, while it is before `end`
    uint32_t next = 0;
    uint32_t end = 0;
  };

  bool AtEnd(uint32_t a) const { return m_heads[a].next >= m_heads[a].end; }
  void Load(uint32_t a) {
    CHead& head = m_heads[a];
    if (head.next < head.end) head.name = m_sources[a].NameAt(head.next);
    // An archive's names are in byte order, its records in the order of
    // its file: each name is asked for a few turns before it is compared.
    if (head.next + kAhead < head.end) Prefetch(m_sources[a].NameAt(head.next + kAhead).data());
  }
  // An archive whose names are done comes after every other.
  bool Before(uint32_t a, uint32_t b) const {
    if (AtEnd(a) || AtEnd(b)) return !AtEnd(a) || (AtEnd(b) && a < b);
    const int order = m_heads[a].name.compare(m_heads[b].name);
    return order != 0 ? order < 0 : a < b;
  }
  // The winner below `node`, leaving each game's loser at its node; the
  // archives are the leaves, archive a at node a + count.
  uint32_t Play(size_t node) {
    if (node >= m_heads.size()) return static_cast<uint32_t>(node - m_heads.size());
    const uint32_t left = Play(2 * node);
    const uint32_t right = Play(2 * node + 1);
    const bool leftWins = Before(left, right);
    m_losers[node] = leftWins ? right : left;
    return leftWins ? left : right;
  }

  static constexpr uint32_t kAhead = 16;
  std::span<Source> m_sources;
  std::vector<CHead> m_heads;
  std::vector<uint32_t> m_losers;
  uint32_t m_winner = 0;
};

// A bit for each hash of a key, set once a name has it and again when a
// second name does: only names whose bit is set twice can share a key with
// another name, and they are few.
class CKeyFilter {
 public:
  // Room for `most` hashes, taken from `arena`.
  CKeyFilter(CLargeArena& arena, size_t most)
      : m_words(arena, WordsFor(most)), m_slots(arena, most) {
    m_shift = 64 - std::countr_zero(WordsFor(most) / 2 * 64);
    m_words.Fill(WordsFor(most), 0);
  }
  // The words of bits for `most` hashes: most names have a bit of their own.
  static size_t WordsFor(size_t most) {
    size_t bits = 64;
    while (bits < most * 16) bits *= 2;
    return bits / 64 * 2;
  }
  void Add(uint64_t hash) { m_slots.push_back(static_cast<uint32_t>(hash >> m_shift)); }
  // Sets the bits of every hash added. The bits are far larger than the
  // cache, and a miss on each name's word, taken inside the merge, was a
  // seventh of `tarn overrides`' time: they are set in a pass of their
  // own, each word asked for well before.
  void Count() {
    for (size_t i = 0; i < m_slots.size(); ++i) {
      if (i + kAhead < m_slots.size()) Prefetch(&m_words[m_slots[i + kAhead] / 64 * 2]);
      const uint32_t slot = m_slots[i];
      const uint64_t bit = uint64_t{1} << (slot % 64);
      uint64_t& once = m_words[slot / 64 * 2];
      if ((once & bit) != 0) {
        m_words[slot / 64 * 2 + 1] |= bit;
        m_repeated = true;
      }
      once |= bit;
    }
  }
  bool AnyRepeated() const { return m_repeated; }
  // Calls `suspect` with the index of each hash whose bit is set twice, in
  // the order they were added.
  template <typename Visit>
  void ForEachSuspect(Visit&& suspect) const {
    for (size_t i = 0; i < m_slots.size(); ++i) {
      if (i + kAhead < m_slots.size()) Prefetch(&m_words[m_slots[i + kAhead] / 64 * 2 + 1]);
      const uint32_t slot = m_slots[i];
      if ((m_words[slot / 64 * 2 + 1] >> (slot % 64)) & 1) suspect(i);
    }
  }

 private:
  static constexpr size_t kAhead = 16;
  // For each 64 bits: the word of those set once, then of those set twice.
  CFixedArray<uint64_t> m_words;
  CFixedArray<uint32_t> m_slots;  // of each name added, in turn
  int m_shift;
  bool m_repeated = false;
};

// A name whose hash another name may share: the full hash, and the name.
struct CSuspect {
  uint64_t hash;
  uint32_t name;
  bool operator<(const CSuspect& other) const {
    return hash != other.hash ? hash < other.hash : name < other.name;
  }
};

// A resolution as it is made. Its arrays are in one block of large pages:
// the page faults of filling them a 4 KiB page at a time cost more than the
// merge, and most of the room kept for them is never touched.
struct CResolution {
  explicit CResolution(size_t copies)
      : arena(ArenaFor(copies)),
        names(*arena, copies),
        shadowed(*arena, copies),
        filter(*arena, copies),
        suspects(*arena, copies) {}
  static std::unique_ptr<CLargeArena> ArenaFor(size_t copies) {
    auto arena = std::make_unique<CLargeArena>();
    // Each array is aligned in the block: a few bytes each on top.
    arena->Reserve(copies * (sizeof(CResolvedName) + sizeof(CLoadOrderEntry) + sizeof(uint32_t) +
                             sizeof(CSuspect)) +
                   CKeyFilter::WordsFor(copies) * sizeof(uint64_t) + 5 * 64);
    return arena;
  }

  std::unique_ptr<CLargeArena> arena;
  CFixedArray<CResolvedName> names;  // as CResolvedOrder has them
  CFixedArray<CLoadOrderEntry> shadowed;
  CKeyFilter filter;  // of the names, in turn
  CFixedArray<CSuspect> suspects;
  std::vector<CArchiveTally> tallies;
  std::vector<CLoadOrderProblem> problems;
  std::vector<uint32_t> troubled;  // the name of each problem
  bool spellingsJoined = false;
};

// Whether every shadowed copy has the winner's bytes. A copy that cannot
// be read is a problem, and differs.
template <typename Source>
bool SameBytes(std::span<Source> sources, CLoadOrderEntry winner,
               std::span<const CLoadOrderEntry> shadowed,
               std::vector<CLoadOrderProblem>& problems) {
  std::string_view bytes;
  if (CStatus status = sources[winner.archive].BytesAt(winner.position, bytes); !status.IsOk()) {
    problems.push_back({winner, status.GetWords()});
    return false;
  }
  // A source keeps only the bytes it gave last: a copy in the winner's own
  // archive (one name spelled twice there) would overwrite them.
  std::string kept;
  for (const CLoadOrderEntry copy : shadowed) {
    if (copy.archive == winner.archive && kept.data() != bytes.data()) {
      kept.assign(bytes);
      bytes = kept;
    }
    std::string_view other;
    if (CStatus status = sources[copy.archive].BytesAt(copy.position, other); !status.IsOk()) {
      problems.push_back({copy, status.GetWords()});
      return false;
    }
    if (other != bytes) return false;
  }
  return true;
}

template <typename Source>
char Mark(std::span<Source> sources, CopyCheck check, const CResolvedName& name,
          std::span<const CLoadOrderEntry> shadowed, std::vector<CLoadOrderProblem>& problems) {
  if (name.count == 0 || check != CopyCheck::CompareBytes) return ' ';
  return SameBytes(sources, name.winner, shadowed, problems) ? '=' : '!';
}

// Every name spelt alike, with its copies: the last copy wins, the others
// are shadowed in load order. Names are in byte order, each hashed by its
// key into the filter, and marked while its copies are at hand.
template <typename Source>
void GatherSpellings(std::span<Source> sources, CopyCheck check, CResolution& order) {
  const CFoldTable& fold = Fold();
  CNameMerge<Source> merge(sources);
  while (!merge.Done()) {
    const std::string_view name = merge.TopName();
    const auto first = static_cast<uint32_t>(order.shadowed.size());
    CLoadOrderEntry winner = merge.Top();
    merge.Pop();
    while (!merge.Done() && merge.TopName() == name) {
      order.shadowed.push_back(winner);
      winner = merge.Top();
      merge.Pop();
    }
    CResolvedName resolved{winner, first, static_cast<uint32_t>(order.shadowed.size()) - first,
                           ' '};
    const auto shadowed = order.shadowed.View().subspan(first, resolved.count);
    resolved.mark = Mark(sources, check, resolved, shadowed, order.problems);
    if (order.troubled.size() != order.problems.size())
      order.troubled.resize(order.problems.size(), static_cast<uint32_t>(order.names.size()));
    order.names.push_back(resolved);
    order.filter.Add(KeyHash(name, fold));
  }
}

// Every set of two or more spellings of one key, by their index in the
// names.
template <typename Source>
std::vector<std::vector<uint32_t>> FoldedAlike(std::span<Source> sources, CResolution& order) {
  std::vector<std::vector<uint32_t>> alike;
  order.filter.Count();
  if (!order.filter.AnyRepeated()) return alike;
  const CFoldTable& fold = Fold();
  const auto nameOf = [&](uint32_t i) {
    const CLoadOrderEntry winner = order.names[i].winner;
    return sources[winner.archive].NameAt(winner.position);
  };
  order.filter.ForEachSuspect([&](size_t i) {
    const auto name = static_cast<uint32_t>(i);
    order.suspects.push_back({KeyHash(nameOf(name), fold), name});
  });
  const std::span<CSuspect> suspects = order.suspects.View();
  std::sort(suspects.begin(), suspects.end());
  // A run of one hash is sorted by key, so that names of one key stand
  // together: names made to share a hash cannot make it quadratic.
  const auto keyBefore = [&](const CSuspect& x, const CSuspect& y) {
    const std::string_view a = nameOf(x.name), b = nameOf(y.name);
    if (a.size() != b.size()) return a.size() < b.size();
    for (size_t i = 0; i < a.size(); ++i) {
      const char p = fold.key[static_cast<unsigned char>(a[i])];
      const char q = fold.key[static_cast<unsigned char>(b[i])];
      if (p != q) return static_cast<unsigned char>(p) < static_cast<unsigned char>(q);
    }
    return false;
  };
  for (size_t run = 0; run < suspects.size();) {
    size_t end = run + 1;
    while (end < suspects.size() && suspects[end].hash == suspects[run].hash) ++end;
    if (end - run > 1) std::sort(suspects.begin() + run, suspects.begin() + end, keyBefore);
    for (size_t first = run; first < end;) {
      size_t last = first + 1;
      while (last < end && !keyBefore(suspects[first], suspects[last])) ++last;
      if (last - first > 1) {
        alike.emplace_back();
        for (size_t s = first; s < last; ++s) alike.back().push_back(suspects[s].name);
      }
      first = last;
    }
    run = end;
  }
  return alike;
}

// Makes each set of spellings one name: the last copy of any of them wins,
// the name stands where the winner's spelling does, and is marked again:
// the problems met marking its spellings apart are dropped.
template <typename Source>
void JoinSpellings(std::span<Source> sources, CopyCheck check,
                   const std::vector<std::vector<uint32_t>>& alike, CResolution& order) {
  if (alike.empty()) return;
  order.spellingsJoined = true;
  // Each name's place in `joined`, or kKept (a name of one spelling), or
  // kTaken (a spelling another name took in).
  constexpr uint32_t kKept = UINT32_MAX;
  constexpr uint32_t kTaken = UINT32_MAX - 1;
  std::vector<std::vector<CLoadOrderEntry>> joined;  // each one's copies, in load order
  std::vector<uint32_t> joinedAt(order.names.size(), kKept);
  const auto before = [](CLoadOrderEntry x, CLoadOrderEntry y) {
    return x.archive != y.archive ? x.archive < y.archive : x.position < y.position;
  };
  const std::span<const CLoadOrderEntry> oldShadowed = order.shadowed.View();
  for (const std::vector<uint32_t>& set : alike) {
    std::vector<CLoadOrderEntry> copies;
    uint32_t winner = set.front();
    for (const uint32_t i : set) {
      const CResolvedName& name = order.names[i];
      const auto own = oldShadowed.subspan(name.first, name.count);
      copies.insert(copies.end(), own.begin(), own.end());
      copies.push_back(name.winner);
      if (before(order.names[winner].winner, name.winner)) winner = i;
      joinedAt[i] = kTaken;
    }
    std::sort(copies.begin(), copies.end(), before);
    joinedAt[winner] = static_cast<uint32_t>(joined.size());
    joined.push_back(std::move(copies));
  }
  std::vector<CResolvedName> names;
  std::vector<CLoadOrderEntry> shadowed;
  std::vector<CLoadOrderProblem> problems;
  names.reserve(order.names.size());
  shadowed.reserve(oldShadowed.size());
  size_t problem = 0;
  for (uint32_t i = 0; i < order.names.size(); ++i) {
    const bool kept = joinedAt[i] == kKept;
    for (; problem < order.troubled.size() && order.troubled[problem] == i; ++problem)
      if (kept) problems.push_back(std::move(order.problems[problem]));
    if (joinedAt[i] == kTaken) continue;
    CResolvedName name = order.names[i];
    const auto own = oldShadowed.subspan(name.first, name.count);
    name.first = static_cast<uint32_t>(shadowed.size());
    if (kept) {
      shadowed.insert(shadowed.end(), own.begin(), own.end());
    } else {
      const std::vector<CLoadOrderEntry>& copies = joined[joinedAt[i]];
      shadowed.insert(shadowed.end(), copies.begin(), copies.end() - 1);
      name.count = static_cast<uint32_t>(copies.size() - 1);
      name.mark = Mark(sources, check, name, std::span(copies).first(name.count), problems);
    }
    names.push_back(name);
  }
  // Joining spellings leaves as many copies, and fewer names.
  order.names.Assign(names);
  order.shadowed.Assign(shadowed);
  order.problems = std::move(problems);
  order.troubled.clear();
}

// Counts each name once for each archive that holds it.
void Tally(CResolution& order, size_t archives) {
  order.tallies.resize(archives);
  for (const CResolvedName& name : order.names.View())
    TallyName(name.winner, order.shadowed.View().subspan(name.first, name.count), order.tallies);
}

template <typename Source>
std::unique_ptr<CResolution> Resolve(std::span<Source> sources, CopyCheck check) {
  size_t copies = 0;
  for (const Source& source : sources) copies += source.size();
  auto order = std::make_unique<CResolution>(copies);
  GatherSpellings(sources, check, *order);
  JoinSpellings(sources, check, FoldedAlike(sources, *order), *order);
  Tally(*order, sources.size());
  return order;
}

CResolvedOrder Kept(CResolution& resolution) {
  CResolvedOrder order;
  const std::span<const CResolvedName> names = resolution.names.View();
  const std::span<const CLoadOrderEntry> shadowed = resolution.shadowed.View();
  order.names.assign(names.begin(), names.end());
  order.shadowed.assign(shadowed.begin(), shadowed.end());
  order.tallies = std::move(resolution.tallies);
  order.problems = std::move(resolution.problems);
  order.spellingsJoined = resolution.spellingsJoined;
  return order;
}

}  // namespace

CResolvedOrder ResolveLoadOrder(std::span<const CEntryMap* const> archives, CopyCheck check) {
  std::vector<CMapSource> sources;
  sources.reserve(archives.size());
  for (const CEntryMap* map : archives) sources.emplace_back(*map);
  return Kept(*Resolve(std::span(sources), check));
}

namespace {

std::unique_ptr<CResolution> ResolveSides(std::span<CCompareSide* const> sides) {
  std::vector<CSideSource> sources;
  sources.reserve(sides.size());
  for (CCompareSide* side : sides) sources.emplace_back(*side);
  return Resolve(std::span(sources), CopyCheck::CompareBytes);
}

}  // namespace

CResolvedOrder ResolveLoadOrder(std::span<CCompareSide* const> sides) {
  return Kept(*ResolveSides(sides));
}

namespace {

// Hands each name of a resolution to `visit`; keeps the rest.
CResolvedOrder Visited(CResolution& resolution, const CNameVisitor& visit) {
  const std::span<const CLoadOrderEntry> shadowed = resolution.shadowed.View();
  for (const CResolvedName& name : resolution.names.View())
    visit(name, shadowed.subspan(name.first, name.count));
  CResolvedOrder order;
  order.tallies = std::move(resolution.tallies);
  order.problems = std::move(resolution.problems);
  order.spellingsJoined = resolution.spellingsJoined;
  return order;
}

}  // namespace

CResolvedOrder VisitLoadOrder(std::span<CCompareSide* const> sides, const CNameVisitor& visit) {
  return Visited(*ResolveSides(sides), visit);
}

CResolvedOrder VisitLoadOrder(std::span<const CEntryMap* const> archives, CopyCheck check,
                              const CNameVisitor& visit) {
  std::vector<CMapSource> sources;
  sources.reserve(archives.size());
  for (const CEntryMap* map : archives) sources.emplace_back(*map);
  return Visited(*Resolve(std::span(sources), check), visit);
}

void TallyName(CLoadOrderEntry winner, std::span<const CLoadOrderEntry> shadowed,
               std::span<CArchiveTally> tallies) {
  constexpr uint32_t kNone = UINT32_MAX;
  ++tallies[winner.archive].wins;
  // Copies of one archive stand together, in load order.
  uint32_t counted = kNone;
  for (const CLoadOrderEntry copy : shadowed) {
    if (copy.archive == winner.archive || copy.archive == counted) continue;
    ++tallies[copy.archive].loses;
    counted = copy.archive;
  }
  if (counted == kNone) ++tallies[winner.archive].only;
}
