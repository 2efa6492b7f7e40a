#include "archive/change_set.h"

#include "archive/big_writer.h"
#include "archive/entry_path.h"

#include <algorithm>
#include <iterator>
#include <vector>

void CChangeSet::Put(std::string_view name, CDataBuffer bytes) {
  m_changes.insert_or_assign(std::string(name), CChange{false, std::move(bytes)});
}

void CChangeSet::Remove(std::string_view name) {
  m_changes.insert_or_assign(std::string(name), CChange{true, {}});
}

void CChangeSet::Restore(std::string_view name, const std::optional<CChange>& change) {
  if (change) {
    m_changes.insert_or_assign(std::string(name), *change);
  } else if (const auto found = m_changes.find(name); found != m_changes.end()) {
    m_changes.erase(found);
  }
}

const CChangeSet::CChange* CChangeSet::Find(std::string_view name) const {
  const auto found = m_changes.find(name);
  return found == m_changes.end() ? nullptr : &found->second;
}

std::optional<CChangeSet::CChange> CChangeSet::Get(std::string_view name) const {
  const CChange* change = Find(name);
  return change != nullptr ? std::optional<CChange>(*change) : std::nullopt;
}

std::optional<CDataBuffer> CurrentBytes(const CEntryMap& entries, const CChangeSet& changes,
                                        std::string_view name) {
  if (const CChangeSet::CChange* change = changes.Find(name)) {
    return change->removed ? std::nullopt : std::optional<CDataBuffer>(change->bytes);
  }
  const auto found = entries.find(name);
  if (found == entries.end()) return std::nullopt;
  return entries.BufferAt(found.Position());
}

namespace {

// What a name meets among the names of an archive and its changes, judged
// by IsSameEntry's keys: the first found of each kind, empty when none.
struct CClashes {
  std::string exact;      // the name itself is an entry
  std::string spelling;   // another spelling of it is an entry
  std::string below;      // an entry lies below it, as below a folder
  std::string fileAbove;  // a folder of it is an entry
};

// Looks for what `name` meets among `names`: a sorted sequence whose
// LowerBound(text) gives the first name not below `text`, End() the end,
// Next, NameOf and IsLive what they say. Every spelling the key allows is
// tried a byte at a time, and followed only while two names or more start
// with it: a single one is judged at once. So a name costs a few binary
// searches a byte among names spelled alike, whatever their number.
template <typename Names>
void FindClashes(std::string_view name, const Names& names, bool foldCase, CClashes& found) {
  const auto note = [](std::string& kind, std::string_view what) {
    if (kind.empty()) kind = what;
  };
  const auto startsWith = [&](auto at, std::string_view prefix) {
    return at != names.End() && names.NameOf(at).starts_with(prefix);
  };
  // A name that matches `name` by key in its first `depth` bytes.
  const auto judge = [&](std::string_view other, size_t depth) {
    size_t i = depth;
    while (i < other.size() && i < name.size() &&
           EntryKeyByte(other[i], foldCase) == EntryKeyByte(name[i], foldCase))
      ++i;
    if (i == name.size() && i == other.size())
      note(other == name ? found.exact : found.spelling, other);
    else if (i == name.size() && i < other.size() && IsNameSeparator(other[i]))
      note(found.below, other);
    else if (i == other.size() && i < name.size() && IsNameSeparator(name[i]))
      note(found.fileAbove, other);
  };
  std::string spelling;       // of name's first bytes, as some names spell them
  std::vector<size_t> peers;  // for each byte of it and the next, the next peer to try
  // Looks at the names that start with `spelling`; true when the bytes
  // after it must be tried too.
  const auto enter = [&] {
    const auto first = names.LowerBound(spelling);
    const size_t depth = spelling.size();
    if (!startsWith(names.Next(first), spelling)) {
      if (names.IsLive(first)) judge(names.NameOf(first), depth);
      return false;
    }
    for (auto at = first; startsWith(at, spelling) && names.NameOf(at).size() == depth;
         at = names.Next(at))
      if (names.IsLive(at)) judge(names.NameOf(at), depth);
    if (depth < name.size()) return true;
    for (const char separator : {'/', '\\'}) {
      spelling.push_back(separator);
      for (auto at = names.LowerBound(spelling); startsWith(at, spelling); at = names.Next(at)) {
        if (!names.IsLive(at)) continue;
        note(found.below, names.NameOf(at));
        break;
      }
      spelling.pop_back();
    }
    return false;
  };
  if (startsWith(names.LowerBound(spelling), spelling) && enter()) peers.push_back(0);
  while (!peers.empty()) {
    const std::string_view choices = EntryKeyPeers(name[spelling.size()], foldCase);
    if (peers.back() == choices.size()) {
      peers.pop_back();
      if (!spelling.empty()) spelling.pop_back();
      continue;
    }
    spelling.push_back(choices[peers.back()++]);
    if (startsWith(names.LowerBound(spelling), spelling) && enter()) peers.push_back(0);
    else spelling.pop_back();
  }
}

// The opened entries, for FindClashes: live unless the changes remove them.
struct COpenedNames {
  const CEntryMap& entries;
  const CChangeSet& changes;
  size_t LowerBound(std::string_view text) const {
    size_t low = 0, high = entries.size();
    while (low < high) {
      const size_t middle = low + (high - low) / 2;
      if (entries.NameAt(middle) < text) low = middle + 1;
      else high = middle;
    }
    return low;
  }
  size_t End() const { return entries.size(); }
  size_t Next(size_t at) const { return at == End() ? at : at + 1; }
  std::string_view NameOf(size_t at) const { return entries.NameAt(at); }
  bool IsLive(size_t at) const {
    const CChangeSet::CChange* change = changes.Find(entries.NameAt(at));
    return change == nullptr || !change->removed;
  }
};

// The pending changes, for FindClashes: live unless they remove the name.
struct CPendingNames {
  const CChangeSet::Changes& changes;
  using Iterator = CChangeSet::Changes::const_iterator;
  Iterator LowerBound(std::string_view text) const { return changes.lower_bound(text); }
  Iterator End() const { return changes.end(); }
  Iterator Next(Iterator at) const { return at == End() ? at : std::next(at); }
  std::string_view NameOf(Iterator at) const { return at->first; }
  bool IsLive(Iterator at) const { return !at->second.removed; }
};

}  // namespace

