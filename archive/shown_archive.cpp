#include "archive/shown_archive.h"

#include <algorithm>

#include "storage/handle_owner.h"

// ---- snapshot

void CShownSnapshot::ForEach(const std::function<void(std::string_view, std::optional<size_t>,
                                                      const CChangeSet::CChange*)>& visit) const {
  const CEntryMap& opened = *m_opened;
  const auto& changes = m_changes.GetChanges();
  auto change = changes.begin();
  size_t position = 0;
  // Both in byte order: merged as they come.
  while (position < opened.size() || change != changes.end()) {
    const bool openedFirst =
        change == changes.end() ||
        (position < opened.size() && opened.NameAt(position) < std::string_view(change->first));
    if (openedFirst) {
      visit(opened.NameAt(position), position, nullptr);
      ++position;
      continue;
    }
    const bool same = position < opened.size() && opened.NameAt(position) == change->first;
    if (!change->second.removed)
      visit(change->first, same ? std::optional<size_t>(position) : std::nullopt, &change->second);
    if (same) ++position;
    ++change;
  }
}

std::optional<CDataBuffer> CShownSnapshot::Bytes(std::string_view name) const {
  return CurrentBytes(*m_opened, m_changes, name);
}

std::vector<CExtractEntry> CShownSnapshot::EntriesToExtract(
    const std::vector<std::string>* only) const {
  const CEntryMap& opened = *m_opened;
  std::vector<CExtractEntry> entries;
  const auto add = [&](std::string_view name, std::optional<size_t> position,
                       const CChangeSet::CChange* change) {
    if (only != nullptr && !std::binary_search(only->begin(), only->end(), name)) return;
    CExtractEntry& entry = entries.emplace_back();
    entry.name = name;
    if (change != nullptr) {
      entry.bytes = change->bytes;
      entry.size = entry.claimed = change->bytes.GetSize();
      return;
    }
    entry.size = opened.SizeAt(*position);
    entry.claimed = opened.ClaimedSizeAt(*position);  // more: cut short by the archive's end
    if (opened.IsMapped()) {
      entry.bytes = opened.BufferAt(*position);
    } else {
      entry.file = opened.FileAt(*position);
      entry.offset = opened.OffsetAt(*position);
    }
  };
  ForEach(add);
  return entries;
}

// ---- the archive as shown

CShownArchive::CShownArchive() : m_opened(std::make_shared<const CEntryMap>()) {}

CStatus CShownArchive::Open(const std::string& path) {
  CShownOrder::CArchive opened;
  if (CStatus error = OpenOrderArchive(path, opened); !error.IsOk()) return error;
  m_order.reset();
  m_opened = std::move(opened.entries);
  m_changes.clear();
  ++m_revision;
  m_path = path;
  m_file = std::move(opened.file);
  m_stamp = opened.stamp;
  return {};
}

CStatus CShownArchive::OpenOrder(const std::vector<std::string>& paths) {
  auto order = std::make_unique<CShownOrder>();
  if (CStatus error = order->Open(paths); !error.IsOk()) return error;
  m_order = std::move(order);
  m_changes.clear();
  TakeOrder();
  return {};
}

void CShownArchive::TakeOrder() {
  const CShownOrder::CArchive& target = m_order->Archives()[m_order->Target()];
  m_opened = m_order->Composed();
  ++m_revision;
  m_path = target.path;
  m_file = target.file;
  m_stamp = target.stamp;
}

CStatus CShownArchive::ChangeOrder(const std::function<void(CShownOrder&)>& change,
                                   const std::function<void(CShownOrder&)>& undo) {
  if (!m_order) return {};
  change(*m_order);
  TakeOrder();
  if (!undo) return {};
  CStatus hidden = HiddenChange();
  if (hidden.IsOk()) return {};
  undo(*m_order);
  TakeOrder();
  return hidden;
}

CStatus CShownArchive::HiddenChange() const {
  if (!m_order) return {};
  for (const auto& [name, change] : m_changes.GetChanges()) {
    const std::optional<CKeeper> keeper = KeeperOf(name, change.removed, false);
    if (!keeper) continue;
    const std::string archive(CShownOrder::FileName(m_order->Archives()[keeper->archive].path));
    return CStatus::Failure(
        name, keeper->after ? archive + ", loaded after the target, would hide its pending change"
                            : archive + " holds a copy its pending deletion cannot remove");
  }
  return {};
}

