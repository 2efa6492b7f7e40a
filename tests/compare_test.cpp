// tarn diff and tarn overrides: exact lines, exit statuses, folders read as
// pack reads them, hostile pairs; and that every printed edit script, applied
// to the old rows, gives the new ones with as few lines as any script can.

#define TARN_INSIDE_CLI  // reaches tarn's output, internal to cli/

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/output.h"
#include "rules/rules_diff.h"
#include "rules/rules_rows.h"
#include "tests/support/big_builder.h"
#include "tests/support/run_tarn.h"

namespace fs = std::filesystem;

namespace {

class CompareTest : public ::testing::Test {
 protected:
  std::string Archive(const std::string& name, const CBigBuilder& builder) {
    return m_dir.Write(name, builder.Build());
  }
  std::string P(const std::string& relative) const { return m_dir.Path() + "/" + relative; }
  CTempDir m_dir;
};

// The rows of a rules text as tarn prints them, grouped by block.
std::map<std::string, std::vector<std::string>> BlockRows(const std::string& text) {
  CRulesParser parser;
  parser.SetSource(CDataBuffer(text.data(), static_cast<uint32_t>(text.size())));
  parser.Parse();
  std::map<std::string, std::vector<std::string>> blocks;
  std::string current;
  parser.ForEachRow([&](const CRulesRow& row) {
    if (row.depth == 0) current = std::string(row.name);
    blocks[current].push_back(EscapeBytes(IndentedName(row)) + "\t" + EscapeBytes(row.value));
  });
  return blocks;
}

size_t LongestCommon(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<std::vector<size_t>> best(a.size() + 1, std::vector<size_t>(b.size() + 1, 0));
  for (size_t i = a.size(); i-- > 0;)
    for (size_t j = b.size(); j-- > 0;)
      best[i][j] = a[i] == b[j] ? best[i + 1][j + 1] + 1 : std::max(best[i + 1][j], best[i][j + 1]);
  return best[0][0];
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Applies the scripts under "M<TAB>entry" of `diff` to the rows of `oldText`
// and expects the rows of `newText`: every block only on one side named,
// every changed block's script applied, minimal when aligned.
void ExpectScriptsRebuild(const std::string& diff, const std::string& entry,
                          const std::string& oldText, const std::string& newText) {
  const auto oldBlocks = BlockRows(oldText);
  auto rebuilt = oldBlocks;
  const std::vector<std::string> lines = Lines(diff);
  auto at = std::find(lines.begin(), lines.end(), "M\t" + entry);
  ASSERT_NE(at, lines.end()) << diff;
  ++at;
  bool same = false;
  while (at != lines.end() && !at->empty() && (*at)[0] == '\t') {
    const std::string line = *at++;
    if (line == "\t=\tsame rows") {
      same = true;
      continue;
    }
    const std::string block = line.substr(3);
    if (line.rfind("\t+\t", 0) == 0) {
      rebuilt[block] = BlockRows(newText).at(block);
      continue;
    }
    if (line.rfind("\t-\t", 0) == 0) {
      EXPECT_EQ(rebuilt.erase(block), 1u) << line;
      continue;
    }
    ASSERT_EQ(line.rfind("\t~\t", 0), 0u) << line;
    const std::vector<std::string>& before = oldBlocks.at(block);
    std::vector<std::string> after;
    size_t cursor = 0, edits = 0;
    bool aligned = true;
    for (; at != lines.end() && at->rfind("\t\t", 0) == 0; ++at) {
      const std::string step = at->substr(2);
      if (step == "(too many changes to align)") {
        aligned = false;
      } else if (step[0] == '@') {
        std::istringstream numbers(step.substr(2));
        size_t oldRow = 0, newRow = 0;
        numbers >> oldRow >> newRow;
        ASSERT_GE(oldRow, cursor + 1) << step;
        ASSERT_LE(oldRow, before.size() + 1) << step;
        after.insert(after.end(), before.begin() + static_cast<std::ptrdiff_t>(cursor),
                     before.begin() + static_cast<std::ptrdiff_t>(oldRow - 1));
        cursor = oldRow - 1;
        EXPECT_EQ(after.size() + 1, newRow) << step;
      } else if (step[0] == '-') {
        ASSERT_LT(cursor, before.size());
        EXPECT_EQ(before[cursor], step.substr(2));
        ++cursor, ++edits;
      } else {
        ASSERT_EQ(step[0], '+') << step;
        after.push_back(step.substr(2));
        ++edits;
      }
    }
    after.insert(after.end(), before.begin() + static_cast<std::ptrdiff_t>(cursor), before.end());
    rebuilt[block] = after;
    const std::vector<std::string> wanted = BlockRows(newText).at(block);
    if (aligned) {
      EXPECT_EQ(edits, before.size() + wanted.size() - 2 * LongestCommon(before, wanted)) << block;
    }
  }
  EXPECT_EQ(rebuilt, BlockRows(newText)) << diff;
  EXPECT_EQ(same, oldBlocks == BlockRows(newText));
}

// A rules text of a few blocks from a small vocabulary, so that equal rows
// abound and many scripts are equally short.
std::string RandomRules(std::mt19937& random) {
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  std::string text;
  for (int block = pick(4); block < 6; ++block) {
    if (pick(3) == 0) continue;
    text += (pick(4) == 0 ? "Weapon B" : "Object B") + std::to_string(block) + "\n";
    for (int line = pick(14); line > 0; --line) {
      if (pick(8) == 0) {
        text += "  Draw = W3D\n    Scale = " + std::to_string(pick(3)) + "\n  End\n";
      } else {
        text += "  " + std::string(1, static_cast<char>('A' + pick(3))) + " = " +
                std::to_string(pick(3)) + "\n";
      }
    }
    text += "End\n";
  }
  return text;
}

// ---------------------------------------------------------------------------
// diff

TEST_F(CompareTest, EveryPrintedScriptAppliedToTheOldRowsGivesTheNewOnesAndIsShortest) {
  std::mt19937 random(23);
  for (int round = 0; round < 150; ++round) {
    const std::string oldText = RandomRules(random), newText = RandomRules(random);
    const std::string a = Archive("a.big", CBigBuilder().Add("r.ini", oldText));
    const std::string b = Archive("b.big", CBigBuilder().Add("r.ini", newText));
    const CTarnResult r = RunTarnCaptured({"diff", a, b});
    ASSERT_EQ(r.status, oldText == newText ? 0 : 1) << r.err;
    EXPECT_EQ(r.err, "");
    if (oldText != newText) {
      ExpectScriptsRebuild(r.out, "r.ini", oldText, newText);
    }
    if (HasFatalFailure() || HasNonfatalFailure()) {
      ADD_FAILURE() << "old:\n" << oldText << "new:\n" << newText << "diff:\n" << r.out;
      return;
    }
  }
}

TEST_F(CompareTest, EntryLinesBlockLinesAndExitStatuses) {
  const std::string oldRules = "Object Tank\n  Speed = 30\n  Armor = 5\nEnd\nObject Gone\nEnd\n";
  const std::string newRules =
      "Object New\nEnd\nObject Tank ; now faster\n  Speed = 40\n  Armor = 5\nEnd\n";
  const std::string a = Archive("a.big", CBigBuilder()
                                             .Add("b.ini", "Object X\nEnd\n")
                                             .Add("rules.ini", oldRules)
                                             .Add("same.ini", "K = 1")
                                             .Add("spacing.ini", "Object S\n  K = 1\nEnd\n")
                                             .Add("tex.bin", std::string("\0\1", 2))
                                             .Add("zz\x01old", "x"));
  const std::string b =
      Archive("b.big", CBigBuilder()
                           .Add("a\tnew", "y")
                           .Add("rules.ini", newRules)
                           .Add("same.ini", "K = 1")
                           .Add("spacing.ini", "Object S ; comment\n    K   =   1\nEnd\n")
                           .Add("tex.bin", std::string("\0\2", 2)));
  CTarnResult r = RunTarnCaptured({"diff", a, b});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "+\ta\\x09new\n"
            "-\tb.ini\n"
            "M\trules.ini\n"
            "\t-\tGone\n"
            "\t+\tNew\n"
            "\t~\tTank\n"
            "\t\t@\t2\t2\n"
            "\t\t-\t    Speed\t30\n"
            "\t\t+\t    Speed\t40\n"
            "M\tspacing.ini\n"
            "\t=\tsame rows\n"
            "M\ttex.bin\n"
            "-\tzz\\x01old\n");
  ExpectScriptsRebuild(r.out, "rules.ini", oldRules, newRules);

  r = RunTarnCaptured({"diff", "--brief", a, b});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "+\ta\\x09new\n-\tb.ini\nM\trules.ini\nM\tspacing.ini\nM\ttex.bin\n-\tzz\\x01old\n");

