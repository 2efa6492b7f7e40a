#include "archive/archive_compare.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "archive/big_archive.h"
#include "archive/big_writer.h"
#include "archive/entry_map.h"
#include "archive/entry_path.h"
#include "storage/handle_owner.h"
#include "storage/platform.h"

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

// An archive as a window shows it: per name, its pending bytes, or where
// it lies in the opened archive.
struct CCompareSide::CShownState {
  std::shared_ptr<const CShownSnapshot> shown;
  std::vector<const CDataBuffer*> changed;  // null: as opened, at `opened`
  std::vector<size_t> opened;
  std::string scratch;  // not mapped: the bytes BytesAt gave last
};

CCompareSide::CCompareSide() = default;
CCompareSide::~CCompareSide() = default;

bool CCompareSide::Open(const std::string& path, std::vector<CEntryProblem>& problems) {
  m_path = path;
  m_names.clear();
  m_index = nullptr;
  m_archive.reset();
  m_folderState.reset();
  m_shown.reset();
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
  m_archive->total = m_archive->whole.HasData() ? m_archive->whole.GetSize()
                                                : static_cast<uint32_t>(reader.GetSize());
  m_index = &reader.GetIndex();
  return true;
}

void CCompareSide::Open(std::shared_ptr<const CShownSnapshot> shown, const std::string& path) {
  m_path = path;
  m_folder = false;
  m_names.clear();
  m_index = nullptr;
  m_archive.reset();
  m_folderState.reset();
  m_shown = std::make_unique<CShownState>();
  m_shown->shown = std::move(shown);
  m_shown->shown->ForEach([&](std::string_view name, std::optional<size_t> position,
                              const CChangeSet::CChange* change) {
    m_names.push_back(name);
    m_shown->changed.push_back(change != nullptr ? &change->bytes : nullptr);
    m_shown->opened.push_back(position.value_or(0));
  });
}

bool CCompareSide::ReadsInPlace() const {
  if (m_shown) return m_shown->shown->Opened().IsMapped() || m_shown->shown->Opened().empty();
  return m_archive && m_archive->whole.HasData();
}

CStatus CCompareSide::ShownBytesAt(size_t i, std::string_view& bytes) {
  if (const CDataBuffer* changed = m_shown->changed[i]) {
    bytes = changed->View();
    return {};
  }
  const CEntryMap& opened = m_shown->shown->Opened();
  const size_t position = m_shown->opened[i];
  if (opened.IsMapped()) {
    bytes = opened.BytesAt(position);
    return {};
  }
  m_shown->scratch.resize(opened.SizeAt(position));
  if (!m_shown->scratch.empty()) {
    const platform::Error error =
        platform::ReadAt(opened.FileAt(position).Get(), opened.OffsetAt(position),
                         m_shown->scratch.data(), opened.SizeAt(position));
    if (error.Failed()) return CStatus::FromSystem(m_path, error);
  }
  bytes = m_shown->scratch;
  return {};
}

CStatus CCompareSide::BytesAt(size_t i, std::string_view& bytes) {
  if (m_shown) return ShownBytesAt(i, bytes);
  if (m_archive) {
    const CBigEntry entry = m_archive->reader.GetIndex().EntryAt(i);
    if (ReachesPastEnd(entry, m_archive->total))
      return CStatus::Failure(m_path, "reaches past the end of the archive");
    if (m_archive->whole.HasData()) {
      bytes = m_archive->whole.View(entry.offset, entry.size);
      return {};
    }
    std::string& scratch = m_archive->scratch;
    scratch.resize(entry.size);
    if (entry.size > 0) {
      const platform::Error error = platform::ReadAt(m_archive->reader.GetFileHandle().Get(),
                                                     entry.offset, scratch.data(), entry.size);
      // A read that comes up short: the archive was cut since it was opened.
      if (error.Failed() && m_archive->reader.WasCutSinceOpened())
        return CStatus::Failure(m_path, std::string("the archive ") + kArchiveChangedWords);
      if (error.Failed()) return CStatus::FromSystem(m_path, error);
    }
    bytes = scratch;
    return {};
  }
  CFolderState& state = *m_folderState;
  const std::vector<std::string_view> parts = SplitEntryName(m_names[i]);
  const CResult<platform::Handle> folder =
      state.walk->Enter(std::span(parts).first(parts.size() - 1), false);
  if (!folder) return folder.GetStatus().WithPath(m_path);
  platform::NodeInfo info;
  const platform::Result<platform::Handle> opened =
      platform::OpenFileAt(*folder, std::string(parts.back()), &info);
  const CHandleOwner file(*opened);
  if (!opened) return CStatus::FromSystem(m_path, opened.GetError());
  if (info.size > kMostArchiveBytes) return CStatus::Failure(m_path, "2 GiB or more");
  state.scratch.resize(static_cast<size_t>(info.size));
  if (info.size > 0) {
    const platform::Error error =
        platform::ReadAt(file.Get(), 0, state.scratch.data(), static_cast<uint32_t>(info.size));
    if (error.Failed()) return CStatus::FromSystem(m_path, error);
  }
  bytes = state.scratch;
  return {};
}