std::vector<CArchiveTally> CShownArchive::Tallies() const {
  if (!m_order) return {};
  std::vector<CArchiveTally> tallies = m_order->Tallies();
  CArchiveTally& target = tallies[m_order->Target()];
  for (const auto& [name, change] : m_changes.GetChanges()) {
    const auto found = m_opened->find(name);
    if (found == m_opened->end()) {  // added: the target's alone
      if (!change.removed) ++target.wins, ++target.only;
      continue;
    }
    const CShownOrder::CShownName& shown = m_order->Names()[found.Position()];
    if (change.removed) {  // allowed only where the target alone holds it
      if (shown.archive == m_order->Target() && shown.count == 0) --target.wins, --target.only;
      continue;
    }
    // Copied into the target, which now wins over the copy that did.
    if (shown.archive >= m_order->Target()) continue;
    CArchiveTally& winner = tallies[shown.archive];
    --winner.wins;
    ++winner.loses;
    if (shown.count == 0) --winner.only;
    ++target.wins;
  }
  return tallies;
}

std::optional<CShownArchive::CKeeper> CShownArchive::KeeperOf(std::string_view name, bool removing,
                                                              bool pending) const {
  if (!m_order) return std::nullopt;
  const auto found = m_opened->find(name);
  if (found == m_opened->end()) return std::nullopt;  // added here: it lands in the target
  const CShownOrder::CShownName& shown = m_order->Names()[found.Position()];
  // A pending change has put the name in the target already.
  if (shown.archive > m_order->Target() && !pending) return CKeeper{shown.archive, true};
  if (!removing) return std::nullopt;
  // Any copy outside the target stays, and the game would show it.
  if (shown.archive != m_order->Target()) return CKeeper{shown.archive, false};
  for (uint32_t i = shown.first; i < shown.first + shown.count; ++i)
    if (m_order->Shadowed()[i].archive != m_order->Target())
      return CKeeper{m_order->Shadowed()[i].archive, false};
  return std::nullopt;
}

CStatus CShownArchive::MayChange(std::string_view name, bool removing) const {
  const std::optional<CKeeper> keeper = KeeperOf(name, removing, m_changes.Find(name) != nullptr);
  if (!keeper) return {};
  const std::vector<CShownOrder::CArchive>& archives = m_order->Archives();
  const std::string target(CShownOrder::FileName(archives[m_order->Target()].path));
  const std::string archive(CShownOrder::FileName(archives[keeper->archive].path));
  if (keeper->after)
    return CStatus::Failure(std::string(name),
                            "it comes from " + archive + ", loaded after the target " + target +
                                ", so a change written to the target would not be seen; make "
                                "that archive the target to change it");
  return CStatus::Failure(std::string(name),
                          "cannot be deleted: " + archive + " holds it, and only the target " +
                              target +
                              " is written (an archive loaded over another cannot delete "
                              "its entries)");
}

CStatus CShownArchive::ReopenSaved(const std::string& path) {
  if (!m_order) return Open(path);
  // Changes nothing when the target cannot be read back: no copy of the
  // order, a million names' worth, is needed to keep it as it was.
  if (CStatus error = m_order->ReopenTarget(path); !error.IsOk()) return error;
  m_changes.clear();
  TakeOrder();
  return {};
}

const CEntryMap& CShownArchive::Written() const {
  return m_order ? *m_order->Archives()[m_order->Target()].entries : *m_opened;
}

void CShownArchive::Restore(std::string_view name,
                            const std::optional<CChangeSet::CChange>& change) {
  m_changes.Restore(name, change);
  ++m_revision;
}

std::optional<CDataBuffer> CShownArchive::Bytes(std::string_view name) const {
  return CurrentBytes(*m_opened, m_changes, name);
}

std::string CShownArchive::CutShort(std::string_view name) const {
  const CEntryMap& opened = *m_opened;
  if (!opened.MayReachPastEnd() || m_changes.Find(name) != nullptr) return {};
  const auto found = opened.find(name);
  return found == opened.end() ? std::string() : opened.CutShortWords(found.Position());
}

std::shared_ptr<const CShownSnapshot> CShownArchive::Snapshot() const {
  return std::make_shared<const CShownSnapshot>(m_opened, m_changes, m_revision);
}

