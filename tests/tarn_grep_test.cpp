// tarn grep: which rows match and how they are printed, exit statuses, and
// damaged or hostile archives; checked against a plain row-by-row search of
// what `tarn show` prints.

#define TARN_INSIDE_CLI  // reaches tarn's output, internal to cli/

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/entry_map.h"
#include "cli/output.h"
#include "rules/rules_parser.h"
#include "rules/rules_rows.h"
#include "rules/rules_search.h"
#include "tests/support/big_builder.h"
#include "tools/demo/demo_archive.h"
#include "tests/support/plain_search.h"
#include "tests/support/run_tarn.h"
#include "tests/support/tarn_program.h"

namespace {

// What tarn grep should print for one archive: every row of every text
// entry, as `tarn show` makes them, kept when a plain search finds the
// pattern in its name or value.
std::string Oracle(const std::string& path, const std::string& pattern, bool ignoreCase,
                   const std::string& prefix = "") {
  CEntryMap entries;
  EXPECT_TRUE(OpenArchiveEntries(path, entries).IsOk());
  std::string out;
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string_view bytes = entries.BytesAt(i);
    if (bytes.find('\0') < 8192) continue;
    CRulesParser parser;
    parser.SetSource(entries.BufferAt(i));
    parser.Parse();
    std::string block;
    ForEachRulesRow(parser.GetBlocks(), [&](const CRulesRow& row) {
      if (row.depth == 0) block = row.name;
      if (!PlainContains(row.name, pattern, ignoreCase) &&
          !PlainContains(row.value, pattern, ignoreCase))
        return;
      out += prefix + EscapeBytes(entries.NameAt(i)) + "\t" + EscapeBytes(block) + "\t" +
             EscapeBytes(IndentedName(row)) + "\t" + EscapeBytes(row.value) + "\n";
    });
  }
  return out;
}

class TarnGrepTest : public ::testing::Test {
 protected:
  std::string Write(const CBigBuilder& builder, const std::string& name = "a.big") {
    return m_dir.Write(name, builder.Build());
  }
  CTempDir m_dir;
};