std::string_view CCompareSide::InPlaceAt(size_t i) const {
  if (!ReadsInPlace()) return {};
  if (m_shown) {
    if (const CDataBuffer* changed = m_shown->changed[i])
      return changed->View();
    return m_shown->shown->Opened().BytesAt(m_shown->opened[i]);
  }
  const CBigEntry entry = m_archive->reader.GetIndex().EntryAt(i);
  if (ReachesPastEnd(entry, m_archive->total)) return {};
  return m_archive->whole.View(entry.offset, entry.size);
}

CStatus CCompareSide::BufferAt(size_t i, CDataBuffer& bytes) {
  std::string_view view;
  if (CStatus status = BytesAt(i, view); !status.IsOk()) return status;
  if (m_shown) {
    const CDataBuffer* changed = m_shown->changed[i];
    const CEntryMap& opened = m_shown->shown->Opened();
    if (changed != nullptr) {
      bytes = *changed;
    } else if (opened.IsMapped()) {
      bytes = opened.BufferAt(m_shown->opened[i]);
    } else {
      bytes = CDataBuffer(view.data(), static_cast<uint32_t>(view.size()));
    }
    return {};
  }
  if (m_archive && m_archive->whole.HasData()) {
    const auto* start = reinterpret_cast<const uint8_t*>(view.data());
    bytes = m_archive->whole.Slice(static_cast<int32_t>(start - m_archive->whole.GetData()),
                                   static_cast<int32_t>(view.size()));
  } else {
    bytes = CDataBuffer(view.data(), static_cast<uint32_t>(view.size()));
  }
  return {};
}

bool CCompareSide::ChangedOnDisk() const {
  if (m_archive) return m_archive->reader.ChangedSinceOpened();
  return m_shown && m_shown->shown->Opened().ChangedOnDisk();
}

bool CCompareSide::WasCutAt(size_t i) const {
  // A window's archive is asked as a whole (ChangedOnDisk).
  if (!m_archive || !ReadsInPlace()) return false;
  const CBigEntry entry = m_archive->reader.GetIndex().EntryAt(i);
  return m_archive->whole.IsCutOnDisk(entry.offset, entry.size);
}

std::optional<std::string_view> CCompareSide::FirstCutEntry() const {
  // One question for the whole archive first: it is almost never cut.
  if (!m_archive || !ReadsInPlace() || !m_archive->whole.IsCutOnDisk()) return std::nullopt;
  for (size_t i = 0; i < size(); ++i)
    if (WasCutAt(i)) return NameAt(i);
  return std::nullopt;
}

namespace {

std::string Culprit(const CCompareSide& side, std::string_view name) {
  return side.GetPath() + ": entry '" + std::string(name) + "'";
}

// Every name on one side only, and every pair of the same name (whose
// bytes are then compared), in byte order. Positions are kept in 32 bits
// (no archive holds more entries) to keep the list small: it has a pair for
// nearly every name.
struct CNamePair {
  uint32_t before;
  uint32_t after;
  CEntryChange::Kind kind;
};

// Whether a name of the side is spelt with '/'.
bool SpeltWithSlash(const CCompareSide& side) {
  for (size_t i = 0; i < side.size(); ++i)
    if (side.NameAt(i).find('/') != std::string_view::npos) return true;
  return false;
}

// Calls `paired(m, pair)` for every pair m of the same name as soon as it is
// made, while its names (and the numbers beside them) are in the cache.
// A name spelt with '/' meets its spelling with '\\' on the other side, as
// pack makes them one entry (a folder is read as pack reads it): the names
// are then matched by that key, and listed in its order.
template <typename Paired>
std::vector<CNamePair> MergeNames(const CCompareSide& before, const CCompareSide& after,
                                  Paired&& paired) {
  const CCompareSide* const sides[2] = {&before, &after};
  const bool keyed = SpeltWithSlash(before) || SpeltWithSlash(after);
  std::vector<std::string> keys[2];
  std::vector<uint32_t> byKey[2];
  for (int s = 0; keyed && s < 2; ++s) {
    for (size_t i = 0; i < sides[s]->size(); ++i)
      keys[s].push_back(EntryKey(sides[s]->NameAt(i), false));
    byKey[s].resize(keys[s].size());
    for (uint32_t i = 0; i < byKey[s].size(); ++i) byKey[s][i] = i;
    std::stable_sort(byKey[s].begin(), byKey[s].end(),
                     [&keys, s](uint32_t a, uint32_t b) { return keys[s][a] < keys[s][b]; });
  }
  const auto indexAt = [&](int s, uint32_t k) { return keyed ? byKey[s][k] : k; };
  const auto nameAt = [&](int s, uint32_t k) -> std::string_view {
    return keyed ? std::string_view(keys[s][byKey[s][k]]) : sides[s]->NameAt(k);
  };
  std::vector<CNamePair> merged;
  // At most one pair per name of both sides; the pages never reached are
  // never touched, while growing would copy every pair made so far.
  merged.reserve(before.size() + after.size());
  uint32_t i = 0, j = 0;
  while (i < before.size() || j < after.size()) {
    const int order = i == before.size()  ? 1
                      : j == after.size() ? -1
                                          : nameAt(0, i).compare(nameAt(1, j));
    if (order < 0) {
      merged.push_back({indexAt(0, i++), 0, CEntryChange::Removed});
    } else if (order > 0) {
      merged.push_back({0, indexAt(1, j++), CEntryChange::Added});
    } else {
      merged.push_back({indexAt(0, i++), indexAt(1, j++), CEntryChange::Changed});
      paired(static_cast<uint32_t>(merged.size() - 1), merged.back());
    }
  }
  return merged;
}

enum Verdict : uint8_t { Same, Differs, OldUnreadable, NewUnreadable };

// Two entries of the same name and size, each where it lies in its mapping.
struct CMappedPair {
  const char* before;
  const char* after;
  uint32_t size;
  uint32_t at;  // the pair's place among the merged names
};

// What can be said of a pair of the same name without comparing bytes:
// both mapped and of different sizes, or unreadable (the reasons go to
// `why`, in the order of the pairs). Mapped pairs of equal size go to
// `mapped`, their bytes still to be compared.
class CJudgeWithoutBytes {
 public:
  CJudgeWithoutBytes(CCompareSide& before, CCompareSide& after)
      : verdicts(before.size() + after.size(), Same), m_before(before), m_after(after) {
    mapped.reserve(std::min(before.size(), after.size()));
  }
  std::vector<Verdict> verdicts;  // one for each pair of names to be made, at most
  std::vector<CMappedPair> mapped;
  std::vector<std::string> why;