  r = RunTarnCaptured({"diff", a, a});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");

  // Trouble is 2, the diff convention, never 1 (which means "different").
  for (const std::vector<std::string>& args : {std::vector<std::string>{"diff", a},
                                               {"diff", a, b, b},
                                               {"diff", a, P("missing.big")},
                                               {"diff", m_dir.Write("bad.big", "BIGF"), b}}) {
    r = RunTarnCaptured(args);
    EXPECT_EQ(r.status, 2) << args.back();
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
  }
  // Each that cannot be read is named, not only the first.
  r = RunTarnCaptured({"diff", P("gone1.big"), P("gone2.big")});
  EXPECT_NE(r.err.find("gone1.big"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("gone2.big"), std::string::npos) << r.err;
}

TEST_F(CompareTest, ManyEntriesLaidOutOfNameOrderAreAllJudged) {
  // Enough pairs for the bytes to be compared in two halves at once, laid
  // in reverse name order; changes and damage in both halves.
  CBigBuilder oldSide, newSide;
  for (int i = 6000; i-- > 0;) {
    char name[16];
    std::snprintf(name, sizeof name, "e%04d.ini", i);
    const std::string body = "Object E" + std::to_string(i) + "\nEnd\n";
    if (i == 20) {
      oldSide.AddRecord(name, 1u << 30, 4);
    } else {
      oldSide.Add(name, body);
    }
    std::string changed = body;
    if (i == 10 || i == 4000) changed[8] = '#';  // same size, other bytes
    if (i == 5000) changed += "\n";
    if (i == 5500) {
      newSide.AddRecord(name, 1u << 30, 4);
    } else {
      newSide.Add(name, changed);
    }
  }
  const std::string a = Archive("a.big", oldSide), b = Archive("b.big", newSide);
  const CTarnResult r = RunTarnCaptured({"diff", "--brief", a, b});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "M\te0010.ini\nM\te4000.ini\nM\te5000.ini\n");
  EXPECT_EQ(r.err, "tarn: " + a + ": entry 'e0020.ini': reaches past the end of the archive\n" +
                       "tarn: " + b + ": entry 'e5500.ini': reaches past the end of the archive\n");
}

