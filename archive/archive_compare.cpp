#include "archive/archive_compare.h"

#include <algorithm>
#include <iterator>
#include <queue>

#include "archive/big_archive.h"
#include "archive/big_writer.h"
#include "archive/entry_map.h"
#include "archive/entry_path.h"
#include "storage/handle_owner.h"
#include "storage/platform.h"
#include "storage/run_beside.h"

struct CCompareSide::CArchiveState {
  CBigArchive reader;
  CDataBuffer whole;    // the mapped archive; none when it could not be mapped
  uint64_t total = 0;   // the archive's size
  std::string scratch;  // not mapped: the bytes BytesAt gave last
};

struct CCompareSide::CFolderState {
  CHandleOwner root;  // closed after the walk's folders below it
  std::unique_ptr<CFolderWalk> walk;
  CBigWriter writer;
  std::string scratch;  // the bytes BytesAt gave last
};

CCompareSide::CCompareSide() = default;
CCompareSide::~CCompareSide() = default;

bool CCompareSide::Open(const std::string& path, std::vector<CEntryProblem>& problems) {
  m_path = path;
  m_names.clear();
  m_archive.reset();
  m_folderState.reset();
  const platform::Handle root = *platform::OpenFolder(path, false);
  m_folder = root != platform::kInvalidHandle;
  if (m_folder) {
    m_folderState = std::make_unique<CFolderState>();
    m_folderState->root = CHandleOwner(root);
    m_folderState->walk = std::make_unique<CFolderWalk>(root);
    GatherPackFolder(root, path, m_folderState->writer, problems);
    m_names.reserve(m_folderState->writer.GetCount());
    for (const auto& [name, source] : m_folderState->writer.GetEntries()) m_names.push_back(name);
    return true;
  }
  m_archive = std::make_unique<CArchiveState>();
  CBigArchive& reader = m_archive->reader;
  if (reader.Open(path) != 0) {
    problems.push_back({path, reader.GetStatus().GetWords()});
    m_archive.reset();
    return false;
  }
  // An archive that could not be mapped is read where each entry lies.
  m_archive->whole = reader.GetData();
  m_archive->total = m_archive->whole.HasData() ? m_archive->whole.GetSize() : static_cast<uint32_t>(reader.GetSize());
  const CBigIndex& index = reader.GetIndex();
  m_names.reserve(index.size());
  for (size_t i = 0; i < index.size(); ++i) m_names.push_back(index.NameAt(i));
  return true;
}

bool CCompareSide::ReadsInPlace() const { return m_archive && m_archive->whole.HasData(); }

bool CCompareSide::BytesAt(size_t i, std::string_view& bytes, std::string& reason) {
  if (m_archive) {
    const CBigEntry entry = m_archive->reader.GetIndex().EntryAt(i);
    if (ReachesPastEnd(entry, m_archive->total)) {
      reason = "reaches past the end of the archive";
      return false;
    }
    if (m_archive->whole.HasData()) {
      bytes = std::string_view(reinterpret_cast<const char*>(m_archive->whole.GetData()) + entry.offset, entry.size);
      return true;
    }
    std::string& scratch = m_archive->scratch;
    scratch.resize(entry.size);
    if (entry.size > 0) {
      const platform::Error error =
          platform::ReadAt(m_archive->reader.GetFileHandle().Get(), entry.offset, scratch.data(), entry.size);
      if (error.Failed()) {
        reason = error.Text();
        return false;
      }
    }
    bytes = scratch;
    return true;
  }
  CFolderState& state = *m_folderState;
  const std::vector<std::string_view> parts = SplitEntryName(m_names[i]);
  const platform::Result<platform::Handle> folder =
      state.walk->Enter(std::span(parts).first(parts.size() - 1), false);
  platform::NodeInfo info;
  const platform::Result<platform::Handle> opened =
      folder ? platform::OpenFileAt(*folder, std::string(parts.back()), &info) : folder;
  const CHandleOwner file(*opened);
  if (!opened) {
    reason = opened.GetError().Text();
    return false;
  }
  bool read = info.size <= kMostArchiveBytes;
  if (read) {
    state.scratch.resize(static_cast<size_t>(info.size));
    if (info.size > 0) {
      const platform::Error error =
          platform::ReadAt(file.Get(), 0, state.scratch.data(), static_cast<uint32_t>(info.size));
      read = !error.Failed();
      if (!read) reason = error.Text();
    }
  } else {
    reason = "2 GiB or more";
  }
  if (read) bytes = state.scratch;
  return read;
}

