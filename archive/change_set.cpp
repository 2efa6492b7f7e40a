#include "archive/change_set.h"

#include "archive/big_writer.h"
#include "archive/entry_path.h"

#include <algorithm>

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

// Whether an entry (opened or added, and not removed) starts with `prefix`.
bool AnyStartsWith(const CEntryMap& entries, const CChangeSet& changes, const std::string& prefix) {
  size_t low = 0, high = entries.size();
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    if (entries.NameAt(middle) < prefix) low = middle + 1;
    else high = middle;
  }
  for (size_t at = low; at < entries.size() && entries.NameAt(at).starts_with(prefix); ++at) {
    const CChangeSet::CChange* change = changes.Find(entries.NameAt(at));
    if (change == nullptr || !change->removed) return true;
  }
  const auto& pending = changes.GetChanges();
  for (auto at = pending.lower_bound(prefix); at != pending.end() && at->first.starts_with(prefix);
       ++at) {
    if (!at->second.removed) return true;
  }
  return false;
}

}  // namespace

std::string NameConflict(const CEntryMap& entries, const CChangeSet& changes, std::string_view name,
                         bool replacing) {
  if (const CStatus::Kind problem = CheckEntryName(name); problem != CStatus::Kind::Ok)
    return CStatus::WordsFor(problem);
  if (CurrentBytes(entries, changes, name))
    return replacing ? std::string() : "an entry of that name exists";
  for (const char separator : {'\\', '/'}) {
    if (AnyStartsWith(entries, changes, std::string(name) + separator))
      return "a folder of that name exists";
  }
  for (size_t at = 0; at < name.size(); ++at) {
    if (IsNameSeparator(name[at]) && CurrentBytes(entries, changes, name.substr(0, at))) {
      return "'" + std::string(name.substr(0, at)) + "' is an entry, not a folder";
    }
  }
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
                            entries.OffsetAt(position));
      } else {
        writer.AddBytes(std::string(name), entries.BufferAt(position));
      }
    }
  }
  for (const auto& [name, change] : changes.GetChanges()) {
    if (!change.removed) writer.AddBytes(name, change.bytes);
  }
  return writer.Write(path, source.progress);
}
