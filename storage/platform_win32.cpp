// Win32 implementation of the platform calls, function by function beside
// platform_posix.cpp.
//
// There is no counterpart here to the POSIX side's SIGBUS guard. Files are
// opened with the share mode FILE_SHARE_READ alone, so while this process
// holds the handle (and every mapped view holds a share of it) Windows
// refuses any other open for writing with a sharing violation: nobody can
// cut a mapped archive short underneath us.
#include "storage/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// The ANSI/wide switches would rename the functions this file defines.
#undef CreateFile
#undef CreateFileMapping

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <string_view>

namespace platform {
namespace {

thread_local DWORD t_lastError = 0;
// Our own error values, beside the system's: bit 29 marks a code as the
// application's, so none of them can be mistaken for a system error.
constexpr DWORD kNotRegularFile = 0x20000001;

int64_t Fail(DWORD error) {
  t_lastError = error;
  return kInvalidHandle;
}

HANDLE ToHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

bool IsValidHandle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

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
  char text[512];
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text,
                                  sizeof text, nullptr);
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

Handle CreateFile(const std::string& path, uint32_t access, uint32_t disposition, uint32_t share) {
  if (access != kGenericRead || disposition != kOpenExisting) return Fail(ERROR_INVALID_PARAMETER);
  // CreateFileA would stop at a zero byte and open a different, shorter name.
  if (path.find('\0') != std::string::npos) return Fail(ERROR_INVALID_NAME);
  if (IsDeviceName(path)) return Fail(kNotRegularFile);
  ScopedHandle file(::CreateFileA(path.c_str(), access, share, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
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
  if (IsValidHandle(ToHandle(handle))) ::CloseHandle(ToHandle(handle));
}

int64_t GetFileSize(Handle handle) {
  // The high word is asked for only to keep a file of 4 GiB or more from
  // passing for its low word: a file of 4 GiB + 16 bytes is not 16 bytes.
  DWORD high = 0;
  ::SetLastError(NO_ERROR);
  const DWORD low = ::GetFileSize(ToHandle(handle), &high);
  if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return Fail(::GetLastError());
  return static_cast<int64_t>((uint64_t{high} << 32) | low);
}

bool ReadAt(Handle handle, int64_t offset, void* destination, uint32_t count) {
  // No high part is passed: the file layer refuses files of 2 GiB or more,
  // so every offset it asks for fits in the low 31 bits, and -1 can then
  // only mean failure.
  if (!IsValidHandle(ToHandle(handle)) || offset < 0 || offset > INT32_MAX)
    return Fail(ERROR_INVALID_PARAMETER), false;
  if (::SetFilePointer(ToHandle(handle), static_cast<LONG>(offset), nullptr, FILE_BEGIN) ==
      INVALID_SET_FILE_POINTER) {
    return Fail(::GetLastError()), false;
  }
  auto* out = static_cast<char*>(destination);
  while (count > 0) {
    DWORD got = 0;
    if (!::ReadFile(ToHandle(handle), out, count, &got, nullptr)) return Fail(::GetLastError()), false;
    if (got == 0) return Fail(ERROR_SUCCESS), false;  // end of file before `count` bytes
    out += got;
    count -= got;
  }
  return true;
}

Handle CreateFileMapping(Handle file) {
  if (!IsValidHandle(ToHandle(file))) return Fail(ERROR_INVALID_HANDLE);
  ScopedHandle mapping(::CreateFileMappingA(ToHandle(file), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.IsValid()) return Fail(::GetLastError());
  return mapping.Release();
}

const void* MapView(Handle mapping, uint32_t size) {
  if (!IsValidHandle(ToHandle(mapping)) || size == 0) return nullptr;
  const void* view = ::MapViewOfFile(ToHandle(mapping), FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) return Fail(::GetLastError()), nullptr;
  return view;
}

void UnmapView(const void* view, uint32_t /*size: the system knows the view's extent*/) {
  if (view != nullptr) ::UnmapViewOfFile(view);
}

std::string LastErrorText() { return ErrorText(t_lastError); }

void AdviseLargePages(void* /*data*/, size_t /*size*/) {
  // Windows gives large pages only to memory allocated with MEM_LARGE_PAGES
  // by a process holding the lock-pages privilege; memory that already
  // exists cannot be advised. Nothing to do.
}

void SetBinaryMode(std::FILE* stream) { ::_setmode(::_fileno(stream), _O_BINARY); }

}  // namespace platform
