#include "archive/shown_order.h"

#include <algorithm>
#include <span>
#include <utility>

#include "storage/platform.h"
#include "threads/run_beside.h"

namespace {

// A copy's bytes, false when they cannot be had (such a copy is a class of
// its own). Mapped, a view: cutting a buffer would touch a record.
bool CopyBytes(const CEntryMap& map, uint32_t position, std::string_view& bytes) {
  if (map.IsMapped()) {
    bytes = map.BytesAt(position);
    return true;
  }
  const CDataBuffer& buffer = map.BufferAt(position);
  if (!buffer.HasData() && buffer.GetSize() != 0) return false;
  bytes = buffer.View();
  return true;
}

// Room for `count` copies and the names saves into the target take in
// afterwards, which then go in place (TakeInAdded): untouched, the room
// makes no page.
size_t WithRoomToTakeIn(size_t count) { return count + count / 256 + 256; }

}  // namespace

CStatus OpenOrderArchive(const std::string& path, CShownOrder::CArchive& archive) {
  auto opened = std::make_shared<CEntryMap>();
  const CStatus error = OpenArchiveEntries(path, *opened);
  if (!error.IsOk()) return error;
  // Held and stamped on both sides of the read by the reader, and the path
  // checked to still name that file: else what was read cannot be told
  // apart from what is there now, and is never written anywhere.
  const CHeldFile& held = opened->HeldFile();
  archive.path = path;
  archive.file = held.file;
  archive.stamp.reset();
  if (held.stamp && StampOfFile(path) == held.stamp) archive.stamp = held.stamp;
  archive.entries = std::move(opened);
  return {};
}

CStatus CShownOrder::Open(const std::vector<std::string>& paths) {
  std::vector<CArchive> archives(paths.size());
  for (size_t a = 0; a < paths.size(); ++a)
    if (CStatus error = OpenOrderArchive(paths[a], archives[a]); !error.IsOk()) return error;
  if (archives.empty()) return CStatus::Failure({}, "a load order needs an archive");
  m_archives = std::move(archives);
  m_target = m_archives.size() - 1;
  Classify();
  Resolve();
  return {};
}

