// A load order as one window shows it: the archives in the order the game
// loads them, which of them are left out, and which is the target, the one
// archive changes are written to; and, resolved over the archives taken,
// every name once, from the archive that wins it.
//
// The archives are opened once, read only, and kept: reordering them or
// leaving one out resolves the names anew without reading any entry again
// (whether two copies of a name hold the same bytes is worked out once, at
// the open, for every copy). The target may be a new archive with no file
// yet, written by the first save.
//
// Threading: none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/entry_map.h"
#include "archive/load_order.h"
#include "storage/data_buffer.h"
#include "storage/file_stamp.h"
#include "storage/large_pages.h"
#include "storage/status.h"

class CShownOrder {
 public:
  struct CArchive {
    std::string path;
    std::shared_ptr<const CEntryMap> entries;
    // Held from the open on, and its stamp then (unset when it changed
    // while being read); empty for a new archive not yet written.
    CHandleHolder file;
    std::optional<CFileStamp> stamp;
    bool taken = true;  // false: left out of the order
    // Its place in the order when the copies were last classified; a new
    // archive's is past every classified one.
    uint32_t classified = UINT32_MAX;
    // For each entry (by position), the first copy of its name, over every
    // archive of the order, whose bytes it equals: two copies hold the
    // same bytes exactly when they have the same class.
    CLargeVector<uint32_t> classes;
  };

  // Where the shown entry at a position of Composed() comes from.
  struct CShownName {
    uint32_t archive;  // in Archives()
    // ' ' it shadows nothing taken; '=' every copy it shadows has its
    // bytes; '!' some differ.
    char mark;
    // The copies it shadows (archives in Archives()), in load order:
    // Shadowed()[first, first + count).
    uint32_t first;
    uint32_t count;
    uint32_t position;  // the winner's, in its archive's entries
  };

  // How one archive's entry stands in the order.
  enum class Stand : uint8_t {
    Won,      // it wins its name over copies in other archives
    Unique,   // no other archive holds the name
    Lost,     // a later copy wins the name: this one is shadowed
    LeftOut,  // its archive is left out of the order
  };
  struct CArchiveEntry {
    uint32_t position;  // in the archive's entries
    Stand stand;
    uint32_t name;  // the name's position in Composed(); none when left out
  };

  // Opens every archive of `paths` (in load order), the last the target;
  // on failure nothing is kept and the status names the archive.
  CStatus Open(const std::vector<std::string>& paths);

  const std::vector<CArchive>& Archives() const { return m_archives; }
  size_t Target() const { return m_target; }
  // The names, winners only, in byte order, as one map of the archives'
  // entries; made anew by each change of the order.
  const std::shared_ptr<const CEntryMap>& Composed() const { return m_composed; }
  const CLargeVector<CShownName>& Names() const { return m_names; }
  const CLargeVector<CLoadOrderEntry>& Shadowed() const { return m_shadowed; }
  // Per archive (in Archives()), over the names of the archives taken:
  // names it wins, names it holds that a later one wins, names only it holds.
  const std::vector<CArchiveTally>& Tallies() const { return m_tallies; }
  // The archive a name is won by; nothing when no taken archive holds it.
  std::optional<uint32_t> WinnerOf(std::string_view name) const;
  // A copy of the shown entry `name` other than the one shown, its archive
  // and bytes: the one in the archive `of` (lost or left out) when it holds
  // the name, else the one the winner overrides (the last before it in
  // load order).
  std::optional<std::pair<uint32_t, CDataBuffer>> ShadowedCopy(
      std::string_view name, std::optional<uint32_t> of = std::nullopt) const;
  // Every entry of `archive`, in its own name order, with how it stands.
  std::vector<CArchiveEntry> EntriesOf(uint32_t archive) const;
  // The archive opened from `path`: an archive's place changes with the
  // order, its path does not.
  std::optional<uint32_t> ArchiveAt(std::string_view path) const;
  // The bytes of the entry `name` (as that archive spells it) of the
  // archive at `path`, winning or not.
  std::optional<CDataBuffer> CopyIn(std::string_view path, std::string_view name) const;