CStatus NameConflict(const CEntryMap& entries, const CChangeSet& changes, std::string_view name,
                     bool replacing, bool foldCase) {
  if (const CStatus problem = CheckEntryName(name); !problem.IsOk())
    return problem.WithPath(std::string(name));
  CClashes found;
  FindClashes(name, COpenedNames{entries, changes}, foldCase, found);
  FindClashes(name, CPendingNames{changes.GetChanges()}, foldCase, found);
  const auto refused = [&](std::string words) {
    return CStatus::Failure(std::string(name), std::move(words));
  };
  if (!found.exact.empty()) return replacing ? CStatus() : refused("an entry of that name exists");
  // "a/b" beside "a\\b" (or "A.ini" beside "a.ini" where names fold case)
  // would be one file once extracted: pack and extract refuse the archive.
  if (!found.spelling.empty()) return refused(SameEntryWords(found.spelling, name));
  if (!found.below.empty()) return refused("a folder of that name exists");
  if (!found.fileAbove.empty()) return refused("'" + found.fileAbove + "' is an entry, not a folder");
  return {};
}

CStatus WriteChangedArchive(const std::string& path, const CEntryMap& entries,
                            const CChangeSet& changes, SaveScope scope, const CSaveSource& source) {
  CBigWriter writer;
  if (scope == SaveScope::Whole) {
    for (size_t position = 0; position < entries.size(); ++position) {
      const std::string_view name = entries.NameAt(position);
      if (changes.Find(name) != nullptr) continue;
      if (source.file) {
        writer.AddFileRange(std::string(name), entries.SizeAt(position), source.file,
                            entries.OffsetAt(position), source.input);
      } else {
        writer.AddBytes(std::string(name), entries.BufferAt(position), source.input);
      }
    }
  }
  for (const auto& [name, change] : changes.GetChanges()) {
    if (!change.removed) writer.AddBytes(name, change.bytes);
  }
  return writer.Write(path, source.progress);
}
