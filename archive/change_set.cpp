#include "archive/change_set.h"

#include "archive/big_writer.h"

void CChangeSet::Put(std::string_view name, CDataBuffer bytes) {
  m_changes.insert_or_assign(std::string(name), CChange{false, std::move(bytes)});
}

void CChangeSet::Remove(std::string_view name) { m_changes.insert_or_assign(std::string(name), CChange{true, {}}); }

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

std::optional<CDataBuffer> CurrentBytes(const CEntryMap& entries, const CChangeSet& changes, std::string_view name) {
  if (const CChangeSet::CChange* change = changes.Find(name)) {
    return change->removed ? std::nullopt : std::optional<CDataBuffer>(change->bytes);
  }
  const auto found = entries.find(name);
  if (found == entries.end()) return std::nullopt;
  return entries.BufferAt(found.Position());
}

bool WriteChangedArchive(const std::string& path, const CEntryMap& entries, const CChangeSet& changes,
                         SaveScope scope, const CSaveSource& source, std::string& reason) {
  CBigWriter writer;
  if (scope == SaveScope::Whole) {
    for (size_t position = 0; position < entries.size(); ++position) {
      const std::string_view name = entries.NameAt(position);
      if (changes.Find(name) != nullptr) continue;
      const CDataBuffer& bytes = entries.BufferAt(position);
      if (source.file != platform::kInvalidHandle) {
        writer.AddFileRange(std::string(name), bytes, source.file, entries.OffsetAt(position));
      } else {
        writer.AddBytes(std::string(name), bytes);
      }
    }
  }
  for (const auto& [name, change] : changes.GetChanges()) {
    if (!change.removed) writer.AddBytes(name, change.bytes);
  }
  return writer.Write(path, source.progress, reason);
}