void CCompareSide::Prefetch(size_t i) const {
#if defined(__GNUC__)
  if (!m_archive || !m_archive->whole.HasData()) return;
  const CBigEntry entry = m_archive->reader.GetIndex().EntryAt(i);
  if (ReachesPastEnd(entry, m_archive->total)) return;
  const uint8_t* const start = m_archive->whole.GetData() + entry.offset;
  // Most entries are a few hundred bytes: their first four lines.
  const uint32_t lines = std::min<uint32_t>((entry.size + 63) / 64, 4);
  for (uint32_t line = 0; line < lines; ++line) __builtin_prefetch(start + 64 * line);
#else
  (void)i;
#endif
}

bool CCompareSide::BufferAt(size_t i, CDataBuffer& bytes, std::string& reason) {
  std::string_view view;
  if (!BytesAt(i, view, reason)) return false;
  if (m_archive && m_archive->whole.HasData()) {
    const auto* start = reinterpret_cast<const uint8_t*>(view.data());
    bytes = m_archive->whole.Slice(static_cast<int32_t>(start - m_archive->whole.GetData()),
                                   static_cast<int32_t>(view.size()));
  } else {
    bytes = CDataBuffer(view.data(), static_cast<uint32_t>(view.size()));
  }
  return true;
}

namespace {

std::string Culprit(const CCompareSide& side, std::string_view name) {
  return side.GetPath() + ": entry '" + std::string(name) + "'";
}

// Every name on one side only, and every pair of the same name (as
// Changed, whose bytes are then compared), in byte order.
std::vector<CEntryChange> MergeNames(const CCompareSide& before, const CCompareSide& after) {
  std::vector<CEntryChange> merged;
  size_t i = 0, j = 0;
  while (i < before.size() || j < after.size()) {
    const int order = i == before.size()  ? 1
                      : j == after.size() ? -1
                                          : before.NameAt(i).compare(after.NameAt(j));
    if (order < 0) {
      merged.push_back({CEntryChange::Removed, before.NameAt(i), i, 0});
      ++i;
    } else if (order > 0) {
      merged.push_back({CEntryChange::Added, after.NameAt(j), 0, j});
      ++j;
    } else {
      merged.push_back({CEntryChange::Changed, before.NameAt(i), i, j});
      ++i;
      ++j;
    }
  }
  return merged;
}

}  // namespace

