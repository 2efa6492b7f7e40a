// The demo archive: it opens cleanly, and its rules texts read as intended
// (every block closed, no stray "End" block from a miscounted nesting).
#include <gtest/gtest.h>

#include <string>

#include "archive/big_archive.h"
#include "archive/entry_map.h"
#include "rules/rules_parser.h"
#include "rules/rules_rows.h"
#include "tools/demo/demo_archive.h"
#include "tests/support/big_builder.h"
#include "tests/support/run_tarn.h"
#include "tests/support/tarn_program.h"

namespace {

class DemoArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_path = m_dir.Path() + "/demo.big";
    ASSERT_TRUE(WriteDemoArchive(TARN_DEMO_TEXT_DIR, m_path).IsOk());
  }
  CTempDir m_dir;
  std::string m_path;
};

TEST_F(DemoArchiveTest, OpensWithEveryEntryInside) {
  CEntryMap entries;
  ASSERT_TRUE(OpenArchiveEntries(m_path, entries).IsOk());
  EXPECT_GE(entries.size(), 300u);
  const CTarnResult check = RunTarnCaptured({"check", m_path});
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out, "ok: " + std::to_string(entries.size()) + " entries\n");
  size_t folders = 0;
  for (const auto& [name, bytes] : entries) folders += name.find('\\') != std::string::npos;
  EXPECT_GE(folders, entries.size() - 2);
}

TEST_F(DemoArchiveTest, RulesTextsParseIntoClosedBlocks) {
  CEntryMap entries;
  ASSERT_TRUE(OpenArchiveEntries(m_path, entries).IsOk());
  int texts = 0;
  bool sawCrlf = false;
  for (const auto& [name, bytes] : entries) {
    if (name.rfind("Data\\INI\\", 0) != 0 || bytes.GetSize() == 0) continue;
    SCOPED_TRACE(name);
    ++texts;
    const std::string_view text(reinterpret_cast<const char*>(bytes.GetData()), bytes.GetSize());
    sawCrlf = sawCrlf || text.find("\r\n") != std::string_view::npos;
    CRulesParser parser;
    parser.SetSource(bytes);
    parser.Parse();
    EXPECT_GE(parser.GetBlocks().size(), 2u);
    EXPECT_EQ(parser.GetBlocks().count("End"), 0u);
    // As many "End" lines as blocks opened: nothing swallowed a later header.
    size_t opened = parser.GetBlocks().size();
    size_t maxDepth = 0;
    ForEachRulesRow(parser.GetBlocks(), [&](const CRulesRow& row) {
      if (row.depth > 0 && IsBlockKeyword(row.name)) ++opened;
      maxDepth = std::max<size_t>(maxDepth, row.depth);
    });
    size_t ends = 0;
    for (size_t at = 0; (at = text.find("End", at)) != std::string_view::npos; at += 3) {
      const size_t lineStart = text.find_last_not_of(" \t", at == 0 ? 0 : at - 1);
      const bool first = at == 0 || lineStart == std::string_view::npos ||
                         text[lineStart] == '\n' || text[lineStart] == '\r';
      const bool last = at + 3 == text.size() || text[at + 3] == '\r' || text[at + 3] == '\n';
      ends += first && last;
    }
    EXPECT_EQ(ends, opened);
    EXPECT_LE(maxDepth, 4u);
  }
  EXPECT_GE(texts, 12);
  EXPECT_TRUE(sawCrlf);
}

TEST_F(DemoArchiveTest, SameTextsGiveTheSameBytes) {
  const std::string again = m_dir.Path() + "/again.big";
  ASSERT_TRUE(WriteDemoArchive(TARN_DEMO_TEXT_DIR, again).IsOk());
  EXPECT_EQ(ReadWholeFile(again), ReadWholeFile(m_path));
}

// tests/data/demo/ holds what tarn printed for the demo archive when it was
// recorded on Linux; the program gives the same bytes on every system, with
// no line end rewritten on the way out.
TEST_F(DemoArchiveTest, ListAndShowGiveTheRecordedBytes) {
  struct {
    std::vector<std::string> args;
    const char* recorded;
  } const cases[] = {
      {{"list", m_path}, "list.txt"},
      {{"show", m_path, "Data\\INI\\Object\\Vehicles.ini"}, "show-vehicles.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.recorded);
    const std::string expected =
        ReadWholeFile(std::string(TARN_TEST_DATA_DIR "/demo/") + c.recorded);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(RunTarnCaptured(c.args).out, expected);
    const std::string out = m_dir.Path() + "/out";
    const std::string err = m_dir.Path() + "/err";
    EXPECT_EQ(RunTarnProgram(c.args, out, err), 0);
    EXPECT_EQ(ReadWholeFile(out), expected);
    EXPECT_EQ(ReadWholeFile(err), "");
  }
}

}  // namespace
