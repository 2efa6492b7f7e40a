// The operating-system calls of the storage layer: open an existing file for
// reading with others allowed to read, query its size, read at an absolute
// offset, map the whole file read-only, close handles, turn the last error
// into words, and advise memory for large pages.
//
// One implementation file per platform (platform_posix.cpp here), chosen by
// the build, so that callers never see descriptors, HANDLEs or #ifdefs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// An opaque handle value. 0 and kInvalidHandle are never valid handles.
using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

// The access, disposition and share values the file layer passes on.
inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kOpenExisting = 3;
inline constexpr uint32_t kFileShareRead = 1;

// Opens `path`. Only reading of an existing file is supported; anything that
// is not a regular file (folder, FIFO, device, socket) is refused at once and
// never waited on. On failure returns kInvalidHandle and sets the error that
// LastErrorText() describes.
Handle CreateFile(const std::string& path, uint32_t access, uint32_t disposition,
                  uint32_t share);
void CloseHandle(Handle handle);

// The file's size, or -1 when it cannot be queried.
int64_t GetFileSize(Handle handle);

// Reads exactly `count` bytes at `offset`. False on any failure or short read.
bool ReadAt(Handle handle, int64_t offset, void* destination, uint32_t count);

// A read-only mapping object for the whole file, or kInvalidHandle.
Handle CreateFileMapping(Handle file);
// Maps `size` bytes of the mapping from offset 0, or returns null.
const void* MapView(Handle mapping, uint32_t size);
// Releases a view made by MapView; null is accepted and ignored.
void UnmapView(const void* view, uint32_t size);

// Words for the error of the last failed call, e.g. "No such file or directory".
std::string LastErrorText();

// Memory that is about to be filled in full, such as an index being built:
// asks the system to back it with large pages where it can, so that filling
// it costs one page fault per 2 MiB instead of one per 4 KiB. Advice only:
// when it is not taken, nothing else changes.
void AdviseLargePages(void* data, size_t size);

}  // namespace platform
