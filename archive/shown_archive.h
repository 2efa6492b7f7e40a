// One archive as a window shows it: the entries it was opened with, the
// changes pending over them, and a revision that moves with every change.
//
// Everything that reads an archive's entries for the user (the tree, the
// list, Find in Rules, Extract, drag-out, Compare With, Save and its kin)
// reads them here, so what is saved, extracted, searched or compared is what
// the window shows. Work that runs beside the window takes a snapshot: the
// opened entries (shared, never changed once opened) and a copy of the
// changes (shares of their buffers), which later edits, a save or a reload
// leave alone.
//
// The opened file is held open from the open on, and stamped (identity,
// size, modification and change times). CheckDisk tells how the file at the
// path relates to it now: the same, replaced by another file (ours is then
// still intact, held by this handle), gone, or rewritten in place, when the
// mapped bytes are no longer the ones that were read and must not be
// written anywhere.
//
// Threading: the archive itself on one thread; snapshots are read-only and
// may be read on any thread (their file handle is for the owning thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/change_set.h"
#include "archive/entry_map.h"
#include "archive/extract.h"
#include "archive/shown_order.h"
#include "storage/data_buffer.h"
#include "storage/disk_file.h"
#include "storage/file_stamp.h"
#include "storage/platform.h"
#include "storage/status.h"

// How the file at the archive's path relates to the file that was opened.
enum class DiskChange {
  None,       // still the file that was opened, as it was
  Replaced,   // another file stands there; the opened one is intact
  Gone,       // nothing stands there; the opened one is intact
  Rewritten,  // the opened file's own bytes changed (in place, or cut short)
};

class CShownSnapshot {
 public:
  CShownSnapshot(std::shared_ptr<const CEntryMap> opened, CChangeSet changes, uint64_t revision)
      : m_opened(std::move(opened)), m_changes(std::move(changes)), m_revision(revision) {}

  const CEntryMap& Opened() const { return *m_opened; }
  const CChangeSet& Changes() const { return m_changes; }
  uint64_t Revision() const { return m_revision; }
  // Each entry shown, in name order: its name, and its position in the
  // opened map (for an unchanged entry) or its pending change.
  void ForEach(const std::function<void(std::string_view name, std::optional<size_t> opened,
                                        const CChangeSet::CChange* change)>& visit) const;
  // The bytes `name` has as shown; nothing when it is absent or deleted.
  std::optional<CDataBuffer> Bytes(std::string_view name) const;
  // The shown entries (all, or those of `only`, in name order), for
  // extraction: unchanged ones as the opened map gives them, changed and
  // added ones from their pending bytes. The names live in this snapshot.
  std::vector<CExtractEntry> EntriesToExtract(const std::vector<std::string>* only = nullptr) const;

 private:
  std::shared_ptr<const CEntryMap> m_opened;
  CChangeSet m_changes;
  uint64_t m_revision;
};

class CShownArchive {
 public:
  CShownArchive();

  // Opens `path` in place of what was shown; on failure nothing changes
  // and the status says why.
  CStatus Open(const std::string& path);
  // Opens the archives of a load order (first loaded first) in place of
  // what was shown: the winners are shown, and changes are written to the
  // order's target only.
  CStatus OpenOrder(const std::vector<std::string>& paths);
  // The load order shown; null for one archive.
  const CShownOrder* Order() const { return m_order.get(); }
  // Changes the load order (reorders, leaves out, retargets) and shows the
  // names as it resolves them now; the pending changes stay. Refused, with
  // `undo` run to put the order back, when the new order would hide a
  // pending change from the game (HiddenChange); nothing is refused
  // without an `undo`.
  CStatus ChangeOrder(const std::function<void(CShownOrder&)>& change,
                      const std::function<void(CShownOrder&)>& undo = {});
  // The first pending change the order shown hides from the game, said as
  // MayChange would refuse it: an archive loaded after the target wins its
  // name, or a copy outside the target keeps a deleted name. Ok when none.
  CStatus HiddenChange() const;
  // What each archive of the order would win, lose and hold alone were the
  // pending changes saved: a change lands in the target, which then wins
  // its name. Empty for one archive.
  std::vector<CArchiveTally> Tallies() const;
  // Why a change to `name` cannot be made here, or Ok. In a load order a
  // change lands in the target: refused when an archive loaded after the
  // target wins the name (the change would not be seen), and a deletion
  // when another archive holds a copy (no archive loaded over it can
  // delete it).
  CStatus MayChange(std::string_view name, bool removing) const;
  // The path Save writes: the archive's, or a load order's target's.
  const std::string& SavedPath() const { return m_path; }
  // After a save to `path`: reads it back in place of the archive (of the
  // load order's target), with nothing pending.
  CStatus ReopenSaved(const std::string& path);

