// The reader's sort of an archive's names; internal to archive/.
//
// Names are byte strings in one buffer, given by where each starts and its
// length. The order is byte-wise on unsigned bytes, a prefix before every
// longer name that starts with it; equal names keep their buffer order, so
// the last record of a repeated name is the last of its run.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/big_archive.h"

// Sorts `names` in place.
// REQUIRES: `names` in ascending order of `at` (file order); at least 16
// readable bytes after the end of every name in `base`; no zero byte inside
// a name.
void SortNames(const uint8_t* base, std::vector<CNameRef>& names);
