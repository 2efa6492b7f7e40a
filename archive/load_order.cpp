#include "archive/load_order.h"

#include <algorithm>
#include <queue>

#include "archive/archive_compare.h"
#include "archive/entry_map.h"
#include "archive/entry_path.h"
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
// folded), in one table: the resolver looks up every byte of every name.
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

uint64_t KeyHash(std::string_view name, const CFoldTable& fold) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a over the key's bytes
  for (const char c : name) {
    hash ^= static_cast<unsigned char>(fold.key[static_cast<unsigned char>(c)]);
    hash *= 1099511628211ull;
  }
  return hash ^ (hash >> 32);
}

bool SameKey(std::string_view a, std::string_view b, const CFoldTable& fold) {
  if (a.size() != b.size()) return false;
  // Most names shadowed are spelt the same: one wide comparison says so.
  if (a == b) return true;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold.key[static_cast<unsigned char>(a[i])] != fold.key[static_cast<unsigned char>(b[i])])
      return false;
  return true;
}

constexpr uint32_t kNone = UINT32_MAX;

// Every copy of every archive, in load order and name order within one
// archive, each linked to the copy of the same name before it.
struct CCopy {
  CLoadOrderEntry entry;
  uint32_t group;
  uint32_t before;  // the previous copy of the name, or kNone
};

// The names of all archives gathered by key: an open-addressed table of
// names, each holding its latest copy.
template <typename Source>
void GatherCopies(std::span<Source> sources, std::vector<CCopy>& copies,
                  std::vector<uint32_t>& latest) {
  const CFoldTable& fold = Fold();
  size_t total = 0;
  for (const Source& source : sources) total += source.size();
  copies.reserve(total);
  size_t slots = 16;
  while (slots < total * 2) slots *= 2;
  // Each slot: the high half of the key's hash, then the name; empty when
  // the name is kNone.
  std::vector<uint64_t> table(slots, uint64_t{kNone});
  // The table is far larger than the cache: each name's slot is asked for
  // ahead of its turn, from hashes made first, so the misses overlap.
  constexpr uint32_t kAhead = 16;
  std::vector<uint64_t> hashes;
  for (uint32_t a = 0; a < sources.size(); ++a) {
    const auto count = static_cast<uint32_t>(sources[a].size());
    hashes.resize(count);
    for (uint32_t p = 0; p < count; ++p) hashes[p] = KeyHash(sources[a].NameAt(p), fold);
    for (uint32_t p = 0; p < count; ++p) {
      if (p + kAhead < count) __builtin_prefetch(&table[hashes[p + kAhead] & (slots - 1)]);
      const std::string_view name = sources[a].NameAt(p);
      const uint64_t hash = hashes[p];
      const uint64_t high = hash >> 32;
      size_t slot = hash & (slots - 1);
      uint32_t group = kNone;
      for (;; slot = (slot + 1) & (slots - 1)) {
        const uint64_t held = table[slot];
        const auto heldGroup = static_cast<uint32_t>(held);
        if (heldGroup == kNone) {
          group = static_cast<uint32_t>(latest.size());
          latest.push_back(kNone);
          table[slot] = (high << 32) | group;
          break;
        }
        if ((held >> 32) != high) continue;
        const CLoadOrderEntry seen = copies[latest[heldGroup]].entry;
        if (SameKey(sources[seen.archive].NameAt(seen.position), name, fold)) {
          group = heldGroup;
          break;
        }
      }
      copies.push_back({{a, p}, group, latest[group]});
      latest[group] = static_cast<uint32_t>(copies.size() - 1);
    }
  }
}

// The winning copies in byte order of their names: each archive's winners
// are in that order already, and are merged.
template <typename Source>
std::vector<uint32_t> WinnersInOrder(std::span<Source> sources, const std::vector<CCopy>& copies,
                                     const std::vector<uint32_t>& latest) {
  std::vector<std::vector<uint32_t>> own(sources.size());
  for (uint32_t c = 0; c < copies.size(); ++c)
    if (latest[copies[c].group] == c) own[copies[c].entry.archive].push_back(c);
  struct CNext {
    std::string_view name;
    uint32_t archive;
    size_t at;
  };
  const auto later = [](const CNext& x, const CNext& y) {
    const int order = x.name.compare(y.name);
    return order != 0 ? order > 0 : x.archive > y.archive;
  };
  std::priority_queue<CNext, std::vector<CNext>, decltype(later)> heap(later);
  const auto nameOf = [&](uint32_t c) {
    return sources[copies[c].entry.archive].NameAt(copies[c].entry.position);
  };
  for (uint32_t a = 0; a < own.size(); ++a)
    if (!own[a].empty()) heap.push({nameOf(own[a][0]), a, 0});
  std::vector<uint32_t> winners;
  winners.reserve(latest.size());
  while (!heap.empty()) {
    const CNext next = heap.top();
    heap.pop();
    winners.push_back(own[next.archive][next.at]);
    if (next.at + 1 < own[next.archive].size())
      heap.push({nameOf(own[next.archive][next.at + 1]), next.archive, next.at + 1});
  }
  return winners;
}

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

// Counts a name once for each archive that holds it.
void Tally(const CResolvedName& name, std::span<const CLoadOrderEntry> shadowed,
           std::vector<CArchiveTally>& tallies) {
  CArchiveTally& winner = tallies[name.winner.archive];
  ++winner.wins;
  uint32_t counted = kNone;
  bool alone = true;
  for (const CLoadOrderEntry copy : shadowed) {
    if (copy.archive == name.winner.archive || copy.archive == counted) continue;
    ++tallies[copy.archive].loses;
    counted = copy.archive;
    alone = false;
  }
  if (alone) ++winner.only;
}

template <typename Source>
CResolvedOrder Resolve(std::span<Source> sources, CopyCheck check) {
  std::vector<CCopy> copies;
  std::vector<uint32_t> latest;
  GatherCopies(sources, copies, latest);
  CResolvedOrder order;
  order.tallies.resize(sources.size());
  order.names.reserve(latest.size());
  order.shadowed.reserve(copies.size() - latest.size());
  for (const uint32_t c : WinnersInOrder(sources, copies, latest)) {
    CResolvedName name{copies[c].entry, static_cast<uint32_t>(order.shadowed.size()), 0, ' '};
    for (uint32_t before = copies[c].before; before != kNone; before = copies[before].before)
      order.shadowed.push_back(copies[before].entry);
    std::reverse(order.shadowed.begin() + name.first, order.shadowed.end());
    name.count = static_cast<uint32_t>(order.shadowed.size() - name.first);
    const auto shadowed = std::span<const CLoadOrderEntry>(order.shadowed).subspan(name.first);
    if (name.count > 0 && check == CopyCheck::CompareBytes)
      name.mark = SameBytes(sources, name.winner, shadowed, order.problems) ? '=' : '!';
    Tally(name, shadowed, order.tallies);
    order.names.push_back(name);
  }
  return order;
}

}  // namespace

CResolvedOrder ResolveLoadOrder(std::span<const CEntryMap* const> archives, CopyCheck check) {
  std::vector<CMapSource> sources;
  sources.reserve(archives.size());
  for (const CEntryMap* map : archives) sources.emplace_back(*map);
  return Resolve(std::span(sources), check);
}

CResolvedOrder ResolveLoadOrder(std::span<CCompareSide* const> sides) {
  std::vector<CSideSource> sources;
  sources.reserve(sides.size());
  for (CCompareSide* side : sides) sources.emplace_back(*side);
  return Resolve(std::span(sources), CopyCheck::CompareBytes);
}