  // Each resolves anew.
  void Move(size_t from, size_t to);
  // Refused for the target, which is never left out.
  CStatus Take(size_t archive, bool taken);
  void SetTarget(size_t archive);
  // A new, empty archive at the end, to be written at `path`, the target.
  void AddNewArchive(const std::string& path);
  // After the target was written: reads it back from its (maybe new) path.
  CStatus ReopenTarget(const std::string& path);
  // Reads the archives again from their paths, in that order, after another
  // program changed them, and classifies and resolves every copy again.
  // Stops at the first that cannot be read: those read before it are
  // kept (`reopened` of them), it and the rest stay as they were.
  CStatus ReopenArchives(const std::vector<size_t>& archives, size_t& reopened);
  // Whether the last change left every name where it was, won by the same
  // archive: a save into a target that holds the names it held. Only the
  // marks may differ.
  bool NamesKept() const { return m_namesKept; }
  // Whether the last change left the same names shown, each at the place it
  // had in Composed(), though another archive may win some: a save that
  // put a copy of a shadowed entry into the target.
  bool SameNames() const { return m_sameNames; }
  // The file name of an archive, for the From column.
  static std::string_view FileName(std::string_view path);

 private:
  // Resolves the archives taken: from the kept copies, or, where spellings
  // were joined, by merging the archives' names again.
  void Resolve();
  // Gives each copy its class and keeps each name's copies.
  void Classify();
  // Resolve() from the copies Classify kept, without merging the archives'
  // names again: false when it cannot (spellings of one name were joined,
  // and which of them is shown depends on the order).
  bool ResolveKeptCopies();
  // After the target was written and read back, as `before` when it was
  // classified: classes its copies and keeps them with the others', reading
  // only what it changed. False when it cannot (the target now holds a name
  // no archive held: it may join another's spelling), and Classify must.
  // `kept` is set when the target holds the names it held; `addedAt` gets
  // the positions of those it took in.
  bool ReclassifyTarget(const CArchive& before, bool& kept, std::vector<uint32_t>& addedAt);
  std::vector<uint32_t> KeepSameClasses(const CArchive& before, const std::vector<uint32_t>& nowAt);
  bool ClassChanged(const std::vector<uint32_t>& changed,
                    const std::vector<const CArchive*>& archiveOf, uint32_t t);
  void TakeInAdded(const std::vector<uint32_t>& nowAt,
                   const std::vector<std::pair<uint32_t, uint32_t>>& added,
                   const std::vector<const CArchive*>& archiveOf, uint32_t t);
  static constexpr uint32_t kGone = UINT32_MAX;
  bool MatchSavedNames(const CArchive& before, const CEntryMap& now,
                       const std::vector<const CArchive*>& archiveOf, std::vector<uint32_t>& nowAt,
                       std::vector<std::pair<uint32_t, uint32_t>>& added) const;
  // `differs`: by position now, 1 for a copy whose bytes KeepSameClasses
  // found changed.
  void RegroupCopies(const CArchive& before, const std::vector<uint32_t>& nowAt,
                     const std::vector<std::pair<uint32_t, uint32_t>>& added,
                     const std::vector<const CArchive*>& archiveOf,
                     const std::vector<uint8_t>& differs);
  std::optional<uint32_t> GroupOf(std::string_view name,
                                  const std::vector<const CArchive*>& archiveOf) const;
  void Remark(const CArchive& before);
  char MarkOf(const CShownName& shown) const;
  void ShowName(std::span<const CLoadOrderEntry> copies, uint32_t source,
                CLargeVector<CEntryMap::CSourceEntry>& at);
  static std::optional<uint32_t> ClassOfSame(std::string_view bytes,
                                             std::span<const CLoadOrderEntry> copies, size_t skip,
                                             const std::vector<const CArchive*>& archiveOf);
  uint32_t ClassOfSaved(const CEntryMap& now, uint32_t position,
                        std::span<const CLoadOrderEntry> group, size_t own,
                        const std::vector<const CArchive*>& archiveOf);

  std::vector<CArchive> m_archives;
  size_t m_target = 0;
  std::shared_ptr<const CEntryMap> m_composed;
  CLargeVector<CShownName> m_names;
  CLargeVector<CLoadOrderEntry> m_shadowed;  // archives in m_archives
  std::vector<CArchiveTally> m_tallies;
  // Every name's copies over every archive, in load order at the last
  // Classify (archives by their `classified` place): the copies of the
  // name n are m_copies[m_copiesEnd[n - 1], m_copiesEnd[n]).
  CLargeVector<CLoadOrderEntry> m_copies;
  CLargeVector<uint32_t> m_copiesEnd;
  bool m_spellingsJoined = false;
  bool m_namesKept = false;
  bool m_sameNames = false;
  uint32_t m_classCount = 0;
};

// Opens one archive as the order keeps it: entries, held file and stamp.
CStatus OpenOrderArchive(const std::string& path, CShownOrder::CArchive& archive);
