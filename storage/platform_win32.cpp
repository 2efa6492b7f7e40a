// Win32 implementation of the platform calls, function by function beside
// platform_posix.cpp.
//
// There is no counterpart here to the POSIX side's SIGBUS guard. Files are
// opened to read with others allowed to read, rename and remove them, never
// to write: while this process holds the handle (and every mapped view holds
// a share of it) Windows refuses any other open for writing with a sharing
// violation, so nobody can cut a mapped archive short underneath us, and a
// Save can still put a new archive in the opened one's place.
#include "storage/platform.h"
#include "storage/temp_name.h"

#include <windows.h>
// The ANSI/wide switches would rename the functions this file defines.
#undef CreateFile
#undef CreateFileMapping

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <iterator>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "storage/code_page.h"

namespace platform {
namespace {

// Our own error values, beside the system's: bit 29 marks a code as the
// application's, so none of them can be mistaken for a system error.
constexpr DWORD kNotRegularFile = 0x20000001;
constexpr DWORD kLinkInTheWay = 0x20000002;
constexpr DWORD kFileInTheWay = 0x20000003;

// Callers pass ::GetLastError() straight from the failed call, before
// anything else can change it.
Error Fail(DWORD error) { return Error(error); }

// Where temporary names start: the clock and the process, so processes
// started at the same moment draw different names.
uint64_t TempSeed() { return ::GetTickCount64() ^ (uint64_t{::GetCurrentProcessId()} << 32); }

HANDLE ToHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

bool IsValidHandle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// Windows has no openat: an open folder is this record, which keeps the
// folder's full path for building the paths below it, and a handle that
// pins it. The handle is opened without FILE_SHARE_DELETE, so while it is
// open nobody can rename or remove the folder or put a junction in its
// place, and the path keeps naming the folder that was opened.
struct FolderRecord {
  HANDLE handle;
  std::wstring path;
};
// Kernel handles are multiples of four and records are aligned, so the low
// bit tells a record from a HANDLE (kInvalidHandle, -1, is neither).
bool IsFolderRecord(Handle handle) { return handle > 0 && (handle & 1) != 0; }
FolderRecord* ToFolder(Handle handle) {
  return reinterpret_cast<FolderRecord*>(handle & ~Handle{1});
}
Handle FromFolder(FolderRecord* folder) { return reinterpret_cast<Handle>(folder) | 1; }
// The system handle of a file or of a folder record.
HANDLE SystemHandle(Handle handle) {
  return IsFolderRecord(handle) ? ToFolder(handle)->handle : reinterpret_cast<HANDLE>(handle);
}

// Owns one HANDLE so that every early return closes it.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle) : m_handle(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() {
    if (IsValidHandle(m_handle)) ::CloseHandle(m_handle);
  }
  bool IsValid() const { return IsValidHandle(m_handle); }
  HANDLE Get() const { return m_handle; }
  // Hands the handle over to the caller, who closes it from now on.
  Handle Release() {
    const HANDLE handle = m_handle;
    m_handle = INVALID_HANDLE_VALUE;
    return reinterpret_cast<Handle>(handle);
  }

 private:
  HANDLE m_handle;
};

// The system's words for `error`, without the line break and full stop that
// end them, so they read like strerror's inside "tarn: PATH: REASON".
std::string ErrorText(DWORD error) {
  if (error == ERROR_SUCCESS) return "unexpected end of file";
  if (error == kNotRegularFile) return "not a regular file";
  if (error == kLinkInTheWay) return "symbolic link in the way";
  if (error == kFileInTheWay) return "file in the way";
  char text[512];
  DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, sizeof text, nullptr);
  if (length == 0) {
    length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                              error, 0, text, sizeof text, nullptr);
  }
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    --length;
  }
  if (length == 0) return "system error " + std::to_string(error);
  return std::string(text, length);
}

// Whether `path` names a device itself (CON, NUL, COM1, "\\.\PhysicalDrive0"):
// the system gives those a full path in its device namespace, "\\.\NAME",
// with nothing below the device. Asked before opening, because opening a
// port or a printer can already disturb it, and a console may not open at
// all in a process that has none ("Invalid handle" would say nothing useful).
bool IsDeviceName(const std::string& path) {
  char full[MAX_PATH];
  const DWORD length = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (length < 5 || length >= sizeof full) return false;
  const std::string_view name(full, length);
  return name.substr(0, 4) == "\\\\.\\" && name.find('\\', 4) == std::string_view::npos;
}

}  // namespace

