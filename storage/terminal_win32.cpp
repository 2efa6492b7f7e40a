#include "storage/terminal.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>

namespace platform {

bool IsTerminal(std::FILE* stream) {
  if (stream == nullptr) return false;
  const intptr_t os = ::_get_osfhandle(::_fileno(stream));
  if (os == -1) return false;
  const HANDLE handle = reinterpret_cast<HANDLE>(os);
  DWORD mode = 0;
  // NUL is a character device too; only a console has a console mode.
  return ::GetFileType(handle) == FILE_TYPE_CHAR && ::GetConsoleMode(handle, &mode) != 0;
}

void SetBinaryMode(std::FILE* stream) { ::_setmode(::_fileno(stream), _O_BINARY); }

}  // namespace platform
