// What changed between two versions of a rules text, in rows as the list
// shows them: blocks only on one side, and for a block on both sides a
// shortest edit script turning the old rows into the new ones.
//
// The script comes from Myers' O(ND) search over whole rows (depth, name
// and value compared exactly), after the rows both sides start and end with
// are set aside. Its cost grows with the product of the rows and the
// changes, so a hostile pair could make it quadratic; the search is given a
// budget of steps proportional to the rows it looks at (DiffRows), and
// looks for no script longer than 2,048 lines (the memory for walking back
// grows with the square of that). A block that needs more is answered with
// "remove every differing row, add every new one", marked as not aligned.
// Work over a whole text is thereby linear in its rows.
//
// Threading: none; every call works on its own data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "rules/rules_parser.h"

// One line of an edit script: a row of the old side removed, or a row of
// the new side added. Row numbers count from 0 within the sequences given.
struct CRowEdit {
  bool added;    // else removed
  uint32_t row;  // in the new rows when added, else in the old rows
};

struct CRowDiff {
  // In row order; within a run of edits with no kept row between, the
  // removals come first. Empty when the rows are the same.
  std::vector<CRowEdit> edits;
  bool aligned = true;  // false: the budget ran out, see the file comment
};

// Steps the search may take for `rows` rows (old and new, outside the
// common start and end): what DiffRows uses unless told otherwise.
inline size_t DefaultDiffBudget(size_t rows) { return 128 * rows + 16384; }

inline bool SameRow(const CRulesRow& a, const CRulesRow& b) {
  return a.depth == b.depth && a.name == b.name && a.value == b.value;
}

// The shortest edit script from `before` to `after`, or the fallback when
// more than `budget` steps would be needed (0: DefaultDiffBudget).
CRowDiff DiffRows(std::span<const CRulesRow> before, std::span<const CRulesRow> after,
                  size_t budget = 0);

// The rows of one top-level block: the block's own row (depth 0) and every
// row after it up to the next block's.
struct CBlockRows {
  std::string_view name;
  size_t first;  // index of the block row
  size_t end;    // one past its last row
};

// The blocks of a parser's rows, in the order the rows give them (block-
// name order).
std::vector<CBlockRows> SplitBlocks(std::span<const CRulesRow> rows);

// One block's part of the comparison of two rules texts.
struct CBlockChange {
  enum Kind { Added, Removed, Changed } kind;
  std::string_view name;
  CBlockRows before;  // valid unless Added
  CBlockRows after;   // valid unless Removed
  CRowDiff diff;      // for Changed: over the block's rows on each side
};

// Every block that is only on one side or whose rows differ, in block-name
// order. Empty when both texts give the same rows.
std::vector<CBlockChange> CompareRules(std::span<const CRulesRow> before,
                                       std::span<const CRulesRow> after);

// Whether bytes are read as rules text when compared: no zero byte in the
// first 8 KiB.
bool LooksLikeRulesText(std::string_view bytes);

// Two versions of one entry, parsed when both are rules text, so that their
// rows can be compared (CompareRules). The rows refer to the parsers'
// strings: valid while this lives, until its next Parse.
class CRulesTextPair {
 public:
  // False, with no rows, when either side is not rules text.
  bool Parse(const CDataBuffer& oldBytes, const CDataBuffer& newBytes);
  const std::vector<CRulesRow>& OldRows() const { return m_oldRows; }
  const std::vector<CRulesRow>& NewRows() const { return m_newRows; }

 private:
  CRulesParser m_oldParser;
  CRulesParser m_newParser;
  std::vector<CRulesRow> m_oldRows;
  std::vector<CRulesRow> m_newRows;
};