Result<Handle> CreateFile(const std::string& path, uint32_t access, uint32_t disposition,
                          uint32_t share) {
  if (access != kGenericRead || disposition != kOpenExisting) return Fail(ERROR_INVALID_PARAMETER);
  // CreateFileA would stop at a zero byte and open a different, shorter name.
  if (path.find('\0') != std::string::npos) return Fail(ERROR_INVALID_NAME);
  if (IsDeviceName(path)) return Fail(kNotRegularFile);
  // Leave to rename or remove the file: what the user saves over the file a
  // window shows takes its name while the window still reads the old one.
  ScopedHandle file(::CreateFileA(path.c_str(), access, share | FILE_SHARE_DELETE, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    const DWORD error = ::GetLastError();
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened at all and
    // the system says "Access is denied", which would send someone looking
    // at permissions: say what it is instead.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      return Fail(kNotRegularFile);
    return Fail(error);
  }
  // Consoles (CON), NUL, pipes and serial ports are character or pipe
  // handles; only a file on a disk can be sized and mapped.
  if (::GetFileType(file.Get()) != FILE_TYPE_DISK) return Fail(kNotRegularFile);
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(file.Get(), &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return Fail(kNotRegularFile);
  }
  return file.Release();
}

void CloseHandle(Handle handle) {
  if (IsFolderRecord(handle)) {
    const FolderRecord* folder = ToFolder(handle);
    ::CloseHandle(folder->handle);
    delete folder;
    return;
  }
  if (IsValidHandle(ToHandle(handle))) ::CloseHandle(ToHandle(handle));
}

Result<int64_t> GetFileSize(Handle handle) {
  // The high word is asked for only to keep a file of 4 GiB or more from
  // passing for its low word: a file of 4 GiB + 16 bytes is not 16 bytes.
  DWORD high = 0;
  ::SetLastError(NO_ERROR);
  const DWORD low = ::GetFileSize(ToHandle(handle), &high);
  if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return Fail(::GetLastError());
  return static_cast<int64_t>((uint64_t{high} << 32) | low);
}

Error ReadAt(Handle handle, int64_t offset, void* destination, uint32_t count) {
  // No high part is passed: the file layer refuses files of 2 GiB or more,
  // so every offset it asks for fits in the low 31 bits, and -1 can then
  // only mean failure.
  if (!IsValidHandle(ToHandle(handle)) || offset < 0 || offset > INT32_MAX)
    return Fail(ERROR_INVALID_PARAMETER);
  // The offset goes with each read, as pread's does, rather than through
  // the handle's file pointer: two threads may read one handle at once.
  auto* out = static_cast<char*>(destination);
  while (count > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    DWORD got = 0;
    if (!::ReadFile(ToHandle(handle), out, count, &got, &at)) {
      const DWORD error = ::GetLastError();
      return Fail(error == ERROR_HANDLE_EOF ? ERROR_SUCCESS : error);
    }
    if (got == 0) return Fail(ERROR_SUCCESS);  // end of file before `count` bytes
    out += got;
    offset += got;
    count -= got;
  }
  return {};
}

Result<Handle> CreateFileMapping(Handle file) {
  if (!IsValidHandle(ToHandle(file))) return Fail(ERROR_INVALID_HANDLE);
  ScopedHandle mapping(::CreateFileMappingA(ToHandle(file), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.IsValid()) return Fail(::GetLastError());
  return mapping.Release();
}

Result<const void*> MapView(Handle mapping, uint32_t size) {
  if (!IsValidHandle(ToHandle(mapping)) || size == 0) return Fail(ERROR_INVALID_PARAMETER);
  const void* view = ::MapViewOfFile(ToHandle(mapping), FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) return Fail(::GetLastError());
  return view;
}

void UnmapView(const void* view, uint32_t /*size: the system knows the view's extent*/) {
  if (view != nullptr) ::UnmapViewOfFile(view);
}

std::string Error::Text() const { return ErrorText(static_cast<DWORD>(m_code)); }

Error Error::OutOfMemory() { return Error(ERROR_NOT_ENOUGH_MEMORY); }

bool Error::IsLasting() const {
  return m_code == ERROR_DISK_FULL || m_code == ERROR_HANDLE_DISK_FULL ||
         m_code == ERROR_NOT_ENOUGH_QUOTA || m_code == ERROR_WRITE_PROTECT;
}

void AdviseLargePages(void* /*data*/, size_t /*size*/) {
  // Windows gives large pages only to memory allocated with MEM_LARGE_PAGES
  // by a process holding the lock-pages privilege; memory that already
  // exists cannot be advised. Nothing to do.
}

void ForgetMemory(void* /*data*/, size_t /*size*/) {
  // The arena comes from the C runtime's heap, where taking pages back
  // (MEM_RESET, DiscardVirtualMemory) is not for memory the heap manages.
  // The memory stays until it is freed.
}

// ---- writing under a folder ----

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring Wide(std::string_view bytes) {
  const std::u16string text = Windows1252ToUtf16(bytes);
  return std::wstring(text.begin(), text.end());
}

// A name handed to an *at call must be one name, never a path: a separator
// would walk further, a colon would name a stream, and an empty name or a
// zero byte would name something else.
bool IsOneName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\:\0", 4)) == std::string::npos;
}

std::wstring Below(Handle folder, const std::string& name) {
  return ToFolder(folder)->path + L"\\" + Wide(name);
}

void Describe(const BY_HANDLE_FILE_INFORMATION& data, DWORD type, NodeInfo& info) {
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    info.kind = NodeKind::Link;
  } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    info.kind = NodeKind::Folder;
  } else {
    info.kind = type == FILE_TYPE_DISK ? NodeKind::File : NodeKind::Other;
  }
  info.identity = {data.dwVolumeSerialNumber,
                   (uint64_t{data.nFileIndexHigh} << 32) | data.nFileIndexLow};
  info.size =
      info.kind == NodeKind::File ? (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow : 0;
  // 100-nanosecond steps.
  info.modified = static_cast<int64_t>(
      ((uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime) *
      100);
  info.changed = info.modified;
}

Error DescribeHandle(HANDLE handle, NodeInfo& info) {
  BY_HANDLE_FILE_INFORMATION data{};
  if (!::GetFileInformationByHandle(handle, &data)) return Fail(::GetLastError());
  Describe(data, ::GetFileType(handle), info);
  // The change time, which no program can set back, where the system keeps one.
  FILE_BASIC_INFO basic{};
  if (::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic))
    info.changed = basic.ChangeTime.QuadPart * 100;
  return {};
}

