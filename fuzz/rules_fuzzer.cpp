// Rules text from anywhere: parse it, build its rows, and compare them with
// the plain recursive oracle. Also copies and moves the parsed tree, which
// have their own non-recursive code, and builds the references index.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "rules/rules_parser.h"
#include "rules/rules_refs.h"
#include "rules/rules_rows.h"
#include "rules/rules_scanner.h"
#include "storage/data_buffer.h"

namespace {

// The scanner that the references index reads with, over the same bytes:
// its headers and lines, put in row order by its own numbering, are the
// parser's rows, and every piece is a view of the bytes it was given.
void CheckScanner(const uint8_t* data, size_t size, const std::vector<fuzz::Row>& rows) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  struct CLine {
    fuzz::Row row;
    size_t header;
  };
  struct CRecord {
    std::string_view text;
    std::vector<CLine> lines;
    std::vector<fuzz::Row> headers;
    void Inside(std::string_view piece) const {
      FUZZ_REQUIRE(piece.data() >= text.data() &&
                       piece.data() + piece.size() <= text.data() + text.size(),
                   "a scanned piece lies in the text");
    }
    void Header(std::string_view name, std::string_view type) {
      Inside(name);
      Inside(type);
      headers.push_back({0, std::string(name), std::string(type)});
    }
    bool Line(std::string_view key, std::string_view value, uint32_t depth) {
      Inside(key);
      Inside(value);
      FUZZ_REQUIRE(!headers.empty(), "a line follows a header");
      lines.push_back({{depth, std::string(key), std::string(value)}, headers.size() - 1});
      return IsBlockKeyword(key);
    }
  } record{text, {}, {}};
  CRulesScanner scanner;
  scanner.Scan(text, record);
  const std::vector<CRulesScanner::CHeaderRows>& where = scanner.HeaderRows();
  FUZZ_REQUIRE(where.size() == record.headers.size(), "rows for every header");
  std::vector<fuzz::Row> scanned(rows.size());
  std::vector<bool> filled(rows.size());
  const auto place = [&](size_t at, const fuzz::Row& row) {
    FUZZ_REQUIRE(at < scanned.size(), "a row number within the rows");
    scanned[at] = row;
    filled[at] = true;
  };
  // A later header of a name gives its block's type.
  for (size_t h = 0; h < where.size(); ++h) place(where[h].block, record.headers[h]);
  size_t header = SIZE_MAX;
  size_t next = 0;
  for (const CLine& line : record.lines) {
    if (line.header != header) next = where[header = line.header].firstLine;
    place(next++, line.row);
  }
  FUZZ_REQUIRE(std::find(filled.begin(), filled.end(), false) == filled.end(), "every row scanned");
  FUZZ_REQUIRE(scanned == rows, "the scanner reads the parser's rows");
}

using CPlaces = std::vector<std::pair<uint32_t, uint32_t>>;  // entry, row

// Everything the rows say the index should find, found: each row naming
// defined blocks is one use of each, each key's rows are counted, and the
// rows of reference keys that name nothing defined are the unresolved ones.
// What is told here by sets and maps the index tells by tables of its own.
void CheckIndexFindsAll(const CRulesIndex& index, const CReferenceKeyRule& rule,
                        const std::vector<std::vector<fuzz::Row>>& rows) {
  std::set<std::string_view> defined;
  for (const std::vector<fuzz::Row>& entry : rows)
    for (const fuzz::Row& row : entry)
      if (row.depth == 0) defined.insert(row.name);
  const auto isDefined = [&](std::string_view token) { return defined.count(token) != 0; };
  std::map<std::string_view, CPlaces> uses;
  std::map<std::string_view, CKeyUse> keys;
  for (uint32_t e = 0; e < rows.size(); ++e) {
    for (uint32_t r = 0; r < rows[e].size(); ++r) {
      const fuzz::Row& row = rows[e][r];
      if (row.depth == 0) continue;
      std::set<std::string_view> named;
      ForEachValueToken(row.value, [&](std::string_view t) {
        if (isDefined(t)) named.insert(t);
      });
      for (const std::string_view name : named) uses[name].push_back({e, r});
      CKeyUse& use = keys[row.name];
      ++use.rows;
      use.references += named.empty() ? 0 : 1;
    }
  }
  for (const std::string_view name : defined) {
    CPlaces found;
    for (const CRulesUse& use : index.UsesOf(name)) found.push_back({use.entry, use.row});
    FUZZ_REQUIRE(found == uses[name], "every row that names a block is a use of it");
  }
  CPlaces unresolved, found;
  for (uint32_t e = 0; e < rows.size(); ++e)
    for (uint32_t r = 0; r < rows[e].size(); ++r)
      if (const fuzz::Row& row = rows[e][r]; row.depth > 0 &&
                                             IsReferenceKey(keys[row.name], rule) &&
                                             IsUnresolvedValue(row.value, isDefined))
        unresolved.push_back({e, r});
  for (const CRulesUnresolved& u : index.Unresolved()) found.push_back({u.entry, u.row});
  FUZZ_REQUIRE(found == unresolved, "the unresolved rows, all of them");
  for (const auto& [key, use] : keys) {
    if (use.rows < rule.minUses) continue;
    const auto kept = index.Keys().find(key);
    FUZZ_REQUIRE(kept != index.Keys().end() && kept->second.rows == use.rows &&
                     kept->second.references == use.references,
                 "each key's rows and references counted");
  }
}

