// The search of rules text from anywhere: the input's first byte says how
// long the pattern is and whether case is ignored, the pattern follows, and
// the rest is the text. The rows found must be exactly those that a plain
// search of every row finds, in row order, with their block names.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "rules/rules_parser.h"
#include "rules/rules_search.h"
#include "storage/data_buffer.h"
#include "tests/support/plain_search.h"

namespace {

struct Found {
  size_t row;
  std::string block;
  fuzz::Row cells;
  bool operator==(const Found&) const = default;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t length = data[0] % 16 + 1;
  const bool ignoreCase = (data[0] & 0x80) != 0;
  if (size - 1 < length) return 0;
  const std::string pattern(reinterpret_cast<const char*>(data) + 1, length);
  // The text in a block of its own, exactly its size: a read past it is a
  // sanitizer report.
  const size_t textSize = size - 1 - length;
  const CDataBuffer text(data + 1 + length, static_cast<uint32_t>(textSize));
  const std::string_view bytes(reinterpret_cast<const char*>(text.GetData()), textSize);

  std::vector<Found> found;
  CRulesSearch search(pattern, ignoreCase);
  const size_t count = search.SearchEntry(bytes, [&found](const CRulesMatch& match) {
    found.push_back(
        {match.row,
         std::string(match.block),
         {match.cells.depth, std::string(match.cells.name), std::string(match.cells.value)}});
  });
  FUZZ_REQUIRE(count == found.size(), "the count is the rows visited");

  std::vector<Found> expected;
  if (IsRulesText(bytes)) {
    CRulesParser parser;
    parser.SetSource(text);
    parser.Parse();
    const std::vector<fuzz::Row> rows = fuzz::RowsOf(parser);
    std::string block;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].depth == 0) block = rows[i].name;
      if (PlainContains(rows[i].name, pattern, ignoreCase) ||
          PlainContains(rows[i].value, pattern, ignoreCase))
        expected.push_back({i, block, rows[i]});
    }
  }
  FUZZ_REQUIRE(found == expected, "the rows a plain search of every row finds");
  // The finder alone agrees with a plain search of the whole text.
  const size_t at = CTextFinder(pattern, ignoreCase).Find(bytes);
  size_t plain = 0;
  while (plain + length <= textSize &&
         !PlainContains(bytes.substr(plain, length), pattern, ignoreCase))
    ++plain;
  FUZZ_REQUIRE(at == (plain + length <= textSize ? plain : CTextFinder::npos),
               "the first occurrence");
  return 0;
}