// Looks at `path` itself, never through a junction or a symbolic link.
// Fails only when it cannot be looked at; Missing when nothing is there.
Error InspectPath(const std::wstring& path, NodeInfo& info) {
  info = NodeInfo{};
  ScopedHandle node(
      ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!node.IsValid()) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
    // Something is there that cannot be opened even for its attributes
    // (held open by another program without sharing): its attributes still
    // say what it is.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Fail(error);
    info.kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? NodeKind::Link
                : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? NodeKind::Folder
                                                            : NodeKind::File;
    return {};
  }
  return DescribeHandle(node.Get(), info);
}

// After an open failed: when something other than what was asked for stands
// at the path, say what it is rather than the system's words.
Error FailInTheWay(const std::wstring& path, DWORD error, bool wantedFolder) {
  NodeInfo there;
  if (!InspectPath(path, there).Failed()) {
    if (there.kind == NodeKind::Link) return Fail(kLinkInTheWay);
    if (wantedFolder && there.kind == NodeKind::File) return Fail(kFileInTheWay);
    if (there.kind == NodeKind::Other) return Fail(kNotRegularFile);
  }
  return Fail(error);
}

// Opens the folder at `path` as a record. With `noFollow`, a junction or a
// symbolic link there is refused instead of followed.
Result<Handle> OpenFolderPath(const std::wstring& path, bool noFollow) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS;
  if (noFollow) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  ScopedHandle folder(
      ::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr));
  if (!folder.IsValid()) return FailInTheWay(path, ::GetLastError(), true);
  NodeInfo info;
  if (const Error error = DescribeHandle(folder.Get(), info); error.Failed()) return error;
  if (info.kind == NodeKind::Link) return Fail(kLinkInTheWay);
  if (info.kind != NodeKind::Folder) return Fail(kFileInTheWay);
  auto* record = new FolderRecord{nullptr, path};
  record->handle = reinterpret_cast<HANDLE>(folder.Release());
  return FromFolder(record);
}

