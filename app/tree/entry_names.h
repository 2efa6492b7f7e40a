// What the tree asks of the entries' names: which are widest when drawn,
// and which next holds a part the user is finding.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "app/document/text_width.h"
#include "archive/entry_map.h"

// The positions of the (at most) `limit` entries whose names are estimated
// widest, widest first, ties in ascending position: the choice
// WidestCandidates makes from every name's estimate, made without reading
// the names too short to be chosen, and on two threads for a large map.
std::vector<size_t> WidestNames(const CEntryMap& entries, const CTextWidthEstimate& estimate,
                                size_t limit);

// The first entry after `from` (or before it, going back), wrapping around
// and ending with `from` itself, whose name contains `needle` with ASCII
// letters compared without case. `from` past the end starts at the first
// item (the last, going back). Nothing when no name contains it; an empty
// needle matches nothing.
enum class FindDirection { Forward, Backward };
std::optional<size_t> FindEntry(const CEntryMap& entries, std::string_view needle, size_t from,
                                FindDirection direction);
