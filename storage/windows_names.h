// Entry names as Windows sees them, beside the rules every system shares.
//
// Names in an archive are bytes that the editor shows as Windows-1252; on
// Windows they become UTF-16 paths by that same reading, whatever the
// system's code page. Windows also reserves device names in every folder,
// drops a trailing dot or space from a name, forbids a few more characters
// and compares names without regard to letter case. Everything here is plain
// computation, so it is tested on every system; it is here, with the path
// names, for the Windows file layer that writes entries as files.
//
// Threading: none; no state.
#pragma once

#include <string>
#include <string_view>

enum class WindowsNameProblem {
  None,
  ReservedName,        // CON, PRN, AUX, NUL, COM0-9, LPT0-9 (any case, any extension)
  TrailingDotOrSpace,  // a segment that ends in '.' or ' '
  ForbiddenCharacter,  // < > " | ? *
};

// Whether every segment of `name` (split at '\' and '/') can be a file or
// folder name on Windows. Meant for names that passed the shared test.
WindowsNameProblem CheckWindowsEntryName(std::string_view name);
// Short words for a problem, e.g. "name is reserved by Windows".
const char* DescribeWindowsNameProblem(WindowsNameProblem problem);

// The UTF-16 text of `bytes` read as Windows-1252. The five bytes that code
// page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the control
// characters of the same value, as Windows itself converts them, so every
// byte string has a text and the text gives the bytes back.
std::u16string Windows1252ToUtf16(std::string_view bytes);
// The Windows-1252 bytes of `text`; false when a character has none.
bool Utf16ToWindows1252(std::u16string_view text, std::string& bytes);

// A key equal for two names exactly when Windows would take them for the
// same path: letters folded to upper case as Windows-1252 reads them, and
// '/' the same as '\'.
std::string WindowsCaseKey(std::string_view name);