// Makes the folder `path` and every missing one above it.
Error MakeFolders(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return {};  // opening it says whether it is a folder
  const size_t cut = path.find_last_of(L"\\/");
  // Stops at the root of a drive or a share, which cannot be made.
  if (cut != std::wstring::npos && cut > 0 && path[cut - 1] != L':' && path[cut - 1] != L'\\') {
    if (const Error error = MakeFolders(path.substr(0, cut)); error.Failed()) return error;
  }
  if (!::CreateDirectoryW(path.c_str(), nullptr)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS) return Fail(error);
  }
  return {};
}

// The file, if any, to remove when the console is interrupted, one for each
// lane (thread) that writes files. Two slots a lane: a new path goes into
// the one the handler is not reading, and then one store makes it the one
// to read, so the handler (which Windows runs on a thread of its own) never
// sees half a path.
wchar_t g_interruptPaths[kInterruptLanes][2][32768];
std::atomic<int> g_interruptSlot[kInterruptLanes] = {-1, -1};

BOOL WINAPI OnInterrupt(DWORD /*event*/) {
  // The file is open for writing with FILE_SHARE_DELETE: it goes once the
  // process, ending now, closes it.
  for (int lane = 0; lane < kInterruptLanes; ++lane) {
    const int slot = g_interruptSlot[lane].load();
    if (slot >= 0) ::DeleteFileW(g_interruptPaths[lane][slot]);
  }
  return FALSE;  // then the process ends as it would have
}

}  // namespace

Result<Handle> OpenFolder(const std::string& path, bool create) {
  if (path.empty() || path.find('\0') != std::string::npos) return Fail(ERROR_INVALID_NAME);
  const std::wstring given = Wide(path);
  // On the heap: 64 KiB on the stack would not fit a small one.
  std::wstring folder(32768, L'\0');
  const DWORD length = ::GetFullPathNameW(given.c_str(), 32768, folder.data(), nullptr);
  if (length == 0 || length >= 32768)
    return Fail(length == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE);
  folder.resize(length);
  // The record's path gets names appended with one '\'.
  while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  if (create) {
    if (const Error error = MakeFolders(folder); error.Failed()) return error;
  }
  // A drive's root opens as "C:\"; names below it are appended to "C:".
  const bool driveRoot = folder.size() == 3 && folder[1] == L':';
  const Result<Handle> opened = OpenFolderPath(folder, false);
  if (opened && driveRoot) ToFolder(*opened)->path.pop_back();
  return opened;
}

Result<Handle> OpenFolderAt(Handle folder, const std::string& name, bool create) {
  if (!IsFolderRecord(folder) || !IsOneName(name)) return Fail(ERROR_INVALID_NAME);
  const std::wstring path = Below(folder, name);
  if (create && !::CreateDirectoryW(path.c_str(), nullptr)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS) return FailInTheWay(path, error, true);
  }
  return OpenFolderPath(path, true);
}

Error InspectAt(Handle folder, const std::string& name, NodeInfo& info) {
  if (!IsFolderRecord(folder) || !IsOneName(name)) return Fail(ERROR_INVALID_NAME);
  return InspectPath(Below(folder, name), info);
}

Error InspectFile(Handle file, NodeInfo& info) { return DescribeHandle(SystemHandle(file), info); }

Error ListFolder(Handle folder, std::vector<FolderItem>& items) {
  if (!IsFolderRecord(folder)) return Fail(ERROR_INVALID_HANDLE);
  items.clear();
  WIN32_FIND_DATAW found{};
  const HANDLE listing = ::FindFirstFileW((ToFolder(folder)->path + L"\\*").c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? Error() : Fail(error);
  }
  Error failure;
  do {
    const std::u16string wide(found.cFileName, found.cFileName + std::wcslen(found.cFileName));
    if (wide == u"." || wide == u"..") continue;
    FolderItem item;
    if (!Utf16ToWindows1252(wide, item.name)) {
      // A name with characters the entry names cannot hold: it is listed
      // under a name that cannot be opened ('?' is never a file name
      // character), so whoever walks the folder reports it rather than
      // silently leaving it out.
      item.name.clear();
      for (const char16_t c : wide) {
        std::string one;
        item.name += Utf16ToWindows1252(std::u16string_view(&c, 1), one) ? one : std::string("?");
      }
      item.info.kind = NodeKind::Other;
      items.push_back(std::move(item));
      continue;
    }
    NodeInfo info;
    failure = InspectPath(ToFolder(folder)->path + L"\\" + std::wstring(found.cFileName), info);
    if (failure.Failed()) break;
    if (info.kind == NodeKind::Missing) continue;  // gone since it was listed
    item.info = info;
    items.push_back(std::move(item));
  } while (::FindNextFileW(listing, &found));
  if (!failure.Failed()) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES) failure = Fail(error);
  }
  ::FindClose(listing);
  return failure;
}

