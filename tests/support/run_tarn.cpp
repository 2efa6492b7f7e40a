#include "tests/support/run_tarn.h"

#if defined(_WIN32)
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#endif

#include <cstdio>
#include <cstring>

#include "cli/tarn.h"

namespace {

std::string Drain(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  std::fclose(file);
  return text;
}

#if defined(_WIN32)
// The C runtime's tmpfile() makes its files in the root of the current drive
// under names counted from the same start in every process, so tests running
// side by side would write each other's files. A file of our own in the
// temporary folder instead, gone when closed.
std::FILE* ScratchFile() {
  char folder[MAX_PATH];
  char name[MAX_PATH];
  if (::GetTempPathA(sizeof folder, folder) == 0 || ::GetTempFileNameA(folder, "trn", 0, name) == 0)
    return nullptr;
  const HANDLE file = ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(file);
    return nullptr;
  }
  return ::_fdopen(fd, "w+b");
}
#else
std::FILE* ScratchFile() { return std::tmpfile(); }
#endif

}  // namespace

CTarnResult RunTarnCaptured(const std::vector<std::string>& args) {
  std::FILE* out = ScratchFile();
  std::FILE* err = ScratchFile();
  const int status = RunTarn(args, out, err);
  return {status, Drain(out), Drain(err)};
}

#if defined(_WIN32)
std::string MissingFileReason() {
  char text[512];
  DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_FILE_NOT_FOUND,
      MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, sizeof text, nullptr);
  // Without the full stop and line end the system puts at the end.
  while (length > 0 && std::strchr(". \r\n", text[length - 1]) != nullptr) --length;
  return std::string(text, length);
}

std::string FolderReason() { return "not a regular file"; }
#else
std::string MissingFileReason() { return "No such file or directory"; }

std::string FolderReason() { return "Is a directory"; }
#endif
