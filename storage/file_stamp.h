// Whether a file is still as it was: the one answer to "unchanged on
// disk" for the archive being shown, a copy of it, and the file a writer
// must not replace.
//
// A stamp is what the system says of a regular file (identity, size and
// times); two equal stamps mean the same bytes as far as the system can
// tell. The change time is the one that no program can put back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "storage/data_buffer.h"
#include "storage/disk_file.h"
#include "storage/platform.h"

struct CFileStamp {
  platform::FileIdentity identity;
  uint64_t size = 0;
  int64_t modified = 0;
  int64_t changed = 0;
  bool operator==(const CFileStamp&) const = default;
};
// The stamp of the regular file at `path`, links followed (or of an open
// file); nothing when there is none or it cannot be looked at.
std::optional<CFileStamp> StampOfFile(const std::string& path);
std::optional<CFileStamp> StampOfFile(platform::Handle file);

// Whether `now` is the stamped file's bytes as they were: the same file,
// size and time of writing. The change time counts only when `now` is of
// the file just opened by its name (`named`): one held open since the stamp
// may have lost its name, which moves the change time, not the bytes.
bool SameBytes(const CFileStamp& stamp, const std::optional<CFileStamp>& now, bool named);

// A file held open since it was read, and its stamp from before the read,
// kept only when the read left it so: whether another program has written
// to it since, so that bytes read from it may be half the old file's and
// half the new one's.
struct CHeldFile {
  CHandleHolder file;
  std::optional<CFileStamp> stamp;
  bool stampable = false;  // the system gave a stamp at all
  // Stamps `file` before its read; Read() after.
  static CHeldFile Before(CHandleHolder file);
  void Read();
  // As far as the system can tell (size, time of writing). Always true for
  // a file that changed while it was read; false for one the system gives
  // no stamp for. Held since the read, it may have lost its name, which
  // moves only the time of the last change.
  bool Changed() const;
};

// Whether a file opened at `size` bytes has been cut short since: asked of
// its mapped bytes when it was mapped, else of the open `file` itself.
bool WasCutSince(const CDataBuffer& mapped, platform::Handle file, int64_t size);