Result<Handle> OpenFileAt(Handle folder, const std::string& name, NodeInfo* info) {
  if (!IsFolderRecord(folder) || !IsOneName(name)) return Fail(ERROR_INVALID_NAME);
  const std::wstring path = Below(folder, name);
  // Read-only sharing, as for archives opened to read: nobody can change
  // the file while it is copied.
  ScopedHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.IsValid()) return FailInTheWay(path, ::GetLastError(), false);
  NodeInfo opened;
  if (const Error error = DescribeHandle(file.Get(), opened); error.Failed()) return error;
  if (opened.kind == NodeKind::Link) return Fail(kLinkInTheWay);
  if (opened.kind != NodeKind::File) return Fail(kNotRegularFile);
  if (info != nullptr) *info = opened;
  return file.Release();
}

Error CanReadAt(Handle folder, const std::string& name) {
  if (!IsFolderRecord(folder) || !IsOneName(name)) return Fail(ERROR_INVALID_NAME);
  // Windows has no access() that weighs a file's access list the way an
  // open would; opening a regular file for reading and closing it again
  // has no effect on it, and anything else is turned away before opening.
  const std::wstring path = Below(folder, name);
  NodeInfo there;
  if (const Error error = InspectPath(path, there); error.Failed()) return error;
  if (there.kind == NodeKind::Link) return Fail(kLinkInTheWay);
  if (there.kind != NodeKind::File)
    return Fail(there.kind == NodeKind::Missing ? ERROR_FILE_NOT_FOUND : kNotRegularFile);
  ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.IsValid()) return Fail(::GetLastError());
  return {};
}

Result<Handle> CreateFileAt(Handle folder, const std::string& name) {
  if (!IsFolderRecord(folder) || !IsOneName(name)) return Fail(ERROR_INVALID_NAME);
  const std::wstring path = Below(folder, name);
  // CREATE_NEW fails on anything that stands there, a link included, so
  // nothing planted at the name is ever written through. FILE_SHARE_DELETE
  // lets the file be renamed into place or removed while still open.
  ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.IsValid()) return FailInTheWay(path, ::GetLastError(), false);
  return file.Release();
}

Result<Handle> CreateTempFileAt(Handle folder, const std::string& prefix, std::string& name) {
  Result<Handle> file = Fail(ERROR_FILE_EXISTS);
  const bool done = DrawTempNames(prefix, TempSeed(), [&](std::string candidate) {
    file = CreateFileAt(folder, candidate);
    if (file) name = std::move(candidate);
    const int64_t error = file.GetError().Code();
    return file || (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS &&
                    error != kLinkInTheWay && error != kFileInTheWay &&
                    error != ERROR_ACCESS_DENIED);
  });
  return done ? file : Fail(ERROR_FILE_EXISTS);
}

Error WriteAll(Handle file, const void* data, size_t size) {
  // A mapped view here cannot be cut short underneath: files are mapped
  // only through handles that refuse other writers (see the top of the file).
  const auto* from = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD step = static_cast<DWORD>(std::min<size_t>(size, DWORD{1} << 30));
    DWORD put = 0;
    if (!::WriteFile(SystemHandle(file), from, step, &put, nullptr)) return Fail(::GetLastError());
    if (put == 0) return Fail(ERROR_DISK_FULL);
    from += put;
    size -= put;
  }
  return {};
}

