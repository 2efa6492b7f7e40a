// The reader's sort of an archive's names; internal to archive/.
//
// Names are byte strings in one buffer, given by where each starts and its
// length. The order is byte-wise on unsigned bytes, a prefix before every
// longer name that starts with it; equal names keep their buffer order, so
// the last record of a repeated name is the last of its run.
#pragma once

#ifndef TARN_INSIDE_ARCHIVE
#error "archive/name_order.h is internal to the archive library"
#endif

#include <cstddef>
#include <cstdint>

#include "archive/big_archive.h"
#include "archive/large_arena.h"
#include "archive/name_ref.h"

// Scratch bytes SortUniqueNames takes from its arena for each name, at most.
inline constexpr size_t kSortScratchPerName = 20;

// Sorts the `count` names at `names` in place and keeps only the last of
// equal names (the last record of a name wins): the count kept, at the
// front. Scratch memory comes from `scratch`, given back before it returns.
// REQUIRES: the names in ascending order of `at` (file order); at least 16
// readable bytes after the end of every name in `base`; no zero byte inside
// a name; room in `scratch` for kSortScratchPerName bytes a name.
size_t SortUniqueNames(const uint8_t* base, CNameRef* names, size_t count, CLargeArena& scratch);