TEST_F(CompareTest, AFolderIsReadAsPackWouldPackIt) {
  const std::string a = Archive(
      "a.big",
      CBigBuilder().Add("Data\\INI\\Tank.ini", "Object T\n  S = 1\nEnd\n").Add("top.txt", "t"));
  fs::create_directories(P("tree/Data/INI"));
  WriteWholeFile(P("tree/Data/INI/Tank.ini"), "Object T\n  S = 1\nEnd\n");
  WriteWholeFile(P("tree/top.txt"), "t");
  CTarnResult r = RunTarnCaptured({"diff", a, P("tree")});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");

  WriteWholeFile(P("tree/Data/INI/Tank.ini"), "Object T\n  S = 2\nEnd\n");
  WriteWholeFile(P("tree/Data/new.txt"), "n");
  r = RunTarnCaptured({"diff", P("tree"), a});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out,
            "M\tData\\INI\\Tank.ini\n\t~\tT\n\t\t@\t2\t2\n\t\t-\t    S\t2\n\t\t+\t    S\t1\n"
            "-\tData\\new.txt\n");

  // An archive whose names are spelt with '/' is its extracted tree too.
  const std::string slashed =
      Archive("slashed.big", CBigBuilder().Add("Data/INI/Tank.ini", "Object T\n  S = 2\nEnd\n"));
  fs::remove(P("tree/top.txt"));
  fs::remove(P("tree/Data/new.txt"));
  r = RunTarnCaptured({"diff", slashed, P("tree")});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  WriteWholeFile(P("tree/top.txt"), "t");
  WriteWholeFile(P("tree/Data/new.txt"), "n");

  // What pack would refuse is trouble, named; the rest is still compared.
  // (Where links cannot be made, as under Wine, there is nothing to see.)
  std::error_code made;
  fs::create_symlink(P("tree/top.txt"), P("tree/link.txt"), made);
  if (made) return;
  r = RunTarnCaptured({"diff", a, P("tree")});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("link.txt: symbolic link"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("+\tData\\new.txt\n"), std::string::npos) << r.out;
}

