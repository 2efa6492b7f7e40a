// Rules text from anywhere: parse it, build its rows, and compare them with
// the plain recursive oracle. Also copies and moves the parsed tree, which
// have their own non-recursive code.
#include <cstddef>
#include <cstdint>
#include <utility>

#include "fuzz/fuzz_support.h"
#include "rules/rules_parser.h"
#include "rules/rules_rows.h"
#include "storage/data_buffer.h"

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
  return 0;
}
