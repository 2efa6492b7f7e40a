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
  const std::vector<fuzz::Row> rows = fuzz::RowsOf(parser.GetBlocks());
  fuzz::CheckRowShape(rows);
  FUZZ_REQUIRE(parser.GetBlocks().size() + parser.GetLineCount() == rows.size(),
               "the line count sizes the rows exactly");

  const fuzz::ReferenceRules reference(data, size);
  FUZZ_REQUIRE(rows == reference.Rows(), "rows equal the recursive oracle's");

  // Parsing again from the same source gives the same rows; SetSource
  // rewinds.
  parser.SetSource(bytes);
  parser.Parse();
  FUZZ_REQUIRE(fuzz::RowsOf(parser.GetBlocks()) == rows, "a second parse agrees");

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