TEST_F(CompareTest, HostilePairsStayBoundedAndDamageIsTrouble) {
  // Two blocks with no row in common, far beyond what is aligned: the
  // fallback removes every row and adds every new one, and still applies.
  std::string oldText = "Object Big\n", newText = "Object Big\n";
  for (int i = 0; i < 60000; ++i) {
    oldText += "  K" + std::to_string(i) + " = " + std::to_string(i % 7) + "\n";
    newText +=
        "  K" + std::to_string(i % 2 == 0 ? i : i + 1000000) + " = " + std::to_string(i % 5) + "\n";
  }
  oldText += "End\n";
  newText += "End\n";
  const std::string a =
      Archive("a.big", CBigBuilder().Add("big.ini", oldText).AddRecord("cut.ini", 0, 1u << 30));
  const std::string b = Archive("b.big", CBigBuilder().Add("big.ini", newText).Add("cut.ini", "x"));
  const CTarnResult r = RunTarnCaptured({"diff", a, b});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("\t~\tBig\n\t\t(too many changes to align)\n\t\t@\t"), std::string::npos);
  ExpectScriptsRebuild(r.out, "big.ini", oldText, newText);
  EXPECT_EQ(r.err, "tarn: " + a + ": entry 'cut.ini': reaches past the end of the archive\n");
  EXPECT_EQ(r.out.find("cut.ini"), std::string::npos);

  // Within the budget the same kind of change is aligned exactly.
  const std::vector<CRulesRow> before = {{0, "B", ""}, {1, "K", "1"}, {1, "K", "2"}, {1, "K", "3"}};
  const std::vector<CRulesRow> after = {{0, "B", ""}, {1, "K", "2"}, {1, "K", "3"}, {1, "K", "1"}};
  const CRowDiff small = DiffRows(before, after);
  EXPECT_TRUE(small.aligned);
  EXPECT_EQ(small.edits.size(), 2u);
  EXPECT_FALSE(DiffRows(before, after, 1).aligned);  // a budget of one step
}

// ---------------------------------------------------------------------------
// overrides

TEST_F(CompareTest, OverridesNameTheWinnerTheShadowedAndTheDeadWeight) {
  const std::string base =
      Archive("base.big", CBigBuilder().Add("a.ini", "1").Add("b.ini", "1").Add("c.ini", "1"));
  const std::string mod = Archive("mod.big", CBigBuilder().Add("a.ini", "2").Add("b.ini", "1"));
  const std::string patch =
      Archive("patch.big", CBigBuilder().Add("a.ini", "2").Add("b.ini", "1").Add("d\x01.ini", "1"));
  const std::string empty = Archive("empty.big", CBigBuilder());
  CTarnResult r = RunTarnCaptured({"overrides", base, mod, empty, patch});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "!\ta.ini\t" + patch + "\t" + base + "\t" + mod + "\n" + "=\tb.ini\t" + patch +
                       "\t" + base + "\t" + mod + "\n" + "shadowed\t" + mod + "\n" + "shadowed\t" +
                       empty + "\n");

  // Names are matched as the game matches them: letter case and '/'
  // against '\' do not count, and the winner's spelling is shown.
  const std::string upper = Archive("upper.big", CBigBuilder().Add("A.ini", "1"));
  r = RunTarnCaptured({"overrides", base, upper});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "=\tA.ini\t" + upper + "\t" + base + "\n");

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"overrides"}, {"overrides", base, P("missing.big")}}) {
    r = RunTarnCaptured(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