namespace {

// How the file opened from `path`, held as `file` and stamped `stamp` then,
// stands now.
DiskChange CheckOpened(const std::string& path, const CHandleHolder& file,
                       const std::optional<CFileStamp>& stamp) {
  if (!file || !stamp) return DiskChange::Rewritten;
  const std::optional<CFileStamp> atPath = StampOfFile(path);
  if (atPath == stamp) return DiskChange::None;
  if (atPath && atPath->identity == stamp->identity) return DiskChange::Rewritten;
  // Another file, or none, at the path: ours is intact unless its bytes
  // changed too. Its change time moved when it lost its name, so only what
  // a rewrite moves is compared.
  const std::optional<CFileStamp> ours = StampOfFile(file.Get());
  if (!ours || ours->size != stamp->size || ours->modified != stamp->modified)
    return DiskChange::Rewritten;
  return atPath ? DiskChange::Replaced : DiskChange::Gone;
}

}  // namespace

DiskChange CShownArchive::CheckDisk() const { return CheckOpened(m_path, m_file, m_stamp); }

DiskChange CShownArchive::CheckOtherArchives(std::string* path) const {
  if (!m_order) return DiskChange::None;
  const std::vector<CShownOrder::CArchive>& archives = m_order->Archives();
  for (size_t a = 0; a < archives.size(); ++a) {
    // A new archive not yet written has no file to look at.
    if (a == m_order->Target() || !archives[a].file) continue;
    const DiskChange change = CheckOpened(archives[a].path, archives[a].file, archives[a].stamp);
    if (change == DiskChange::None) continue;
    if (path != nullptr) *path = archives[a].path;
    return change;
  }
  return DiskChange::None;
}

bool CShownArchive::ShownBytesIntact() const {
  return (!m_file || CheckDisk() != DiskChange::Rewritten) &&
         CheckOtherArchives() != DiskChange::Rewritten;
}

std::vector<std::string> CShownArchive::WatchedPaths() const {
  std::vector<std::string> paths;
  if (!m_path.empty()) paths.push_back(m_path);
  if (!m_order) return paths;
  for (size_t a = 0; a < m_order->Archives().size(); ++a)
    if (a != m_order->Target()) paths.push_back(m_order->Archives()[a].path);
  return paths;
}

CStatus CShownArchive::ReopenOtherArchives(size_t& reopened) {
  reopened = 0;
  if (!m_order) return {};
  std::vector<size_t> changed;
  for (size_t a = 0; a < m_order->Archives().size(); ++a) {
    const CShownOrder::CArchive& archive = m_order->Archives()[a];
    if (a != m_order->Target() && archive.file &&
        CheckOpened(archive.path, archive.file, archive.stamp) != DiskChange::None)
      changed.push_back(a);
  }
  if (changed.empty()) return {};
  const CStatus error = m_order->ReopenArchives(changed, reopened);
  // Those read again before one failed are shown.
  TakeOrder();
  return error;
}

std::vector<std::string> CShownArchive::EntriesPastEnd(size_t most, size_t& count) const {
  std::vector<std::string> names;
  count = 0;
  const std::optional<CFileStamp> ours = m_file ? StampOfFile(m_file.Get()) : std::nullopt;
  if (!ours) return names;
  const CEntryMap& opened = Written();
  for (size_t position = 0; position < opened.size(); ++position) {
    if (uint64_t{opened.OffsetAt(position)} + opened.SizeAt(position) <= ours->size) continue;
    if (m_changes.Find(opened.NameAt(position)) != nullptr) continue;  // not read from the file
    if (++count <= most) names.emplace_back(opened.NameAt(position));
  }
  return names;
}

CStatus CShownArchive::Write(const std::string& path, SaveScope scope,
                             const ProgressFn& progress) const {
  CSaveSource source;
  source.progress = progress;
  if (scope == SaveScope::Whole) {
    if (!OpenedBytesIntact() && !Written().empty())
      return CStatus::Of(CStatus::Kind::SourceChanged, m_path);
    // Read through the handle held since the open: the path may name
    // another file by now.
    source.file = m_file;
    if (m_file && m_stamp)
      source.input =
          std::make_shared<const CPackInput>(CPackInput{m_path, {m_file, m_stamp, true}});
  }
  return WriteChangedArchive(path, Written(), m_changes, scope, source);
}