// The references index over the text split in two entries at its first
// byte's value: every definition, use and unresolved row it reports is one
// the rows show, and its views lie inside the bytes it was given.
void CheckIndex(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t cut = size == 0 ? 0 : data[0] % (size + 1);
  const CReferenceKeyRule rule{1, 50};
  CRulesIndex index;
  index.Build({{"a", text.substr(0, cut)}, {"b", text.substr(cut)}}, rule);
  std::vector<std::vector<fuzz::Row>> rows;
  for (const CRulesSource& source : index.Sources()) {
    CRulesParser parser;
    parser.SetSourceBytes(source.Bytes());
    parser.Parse();
    rows.push_back(fuzz::RowsOf(parser));
  }
  const auto inside = [&](std::string_view piece, uint32_t entry) {
    const std::string_view bytes = index.Sources()[entry].Bytes();
    return piece.empty() || (piece.data() >= bytes.data() &&
                             piece.data() + piece.size() <= bytes.data() + bytes.size());
  };
  for (const CRulesDefinition& d : index.Definitions()) {
    const std::string_view name = index.NameOf(d);
    // The type word is kept once, from the first entry that used it.
    bool keywordInAnEntry = false;
    for (uint32_t entry = 0; entry <= d.entry; ++entry)
      keywordInAnEntry = keywordInAnEntry || inside(index.KeywordOf(d), entry);
    FUZZ_REQUIRE(inside(name, d.entry) && keywordInAnEntry, "views in the entries");
    FUZZ_REQUIRE(index.IsDefined(name), "a defined name is found");
    for (const CRulesUse& use : index.UsesOf(name)) {
      FUZZ_REQUIRE(use.row < rows[use.entry].size(), "a use is a row");
      const fuzz::Row& row = rows[use.entry][use.row];
      FUZZ_REQUIRE(row.depth > 0 && ValueHoldsToken(row.value, name), "a use names it");
    }
  }
  for (const CRulesUnresolved& u : index.Unresolved()) {
    FUZZ_REQUIRE(u.row < rows[u.entry].size(), "an unresolved row is a row");
    const fuzz::Row& row = rows[u.entry][u.row];
    FUZZ_REQUIRE(row.depth > 0 && index.IsReferenceKey(row.name), "of a reference key");
    FUZZ_REQUIRE(
        IsUnresolvedValue(row.value, [&](std::string_view t) { return index.IsDefined(t); }),
        "naming nothing defined");
  }
  for (const CRulesDuplicate& d : index.Duplicates())
    FUZZ_REQUIRE(d.definitions.size() >= 2, "a duplicate is defined twice");
  CheckIndexFindsAll(index, rule, rows);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An owning copy of exactly `size` bytes, so a read one byte past the end
  // is an AddressSanitizer report rather than a silent peek.
  const CDataBuffer bytes(data, static_cast<uint32_t>(size));
  CRulesParser parser;
  parser.SetSource(bytes);
  parser.Parse();
  // The rows as the list view and `tarn show` read them, in place.
  const std::vector<fuzz::Row> rows = fuzz::RowsOf(parser);
  fuzz::CheckRowShape(rows);
  FUZZ_REQUIRE(parser.GetRowCount() == rows.size(), "the row count is the rows'");
  FUZZ_REQUIRE(parser.GetBlockCount() + parser.GetLineCount() == rows.size(),
               "the line count sizes the rows exactly");

  const fuzz::ReferenceRules reference(data, size);
  FUZZ_REQUIRE(rows == reference.Rows(), "rows equal the recursive oracle's");
  // Read backwards (each read a jump), a row is still the same row.
  for (size_t i = rows.size(); i-- > 0;) {
    const CRulesRow row = parser.GetRow(i);
    FUZZ_REQUIRE((fuzz::Row{row.depth, std::string(row.name), std::string(row.value)}) == rows[i],
                 "a row read by number");
  }
  FUZZ_REQUIRE(fuzz::RowsOf(parser.GetBlocks()) == rows, "the trees give the same rows");
  FUZZ_REQUIRE(parser.GetBlocks().size() == parser.GetBlockCount(), "one tree a block");

  // Parsing again from the same source gives the same rows; SetSource
  // rewinds.
  parser.SetSource(bytes);
  parser.Parse();
  FUZZ_REQUIRE(fuzz::RowsOf(parser) == rows, "a second parse agrees");
  FUZZ_REQUIRE(fuzz::RowsOf(parser.GetBlocks()) == rows, "a second parse's trees agree");

  CRulesParser::Blocks copy = parser.GetBlocks();
  FUZZ_REQUIRE(fuzz::RowsOf(copy) == rows, "a copied tree has the same rows");
  CRulesParser::Blocks moved = std::move(copy);
  if (!moved.empty()) {
    CRulesEntry& body = moved.begin()->second.m_body;
    CRulesEntry assigned;
    assigned = body;
    body = std::move(assigned);
  }
  FUZZ_REQUIRE(fuzz::RowsOf(moved) == rows, "copy and move assignment keep the rows");

  CheckScanner(data, size, rows);
  CheckIndex(data, size);
  return 0;
}
