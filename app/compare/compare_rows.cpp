#include "app/compare/compare_rows.h"

#include "rules/rules_diff.h"

namespace {

// A changed block's rows, all of them, each kept, removed or added.
std::vector<CCompareRow> MergedRows(std::span<const CRulesRow> before,
                                    std::span<const CRulesRow> after, const CRowDiff& diff) {
  std::vector<CCompareRow> merged;
  size_t o = 0, n = 0;
  const auto keep = [&](size_t count) {
    for (; count > 0; --count, ++o, ++n) merged.push_back({CCompareRow::Same, before[o]});
  };
  for (const CRowEdit& edit : diff.edits) {
    keep(edit.added ? edit.row - n : edit.row - o);
    if (edit.added) {
      merged.push_back({CCompareRow::Added, after[n++]});
    } else {
      merged.push_back({CCompareRow::Removed, before[o++]});
    }
  }
  keep(before.size() - o);
  return merged;
}

}  // namespace

std::vector<CCompareRow> BuildCompareRows(std::span<const CRulesRow> before,
                                          std::span<const CRulesRow> after) {
  std::vector<CCompareRow> rows;
  for (const CBlockChange& change : CompareRules(before, after)) {
    const auto block = [](std::span<const CRulesRow> all, const CBlockRows& part) {
      return all.subspan(part.first, part.end - part.first);
    };
    if (change.kind != CBlockChange::Changed) {
      const bool added = change.kind == CBlockChange::Added;
      const auto lines = block(added ? after : before, added ? change.after : change.before);
      rows.push_back({added ? CCompareRow::BlockAdded : CCompareRow::BlockRemoved, lines[0]});
      for (const CRulesRow& line : lines.subspan(1))
        rows.push_back({added ? CCompareRow::Added : CCompareRow::Removed, line});
      continue;
    }
    const auto oldLines = block(before, change.before);
    const auto newLines = block(after, change.after);
    rows.push_back({CCompareRow::BlockChanged, newLines[0]});
    if (!change.diff.aligned) rows.push_back({CCompareRow::NotAligned, {}});
    const std::vector<CCompareRow> merged = MergedRows(oldLines, newLines, change.diff);
    // An unchanged row is shown when a change lies within the context
    // either way; a run of hidden rows shows as one gap.
    std::vector<bool> near(merged.size(), false);
    for (size_t r = 0; r < merged.size(); ++r) {
      if (merged[r].kind == CCompareRow::Same) continue;
      const size_t from = r >= kCompareContext ? r - kCompareContext : 0;
      for (size_t s = from; s < merged.size() && s <= r + kCompareContext; ++s) near[s] = true;
    }
    bool gap = false;
    for (size_t r = 0; r < merged.size(); ++r) {
      if (!near[r]) {
        if (!gap) rows.push_back({CCompareRow::Gap, {}});
        gap = true;
        continue;
      }
      gap = false;
      rows.push_back(merged[r]);
    }
  }
  return rows;
}