std::vector<CEntryChange> CompareEntries(CCompareSide& before, CCompareSide& after,
                                         std::vector<CEntryProblem>& problems) {
  const std::vector<CEntryChange> merged = MergeNames(before, after);
  // Comparing the bytes is most of the work: it reads every entry of both
  // archives, in name order, which is seldom the order of their bytes. Two
  // archives are read in two halves at once; a folder's files one by one.
  enum Verdict : uint8_t { Same, Differs, OldUnreadable, NewUnreadable };
  std::vector<Verdict> verdicts(merged.size(), Same);
  // Why each unreadable pair is so, in the order of the pairs: the first
  // half's, then the second's.
  std::vector<std::string> reasons[2];
  const auto judge = [&](size_t first, size_t last, std::vector<std::string>& why) {
    std::string reason;
    // Entries lie in the order of their bytes, rarely in name order: each
    // visit would wait for memory unless asked for some visits ahead.
    constexpr size_t kAhead = 32;
    const auto ask = [&](size_t m) {
      if (m >= last || merged[m].kind != CEntryChange::Changed) return;
      before.Prefetch(merged[m].before);
      after.Prefetch(merged[m].after);
    };
    for (size_t m = first; m < first + kAhead; ++m) ask(m);
    for (size_t m = first; m < last; ++m) {
      ask(m + kAhead);
      const CEntryChange& pair = merged[m];
      if (pair.kind != CEntryChange::Changed) continue;
      std::string_view oldBytes, newBytes;
      if (!before.BytesAt(pair.before, oldBytes, reason)) {
        verdicts[m] = OldUnreadable;
      } else if (!after.BytesAt(pair.after, newBytes, reason)) {
        verdicts[m] = NewUnreadable;
      } else {
        if (oldBytes != newBytes) verdicts[m] = Differs;
        continue;
      }
      why.push_back(std::move(reason));
    }
  };
  if (before.ReadsInPlace() && after.ReadsInPlace() && merged.size() >= 4096) {
    const size_t half = merged.size() / 2;
    RunBeside([&] { judge(0, half, reasons[0]); }, [&] { judge(half, merged.size(), reasons[1]); });
  } else {
    judge(0, merged.size(), reasons[0]);
  }
  reasons[0].insert(reasons[0].end(), std::make_move_iterator(reasons[1].begin()),
                    std::make_move_iterator(reasons[1].end()));
  size_t next = 0;
  std::vector<CEntryChange> changes;
  for (size_t m = 0; m < merged.size(); ++m) {
    const CEntryChange& change = merged[m];
    if (verdicts[m] == OldUnreadable || verdicts[m] == NewUnreadable) {
      CCompareSide& side = verdicts[m] == OldUnreadable ? before : after;
      problems.push_back({Culprit(side, change.name), std::move(reasons[0][next++])});
    } else if (change.kind != CEntryChange::Changed || verdicts[m] == Differs) {
      changes.push_back(change);
    }
  }
  return changes;
}

std::vector<size_t> FindOverrides(std::span<CCompareSide* const> sides, const std::function<void(const COverride&)>& visit,
                                  std::vector<CEntryProblem>& problems) {
  // A merge of the sides' names: the heap holds each side's next name, the
  // smallest name first and, among equal names, the earliest side.
  struct Next {
    std::string_view name;
    size_t side;
    size_t at;
  };
  const auto later = [](const Next& a, const Next& b) {
    const int order = a.name.compare(b.name);
    return order != 0 ? order > 0 : a.side > b.side;
  };
  std::priority_queue<Next, std::vector<Next>, decltype(later)> heap(later);
  for (size_t s = 0; s < sides.size(); ++s)
    if (sides[s]->size() > 0) heap.push({sides[s]->NameAt(0), s, 0});

  std::vector<bool> wins(sides.size(), false);
  std::vector<size_t> holders;
  std::vector<size_t> positions;
  std::string reason;
  while (!heap.empty()) {
    const std::string_view name = heap.top().name;
    holders.clear();
    positions.clear();
    while (!heap.empty() && heap.top().name == name) {
      const Next next = heap.top();
      heap.pop();
      holders.push_back(next.side);
      positions.push_back(next.at);
      if (next.at + 1 < sides[next.side]->size())
        heap.push({sides[next.side]->NameAt(next.at + 1), next.side, next.at + 1});
    }
    wins[holders.back()] = true;
    if (holders.size() < 2) continue;
    // The winner's bytes against each earlier copy's; each side keeps only
    // the bytes it gave last, and every copy here is on a side of its own.
    bool same = true;
    std::string_view winner;
    CCompareSide& last = *sides[holders.back()];
    if (!last.BytesAt(positions.back(), winner, reason)) {
      problems.push_back({Culprit(last, name), reason});
      same = false;
    }
    for (size_t h = 0; same && h + 1 < holders.size(); ++h) {
      CCompareSide& side = *sides[holders[h]];
      std::string_view copy;
      if (!side.BytesAt(positions[h], copy, reason)) {
        problems.push_back({Culprit(side, name), reason});
        same = false;
      } else {
        same = copy == winner;
      }
    }
    visit(COverride{name, holders, same});
  }
  std::vector<size_t> shadowed;
  for (size_t s = 0; s < sides.size(); ++s)
    if (!wins[s]) shadowed.push_back(s);
  return shadowed;
}
