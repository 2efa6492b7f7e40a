// The demo archive that scripts/run shows: the hand-written rules texts of
// data/demo/ plus a few hundred generated entries with folder-style names
// and small fake payloads. Deterministic: the same texts give the same bytes.
// Test-only; not part of the program.
#pragma once

#include <string>

#include "tests/support/big_builder.h"

// Adds the texts listed in `textFolder`/entries.txt and the generated
// entries to `builder`. Throws std::runtime_error when a text is missing.
void AddDemoEntries(const std::string& textFolder, CBigBuilder& builder);

// The whole demo archive's bytes.
std::string BuildDemoArchive(const std::string& textFolder);