TEST_F(TarnGrepTest, MatchesNamesAndValuesOfRowsNotTheTextAroundThem) {
  const std::string text =
      "Object Tank ; Speed in a comment\n"
      "  Speed = 30\n"
      "  Draw = Model\n"
      "    Scale SpeedUp\n"
      "  End\n"
      "  Armor = Speed; Speed\n"
      "End\n"
      "Weapon Speedy\n"
      "  Range 10\n"
      "End\n"
      "Object Tank\n"
      "  LateSpeed 1\n"
      "End\n";
  std::string binary(100, 'x');
  binary[50] = '\0';
  binary += "\nObject O\n Speed 1\nEnd\n";
  std::string lateZero = "Object Far\n  Speed 2\nEnd\n" + std::string(9000, ' ');
  lateZero += '\0';
  const std::string path = Write(CBigBuilder()
                                     .Add("b\\rules.ini", text)
                                     .Add("a\\bin.dat", binary)
                                     .Add("c\x01z", lateZero)
                                     .Add("d",
                                          "Object X\n  Key\tTab = Speed\x7F"
                                          "2\nEnd\n"));
  const CTarnResult r = RunTarnCaptured({"grep", "Speed", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // Blocks in name order, merged headers' lines after each other, the
  // nested block's lines under the line that opened it; nothing from the
  // comment, nor from the binary entry.
  EXPECT_EQ(r.out,
            "b\\rules.ini\tSpeedy\tSpeedy\tWeapon\n"
            "b\\rules.ini\tTank\t    Speed\t30\n"
            "b\\rules.ini\tTank\t        Scale\tSpeedUp\n"
            "b\\rules.ini\tTank\t    Armor\tSpeed\n"
            "b\\rules.ini\tTank\t    LateSpeed\t1\n"
            "c\\x01z\tFar\t    Speed\t2\n"
            "d\tX\t    Key\\x09Tab\tSpeed\\x7F2\n");
  EXPECT_EQ(r.out, Oracle(path, "Speed", false));

  // A pattern across key and value, or reaching into the indentation,
  // matches no row.
  for (const char* across : {"Speed = 30", "Speed 30", "  Speed", "Tank ;"}) {
    const CTarnResult none = RunTarnCaptured({"grep", across, path});
    EXPECT_EQ(none.status, 1) << across;
    EXPECT_EQ(none.out, "") << across;
    EXPECT_EQ(none.err, "") << across;
  }
}

TEST_F(TarnGrepTest, IgnoreCaseFoldsAsciiLettersOnly) {
  const std::string path = Write(CBigBuilder().Add(
      "e", "Object U\n  A SPEED\n  B sPeEd\n  C @x\n  D \xC4x\n  E `X\n  F \xE4X\nEnd\n"));
  EXPECT_EQ(RunTarnCaptured({"grep", "-i", "speed", path}).out,
            "e\tU\t    A\tSPEED\ne\tU\t    B\tsPeEd\n");
  EXPECT_EQ(RunTarnCaptured({"grep", "speed", path}).status, 1);
  // '@' and '`', 0xC4 and 0xE4 differ in the bit that folds letters, and
  // are not letters.
  EXPECT_EQ(RunTarnCaptured({"grep", "-i", "`x", path}).out, "e\tU\t    E\t`X\n");
  EXPECT_EQ(RunTarnCaptured({"grep", "-i", "\xE4x", path}).out, "e\tU\t    F\t\xE4X\n");
}

// Generated texts of every size around the 16-byte steps of the search,
// many entries (more than one thread's share), both cases: the lines are
// the plain search's, in entry order.
TEST_F(TarnGrepTest, AgreesWithARowByRowSearchOnManyEntries) {
  const char* const words[] = {"Armor", "armor", "ARMOR", "Arm",     "or",     "Draw",
                               "End",   "x",     "Speed", "arMORed", "=",      ";",
                               " ",     "\t",    "\r\n",  "\n",      "Object", "Prerequisites"};
  uint64_t state = 7;
  const auto next = [&state] {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<uint32_t>(state >> 33);
  };
  CBigBuilder builder;
  for (int entry = 0; entry < 400; ++entry) {
    std::string text;
    const size_t target = entry < 100 ? static_cast<size_t>(entry) : 2000 + next() % 9000;
    while (text.size() < target) text += words[next() % std::size(words)];
    text.resize(target);
    std::string name = "e";  // not "e" + string: GCC 12 warns falsely there
    name += std::to_string(100000 + entry);
    builder.Add(name, text);
  }
  const std::string path = Write(builder);
  for (const char* pattern : {"Armor", "r", "armored", "Arm or", "o"}) {
    for (const bool fold : {false, true}) {
      SCOPED_TRACE(std::string(pattern) + (fold ? " -i" : ""));
      std::vector<std::string> args = {"grep"};
      if (fold) args.push_back("-i");
      args.push_back(pattern);
      args.push_back(path);
      const CTarnResult r = RunTarnCaptured(args);
      const std::string expected = Oracle(path, pattern, fold);
      EXPECT_EQ(r.out, expected);
      EXPECT_EQ(r.status, expected.empty() ? 1 : 0);
    }
  }
}

TEST(TextFinder, FindsEveryOccurrenceAtEveryPlaceAndNeverReadsPastTheEnd) {
  for (size_t size = 0; size <= 40; ++size) {
    for (size_t at = 0; at < size; ++at) {
      for (size_t length = 1; at + length <= size && length <= 18; ++length) {
        std::string text(size, 'a');
        for (size_t i = 0; i < length; ++i) text[at + i] = static_cast<char>('B' + i);
        // An owning copy of exactly the text, so a read past it is caught
        // by the sanitizer build.
        const std::unique_ptr<char[]> exact(new char[size]);
        std::memcpy(exact.get(), text.data(), size);
        const std::string_view view(exact.get(), size);
        const std::string pattern = text.substr(at, length);
        std::string lower = pattern;
        for (char& c : lower) c = static_cast<char>(c | 0x20);
        EXPECT_EQ(CTextFinder(pattern, false).Find(view), at) << size << " " << at << " " << length;
        EXPECT_EQ(CTextFinder(lower, true).Find(view), at) << size << " " << at << " " << length;
        EXPECT_EQ(CTextFinder(lower, false).Find(view), CTextFinder::npos);
        EXPECT_EQ(CTextFinder(pattern + "a" + "!", false).Find(view), CTextFinder::npos);
        // Ends that match around a middle that does not.
        for (size_t i = 1; i + 1 < length; ++i) {
          std::string changed = pattern;
          changed[i] = 'a';
          EXPECT_EQ(CTextFinder(changed, true).Find(view), CTextFinder::npos)
              << size << " " << at << " " << i;
        }
      }
    }
  }
}

TEST_F(TarnGrepTest, ExitStatusesAreGrepsAndUsageErrorsSayWhy) {
  const std::string good = Write(CBigBuilder().Add("t", "Object T\n  Cost 5\nEnd\n"), "good.big");
  const std::string other = Write(CBigBuilder().Add("u", "Object U\n  Cost 7\nEnd\n"), "other.big");
  const std::string missing = m_dir.Path() + "/missing.big";

  EXPECT_EQ(RunTarnCaptured({"grep", "Cost", good}).status, 0);
  EXPECT_EQ(RunTarnCaptured({"grep", "Nothing", good}).status, 1);

  // Several archives: each line starts with its archive, in the order given.
  const CTarnResult both = RunTarnCaptured({"grep", "Cost", other, good});
  EXPECT_EQ(both.status, 0);
  EXPECT_EQ(both.out, other + "\tu\tU\t    Cost\t7\n" + good + "\tt\tT\t    Cost\t5\n");

  // An archive that cannot be read is named on stderr; the others are still
  // searched, and the status is 2 even though rows matched.
  const CTarnResult trouble = RunTarnCaptured({"grep", "Cost", missing, good});
  EXPECT_EQ(trouble.status, 2);
  EXPECT_EQ(trouble.out, good + "\tt\tT\t    Cost\t5\n");
  EXPECT_EQ(trouble.err, "tarn: " + missing + ": " + MissingFileReason() + "\n");

  // "--" ends the options, so a pattern may start with '-'.
  const std::string dash = Write(CBigBuilder().Add("d", "Object D\n  Flag -i\nEnd\n"), "dash.big");
  EXPECT_EQ(RunTarnCaptured({"grep", "--", "-i", dash}).out, "d\tD\t    Flag\t-i\n");

  const std::vector<std::vector<std::string>> usage = {{"grep"},
                                                       {"grep", "Cost"},
                                                       {"grep", "-i", "Cost"},
                                                       {"grep", "", good},
                                                       {"grep", "-x", "Cost", good},
                                                       {"grep", "--"},
                                                       {"grep", "-i", "--", "", good}};
  for (const auto& args : usage) {
    const CTarnResult r = RunTarnCaptured(args);
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("tarn: grep: ", 0), 0u) << r.err;
  }

  // The real program gives the same statuses.
  const std::string out = m_dir.Path() + "/out";
  const std::string err = m_dir.Path() + "/err";
  EXPECT_EQ(RunTarnProgram({"grep", "Cost", good}, out, err), 0);
  EXPECT_EQ(ReadWholeFile(out), "t\tT\t    Cost\t5\n");
  EXPECT_EQ(RunTarnProgram({"grep", "Nothing", good}, out, err), 1);
  EXPECT_EQ(RunTarnProgram({"grep", "Cost", missing}, out, err), 2);
}

#ifndef _WIN32  // such names are not Windows-1252 paths there
// Every message on standard error goes to the terminal through one escaping
// function: bytes 0x80-0x9F, which terminals may take for control codes
// (0x9B starts a command as ESC [ does), are written as \xHH by grep, diff
// and overrides as by list and extract.
TEST_F(TarnGrepTest, EveryCommandEscapesC1BytesInItsMessages) {
  const std::string missing = m_dir.Path() +
                              "/gone\x85\x9B"
                              "2J.big";
  const std::string shown = m_dir.Path() + "/gone\\x85\\x9B2J.big";
  const std::string good = Write(CBigBuilder().Add("t", "Object T\n  Cost 5\nEnd\n"), "good.big");
  const std::string line = "tarn: " + shown + ": " + MissingFileReason() + "\n";
  const std::vector<std::vector<std::string>> commands = {
      {"grep", "Cost", missing},    {"grep", "-i", "Cost", good, missing},
      {"diff", missing, good},      {"diff", good, missing},
      {"overrides", good, missing}, {"list", missing},
      {"cat", missing, "t"},        {"extract", missing, m_dir.Path() + "/out"},
      {"rm", missing, "t"}};
  for (const auto& args : commands) {
    SCOPED_TRACE(args[0]);
    const CTarnResult r = RunTarnCaptured(args);
    EXPECT_EQ(r.err.find(line), 0u) << r.err;
    EXPECT_EQ(r.err.find_first_of("\x85\x9B"), std::string::npos) << r.err;
  }
  const CTarnResult option = RunTarnCaptured({"grep", "-\x9B", "Cost", good});
  EXPECT_EQ(option.status, 2);
  EXPECT_EQ(option.err.rfind("tarn: grep: unknown option '-\\x9B'\n", 0), 0u) << option.err;
}
#endif

TEST_F(TarnGrepTest, DamagedAndHostileArchivesGiveAnErrorOrTheirRowsNeverACrash) {
  // Not archives, or damaged indexes: refused with the reader's words.
  const std::string notBig = m_dir.Write("text.big", "Object T\n  Cost 5\nEnd\n");
  const std::string overrun = Write(CBigBuilder().Add("a", "x").Count(1000), "overrun.big");
  for (const std::string& path : {notBig, overrun, m_dir.Path()}) {
    const CTarnResult r = RunTarnCaptured({"grep", "Cost", path});
    EXPECT_EQ(r.status, 2) << path;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("tarn: " + path + ": ", 0), 0u) << r.err;
  }

  // Entries reaching past the end are searched as far as the file goes,
  // and named as trouble; one that starts past it is empty. 200,000 nested
  // blocks, and a key as long as the entry, are searched like any other
  // text.
  std::string deep;
  for (int i = 0; i < 200000; ++i) deep += "Draw\n";
  deep += "Cost 1\n";
  const std::string text = "Object T\n  Cost 5\nEnd\n";
  const std::string hostile =
      Write(CBigBuilder()
                .Add("deep", "Object D\n" + deep)
                .Add("long", "Object L\n" + std::string(3u << 20, 'C') + "ost\n")
                .AddRecord("past", 0x7FFFFFF0u, 100)
                .AddRecord("short", 16, 0xFFFFFFFFu),
            "hostile.big");
  const CTarnResult r = RunTarnCaptured({"grep", "Cost", hostile});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, Oracle(hostile, "Cost", false));
  EXPECT_NE(r.out.find("deep\tD\t" + std::string(4u * 200001, ' ') + "Cost\t1\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("long\tL\t    " + std::string(3u << 20, 'C') + "ost\t\n"),
            std::string::npos);
  const std::string cut = "tarn: " + hostile + ": entry '";
  EXPECT_EQ(r.err, cut + "past': cut short by the end of the archive (0 of 100 bytes)\n" + cut +
                       "short': cut short by the end of the archive (" +
                       std::to_string(std::filesystem::file_size(hostile) - 16) +
                       " of 4294967295 bytes)\n");
}

