// Extraction: an archive's entries written as files under a folder.
//
// Every name is tested by CheckEntryName before it becomes a path, and every
// folder on the way is opened by CFolderWalk, so no entry can create, change
// or reach anything outside the folder, whatever its name. Each file is
// written by a CPendingFile (storage/replacing_file.h): a file that is there
// already is replaced whole, and one that is not there yet is created under
// its own name where the system has no unnamed files, and removed again if
// it cannot be written in full. Two entries that name one file ("a/b" and
// "a\b") are the first written and the second reported.
//
// The outcome is that of writing the entries in the order given (the
// index's, for an archive), the same on every run, though small entries are
// written by two threads at once: an entry whose file is an earlier one's
// folder, or the other way round, is written after it. Bytes go from
// the buffer (a view of the mapped archive) straight to the file, or, for an
// archive that could not be mapped, from the archive's file to the new one.
// Bytes that the archive no longer holds when they are copied (another
// program cut it short meanwhile) are never kept as if they were its: the
// file being written is removed and the extraction stops there.
//
// Threading: ExtractEntries may write on a second thread, and calls the
// progress function only on the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/progress.h"
#include "storage/data_buffer.h"
#include "storage/disk_file.h"
#include "storage/status.h"

class CBigArchive;

struct CExtractEntry {
  std::string_view name;  // must outlive the extraction
  CDataBuffer bytes;      // the bytes the archive holds for it, when it is mapped
  uint64_t claimed = 0;   // the size its record gives; more than `size`: cut short
  uint64_t size = 0;      // the bytes the archive holds for it
  // When `bytes` has none (the archive could not be mapped): the archive's
  // file, and where in it the bytes lie.
  CHandleHolder file;
  uint64_t offset = 0;
};

// The bytes of `entry` appended to `out`, from memory or from the archive's
// file, a large piece at a time, with `onPiece` called as WriteBytesTo does.
// A failure has no path: Kind::SourceChanged when the archive turns out to
// be cut short (whatever was copied), Kind::Cancelled when `onPiece` asks
// to stop, else the system's words for a failed write or read.
CStatus CopyEntryTo(platform::Handle out, const CExtractEntry& entry,
                    const std::function<bool(uint64_t)>& onPiece);

// An entry that was not written, or not in full, and why.
struct CEntryProblem {
  std::string name;
  std::string reason;
};

struct CExtractOptions {
  // A file that must never be replaced, under any name: the archive itself.
  std::optional<platform::FileIdentity> protect;
  ProgressFn progress;
  // Whether another program has written to the archive since it was
  // opened (CGameFile::ChangedSinceOpened), asked after each entry's copy
  // and before it takes its name. Called from two threads.
  std::function<bool()> archiveChanged;
};

struct CExtractReport {
  // Why the folder could not be made or opened; then nothing was written.
  CStatus folderError;
  size_t written = 0;                   // entries written in full
  std::vector<CEntryProblem> problems;  // in the order of the entries
  bool cancelled = false;               // the progress function asked to stop
  // Entries after the one whose problem stopped the extraction (the last of
  // `problems`, one every later entry would meet too) that were not written.
  size_t left = 0;
  // The archive was cut short or written to on disk while its bytes were
  // copied (the problem that stopped the extraction).
  bool archiveChanged = false;
};

// Makes `folder` with its missing parents (it must be a folder if it exists)
// and writes every entry under it; a problem with one entry is reported and
// the others go on. It stops at a problem every later entry would meet too:
// a full disk or quota, a read-only file system, an archive cut short.
void ExtractEntries(const std::string& folder, std::span<const CExtractEntry> entries,
                    const CExtractOptions& options, CExtractReport& report);

// Every element of an open reader's index, in index order, with the bytes of
// the archive it names (cut at the archive's end). The names point into the
// reader, which must outlive the result's use.
std::vector<CExtractEntry> EntriesToExtract(const CBigArchive& reader);