  const CEntryMap& Opened() const { return *m_opened; }
  // Kept alive by whoever holds it, across a save or a reload.
  std::shared_ptr<const CEntryMap> SharedOpened() const { return m_opened; }
  const CChangeSet& Changes() const { return m_changes; }
  uint64_t Revision() const { return m_revision; }

  // `name` becomes what is given (nullopt: as opened).
  void Restore(std::string_view name, const std::optional<CChangeSet::CChange>& change);
  // What `name` holds as shown; nothing when absent or deleted.
  std::optional<CDataBuffer> Bytes(std::string_view name) const;
  bool Has(std::string_view name) const { return Bytes(name).has_value(); }
  // Of `name` shown as opened, when the archive's end cuts it short of what
  // its index claims, the words that say so (CEntryMap::CutShortWords);
  // empty for any other.
  std::string CutShort(std::string_view name) const;
  std::shared_ptr<const CShownSnapshot> Snapshot() const;

  // The opened file, held since the open; empty for a new document.
  const CHandleHolder& File() const { return m_file; }
  bool IsOpenedFile() const { return static_cast<bool>(m_file); }
  // The opened file as it was read: the same on both sides of the read and
  // at its path then. Unset for a new document, or a file that changed
  // while it was read (whose bytes cannot be told apart from what came
  // after, so nothing copies them).
  const std::optional<CFileStamp>& OpenedStamp() const { return m_stamp; }
  DiskChange CheckDisk() const;
  // Whether every byte of the opened entries can still be read as opened.
  bool OpenedBytesIntact() const { return m_file && CheckDisk() != DiskChange::Rewritten; }
  // Of a load order: how the first of its other archives that changed on
  // disk stands (None when none did), and its path.
  DiskChange CheckOtherArchives(std::string* path = nullptr) const;
  // Whether what the window shows can still be read as it was opened: the
  // opened file's bytes (when there is one), and of a load order every
  // other archive's too.
  bool ShownBytesIntact() const;
  // The files whose changes a window watches: the opened one, and a load
  // order's other archives.
  std::vector<std::string> WatchedPaths() const;
  // Reads again the archives of a load order, other than its target, that
  // changed on disk (`reopened` of them); the pending changes stay. On
  // failure the status names the archive that could not be read.
  CStatus ReopenOtherArchives(size_t& reopened);
  // The names of the opened entries that lie past the opened file's end now
  // (at most `most` of them), and how many there are.
  std::vector<std::string> EntriesPastEnd(size_t most, size_t& count) const;

  // Writes what is shown (or only its changes) to `path`. Unchanged entries
  // are read from the opened file through the held handle, never through
  // the path, and never when the file was rewritten in place (refused, as
  // kind SourceChanged).
  CStatus Write(const std::string& path, SaveScope scope, const ProgressFn& progress = {}) const;

 private:
  std::shared_ptr<const CEntryMap> m_opened;
  CChangeSet m_changes;
  uint64_t m_revision = 0;
  std::string m_path;
  CHandleHolder m_file;
  // The opened file as it was read; unset when it changed while being read.
  std::optional<CFileStamp> m_stamp;
  std::unique_ptr<CShownOrder> m_order;

  // The archive whose copy of `name` a change in the target would leave
  // for the game to see: one loaded after the target that wins the name
  // (`after`; not when a change to it is `pending`, which put it in the
  // target), or, for a deletion, any other holding a copy.
  struct CKeeper {
    uint32_t archive;
    bool after;
  };
  std::optional<CKeeper> KeeperOf(std::string_view name, bool removing, bool pending) const;
  // The entries Write writes the changes over: the opened archive's, or
  // the order's target's.
  const CEntryMap& Written() const;
  // Shows what the order resolves to now, and holds its target's file.
  void TakeOrder();
};
