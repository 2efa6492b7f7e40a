// The demo archive that scripts/run shows: the hand-written rules texts of
// data/demo/ plus a few hundred generated entries with folder-style names
// and small fake payloads, packed by the program's own writer.
// Deterministic: the same texts give the same bytes. Not part of the
// program: made at build time, for scripts/run, the package and the tests.
#pragma once

#include <string>

#include "storage/status.h"

// Writes the demo archive, of the texts listed in `textFolder`/entries.txt
// and the generated entries, to `path`. Throws std::runtime_error when a
// text is missing.
CStatus WriteDemoArchive(const std::string& textFolder, const std::string& path);
