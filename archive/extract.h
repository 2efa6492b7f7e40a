// Extraction: an archive's entries written as files under a folder.
//
// Every name is tested by CheckEntryName before it becomes a path, and every
// folder on the way is opened by CFolderWalk, so no entry can create, change
// or reach anything outside the folder, whatever its name. A file that is
// there already is replaced whole: the new bytes go to a new file in the
// same folder, which takes the old one's mode (and owner and group where
// this process may give them), is flushed to disk and renamed over the old
// one, so a reader of the old file never sees half of the new one. On Linux
// a new file has no name until it is complete, so a killed process leaves
// none half-written; elsewhere one that is not there yet is created under
// its own name, and removed again if it cannot be written in full. Two
// entries that name one file ("a/b" and "a\b") are the first written and
// the second reported.
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

#include "storage/data_buffer.h"
#include "storage/disk_file.h"
#include "storage/platform.h"
#include "storage/status.h"

class CBigArchive;
class CEntryMap;

// How far a long piece of work has got.
struct CProgress {
  uint64_t entriesDone = 0;
  uint64_t entriesTotal = 0;
  uint64_t bytesDone = 0;
  uint64_t bytesTotal = 0;
};
// Called between entries and between large pieces of one; false stops the
// work as soon as it can be stopped cleanly.
using ProgressFn = std::function<bool(const CProgress&)>;

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
// False when a write or read fails (`error` says why), `onPiece` asks to
// stop, or the archive turns out to be cut short: then `cut` is set,
// whatever was copied.
bool CopyEntryTo(platform::Handle out, const CExtractEntry& entry,
                 const std::function<bool(uint64_t)>& onPiece, bool& cut, platform::Error& error);

// An entry that was not written, or not in full, and why.
struct CEntryProblem {
  std::string name;
  std::string reason;
};

struct CExtractOptions {
  // A file that must never be replaced, under any name: the archive itself.
  std::optional<platform::FileIdentity> protect;
  ProgressFn progress;
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
  // The archive was cut short on disk while its bytes were copied (the
  // problem that stopped the extraction).
  bool archiveChanged = false;
};

// Words for an archive cut short on disk since it was opened.
inline constexpr char kArchiveChangedWords[] = "has changed on disk since it was opened";

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
// The same for an opened entry map, whose names it points into.
std::vector<CExtractEntry> EntriesToExtract(const CEntryMap& entries);

// What WriteFileReplacing may replace.
struct CReplaceOptions {
  // A file that must never be replaced, under any name: the archive itself.
  std::optional<platform::FileIdentity> protect;
  // A symbolic link at the path is replaced by the file (never written
  // through) when set, refused when not. A folder, FIFO, device or socket
  // is always refused.
  bool replaceLink = false;
};
// Writes the new file's bytes, saying why it could not.
using FillFn = std::function<CStatus(platform::Handle file)>;

// Writes a file at `path`, a path the user chose, through `fill`: whole, as
// a file beside it that takes the path only once complete and on the disk,
// with the access (mode, owner and group) of the file it replaces. On
// failure the status says why, mostly in the system's words; the old file
// is then as it was and nothing is left behind.
CStatus WriteFileReplacing(const std::string& path, const FillFn& fill,
                           const CReplaceOptions& options);
// The same for `bytes`, replacing a link there; refuses to replace `protect`,
// and bytes found cut short on disk (IsCutOnDisk) while they were copied.
CStatus WriteFileReplacing(const std::string& path, const CDataBuffer& bytes,
                           const std::optional<platform::FileIdentity>& protect);

// The identity of the file at `path`, links followed; nothing when it
// cannot be opened. What ExtractEntries and WriteFileReplacing protect.
std::optional<platform::FileIdentity> IdentityOfFile(const std::string& path);

// Writes `size` bytes at `data` to the end of `file`, a large piece at a
// time, calling `onPiece` with the bytes written so far after each; stops
// (false) when it returns false or a write fails, which `error` then says.
// Pages of a mapped archive are let go once written, so a long copy does not
// grow the process.
bool WriteBytesTo(platform::Handle file, const uint8_t* data, size_t size,
                  const std::function<bool(uint64_t)>& onPiece, platform::Error& error);

// The folder and last part of a path the user gave: "a/b/c" gives "a/b" and
// "c", "c" gives "." and "c", "/c" gives "/" and "c". On Windows '\' works
// as '/' does and a drive may lead: "C:\x" and "C:/x" give "C:\" (or
// "C:/") and "x", "C:x" gives "C:" and "x".
void SplitUserPath(const std::string& path, std::string& folder, std::string& name);