  void operator()(uint32_t m, const CNamePair& pair) {
    const std::string_view oldBytes = m_before.InPlaceAt(pair.before);
    const std::string_view newBytes = m_after.InPlaceAt(pair.after);
    if (oldBytes.data() != nullptr && newBytes.data() != nullptr) {
      if (oldBytes.size() != newBytes.size()) {
        verdicts[m] = Differs;
      } else if (!oldBytes.empty()) {
        const auto size = static_cast<uint32_t>(oldBytes.size());
        mapped.push_back({oldBytes.data(), newBytes.data(), size, m});
      }
      return;
    }
    // A folder's file, an archive that is not mapped, an entry past the end.
    std::string_view oldRead, newRead;
    CStatus status = m_before.BytesAt(pair.before, oldRead);
    if (!status.IsOk()) {
      verdicts[m] = OldUnreadable;
    } else if (status = m_after.BytesAt(pair.after, newRead); !status.IsOk()) {
      verdicts[m] = NewUnreadable;
    } else {
      if (oldRead != newRead) verdicts[m] = Differs;
      return;
    }
    why.push_back(status.GetWords());
  }

 private:
  CCompareSide& m_before;
  CCompareSide& m_after;
};

// Compares the bytes of mapped pairs. (Asking for the bytes of pairs ahead
// was measured and gained nothing: one side is mostly read in a run, and
// the other's entries are a few lines each.)
void CompareMapped(std::span<const CMappedPair> pairs, std::vector<Verdict>& verdicts) {
  for (const CMappedPair& pair : pairs)
    if (std::memcmp(pair.before, pair.after, pair.size) != 0) verdicts[pair.at] = Differs;
}

}  // namespace

std::vector<CEntryChange> CompareEntries(CCompareSide& before, CCompareSide& after,
                                         std::vector<CEntryProblem>& problems) {
  CJudgeWithoutBytes judge(before, after);
  const std::vector<CNamePair> merged = MergeNames(before, after, judge);
  std::vector<Verdict>& verdicts = judge.verdicts;
  const std::vector<CMappedPair>& mapped = judge.mapped;
  std::vector<std::string>& reasons = judge.why;
  // On one thread: comparing the bytes is a sixth of the work (11 of 68 ms of
  // processor time for two shuffled 200,000-entry archives of
  // bench/compare_bench.sh), and a second thread gave no gain there (best of 8:
  // 447 ms against 452 alone).
  CompareMapped(mapped, verdicts);
  size_t next = 0;
  std::vector<CEntryChange> changes;
  for (size_t m = 0; m < merged.size(); ++m) {
    const CNamePair& pair = merged[m];
    const std::string_view name =
        pair.kind == CEntryChange::Added ? after.NameAt(pair.after) : before.NameAt(pair.before);
    if (verdicts[m] == OldUnreadable || verdicts[m] == NewUnreadable) {
      CCompareSide& side = verdicts[m] == OldUnreadable ? before : after;
      problems.push_back({Culprit(side, name), std::move(reasons[next++])});
    } else if (pair.kind != CEntryChange::Changed || verdicts[m] == Differs) {
      changes.push_back({pair.kind, name, pair.before, pair.after});
    }
  }
  return changes;
}