Result<int64_t> CopyRange(Handle from, int64_t offset, Handle to, int64_t size) {
  if (offset < 0 || size < 0) return Fail(ERROR_INVALID_PARAMETER);
  constexpr DWORD kChunk = DWORD{1} << 20;
  const std::unique_ptr<char[]> buffer(new char[kChunk]);
  int64_t copied = 0;
  while (copied < size) {
    const auto want = static_cast<DWORD>(std::min<int64_t>(size - copied, kChunk));
    // Each read names its offset, as ReadAt's do: another thread reading
    // the same archive (a search beside an extraction) moves the handle's
    // file pointer between two reads.
    OVERLAPPED at{};
    const auto where = static_cast<uint64_t>(offset + copied);
    at.Offset = static_cast<DWORD>(where);
    at.OffsetHigh = static_cast<DWORD>(where >> 32);
    DWORD got = 0;
    if (!::ReadFile(SystemHandle(from), buffer.get(), want, &got, &at)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_HANDLE_EOF) break;
      return Fail(error);
    }
    if (got == 0) break;  // end of `from`
    if (const Error error = WriteAll(to, buffer.get(), got); error.Failed()) return error;
    copied += got;
  }
  return copied;
}

// A new file takes its access from the folder it is made in, as the file
// it replaces did.
Error TakeAccessOf(Handle /*file*/, const NodeInfo& /*old*/) { return {}; }

Result<Handle> CreateUnnamedFileAt(Handle /*folder*/) { return Fail(ERROR_NOT_SUPPORTED); }
Error LinkUnnamedAt(Handle /*folder*/, Handle /*file*/, const std::string& /*name*/) {
  return Fail(ERROR_NOT_SUPPORTED);
}
Error LinkUnnamedAsTempAt(Handle /*folder*/, Handle /*file*/, const std::string& /*prefix*/,
                          std::string& /*name*/) {
  return Fail(ERROR_NOT_SUPPORTED);
}

Error SyncFile(Handle file) {
  // A folder cannot be flushed on Windows (FlushFileBuffers wants a handle
  // open for writing, which a folder never is); the file system journals
  // the folder's changes, a rename included, by itself.
  if (IsFolderRecord(file)) return {};
  if (!::FlushFileBuffers(SystemHandle(file))) return Fail(::GetLastError());
  return {};
}