// The demo archive, and the demo texts as a folder packed with tarn pack:
// the same rows a plain search of `tarn show` finds.
TEST_F(TarnGrepTest, FindsWhatShowPrintsInTheDemoAndInAPackedTree) {
  const std::string tree = m_dir.Path() + "/tree/Data/INI";
  std::filesystem::create_directories(tree);
  for (const auto& file : std::filesystem::directory_iterator(TARN_DEMO_TEXT_DIR))
    std::filesystem::copy_file(file.path(), tree + "/" + file.path().filename().string());
  const std::string packed = m_dir.Path() + "/packed.big";
  ASSERT_EQ(RunTarnCaptured({"pack", packed, m_dir.Path() + "/tree"}).status, 0);
  const std::string demo = m_dir.Path() + "/demo.big";
  ASSERT_TRUE(WriteDemoArchive(TARN_DEMO_TEXT_DIR, demo).IsOk());
  for (const std::string& path : {demo, packed}) {
    for (const char* pattern : {"Basalt", "weapon", "End"}) {
      SCOPED_TRACE(path + " " + pattern);
      const std::string expected = Oracle(path, pattern, true);
      const CTarnResult r = RunTarnCaptured({"grep", "-i", pattern, path});
      EXPECT_EQ(r.out, expected);
      EXPECT_EQ(r.status, expected.empty() ? 1 : 0);
    }
  }
  EXPECT_NE(Oracle(demo, "Basalt", false)
                .find("Data\\INI\\Object\\Vehicles.ini\tIV_BasaltTank\tIV_BasaltTank\tObject\n"),
            std::string::npos);
}

}  // namespace
