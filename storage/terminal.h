// The standard streams as the terminal sees them, for tarn and the editor's
// command line. One implementation file per platform (terminal_posix.cpp,
// terminal_win32.cpp), chosen by the build.
#pragma once

#include <cstdio>

namespace platform {

// Whether `stream` is a terminal (for progress lines).
bool IsTerminal(std::FILE* stream);
// Makes `stream` pass bytes through unchanged. Windows opens the standard
// streams in text mode, which writes every "\n" as "\r\n"; elsewhere
// there is nothing to do.
void SetBinaryMode(std::FILE* stream);

}  // namespace platform