namespace {

// The rename of Windows 10 1709 and later on NTFS with POSIX semantics: the
// file replaced may be open (the archive a window shows, mapped), and whoever
// holds it goes on reading the old file. Not every mingw-w64 header declares
// it, so its class number and flags are spelled out here.
constexpr int kFileRenameInfoEx = 22;
constexpr DWORD kRenameReplaceIfExists = 0x1;
constexpr DWORD kRenamePosixSemantics = 0x2;

struct RenameInfoEx {
  DWORD flags;
  HANDLE root;
  DWORD nameLength;  // in bytes, without a terminating zero
  WCHAR name[1];
};

// ERROR_SUCCESS, or why `from` did not take the name `to` (full paths).
DWORD RenameReplacingOpen(const std::wstring& from, const std::wstring& to) {
  ScopedHandle file(::CreateFileW(from.c_str(), DELETE | SYNCHRONIZE, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.IsValid()) return ::GetLastError();
  const size_t bytes = to.size() * sizeof(wchar_t);
  std::vector<char> buffer(offsetof(RenameInfoEx, name) + bytes + sizeof(wchar_t), 0);
  auto* info = reinterpret_cast<RenameInfoEx*>(buffer.data());
  info->flags = kRenameReplaceIfExists | kRenamePosixSemantics;
  info->root = nullptr;
  info->nameLength = static_cast<DWORD>(bytes);
  std::memcpy(info->name, to.data(), bytes);
  if (!::SetFileInformationByHandle(file.Get(),
                                    static_cast<FILE_INFO_BY_HANDLE_CLASS>(kFileRenameInfoEx), info,
                                    static_cast<DWORD>(buffer.size())))
    return ::GetLastError();
  return ERROR_SUCCESS;
}

DWORD MoveReplacing(const std::wstring& from, const std::wstring& to) {
  return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? ERROR_SUCCESS
             : ::GetLastError();
}

// Where neither rename may replace a file that is open or mapped (an older
// system, another file system): the old file, which every holder opened
// with leave to rename it, is moved aside to a name of its own first, the
// new one takes the name, and the old one is removed once nobody holds it.
// Holders keep reading the old file under its new name meanwhile.
DWORD ReplaceBySteppingAside(Handle folder, const std::string& from, const std::string& to) {
  std::wstring aside;
  DWORD error = ERROR_FILE_EXISTS;
  DrawTempNames("." + to.substr(0, 200) + ".old", TempSeed(), [&](const std::string& candidate) {
    aside = Below(folder, candidate);
    error = ::MoveFileExW(Below(folder, to).c_str(), aside.c_str(), 0) ? ERROR_SUCCESS
                                                                       : ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS) error = ERROR_FILE_EXISTS;
    return error != ERROR_FILE_EXISTS;
  });
  if (error != ERROR_SUCCESS) return error;
  error = MoveReplacing(Below(folder, from), Below(folder, to));
  if (error != ERROR_SUCCESS) {
    ::MoveFileExW(aside.c_str(), Below(folder, to).c_str(), 0);  // as it was
    return error;
  }
  // Removed now when nobody holds it; else marked to go with the last
  // handle, which the views hold until they are released.
  if (!::DeleteFileW(aside.c_str())) {
    const ScopedHandle marked(
        ::CreateFileW(aside.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                      FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  }
  return ERROR_SUCCESS;
}

bool HeldByAnother(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_USER_MAPPED_FILE;
}

}  // namespace

Error RenameAt(Handle folder, const std::string& from, const std::string& to) {
  if (!IsFolderRecord(folder) || !IsOneName(from) || !IsOneName(to))
    return Fail(ERROR_INVALID_NAME);
  const std::wstring source = Below(folder, from), target = Below(folder, to);
  // Systems without that rename refuse it in several words (an unknown
  // class, parameter or function): the plain one is tried after any refusal.
  DWORD error = RenameReplacingOpen(source, target);
  if (error != ERROR_SUCCESS) error = MoveReplacing(source, target);
  if (HeldByAnother(error) && ::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES)
    error = ReplaceBySteppingAside(folder, from, to);
  return error == ERROR_SUCCESS ? Error() : Fail(error);
}

Error RemoveAt(Handle folder, const std::string& name) {
  if (!IsFolderRecord(folder) || !IsOneName(name)) return Fail(ERROR_INVALID_NAME);
  if (!::DeleteFileW(Below(folder, name).c_str())) return Fail(::GetLastError());
  return {};
}

void RemoveOnInterrupt(Handle folder, const std::string& name, int lane) {
  static const bool installed = ::SetConsoleCtrlHandler(OnInterrupt, TRUE) != 0;
  (void)installed;
  if (lane < 0 || lane >= kInterruptLanes) return;
  std::atomic<int>& current = g_interruptSlot[lane];
  const std::wstring path =
      IsFolderRecord(folder) && IsOneName(name) ? Below(folder, name) : std::wstring();
  if (path.empty() || path.size() >= std::size(g_interruptPaths[lane][0])) {
    current.store(-1);
    return;
  }
  const int next = current.load() == 0 ? 1 : 0;
  std::wmemcpy(g_interruptPaths[lane][next], path.c_str(), path.size() + 1);
  current.store(next);  // the path is whole before it is named
}

void AdviseReadingAll(const void* data, size_t size) {
  if (data == nullptr || size == 0) return;
#if _WIN32_WINNT >= _WIN32_WINNT_WIN8
  // Reads the range in with large requests, where page faults would read
  // it a few pages at a time.
  WIN32_MEMORY_RANGE_ENTRY range{const_cast<void*>(data), size};
  ::PrefetchVirtualMemory(::GetCurrentProcess(), 1, &range, 0);
#endif
}

void PutThreadBehind() {
  (void)::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

bool WasCut(const void* /*data*/, size_t /*size*/) {
  // A mapped file is open with read sharing only: no other program can cut
  // it short while a view of it lives.
  return false;
}

void ForgetPages(const void* data, size_t size) {
  // VirtualUnlock on pages that are not locked takes them out of the
  // process's working set without losing anything: file-backed pages stay
  // in the system's cache and are read back on the next touch, other pages
  // go to the page file first. So, unlike MADV_DONTNEED, it is safe on any
  // memory; the "not locked" error it reports is the expected outcome.
  if (data == nullptr || size == 0) return;
  ::VirtualUnlock(const_cast<void*>(data), size);
}

}  // namespace platform
