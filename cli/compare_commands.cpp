#include "cli/compare_commands.h"

#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "archive/archive_compare.h"
#include "archive/load_order.h"
#include "cli/output.h"
#include "rules/rules_diff.h"
#include "rules/rules_rows.h"

namespace {

constexpr int kSame = 0;
constexpr int kDifferent = 1;
constexpr int kTrouble = 2;

void ReportAll(std::FILE* err, const std::vector<CEntryProblem>& problems) {
  for (const CEntryProblem& problem : problems) Report(err, problem.name, problem.reason);
}

bool Finish(std::FILE* err, COutput& out) {
  if (out.Flush()) return true;
  Report(err, "cannot write to standard output");
  return false;
}

// After the sides' bytes were compared and printed: a problem for each
// archive that was cut short under an entry while it was read, naming the
// first such entry, or written to by another program. Its bytes were read as zeros, so what was
// said of it (and of any entry after the cut) is not to be trusted.
void NoteCutSides(std::span<CCompareSide* const> sides, std::vector<CEntryProblem>& problems) {
  for (const CCompareSide* side : sides) {
    if (const std::optional<std::string_view> cut = side->FirstCutEntry())
      problems.push_back({side->GetPath(), EntryCutWords(*cut)});
    else if (side->ChangedOnDisk()) problems.push_back({side->GetPath(), kArchiveChangedWords});
  }
}

void RowLine(COutput& out, char mark, const CRulesRow& row) {
  out.Raw("\t\t");
  out.Raw(mark);
  out.Raw('\t');
  out.Indent(row.depth);
  out.Escaped(row.name);
  out.Raw('\t');
  out.Escaped(row.value);
  out.Raw('\n');
}

// A block's edit script. Each run of edits starts with "@ OLD NEW", the
// numbers (from 1, the block's own row first) of the rows it starts at on
// each side, so the script can be applied without guessing where rows go.
void ScriptLines(COutput& out, std::span<const CRulesRow> before, std::span<const CRulesRow> after,
                 const CRowDiff& diff) {
  if (!diff.aligned) out.Raw("\t\t(too many changes to align)\n");
  size_t o = 0, n = 0;  // the rows after the previous edit
  bool first = true;
  for (const CRowEdit& edit : diff.edits) {
    const size_t kept = edit.added ? edit.row - n : edit.row - o;
    if (first || kept > 0) {
      o += kept;
      n += kept;
      out.Raw("\t\t@\t");
      out.Number(o + 1);
      out.Raw('\t');
      out.Number(n + 1);
      out.Raw('\n');
      first = false;
    }
    if (edit.added) {
      RowLine(out, '+', after[edit.row]);
      ++n;
    } else {
      RowLine(out, '-', before[edit.row]);
      ++o;
    }
  }
}

// The lines under an entry whose bytes differ, when both sides are rules text.
void RulesLines(COutput& out, const CDataBuffer& oldBytes, const CDataBuffer& newBytes) {
  CRulesTextPair texts;
  if (!texts.Parse(oldBytes, newBytes)) return;
  const std::vector<CRulesRow>& oldRows = texts.OldRows();
  const std::vector<CRulesRow>& newRows = texts.NewRows();
  const std::vector<CBlockChange> changes = CompareRules(oldRows, newRows);
  if (changes.empty()) out.Raw("\t=\tsame rows\n");
  for (const CBlockChange& change : changes) {
    static constexpr const char* kMarks[] = {"\t+\t", "\t-\t", "\t~\t"};
    out.Raw(kMarks[change.kind]);
    out.Escaped(change.name);
    out.Raw('\n');
    if (change.kind != CBlockChange::Changed) continue;
    const auto block = [](std::span<const CRulesRow> rows, const CBlockRows& part) {
      return rows.subspan(part.first, part.end - part.first);
    };
    ScriptLines(out, block(oldRows, change.before), block(newRows, change.after), change.diff);
  }
}

}  // namespace

