// Save As for an archive document without changes: a byte-identical copy of
// the opened archive, written to a file the user chose.
//
// The copy is read through the handle the document has held since the
// open, so it is the opened file's bytes even when another file has taken
// its path since. A file rewritten in place since the open (its stamp
// differs while its identity is the same) is not copied: the copy would not
// be of the archive the window shows.
//
// The destination is written through a temporary file that replaces it only
// once complete, so a failed copy leaves it as it was. A destination that is
// the archive itself, under any name, is refused: nothing here ever writes
// to, truncates or replaces the opened archive.
#pragma once

#include <QString>

#include <optional>

#include "archive/shown_archive.h"
#include "storage/disk_file.h"
#include "storage/status.h"

struct CArchiveStamp {
  QString path;  // absolute
  CFileStamp file;

  bool operator==(const CArchiveStamp&) const = default;
};

// What identifies the regular file at `path` now; nothing when there is none.
std::optional<CArchiveStamp> StampArchive(const QString& path);

// Copies the archive `source` stamps to `destination`, reading it through
// `held` (the opened file) when given, else from its path. Ok, or why not
// with the file it is about: SameFile (the destination is the archive),
// SourceChanged (the archive changed since the stamp: rewritten, or without
// `held` replaced or gone), or a failure to read or write, which leaves the
// destination untouched.
CStatus CopyArchive(const CArchiveStamp& source, const QString& destination,
                    const CHandleHolder& held = {});
