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

// Whether a file opened at `size` bytes has been cut short since: asked of
// its mapped bytes when it was mapped, else of the open `file` itself.
bool WasCutSince(const CDataBuffer& mapped, platform::Handle file, int64_t size);
