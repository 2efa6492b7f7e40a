// The operating-system calls of the storage layer: open an existing file for
// reading with others allowed to read, query its size, read at an absolute
// offset, map the whole file read-only, close handles, and advise memory for
// large pages. A call that can fail gives its reason back with its result,
// so a later call can never change what an earlier one said.
//
// One implementation file per platform (platform_posix.cpp, platform_win32.cpp),
// chosen by the build, so that callers never see descriptors, HANDLEs or #ifdefs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace platform {

// Why a call failed: the system's own number for it (errno; GetLastError(),
// taken inside the call before anything else can change it), or one of this
// layer's own. A default-made Error is no failure. Deliberately not
// convertible to bool, so that it cannot be mistaken for a call's success.
class Error {
 public:
  constexpr Error() = default;
  constexpr explicit Error(int64_t code) : m_code(code), m_failed(true) {}

  bool Failed() const { return m_failed; }
  int64_t Code() const { return m_code; }
  // Words for it, e.g. "No such file or directory".
  std::string Text() const;
  // Whether every later write to the same place would fail the same way:
  // no space left, quota used up, a file system mounted read-only.
  bool IsLasting() const;
  // The system's own failure for memory it would not give.
  static Error OutOfMemory();

 private:
  int64_t m_code = 0;
  bool m_failed = false;
};

// What a call that gives back a value gives: the value, or why there is
// none. A failed result's value is kInvalidHandle, -1 or null, so callers
// that test the value read as before.
template <typename T>
class Result {
 public:
  Result(T value) : m_value(value) {}     // NOLINT: a value is a success
  Result(Error error) : m_error(error) {  // NOLINT: an Error is a failure
    if constexpr (std::is_pointer_v<T>) m_value = nullptr;
    else m_value = static_cast<T>(-1);
  }
  explicit operator bool() const { return !m_error.Failed(); }
  T operator*() const { return m_value; }
  const Error& GetError() const { return m_error; }

 private:
  T m_value;
  Error m_error;
};

// An opaque handle value. 0 and kInvalidHandle are never valid handles.
using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

// The access, disposition and share values the file layer passes on.
inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kOpenExisting = 3;
inline constexpr uint32_t kFileShareRead = 1;

// Opens `path`. Only reading of an existing file is supported; anything that
// is not a regular file (folder, FIFO, device, socket) is refused at once and
// never waited on.
Result<Handle> CreateFile(const std::string& path, uint32_t access, uint32_t disposition,
                          uint32_t share);
void CloseHandle(Handle handle);

// The file's size, or why it cannot be queried.
Result<int64_t> GetFileSize(Handle handle);

// Reads exactly `count` bytes at `offset`; a short read fails.
// The handle keeps no position for it: reads of one handle may run at once.
Error ReadAt(Handle handle, int64_t offset, void* destination, uint32_t count);

// A read-only mapping object for the whole file.
Result<Handle> CreateFileMapping(Handle file);
// Maps `size` bytes of the mapping from offset 0.
Result<const void*> MapView(Handle mapping, uint32_t size);
// Releases a view made by MapView; null is accepted and ignored.
void UnmapView(const void* view, uint32_t size);

// Memory that is about to be filled in full, such as an index being built:
// asks the system to back it with large pages where it can, so that filling
// it costs one page fault per 2 MiB instead of one per 4 KiB. Advice only:
// when it is not taken, nothing else changes.
void AdviseLargePages(void* data, size_t size);
// Memory of our own whose contents will never be read again (what is left
// of an arena once it is done): the system may take its whole pages back
// until they are written anew. Advice only, like the one above.
void ForgetMemory(void* data, size_t size);

// ---- Writing under a folder ----
//
// Files are written under folders the user chose, with names that may come
// from strangers, so folders are opened relative to one another and never
// through a symbolic link, and files are created in an open folder rather
// than through a path string. Folder handles are the same opaque Handle
// values as files; CloseHandle closes both.

// What stands at a name in a folder, looked at without following a link.
enum class NodeKind { Missing, File, Folder, Link, Other };

// What tells one file from another on the same machine, whatever its name.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t file = 0;
  bool operator==(const FileIdentity&) const = default;
};

struct NodeInfo {
  NodeKind kind = NodeKind::Missing;
  FileIdentity identity;
  uint64_t size = 0;
  // Who may use it: the permission bits, owner and group on POSIX systems;
  // zero on Windows, where a file takes its access from its folder.
  uint32_t mode = 0;
  uint32_t owner = 0;
  uint32_t group = 0;
  // When its bytes were last written, and when anything about it last
  // changed (nanoseconds, the system's own epoch). The second cannot be set
  // back by a program, so a file rewritten with its times restored still
  // shows it.
  int64_t modified = 0;
  int64_t changed = 0;
};

