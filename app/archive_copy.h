// Save As for an archive document: a byte-identical copy of the opened
// archive, written to a file the user chose.
//
// The copy is read from the archive's path, read-only, when it is asked
// for. The document does not keep the archive's whole bytes (only slices of
// them), so the file is checked against what was opened first: a file that
// has been replaced or changed since is not copied, since the copy would not
// be of the archive the window shows.
//
// The destination is written through a temporary file that replaces it only
// once complete, so a failed copy leaves it as it was. A destination that is
// the archive itself, under any name, is refused: nothing here ever writes
// to, truncates or replaces the opened archive.
#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>
#include <optional>

#include "storage/status.h"

struct CArchiveStamp {
  QString path;  // absolute
  uintmax_t size;
  std::filesystem::file_time_type modified;

  bool operator==(const CArchiveStamp&) const = default;
};

// What identifies the regular file at `path` now; nothing when there is none.
std::optional<CArchiveStamp> StampArchive(const QString& path);

// Copies the archive `source` stamps to `destination`. Ok, or why not with
// the file it is about: SameFile (the destination is the archive),
// SourceChanged (the archive is gone, replaced or changed since the stamp),
// or a failure to read or write, which leaves the destination untouched.
CStatus CopyArchive(const CArchiveStamp& source, const QString& destination);