int CommandDiff(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  constexpr const char* kDiffUsage = "usage: tarn diff [--brief] OLD NEW\n";
  bool brief = false;
  std::vector<std::string> paths;
  for (size_t a = 1; a < args.size(); ++a) {
    if (args[a] == "--brief" && paths.empty() && !brief) {
      brief = true;
    } else {
      paths.push_back(args[a]);
    }
  }
  if (paths.size() != 2) {
    Report(err, "diff", "expected [--brief] OLD NEW");
    std::fputs(kDiffUsage, err);
    return kTrouble;
  }
  std::vector<CEntryProblem> problems;
  CCompareSide before, after;
  // Both are tried, so that each that cannot be read is named.
  const bool openedBefore = before.Open(paths[0], problems);
  const bool openedAfter = after.Open(paths[1], problems);
  const bool opened = openedBefore && openedAfter;
  if (!opened) {
    ReportAll(err, problems);
    return kTrouble;
  }
  const std::vector<CEntryChange> changes = CompareEntries(before, after, problems);
  COutput lines(out);
  for (const CEntryChange& change : changes) {
    static constexpr const char* kMarks[] = {"+\t", "-\t", "M\t"};
    lines.Raw(kMarks[change.kind]);
    lines.Escaped(change.name);
    lines.Raw('\n');
    if (brief || change.kind != CEntryChange::Changed) continue;
    CDataBuffer oldBytes, newBytes;
    CStatus status = before.BufferAt(change.before, oldBytes);
    if (status.IsOk()) status = after.BufferAt(change.after, newBytes);
    if (!status.IsOk()) {
      problems.push_back({std::string(change.name), status.GetWords()});
      continue;
    }
    RulesLines(lines, oldBytes, newBytes);
  }
  CCompareSide* const sides[] = {&before, &after};
  NoteCutSides(sides, problems);
  if (!Finish(err, lines)) return kTrouble;
  ReportAll(err, problems);
  if (!problems.empty()) return kTrouble;
  return changes.empty() ? kSame : kDifferent;
}

int CommandOverrides(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  std::vector<CEntryProblem> problems;
  std::vector<std::unique_ptr<CCompareSide>> sides;
  std::vector<CCompareSide*> order;
  bool failed = false;
  for (size_t a = 1; a < args.size(); ++a) {
    sides.push_back(std::make_unique<CCompareSide>());
    order.push_back(sides.back().get());
    // Every archive is tried, so that each that cannot be read is named;
    // what the others hold is not said without them.
    if (!sides.back()->Open(args[a], problems)) failed = true;
  }
  if (failed) {
    ReportAll(err, problems);
    return kTrouble;
  }
  COutput lines(out);
  const CResolvedOrder resolved = VisitLoadOrder(
      order, [&](const CResolvedName& name, std::span<const CLoadOrderEntry> shadowed) {
        if (shadowed.empty()) return;
        const CLoadOrderEntry winner = name.winner;
        lines.Raw(name.mark == '=' ? "=\t" : "!\t");
        lines.Escaped(order[winner.archive]->NameAt(winner.position));
        lines.Raw('\t');
        lines.Escaped(order[winner.archive]->GetPath());
        for (const CLoadOrderEntry copy : shadowed) {
          lines.Raw('\t');
          lines.Escaped(order[copy.archive]->GetPath());
        }
        lines.Raw('\n');
      });
  for (size_t a = 0; a < order.size(); ++a) {
    if (resolved.tallies[a].wins != 0) continue;
    lines.Raw("shadowed\t");
    lines.Escaped(order[a]->GetPath());
    lines.Raw('\n');
  }
  for (const CLoadOrderProblem& problem : resolved.problems) {
    const CCompareSide& side = *order[problem.entry.archive];
    problems.push_back(
        {side.GetPath() + ": entry '" + std::string(side.NameAt(problem.entry.position)) + "'",
         problem.words});
  }
  NoteCutSides(order, problems);
  if (!Finish(err, lines)) return kTrouble;
  ReportAll(err, problems);
  return problems.empty() ? kSame : kTrouble;
}
