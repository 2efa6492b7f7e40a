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
    entry.size = entry.claimed = opened.SizeAt(*position);
    if (opened.IsMapped()) {
      entry.bytes = opened.BufferAt(*position);
    } else {
      entry.file = opened.GetFile();
      entry.offset = opened.OffsetAt(*position);
    }
  };
  ForEach(add);
  return entries;
}

// ---- the archive as shown

CShownArchive::CShownArchive() : m_opened(std::make_shared<const CEntryMap>()) {}

CStatus CShownArchive::Open(const std::string& path) {
  CHandleHolder file = CHandleHolder::Wrap(*platform::CreateFile(
      path, platform::kGenericRead, platform::kOpenExisting, platform::kFileShareRead));
  // Stamped on both sides of the read, through the handle, and the path
  // checked to still name that file: else what was read cannot be told
  // apart from what is there now, and is never written anywhere.
  const std::optional<CFileStamp> before = file ? StampOfFile(file.Get()) : std::nullopt;
  auto opened = std::make_shared<CEntryMap>();
  const CStatus error = OpenArchiveEntries(path, *opened);
  if (!error.IsOk()) return error;
  const std::optional<CFileStamp> after = file ? StampOfFile(file.Get()) : std::nullopt;
  const std::optional<CFileStamp> atPath = StampOfFile(path);
  m_opened = std::move(opened);
  m_changes.clear();
  ++m_revision;
  m_path = path;
  m_file = std::move(file);
  m_stamp.reset();
  if (before && before == after && atPath == after) m_stamp = after;
  return {};
}

void CShownArchive::Restore(std::string_view name,
                            const std::optional<CChangeSet::CChange>& change) {
  m_changes.Restore(name, change);
  ++m_revision;
}

std::optional<CDataBuffer> CShownArchive::Bytes(std::string_view name) const {
  return CurrentBytes(*m_opened, m_changes, name);
}

std::shared_ptr<const CShownSnapshot> CShownArchive::Snapshot() const {
  return std::make_shared<const CShownSnapshot>(m_opened, m_changes, m_revision);
}

DiskChange CShownArchive::CheckDisk() const {
  if (!m_file || !m_stamp) return DiskChange::Rewritten;
  const std::optional<CFileStamp> atPath = StampOfFile(m_path);
  if (atPath == m_stamp) return DiskChange::None;
  if (atPath && atPath->identity == m_stamp->identity) return DiskChange::Rewritten;
  // Another file, or none, at the path: ours is intact unless its bytes
  // changed too. Its change time moved when it lost its name, so only what
  // a rewrite moves is compared.
  const std::optional<CFileStamp> ours = StampOfFile(m_file.Get());
  if (!ours || ours->size != m_stamp->size || ours->modified != m_stamp->modified)
    return DiskChange::Rewritten;
  return atPath ? DiskChange::Replaced : DiskChange::Gone;
}

std::vector<std::string> CShownArchive::EntriesPastEnd(size_t most, size_t& count) const {
  std::vector<std::string> names;
  count = 0;
  const std::optional<CFileStamp> ours = m_file ? StampOfFile(m_file.Get()) : std::nullopt;
  if (!ours) return names;
  const CEntryMap& opened = *m_opened;
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
    if (!OpenedBytesIntact() && !m_opened->empty())
      return CStatus::Of(CStatus::Kind::SourceChanged, m_path);
    // Read through the handle held since the open: the path may name
    // another file by now.
    source.file = m_file;
  }
  return WriteChangedArchive(path, *m_opened, m_changes, scope, source);
}
