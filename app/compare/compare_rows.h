// The rows the Compare window shows for one entry: for every block added,
// removed or changed, a heading row, then the rows that changed with a few
// unchanged rows around each run of them, so a reader sees where they are.
//
// Works on the two sides' rows as parsed (rules/rules_diff.h); the views in
// the result point into them.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "rules/rules_parser.h"

struct CCompareRow {
  enum Kind { BlockAdded, BlockRemoved, BlockChanged, NotAligned, Gap, Same, Removed, Added } kind;
  CRulesRow row;  // the row itself; for a heading, the block's own row
};

// Unchanged rows shown before and after each run of changes.
inline constexpr size_t kCompareContext = 2;

std::vector<CCompareRow> BuildCompareRows(std::span<const CRulesRow> before,
                                          std::span<const CRulesRow> after);
