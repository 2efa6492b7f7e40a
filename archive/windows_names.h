// Entry names as Windows sees them, beside the rules every system shares.
//
// Names in an archive are bytes that the editor shows as Windows-1252; on
// Windows they become UTF-16 paths by that same reading, whatever the
// system's code page (storage/code_page.h). Windows also reserves device
// names in every folder, drops a trailing dot or space from a name, forbids
// a few more characters and compares names without regard to letter case.
// Everything here is plain computation, so it is tested on every system;
// extraction and packing check names with it before any file is written.
//
// Threading: none; no state.
#pragma once

#ifndef TARN_INSIDE_ARCHIVE
#error "archive/windows_names.h is internal to the archive library"
#endif

#include <string>
#include <string_view>

#include "storage/status.h"

// Whether every segment of `name` (split at '\' and '/') can be a file or
// folder name on Windows: Ok, or ReservedName, TrailingDotOrSpace or
// ForbiddenCharacter. Meant for names that passed the shared test.
CStatus CheckWindowsEntryName(std::string_view name);

// A key equal for two names exactly when Windows would take them for the
// same path: letters folded to upper case as Windows-1252 reads them, and
// '/' the same as '\'.
std::string WindowsCaseKey(std::string_view name);