// Opens the folder at `path`, which the user named (so links in it are
// followed), creating it and its missing parents when `create` is set.
Result<Handle> OpenFolder(const std::string& path, bool create);
// Opens the folder `name` inside `folder` without following a link, and
// creates it first when it is missing and `create` is set. A link there
// fails with the words "symbolic link in the way", a file with
// "file in the way".
Result<Handle> OpenFolderAt(Handle folder, const std::string& name, bool create);
// Fills `info` for `name` in `folder` (kind Missing when nothing is there).
// Fails when it cannot be looked at.
Error InspectAt(Handle folder, const std::string& name, NodeInfo& info);
// What an open file or folder is, with its identity and size.
Error InspectFile(Handle file, NodeInfo& info);
// Every name in `folder` but "." and "..", in no particular order, with what
// stands there; links are reported, not followed.
struct FolderItem {
  std::string name;
  NodeInfo info;
};
Error ListFolder(Handle folder, std::vector<FolderItem>& items);

// Opens the regular file `name` in `folder` for reading; a link, FIFO,
// device or socket is refused without being opened or waited on. Fills
// `info`, when given, for the file opened.
Result<Handle> OpenFileAt(Handle folder, const std::string& name, NodeInfo* info = nullptr);
// Whether this process may read the file `name` in `folder`, without
// opening it. A link there is not followed (and not readable).
Error CanReadAt(Handle folder, const std::string& name);
// Creates `name` in `folder` for writing; fails when anything is there,
// a link included.
Result<Handle> CreateFileAt(Handle folder, const std::string& name);
// Creates a new file in `folder` under an unused name that starts with
// `prefix`, and says which in `name`.
Result<Handle> CreateTempFileAt(Handle folder, const std::string& prefix, std::string& name);
// Writes all of `size` bytes at the file's current end. The bytes may be a
// mapped view of a file that another program has cut short: they are then
// written as the view reads them (zeros), never failed over.
Error WriteAll(Handle file, const void* data, size_t size);
// Copies up to `size` bytes of `from`, starting at `offset`, to the current
// end of `to`: the number copied, short when `from` ends first.
Result<int64_t> CopyRange(Handle from, int64_t offset, Handle to, int64_t size);
// Gives `file`, new and about to replace the file `old` describes, that
// file's permission bits, and its owner and group as far as this process may
// set them: a replaced file never becomes readable to more people than
// before. Nothing to do on Windows.
Error TakeAccessOf(Handle file, const NodeInfo& old);
// Creates a file in `folder` that has no name yet (O_TMPFILE on Linux), so
// that a process killed while writing it leaves nothing behind under any
// name. Fails where the system or the file system has no such files;
// callers then write under a name as before.
Result<Handle> CreateUnnamedFileAt(Handle folder);
// Gives a file made by CreateUnnamedFileAt the name `name` in `folder`;
// fails when anything stands there.
Error LinkUnnamedAt(Handle folder, Handle file, const std::string& name);
// The same under an unused name that starts with `prefix`, said in `name`.
Error LinkUnnamedAsTempAt(Handle folder, Handle file, const std::string& prefix, std::string& name);
// Flushes a file's or a folder's contents to the disk.
Error SyncFile(Handle file);
// Renames `from` to `to` within `folder`, replacing what stands at `to`.
Error RenameAt(Handle folder, const std::string& from, const std::string& to);
// Removes the file `name` from `folder`.
Error RemoveAt(Handle folder, const std::string& name);

// While set, the file `name` in `folder` is removed when the process is
// interrupted (a signal that would end it); one file at a time in each
// lane, each lane used by one thread at a time. Clear with an invalid
// folder. Exceeding the file-size limit is made an ordinary write failure
// rather than an end of the process, for the same reason.
inline constexpr int kInterruptLanes = 2;
void RemoveOnInterrupt(Handle folder, const std::string& name, int lane = 0);

// Lets the system take back the pages of a read-only view that have been
// read; they are read again from the file if touched later. Keeps a long
// copy out of a mapping from growing the process's memory.
void ForgetPages(const void* data, size_t size);

// Bytes of a view made by MapView that are about to be read all through:
// asks the system to map them now, in one call, rather than at a page
// fault each while they are read. Advice only: when it is not taken, the
// bytes read as before.
void AdviseReadingAll(const void* data, size_t size);

// Whether any of the `size` bytes at `data`, in a view made by MapView, read
// as zeros the file never held: the file was cut short under the view and
// the pages past its new end were replaced. False for any other memory.
bool WasCut(const void* data, size_t size);

// Puts the calling thread behind the others of the process for the work it
// does beside a window: when both want a core, the window's thread gets it,
// and the work still has every idle core. Threads it starts afterwards are
// behind too where the system lets them inherit it (Linux). Once lowered, a
// thread is not raised again: call it only on a thread of the work's own.
void PutThreadBehind();

}  // namespace platform
