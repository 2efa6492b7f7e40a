// Pending changes to an opened archive, kept beside its entries.
//
// The entries an archive was opened with (a CEntryMap) never change; a
// change set says, per name, what differs: new bytes (an added or changed
// entry) or a removal. Only the changed bytes are held, never a copy of the
// archive. Writing combines the two into a new archive through CBigWriter,
// so the result is what `tarn pack` would make of the same entries: names
// in byte order, deterministic bytes, written beside the path and renamed
// over it only when complete.
//
// Threading: none.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "archive/big_writer.h"
#include "archive/entry_map.h"
#include "archive/entry_path.h"
#include "archive/extract.h"
#include "storage/data_buffer.h"
#include "storage/platform.h"

class CChangeSet {
 public:
  // What one name has become; `removed` set means the entry goes.
  struct CChange {
    bool removed = false;
    CDataBuffer bytes;
  };
  using Changes = std::map<std::string, CChange, std::less<>>;

  // The entry `name` gets `bytes` (added when the archive has no such entry).
  void Put(std::string_view name, CDataBuffer bytes);
  // The entry `name` goes.
  void Remove(std::string_view name);
  // Sets what `name` has become: a change, or none at all (as opened).
  void Restore(std::string_view name, const std::optional<CChange>& change);
  // The pending change of `name`, or null.
  const CChange* Find(std::string_view name) const;
  std::optional<CChange> Get(std::string_view name) const;

  const Changes& GetChanges() const { return m_changes; }
  size_t size() const { return m_changes.size(); }
  bool empty() const { return m_changes.empty(); }
  void clear() { m_changes.clear(); }

 private:
  Changes m_changes;
};

// The bytes `name` has with `changes` applied to `entries`: the changed
// bytes, else the opened entry's; nothing when it is removed or absent.
std::optional<CDataBuffer> CurrentBytes(const CEntryMap& entries, const CChangeSet& changes,
                                        std::string_view name);

// Why `name` cannot be given to a new or renamed entry, about the name; Ok
// when it can. The rules are pack's, so that `tarn pack` and `tarn extract`
// take the saved archive: no name extraction would refuse, no name that is
// taken, no other spelling of an entry (IsSameEntry: "a/b" beside "a\b",
// and with `foldCase`, Windows' rule, "A.ini" beside "a.ini"), and no
// entry that is both a file and a folder ("a" beside "a\b", or "a\b\c"
// beside "a/b"). With `replacing`, a name that is taken is fine (its entry
// gets new bytes).
CStatus NameConflict(const CEntryMap& entries, const CChangeSet& changes, std::string_view name,
                     bool replacing = false, bool foldCase = kEntryNamesFoldCase);

enum class SaveScope {
  Whole,        // every entry, with the changes applied
  ChangesOnly,  // only the entries added or changed, for loading over the original
};

struct CSaveSource {
  // The opened archive's file, read-only, when the caller knows it still
  // holds the bytes `entries` were cut from: unchanged entries are then
  // copied from it by the kernel. Empty: copied from the buffers.
  CHandleHolder file;
  // The opened archive, which must still hold those bytes once the copy is
  // made; none for a new one.
  std::shared_ptr<const CPackInput> input;
  ProgressFn progress;
};

// Writes the archive that `entries` with `changes` make to `path`,
// replacing what is there only once complete. On failure, which the status
// says, `path` holds what it had and no temporary file is left.
CStatus WriteChangedArchive(const std::string& path, const CEntryMap& entries,
                            const CChangeSet& changes, SaveScope scope, const CSaveSource& source);