std::string_view CShownOrder::FileName(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Resolves every archive, taken or not, once, keeps each name's copies,
// and gives each copy the class of the first copy with its bytes. A copy
// that cannot be read is a class of its own, so it differs from every
// other. The names are visited, not kept: at a million names, the pages
// new to the process for them cost a third of the open.
void CShownOrder::Classify() {
  std::vector<const CEntryMap*> maps;
  size_t copyCount = 0;
  for (uint32_t a = 0; a < m_archives.size(); ++a) {
    CArchive& archive = m_archives[a];
    maps.push_back(archive.entries.get());
    archive.classes.assign(archive.entries->size(), 0);
    archive.classified = a;
    copyCount += archive.entries->size();
  }
  m_copies.clear();
  m_copies.reserve(WithRoomToTakeIn(copyCount));
  m_copiesEnd.clear();
  m_copiesEnd.reserve(copyCount);  // untouched beyond the names: no page is made
  uint32_t& next = m_classCount;
  next = 0;
  std::vector<const CArchive*> archives;  // by classified place, which is each one's own
  for (const CArchive& archive : m_archives) archives.push_back(&archive);
  const CResolvedOrder all = VisitLoadOrder(
      maps, CopyCheck::NamesOnly,
      [&](const CResolvedName& name, std::span<const CLoadOrderEntry> shadowed) {
        const size_t first = m_copies.size();
        m_copies.insert(m_copies.end(), shadowed.begin(), shadowed.end());
        m_copies.push_back(name.winner);
        m_copiesEnd.push_back(static_cast<uint32_t>(m_copies.size()));
        if (shadowed.empty()) {
          m_archives[name.winner.archive].classes[name.winner.position] = next++;
          return;
        }
        const std::span<const CLoadOrderEntry> copies = std::span(m_copies).subspan(first);
        for (size_t c = 0; c < copies.size(); ++c) {
          const CLoadOrderEntry copy = copies[c];
          std::string_view bytes;
          std::optional<uint32_t> kind;
          if (CopyBytes(*m_archives[copy.archive].entries, copy.position, bytes))
            kind = ClassOfSame(bytes, copies.first(c), c, archives);  // the classed ones
          m_archives[copy.archive].classes[copy.position] = kind ? *kind : next++;
        }
      });
  m_spellingsJoined = all.spellingsJoined;
}

void CShownOrder::Resolve() {
  m_namesKept = false;
  m_sameNames = false;
  if (ResolveKeptCopies()) return;
  std::vector<const CEntryMap*> maps;
  std::vector<std::shared_ptr<const CEntryMap>> sources;
  std::vector<uint32_t> archiveOf;  // taken index -> m_archives index
  for (uint32_t a = 0; a < m_archives.size(); ++a) {
    if (!m_archives[a].taken) continue;
    maps.push_back(m_archives[a].entries.get());
    sources.push_back(m_archives[a].entries);
    archiveOf.push_back(a);
  }
  const CResolvedOrder resolved = ResolveLoadOrder(maps, CopyCheck::NamesOnly);
  m_names.clear();
  m_names.reserve(resolved.names.size());
  m_shadowed.clear();
  m_shadowed.reserve(resolved.shadowed.size());
  m_tallies.assign(m_archives.size(), CArchiveTally());
  CLargeVector<CEntryMap::CSourceEntry> at;
  at.reserve(resolved.names.size());
  std::vector<CLoadOrderEntry> copies;
  for (const CResolvedName& name : resolved.names) {
    copies.clear();
    for (uint32_t i = name.first; i < name.first + name.count; ++i)
      copies.push_back({archiveOf[resolved.shadowed[i].archive], resolved.shadowed[i].position});
    copies.push_back({archiveOf[name.winner.archive], name.winner.position});
    ShowName(copies, name.winner.archive, at);
  }
  m_composed =
      std::make_shared<const CEntryMap>(CEntryMap::Compose(std::move(sources), std::move(at)));
}

// Adds the name whose copies of the archives taken are `copies` (archives
// in m_archives, in load order, the last winning), from the map `source`
// of the composed map's: its mark from the copies' classes, the copies it
// shadows, and its count in the tallies.
void CShownOrder::ShowName(std::span<const CLoadOrderEntry> copies, uint32_t source,
                           CLargeVector<CEntryMap::CSourceEntry>& at) {
  const CLoadOrderEntry winner = copies.back();
  const std::span<const CLoadOrderEntry> shadowed = copies.first(copies.size() - 1);
  CShownName shown{winner.archive, ' ', static_cast<uint32_t>(m_shadowed.size()),
                   static_cast<uint32_t>(shadowed.size()), winner.position};
  m_shadowed.insert(m_shadowed.end(), shadowed.begin(), shadowed.end());
  shown.mark = MarkOf(shown);
  TallyName(winner, shadowed, m_tallies);
  m_names.push_back(shown);
  at.push_back({source, winner.position});
}

// A reorder at a million names: merging ten archives' names anew took most
// of the 100 ms a move may take; picking each name's winner from its kept
// copies reads no name at all.
bool CShownOrder::ResolveKeptCopies() {
  if (m_spellingsJoined || m_copiesEnd.empty()) return false;
  constexpr uint32_t kLeftOut = UINT32_MAX;
  std::vector<uint32_t> placeOf(m_archives.size(), kLeftOut);  // classified place -> index
  std::vector<uint32_t> takenOf(m_archives.size(), 0);  // m_archives index -> taken index
  std::vector<std::shared_ptr<const CEntryMap>> sources;
  for (uint32_t a = 0; a < m_archives.size(); ++a) {
    const CArchive& archive = m_archives[a];
    if (!archive.taken) continue;
    takenOf[a] = static_cast<uint32_t>(sources.size());
    sources.push_back(archive.entries);
    if (archive.classified < placeOf.size()) placeOf[archive.classified] = a;
  }
  m_names.clear();
  m_names.reserve(m_copiesEnd.size());
  m_shadowed.clear();
  m_tallies.assign(m_archives.size(), CArchiveTally());
  CLargeVector<CEntryMap::CSourceEntry> at;
  at.reserve(m_copiesEnd.size());
  std::vector<CLoadOrderEntry> copies;
  uint32_t begin = 0;
  for (const uint32_t end : m_copiesEnd) {
    copies.clear();
    for (uint32_t c = begin; c < end; ++c)
      if (const uint32_t a = placeOf[m_copies[c].archive]; a != kLeftOut)
        copies.push_back({a, m_copies[c].position});
    begin = end;
    if (copies.empty()) continue;
    // Into the order's load order; copies in one archive keep theirs. A
    // name has a few copies: std::stable_sort's buffer, taken and given
    // back for each name, cost more than the sorting.
    for (size_t i = 1; i < copies.size(); ++i)
      for (size_t j = i; j > 0 && copies[j].archive < copies[j - 1].archive; --j)
        std::swap(copies[j], copies[j - 1]);
    ShowName(copies, takenOf[copies.back().archive], at);
  }
  m_composed =
      std::make_shared<const CEntryMap>(CEntryMap::Compose(std::move(sources), std::move(at)));
  return true;
}

std::optional<uint32_t> CShownOrder::WinnerOf(std::string_view name) const {
  const auto found = m_composed->find(name);
  if (found == m_composed->end()) return std::nullopt;
  return m_names[found.Position()].archive;
}

std::optional<std::pair<uint32_t, CDataBuffer>> CShownOrder::ShadowedCopy(
    std::string_view name, std::optional<uint32_t> of) const {
  if (of && *of < m_archives.size()) {
    const CEntryMap& entries = *m_archives[*of].entries;
    const auto held = entries.find(name);
    if (held != entries.end()) return std::make_pair(*of, entries.BufferAt(held.Position()));
  }
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
  const CArchive before = std::exchange(m_archives[m_target], std::move(reopened));
  bool kept = false;
  std::vector<uint32_t> addedAt;
  const bool reclassified = ReclassifyTarget(before, kept, addedAt);
  if (!reclassified) Classify();
  const std::shared_ptr<const CEntryMap> shown = m_composed;
  if (kept) Remark(before);
  else Resolve();
  m_namesKept = kept;
  // The names shown are every taken archive's: as many as before, and none
  // of those the target took in new to them, they are the same names. A
  // save that puts a copy of a shadowed entry into the target is one.
  const CEntryMap& now = *m_archives[m_target].entries;
  m_sameNames = kept || (reclassified && shown && shown->size() == m_composed->size() &&
                         std::all_of(addedAt.begin(), addedAt.end(), [&](uint32_t at) {
                           return shown->count(now.NameAt(at)) == 1;
                         }));
  return {};
}

CStatus CShownOrder::ReopenArchives(const std::vector<size_t>& archives, size_t& reopened) {
  reopened = 0;
  CStatus error;
  for (const size_t archive : archives) {
    CArchive again;
    if (error = OpenOrderArchive(m_archives[archive].path, again); !error.IsOk()) break;
    again.taken = m_archives[archive].taken;
    m_archives[archive] = std::move(again);
    ++reopened;
  }
  // Once for all of them: every copy is classified anew.
  if (reopened > 0) {
    Classify();
    Resolve();
  }
  return error;
}

// After a save that kept the target's names: every name is won where it
// was, and only the marks of the names whose target copy changed its
// bytes can differ. Resolving a million names again took longer than
// reading the target back.
void CShownOrder::Remark(const CArchive& before) {
  const CArchive& target = m_archives[m_target];
  uint32_t source = 0;  // the target's among the composed map's sources
  for (size_t a = 0; a < m_target; ++a) source += m_archives[a].taken ? 1 : 0;
  m_composed =
      std::make_shared<const CEntryMap>(CEntryMap::Recompose(*m_composed, source, target.entries));
  for (uint32_t position = 0; position < target.classes.size(); ++position) {
    if (target.classes[position] == before.classes[position]) continue;
    const auto found = m_composed->find(target.entries->NameAt(position));
    if (found != m_composed->end())
      m_names[found.Position()].mark = MarkOf(m_names[found.Position()]);
  }
}

// ' ' when a name shadows nothing; '=' when every copy it shadows has the
// winner's bytes; '!' when some differ.
char CShownOrder::MarkOf(const CShownName& shown) const {
  const uint32_t winnerClass = m_archives[shown.archive].classes[shown.position];
  char mark = ' ';
  for (uint32_t i = shown.first; i < shown.first + shown.count; ++i) {
    const CLoadOrderEntry copy = m_shadowed[i];
    if (m_archives[copy.archive].classes[copy.position] != winnerClass) return '!';
    mark = '=';
  }
  return mark;
}

// Saving into the target of ten archives of 100,000 entries: classifying
// every copy again took three times the save of the target alone, and
// finding each of the order's names in the target again most of the rest.
// Only the target's names are walked; a name it did not hold before is
// looked for among the order's.
bool CShownOrder::ReclassifyTarget(const CArchive& before, bool& kept,
                                   std::vector<uint32_t>& addedAt) {
  const uint32_t t = before.classified;
  if (m_spellingsJoined || t >= m_archives.size() || m_copiesEnd.empty()) return false;
  CArchive& target = m_archives[m_target];
  const CEntryMap& now = *target.entries;
  std::vector<const CArchive*> archiveOf(m_archives.size(), nullptr);  // by classified place
  for (const CArchive& archive : m_archives)
    if (archive.classified < m_archives.size()) archiveOf[archive.classified] = &archive;
  archiveOf[t] = &before;
  std::vector<uint32_t> nowAt;                       // for each position before, its position now
  std::vector<std::pair<uint32_t, uint32_t>> added;  // a name's group, its position now
  if (!MatchSavedNames(before, now, archiveOf, nowAt, added)) return false;
  target.classified = t;
  target.classes.assign(now.size(), 0);
  // Only the classes of the copies whose bytes changed may differ, and only
  // their names' copies are looked for; their bytes before are known to
  // differ, and are not compared again.
  const std::vector<uint32_t> changed = KeepSameClasses(before, nowAt);
  // None of the names it held went: the copies stay as they are grouped,
  // but for those it took in. Every name it holds now it held before: as
  // many as before, and it holds the names it held, at the same positions.
  if (now.size() == before.entries->size() + added.size()) {
    if (!ClassChanged(changed, archiveOf, t)) return false;
    kept = added.empty();
    if (!kept) TakeInAdded(nowAt, added, archiveOf, t);
  } else {
    std::vector<uint8_t> differs(now.size(), 0);
    for (const uint32_t position : changed) differs[position] = 1;
    RegroupCopies(before, nowAt, added, archiveOf, differs);
  }
  for (const auto& [group, at] : added) addedAt.push_back(at);
  return true;
}

// Classes each of the target's copies `changed` (positions now, at which it
// held the same names before) among its name's copies as they are kept.
// False when one's name has none, which cannot be.
bool CShownOrder::ClassChanged(const std::vector<uint32_t>& changed,
                               const std::vector<const CArchive*>& archiveOf, uint32_t t) {
  CArchive& target = m_archives[m_target];
  const CEntryMap& now = *target.entries;
  for (const uint32_t position : changed) {
    const std::optional<uint32_t> group = GroupOf(now.NameAt(position), archiveOf);
    if (!group) return false;
    const uint32_t begin = *group == 0 ? 0 : m_copiesEnd[*group - 1];
    const auto copies = std::span(m_copies).subspan(begin, m_copiesEnd[*group] - begin);
    const auto own = std::find_if(copies.begin(), copies.end(),
                                  [t](CLoadOrderEntry copy) { return copy.archive == t; });
    target.classes[position] =
        ClassOfSaved(now, position, copies, static_cast<size_t>(own - copies.begin()), archiveOf);
  }
  return true;
}

// The kept copies with the target's as saved, when it dropped none of its
// names and took in `added`: its copies move to their places now, and each
// one added goes into its name's group in load order, the copies between
// moving up in place. The first save of a shadowed entry into the target
// of ten archives of 100,000 entries made all million copies anew
// (RegroupCopies) in 13 to 22 ms, a third of the save.
void CShownOrder::TakeInAdded(const std::vector<uint32_t>& nowAt,
                              const std::vector<std::pair<uint32_t, uint32_t>>& added,
                              const std::vector<const CArchive*>& archiveOf, uint32_t t) {
  for (CLoadOrderEntry& copy : m_copies)
    if (copy.archive == t) copy.position = nowAt[copy.position];
  // Where each added copy goes among the copies as they were: before the
  // first of an archive loaded after the target. Groups come in name order,
  // as `added` does.
  std::vector<size_t> into;
  for (const auto& [group, position] : added) {
    const auto copies = m_copies.begin();
    const uint32_t begin = group == 0 ? 0 : m_copiesEnd[group - 1];
    into.push_back(
        static_cast<size_t>(std::find_if(copies + begin, copies + m_copiesEnd[group],
                                         [t](CLoadOrderEntry copy) { return copy.archive > t; }) -
                            copies));
  }
  size_t from = m_copies.size();
  m_copies.resize(m_copies.size() + added.size());
  auto to = m_copies.end();
  for (size_t i = added.size(); i-- > 0;) {
    const auto copies = m_copies.begin();
    to = std::move_backward(copies + static_cast<ptrdiff_t>(into[i]),
                            copies + static_cast<ptrdiff_t>(from), to);
    *--to = {t, added[i].second};
    from = into[i];
  }
  uint32_t shift = 0;
  auto adding = added.begin();
  for (uint32_t group = added.front().first; group < m_copiesEnd.size(); ++group) {
    for (; adding != added.end() && adding->first == group; ++adding) ++shift;
    m_copiesEnd[group] += shift;
  }
  CArchive& target = m_archives[m_target];
  for (size_t i = 0; i < added.size(); ++i) {
    const uint32_t group = added[i].first;
    const uint32_t begin = group == 0 ? 0 : m_copiesEnd[group - 1];
    const auto copies = std::span(m_copies).subspan(begin, m_copiesEnd[group] - begin);
    // Each added before it moved it up one more.
    target.classes[added[i].second] =
        ClassOfSaved(*target.entries, added[i].second, copies, into[i] + i - begin, archiveOf);
  }
}

// Gives each copy of the target that has the bytes it had before the save
// (its position then p, now nowAt[p]) the class it had, and returns the
// positions now of the others it held then. Every byte of the target is
// read, and reading the pages of a file just written is most of the time
// of reading it back: both halves of it are read at once, and mapped in one
// call rather than a fault each few pages.
std::vector<uint32_t> CShownOrder::KeepSameClasses(const CArchive& before,
                                                   const std::vector<uint32_t>& nowAt) {
  CArchive& target = m_archives[m_target];
  const CEntryMap& now = *target.entries;
  const auto compare = [&](uint32_t first, uint32_t last, std::vector<uint32_t>& changed) {
    for (uint32_t was = first; was < last; ++was) {
      const uint32_t position = nowAt[was];
      if (position == kGone) continue;
      std::string_view bytes, old;
      if (CopyBytes(now, position, bytes) && CopyBytes(*before.entries, was, old) && bytes == old)
        target.classes[position] = before.classes[was];
      else changed.push_back(position);
    }
  };
  const auto count = static_cast<uint32_t>(nowAt.size());
  std::vector<uint32_t> changed;
  // Entries read from the file rather than mapped are kept by their map,
  // which one thread at a time may do.
  if (!now.IsMapped() || !before.entries->IsMapped()) {
    compare(0, count, changed);
    return changed;
  }
  platform::AdviseReadingAll(now.GetWhole().GetData(), now.GetWhole().GetSize());
  std::vector<uint32_t> later;
  RunBeside([&] { compare(0, count / 2, changed); }, [&] { compare(count / 2, count, later); });
  changed.insert(changed.end(), later.begin(), later.end());
  return changed;
}

// The kept copies with the target's as saved: its names gone, its new ones
// added to their groups, in load order, and each of its copies classed.
void CShownOrder::RegroupCopies(const CArchive& before, const std::vector<uint32_t>& nowAt,
                                const std::vector<std::pair<uint32_t, uint32_t>>& added,
                                const std::vector<const CArchive*>& archiveOf,
                                const std::vector<uint8_t>& differs) {
  const uint32_t t = before.classified;
  CArchive& target = m_archives[m_target];
  const CEntryMap& now = *target.entries;
  CLargeVector<CLoadOrderEntry> copies;
  copies.reserve(WithRoomToTakeIn(m_copies.size() + added.size()));
  CLargeVector<uint32_t> ends;
  ends.reserve(m_copiesEnd.size());
  auto adding = added.begin();
  uint32_t begin = 0;
  for (uint32_t group = 0; group < m_copiesEnd.size(); ++group) {
    const uint32_t end = m_copiesEnd[group];
    const size_t first = copies.size();
    std::optional<uint32_t> wasAt;
    std::optional<uint32_t> own;  // the target's copy now, at `first + place`
    size_t place = 0;
    for (uint32_t c = begin; c < end; ++c) {
      CLoadOrderEntry copy = m_copies[c];
      if (adding != added.end() && adding->first == group && !own && copy.archive > t) {
        own = adding->second;
        place = copies.size() - first;
        copies.push_back({t, *own});
        ++adding;
      }
      if (copy.archive == t) {
        wasAt = copy.position;
        if (nowAt[copy.position] == kGone) continue;
        copy.position = nowAt[copy.position];
        own = copy.position;
        place = copies.size() - first;
      }
      copies.push_back(copy);
    }
    if (adding != added.end() && adding->first == group) {
      own = adding->second;
      place = copies.size() - first;
      copies.push_back({t, *own});
      ++adding;
    }
    begin = end;
    // A copy it held with the bytes it had kept its class (KeepSameClasses);
    // one with other bytes or new to it is classed among its name's copies.
    if (own && (!wasAt || differs[*own] != 0))
      target.classes[*own] =
          ClassOfSaved(now, *own, std::span(copies).subspan(first), place, archiveOf);
    if (copies.size() != first) ends.push_back(static_cast<uint32_t>(copies.size()));
  }
  m_copies = std::move(copies);
  m_copiesEnd = std::move(ends);
}

// Pairs the target's names before and now, both in byte order: `nowAt`
// gets each position before its position now (kGone when the name went),
// `added` each name new to the target, with the group of the order's copies
// of it, in name order. False when one is new to the whole order.
bool CShownOrder::MatchSavedNames(const CArchive& before, const CEntryMap& now,
                                  const std::vector<const CArchive*>& archiveOf,
                                  std::vector<uint32_t>& nowAt,
                                  std::vector<std::pair<uint32_t, uint32_t>>& added) const {
  const CEntryMap& was = *before.entries;
  nowAt.assign(was.size(), kGone);
  size_t old = 0;
  for (size_t at = 0; at < now.size(); ++at) {
    const std::string_view name = now.NameAt(at);
    while (old < was.size() && was.NameAt(old) < name) ++old;
    if (old < was.size() && was.NameAt(old) == name) {
      nowAt[old++] = static_cast<uint32_t>(at);
      continue;
    }
    const std::optional<uint32_t> group = GroupOf(name, archiveOf);
    if (!group) return false;  // a name new to the order
    added.emplace_back(*group, static_cast<uint32_t>(at));
  }
  return true;
}

// The group of the kept copies named `name` (archives by `archiveOf`).
std::optional<uint32_t> CShownOrder::GroupOf(std::string_view name,
                                             const std::vector<const CArchive*>& archiveOf) const {
  const auto nameOf = [&](size_t group) {
    const CLoadOrderEntry copy = m_copies[group == 0 ? 0 : m_copiesEnd[group - 1]];
    return archiveOf[copy.archive]->entries->NameAt(copy.position);
  };
  // Each group has one element of m_copiesEnd: its place there is the group.
  const auto before = [&](const uint32_t& end) {
    return nameOf(static_cast<size_t>(&end - m_copiesEnd.data())) < name;
  };
  const auto at = std::partition_point(m_copiesEnd.begin(), m_copiesEnd.end(), before);
  const auto group = static_cast<size_t>(at - m_copiesEnd.begin());
  if (at == m_copiesEnd.end() || nameOf(group) != name) return std::nullopt;
  return static_cast<uint32_t>(group);
}

// The class of the target's copy `position` of `now`, new or with bytes it
// did not hold before, one of the `group` (at `own` in it): the class of
// another copy with its bytes, or a new one.
uint32_t CShownOrder::ClassOfSaved(const CEntryMap& now, uint32_t position,
                                   std::span<const CLoadOrderEntry> group, size_t own,
                                   const std::vector<const CArchive*>& archiveOf) {
  std::string_view bytes;
  if (!CopyBytes(now, position, bytes)) return m_classCount++;
  if (const std::optional<uint32_t> same = ClassOfSame(bytes, group, own, archiveOf)) return *same;
  return m_classCount++;
}

// The class of the first of `copies`, but the one at `skip`, that holds
// `bytes` (archives by classified place in `archiveOf`).
std::optional<uint32_t> CShownOrder::ClassOfSame(std::string_view bytes,
                                                 std::span<const CLoadOrderEntry> copies,
                                                 size_t skip,
                                                 const std::vector<const CArchive*>& archiveOf) {
  for (size_t i = 0; i < copies.size(); ++i) {
    if (i == skip) continue;
    const CArchive& archive = *archiveOf[copies[i].archive];
    std::string_view other;
    if (CopyBytes(*archive.entries, copies[i].position, other) && other == bytes)
      return archive.classes[copies[i].position];
  }
  return std::nullopt;
}
