#include "archive/shown_order.h"

#include <algorithm>

#include "storage/platform.h"

CStatus OpenOrderArchive(const std::string& path, CShownOrder::CArchive& archive) {
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
  archive.path = path;
  archive.entries = std::move(opened);
  archive.file = std::move(file);
  archive.stamp.reset();
  if (before && before == after && atPath == after) archive.stamp = after;
  return {};
}

CStatus CShownOrder::Open(const std::vector<std::string>& paths) {
  std::vector<CArchive> archives(paths.size());
  for (size_t a = 0; a < paths.size(); ++a)
    if (CStatus error = OpenOrderArchive(paths[a], archives[a]); !error.IsOk()) return error;
  if (archives.empty()) return CStatus::Failure({}, "a load order needs an archive");
  m_archives = std::move(archives);
  m_target = m_archives.size() - 1;
  const CResolvedOrder every = Classify();
  Resolve(&every);
  return {};
}

std::string_view CShownOrder::FileName(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Resolves every archive, taken or not, once, and gives each copy of a
// name the class of the first copy with its bytes. A copy that cannot be
// read is a class of its own, so it differs from every other.
CResolvedOrder CShownOrder::Classify() {
  std::vector<const CEntryMap*> maps;
  for (CArchive& archive : m_archives) {
    maps.push_back(archive.entries.get());
    archive.classes.assign(archive.entries->size(), 0);
  }
  const CResolvedOrder all = ResolveLoadOrder(maps, CopyCheck::NamesOnly);
  uint32_t next = 0;
  std::vector<CLoadOrderEntry> copies;
  std::vector<std::pair<uint32_t, std::string_view>> kinds;  // class, bytes
  for (const CResolvedName& name : all.names) {
    if (name.count == 0) {
      m_archives[name.winner.archive].classes[name.winner.position] = next++;
      continue;
    }
    copies.assign(all.shadowed.begin() + name.first,
                  all.shadowed.begin() + name.first + name.count);
    copies.push_back(name.winner);
    kinds.clear();
    for (const CLoadOrderEntry copy : copies) {
      const CEntryMap& map = *m_archives[copy.archive].entries;
      // Mapped, a view of the bytes: cutting a buffer for each entry would
      // touch a record per entry of every archive.
      const CDataBuffer* buffer = map.IsMapped() ? nullptr : &map.BufferAt(copy.position);
      uint32_t kind = next;
      if (buffer == nullptr || buffer->HasData() || buffer->GetSize() == 0) {
        const std::string_view bytes =
            buffer == nullptr ? map.BytesAt(copy.position) : buffer->View();
        const auto same = std::find_if(kinds.begin(), kinds.end(),
                                       [&](const auto& seen) { return seen.second == bytes; });
        if (same != kinds.end()) {
          kind = same->first;
        } else {
          kinds.emplace_back(next, bytes);
        }
      }
      if (kind == next) ++next;
      m_archives[copy.archive].classes[copy.position] = kind;
    }
  }
  return all;
}

void CShownOrder::Resolve(const CResolvedOrder* every) {
  std::vector<const CEntryMap*> maps;
  std::vector<std::shared_ptr<const CEntryMap>> sources;
  std::vector<uint32_t> archiveOf;  // taken index -> m_archives index
  for (uint32_t a = 0; a < m_archives.size(); ++a) {
    if (!m_archives[a].taken) continue;
    maps.push_back(m_archives[a].entries.get());
    sources.push_back(m_archives[a].entries);
    archiveOf.push_back(a);
  }
  const bool all = archiveOf.size() == m_archives.size();
  CResolvedOrder fresh;
  if (!all || every == nullptr) fresh = ResolveLoadOrder(maps, CopyCheck::NamesOnly);
  const CResolvedOrder& resolved = all && every != nullptr ? *every : fresh;
  const auto classOf = [&](CLoadOrderEntry copy) {
    return m_archives[archiveOf[copy.archive]].classes[copy.position];
  };
  m_names.clear();
  m_names.reserve(resolved.names.size());
  m_shadowed.clear();
  m_shadowed.reserve(resolved.shadowed.size());
  std::vector<CEntryMap::CSourceEntry> at;
  at.reserve(resolved.names.size());
  for (const CResolvedName& name : resolved.names) {
    CShownName shown{archiveOf[name.winner.archive], ' ', static_cast<uint32_t>(m_shadowed.size()),
                     name.count, name.winner.position};
    const uint32_t winnerClass = classOf(name.winner);
    for (uint32_t i = name.first; i < name.first + name.count; ++i) {
      const CLoadOrderEntry copy = resolved.shadowed[i];
      m_shadowed.push_back({archiveOf[copy.archive], copy.position});
      if (shown.mark != '!') shown.mark = classOf(copy) == winnerClass ? '=' : '!';
    }
    m_names.push_back(shown);
    at.push_back({name.winner.archive, name.winner.position});
  }
  m_tallies.assign(m_archives.size(), CArchiveTally());
  for (size_t t = 0; t < resolved.tallies.size(); ++t) m_tallies[archiveOf[t]] = resolved.tallies[t];
  m_composed =
      std::make_shared<const CEntryMap>(CEntryMap::Compose(std::move(sources), std::move(at)));
}

std::optional<uint32_t> CShownOrder::WinnerOf(std::string_view name) const {
  const auto found = m_composed->find(name);
  if (found == m_composed->end()) return std::nullopt;
  return m_names[found.Position()].archive;
}

std::optional<std::pair<uint32_t, CDataBuffer>> CShownOrder::ShadowedCopy(
    std::string_view name) const {
  const auto found = m_composed->find(name);
  if (found == m_composed->end()) return std::nullopt;
  const CShownName& shown = m_names[found.Position()];
  if (shown.count == 0) return std::nullopt;
  const CLoadOrderEntry copy = m_shadowed[shown.first + shown.count - 1];
  return std::make_pair(copy.archive,
                        m_archives[copy.archive].entries->BufferAt(copy.position));
}

std::vector<CShownOrder::CArchiveEntry> CShownOrder::EntriesOf(uint32_t archive) const {
  std::vector<CArchiveEntry> entries;
  if (archive >= m_archives.size()) return entries;
  const auto size = static_cast<uint32_t>(m_archives[archive].entries->size());
  entries.reserve(size);
  if (!m_archives[archive].taken) {
    for (uint32_t position = 0; position < size; ++position)
      entries.push_back({position, Stand::LeftOut, 0});
    return entries;
  }
  for (uint32_t n = 0; n < m_names.size(); ++n) {
    const CShownName& shown = m_names[n];
    bool others = false;  // a copy in another archive
    for (uint32_t i = shown.first; i < shown.first + shown.count; ++i) {
      const CLoadOrderEntry copy = m_shadowed[i];
      if (copy.archive == archive) entries.push_back({copy.position, Stand::Lost, n});
      if (copy.archive != shown.archive) others = true;
    }
    if (shown.archive == archive)
      entries.push_back({shown.position, others ? Stand::Won : Stand::Unique, n});
  }
  std::sort(entries.begin(), entries.end(),
            [](const CArchiveEntry& a, const CArchiveEntry& b) { return a.position < b.position; });
  return entries;
}

std::optional<uint32_t> CShownOrder::ArchiveAt(std::string_view path) const {
  for (uint32_t a = 0; a < m_archives.size(); ++a)
    if (m_archives[a].path == path) return a;
  return std::nullopt;
}

std::optional<CDataBuffer> CShownOrder::CopyIn(std::string_view path, std::string_view name) const {
  const std::optional<uint32_t> archive = ArchiveAt(path);
  if (!archive) return std::nullopt;
  const CEntryMap& entries = *m_archives[*archive].entries;
  const auto found = entries.find(name);
  if (found == entries.end()) return std::nullopt;
  return entries.BufferAt(found.Position());
}

void CShownOrder::Move(size_t from, size_t to) {
  if (from >= m_archives.size() || to >= m_archives.size() || from == to) return;
  const auto first = m_archives.begin();
  if (from < to)
    std::rotate(first + from, first + from + 1, first + to + 1);
  else
    std::rotate(first + to, first + from, first + from + 1);
  if (m_target == from) {
    m_target = to;
  } else if (from < m_target && m_target <= to) {
    --m_target;
  } else if (to <= m_target && m_target < from) {
    ++m_target;
  }
  Resolve();
}

CStatus CShownOrder::Take(size_t archive, bool taken) {
  if (archive >= m_archives.size()) return {};
  if (!taken && archive == m_target)
    return CStatus::Failure(std::string(FileName(m_archives[archive].path)),
                            "the target cannot be left out; make another archive the target first");
  if (m_archives[archive].taken == taken) return {};
  m_archives[archive].taken = taken;
  Resolve();
  return {};
}

void CShownOrder::SetTarget(size_t archive) {
  if (archive >= m_archives.size()) return;
  m_target = archive;
  m_archives[archive].taken = true;
  Resolve();
}

void CShownOrder::AddNewArchive(const std::string& path) {
  CArchive& added = m_archives.emplace_back();
  added.path = path;
  added.entries = std::make_shared<const CEntryMap>();
  m_target = m_archives.size() - 1;
  Resolve();
}

CStatus CShownOrder::ReopenTarget(const std::string& path) {
  CArchive reopened;
  if (CStatus error = OpenOrderArchive(path, reopened); !error.IsOk()) return error;
  reopened.taken = m_archives[m_target].taken;
  m_archives[m_target] = std::move(reopened);
  const CResolvedOrder every = Classify();
  Resolve(&every);
  return {};
}
