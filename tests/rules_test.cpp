// Rules text: golden files under tests/data/rules (NAME.ini parsed, its rows
// compared with NAME.rows, written the way `tarn rules` prints them), plus
// the properties a golden file cannot show.

#define TARN_INSIDE_RULES  // reaches the block keywords, internal to rules/
#define TARN_INSIDE_CLI    // reaches tarn's output, internal to cli/

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cli/output.h"
#include "rules/block_keywords.h"
#include "rules/rules_parser.h"
#include "rules/rules_rows.h"
#include "rules/rules_scanner.h"
#include "storage/path_name.h"
#include "tests/support/big_builder.h"

namespace {

CDataBuffer Bytes(std::string_view text) {
  return CDataBuffer(text.data(), static_cast<uint32_t>(text.size()));
}

void AppendRow(std::string& out, const CRulesRow& row) {
  out += IndentedName(CRulesRow{row.depth, EscapeBytes(row.name), {}});
  out += '\t';
  out += EscapeBytes(row.value);
  out += '\n';
}

template <typename Source>
std::string RowsText(const Source& parser) {
  std::string out;
  ForEachRulesRow(parser, [&out](const CRulesRow& row) { AppendRow(out, row); });
  return out;
}

// The scanner's headers and lines, put in row order by its own numbering.
std::string ScanToRows(std::string_view text) {
  struct CRecord {
    std::vector<CRulesRow> headers;
    std::vector<std::pair<size_t, CRulesRow>> lines;  // with the header they follow
    void Header(std::string_view name, std::string_view type) {
      headers.push_back({0, name, type});
    }
    bool Line(std::string_view key, std::string_view value, uint32_t depth) {
      lines.push_back({headers.size() - 1, {depth, key, value}});
      return IsBlockKeyword(key);
    }
  } record;
  CRulesScanner scanner;
  scanner.Scan(text, record);
  const std::vector<CRulesScanner::CHeaderRows>& where = scanner.HeaderRows();
  std::map<size_t, CRulesRow> rows;
  for (size_t h = 0; h < where.size(); ++h) rows[where[h].block] = record.headers[h];
  for (size_t i = 0, next = 0; i < record.lines.size(); ++i) {
    const size_t header = record.lines[i].first;
    if (i == 0 || record.lines[i - 1].first != header) next = where[header].firstLine;
    rows[next++] = record.lines[i].second;
  }
  std::string out;
  for (const auto& [number, row] : rows) AppendRow(out, row);
  EXPECT_TRUE(rows.empty() || rows.rbegin()->first + 1 == rows.size()) << "rows numbered twice";
  return out;
}

// The rows as read in place; the trees built on demand, and the scanner
// that the references index reads with, must give the same.
std::string ParseToRows(std::string_view text) {
  CRulesParser parser;
  parser.SetSource(Bytes(text));
  parser.Parse();
  const std::string rows = RowsText(parser);
  EXPECT_EQ(RowsText(parser.GetBlocks()), rows) << "the trees disagree with the rows";
  EXPECT_EQ(ScanToRows(text), rows) << "the scanner disagrees with the parser";
  return rows;
}

TEST(RulesGolden, EveryCaseMatchesItsRows) {
  const std::filesystem::path dir = TARN_TEST_DATA_DIR "/rules";
  int cases = 0;
  for (const auto& file : std::filesystem::directory_iterator(dir)) {
    if (file.path().extension() != ".ini") continue;
    std::filesystem::path expected = file.path();
    expected.replace_extension(".rows");
    SCOPED_TRACE(file.path().filename().string());
    EXPECT_EQ(ParseToRows(ReadWholeFile(file.path().string())), ReadWholeFile(expected.string()));
    ++cases;
  }
  EXPECT_GE(cases, 15);
}

TEST(RulesParser, EmptyAndNullSourcesGiveNoBlocks) {
  CRulesParser parser;
  parser.SetSource(CDataBuffer());
  parser.Parse();
  EXPECT_TRUE(parser.GetBlocks().empty());
  parser.SetSource(CDataBuffer(nullptr, 0));
  parser.Parse();
  EXPECT_TRUE(parser.GetBlocks().empty());
}

TEST(RulesParser, ResultOutlivesTheSourceBytes) {
  CRulesParser parser;
  {
    std::string text = "Object Tank\n  Speed = 30\nEnd\n";
    parser.SetSource(Bytes(text));
    parser.Parse();
    text.assign(text.size(), 'x');
  }
  // Dropping the parser's own share frees the bytes; the strings must be copies.
  parser.SetSource(CDataBuffer());
  ASSERT_EQ(parser.GetBlocks().size(), 1u);
  const CRulesBlock& block = parser.GetBlocks().at("Tank");
  EXPECT_EQ(block.m_type, "Object");
  ASSERT_EQ(block.m_body.m_children.size(), 1u);
  EXPECT_EQ(block.m_body.m_children[0].m_value, "30");
}

TEST(RulesParser, EachParseReplacesTheLastResult) {
  CRulesParser parser;
  parser.SetSource(Bytes("A a\nK = 1\nEnd\n"));
  parser.Parse();
  parser.SetSource(Bytes("B b\nEnd\n"));
  parser.Parse();
  EXPECT_EQ(RowsText(parser), "b\tB\n");
  // Parsing again without a new source reads nothing: the position only moves forward.
  parser.Parse();
  EXPECT_TRUE(parser.GetBlocks().empty());
}

TEST(RulesParser, ParseBlockBodyTellsEndOfDataFromEndLine) {
  CRulesParser parser;
  CRulesEntry parent;
  parser.SetSource(Bytes("K = 1\nEnd rest"));
  EXPECT_FALSE(parser.ParseBlockBody(parent));
  ASSERT_EQ(parent.m_children.size(), 1u);
  CRulesEntry other;
  parser.SetSource(Bytes("K = 1\nDraw\n L = 2\n"));
  EXPECT_TRUE(parser.ParseBlockBody(other));
  ASSERT_EQ(other.m_children.size(), 2u);
  EXPECT_EQ(other.m_children[1].m_children.size(), 1u);
}

TEST(BlockKeywords, ExactCaseSensitiveMatchesOnly) {
  ASSERT_EQ(block_keywords::kKeywords.size(), 48u);
  for (const std::string_view keyword : block_keywords::kKeywords) {
    const std::string k(keyword);
    EXPECT_TRUE(IsBlockKeyword(k)) << k;
    EXPECT_FALSE(IsBlockKeyword(k + " ")) << k;
    EXPECT_FALSE(IsBlockKeyword(k.substr(1))) << k;
    EXPECT_FALSE(IsBlockKeyword(k.substr(0, k.size() - 1))) << k;
    EXPECT_FALSE(IsBlockKeyword(ToLower(k))) << k;
  }
  // Spelled out here too: a keyword dropped from the table by mistake.
  for (const char* keyword :
       {"Object", "Draw", "SkillSet5", "Body", "FriendlySpecialPowerRadiusCursor"})
    EXPECT_TRUE(IsBlockKeyword(keyword)) << keyword;
  for (const char* plain : {"", "End", "SkillSet", "SkillSet0", "SkillSet6", "OBJECT", "object",
                            "Draw\t", "Weapon", "Objects"})
    EXPECT_FALSE(IsBlockKeyword(plain)) << plain;
}

// A million nested blocks must cost heap, not stack: parse, walk, copy and
// destroy all run with explicit stacks.
TEST(RulesParser, MillionDeepNestingParsesWalksCopiesAndFrees) {
  constexpr int kDepth = 1'000'000;
  std::string text = "Object Deep\n";
  text.reserve(text.size() + kDepth * 5 + 16);
  for (int i = 0; i < kDepth; ++i) text += "Draw\n";
  CRulesParser parser;
  parser.SetSource(Bytes(text));
  parser.Parse();
  uint64_t rows = 0;
  uint32_t deepest = 0;
  ForEachRulesRow(parser.GetBlocks(), [&](const CRulesRow& row) {
    ++rows;
    deepest = std::max(deepest, row.depth);
  });
  EXPECT_EQ(rows, kDepth + 1u);
  EXPECT_EQ(deepest, static_cast<uint32_t>(kDepth));

  CRulesEntry copy = parser.GetBlocks().at("Deep").m_body;
  const CRulesEntry* walk = &copy;
  int levels = 0;
  while (!walk->m_children.empty()) {
    walk = &walk->m_children[0];
    ++levels;
  }
  EXPECT_EQ(levels, kDepth);
  CRulesEntry moved;
  moved = std::move(copy);
  moved = CRulesEntry();
}

// Text is classified 64 bytes at a time: a separator at any offset of a
// block, a token that runs on into the next block or two, and a token that
// runs into the end of the data, must end it exactly there.
TEST(RulesParser, TokensOfEveryLengthEndAtTheirSeparator) {
  for (size_t length = 1; length <= 140; ++length) {
    const std::string word(length, 'x');
    for (const char* separator : {" ", "=", ";", "\n", "\r"}) {
      const std::string rows = ParseToRows("B\n" + word + separator + "v\nEnd\n");
      const std::string value = (*separator == ' ' || *separator == '=') ? "v" : "";
      const std::string tail = (*separator == ';')                          ? ""
                               : (*separator == '\n' || *separator == '\r') ? "    v\t\n"
                                                                            : "";
      EXPECT_EQ(rows, "B\t\n    " + word + "\t" + value + "\n" + tail)
          << length << " " << int(*separator);
    }
    for (const char* separator : {";", "\n", "\r"}) {
      EXPECT_EQ(ParseToRows("B\nK " + word + separator + "\nEnd\n"), "B\t\n    K\t" + word + "\n")
          << length << " " << int(*separator);
    }
    EXPECT_EQ(ParseToRows("B\nK " + word), "B\t\n    K\t" + word + "\n") << length;
    EXPECT_EQ(ParseToRows("T " + word), word + "\tT\n") << length;
  }
}

// The rows of a parse are sized from its line count; both ways give the same rows.
TEST(RulesRows, LineCountSizesTheRows) {
  CRulesParser parser;
  parser.SetSource(Bytes("W b\n Draw\n  K = v\n End\n M\nEnd\nW b\n N\nEnd\nX\n"));
  parser.Parse();
  EXPECT_EQ(parser.GetLineCount(), 4u);
  const std::vector<CRulesRow> sized = BuildRulesRows(parser);
  const std::vector<CRulesRow> grown = BuildRulesRows(parser.GetBlocks());
  ASSERT_EQ(sized.size(), parser.GetBlocks().size() + parser.GetLineCount());
  ASSERT_EQ(sized.size(), grown.size());
  for (size_t i = 0; i < sized.size(); ++i) {
    EXPECT_EQ(sized[i].depth, grown[i].depth);
    EXPECT_EQ(sized[i].name, grown[i].name);
  }
}

TEST(RulesRows, DepthFollowsNestingAndBlocksComeInByteOrder) {
  CRulesParser parser;
  parser.SetSource(Bytes("W b\n Draw\n  Body\n   K = v\n  End\n  L\n End\n M\nEnd\nW B\nEnd\n"));
  parser.Parse();
  const std::vector<CRulesRow> rows = BuildRulesRows(parser.GetBlocks());
  std::vector<std::pair<uint32_t, std::string>> seen;
  for (const CRulesRow& row : rows) seen.emplace_back(row.depth, std::string(row.name));
  const std::vector<std::pair<uint32_t, std::string>> expected = {
      {0, "B"}, {0, "b"}, {1, "Draw"}, {2, "Body"}, {3, "K"}, {2, "L"}, {1, "M"}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(IndentedName(rows[4]), "            K");
}

}  // namespace

namespace {

// Hostile texts repeat one header name endlessly; every repeat appends to the
// same block, which must not copy the block's lines each time (that turned a
// 4 MB text into minutes of work).
TEST(RulesParser, ManyHeadersOfOneNameMergeInLinearTime) {
  constexpr int kRepeats = 200'000;
  std::string text;
  for (int i = 0; i < kRepeats; ++i) text += "A b\n K = 1\n Draw\n  L = 2\n End\nEnd\n";
  CRulesParser parser;
  parser.SetSource(Bytes(text));
  parser.Parse();
  ASSERT_EQ(parser.GetBlocks().size(), 1u);
  const CRulesEntry& body = parser.GetBlocks().at("b").m_body;
  ASSERT_EQ(body.m_children.size(), 2u * kRepeats);
  EXPECT_EQ(body.m_children.back().m_name, "Draw");
  EXPECT_EQ(body.m_children.back().m_children.size(), 1u);
}

}  // namespace

namespace {

// Thousands of headers take another sort than a handful: names that tie on
// their first eight or sixteen bytes, that are prefixes of each other, that
// hold bytes above 0x7F or NUL, and that repeat, must still come out in
// byte order, one block per name, with every header's lines in text order
// and the last header's type.
TEST(RulesParser, ThousandsOfHeadersGroupByNameInByteOrder) {
  const std::vector<std::string> stems = {"Unit_", "UnitName_Long_",       "UnitName_Long_Longer_",
                                          "U",     std::string("N\0l", 3), "\xC3\xA9t\xC3\xA9_",
                                          "a"};
  std::map<std::string, std::pair<std::string, std::vector<int>>> expected;  // name: type, lines
  std::string text;
  uint64_t state = 7;
  for (int header = 0; header < 5000; ++header) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    const std::string name =
        stems[(state >> 33) % stems.size()] + std::to_string((state >> 40) % 1500);
    const std::string type = "T" + std::to_string(header % 3);
    text += type + " " + name + "\n K = " + std::to_string(header) + "\nEnd\n";
    expected[name].first = type;
    expected[name].second.push_back(header);
  }
  CRulesParser parser;
  parser.SetSource(Bytes(text));
  parser.Parse();
  std::string want;
  for (const auto& [name, block] : expected) {
    want += name + "\t" + block.first + "\n";
    for (int line : block.second) want += "    K\t" + std::to_string(line) + "\n";
  }
  std::string got;
  ForEachRulesRow(parser, [&got](const CRulesRow& row) {
    ((((got += std::string(size_t{4} * row.depth, ' ')) += row.name) += '\t') += row.value) += '\n';
  });
  EXPECT_EQ(parser.GetBlockCount(), expected.size());
  EXPECT_TRUE(got == want) << "rows differ from the expected order";
}

}  // namespace
