// Helpers shared by the fuzz targets: a check that stops the run with a
// readable reason, and a second, deliberately plain rules parser used as the
// oracle for the real one.
//
// The oracle reads nested blocks by recursion, one call per open block, the
// straightforward way; the real parser keeps its own stack. Both must give
// the same rows for every input. Recursion is fine here because fuzz inputs
// are a few kilobytes, so nesting stays a few thousand levels deep at most.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "rules/rules_parser.h"
#include "rules/rules_rows.h"

#define FUZZ_REQUIRE(condition, what)                                                         \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      std::fprintf(stderr, "fuzz check failed at %s:%d: %s (%s)\n", __FILE__, __LINE__, what, \
                   #condition);                                                               \
      std::abort();                                                                           \
    }                                                                                         \
  } while (false)

namespace fuzz {

struct Row {
  uint32_t depth;
  std::string name;
  std::string value;
  bool operator==(const Row&) const = default;
};

// The rows of a parser's result read in place, or of trees built from it.
template <typename Source>
std::vector<Row> RowsOf(const Source& source) {
  std::vector<Row> rows;
  ForEachRulesRow(source, [&rows](const CRulesRow& row) {
    rows.push_back({row.depth, std::string(row.name), std::string(row.value)});
  });
  return rows;
}

// Properties every row sequence has, whatever the input: depth-first order,
// and no token holding a byte that ends it.
inline void CheckRowShape(const std::vector<Row>& rows) {
  uint32_t previous = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    FUZZ_REQUIRE(i != 0 || row.depth == 0, "the first row is a block row");
    FUZZ_REQUIRE(row.depth <= previous + 1, "a row is at most one level below the one before");
    previous = row.depth;
    if (row.depth == 0) {
      FUZZ_REQUIRE(row.name.find_first_of("\t\n\r ;") == std::string::npos, "block name");
      FUZZ_REQUIRE(row.value.find_first_of("\t\n\r ;") == std::string::npos, "block type");
      continue;
    }
    FUZZ_REQUIRE(row.name.find_first_of("\n\r ;=") == std::string::npos, "key");
    FUZZ_REQUIRE(row.value.find_first_of("\n\r;") == std::string::npos, "value");
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    FUZZ_REQUIRE(row.name.empty() || !blank(row.name.back()), "key has no trailing blank");
    FUZZ_REQUIRE(row.value.empty() || (!blank(row.value.front()) && !blank(row.value.back())),
                 "value is trimmed");
  }
}

// The oracle: the rules text algorithm written as plainly as possible.
class ReferenceRules {
 public:
  struct Entry {
    std::string name;
    std::string value;
    std::vector<Entry> children;
  };
  struct Block {
    std::string type;
    Entry body;
  };

  ReferenceRules(const uint8_t* data, size_t size)
      : m_text(reinterpret_cast<const char*>(data), size) {
    SkipSpaceAndComments();
    while (m_at < m_text.size()) {
      const std::string first = Token(kHeader);
      SkipBlanks();
      const std::string second = Token(kHeader);
      SkipBlanks();
      Block& block = m_blocks[second.empty() ? first : second];
      block.type = second.empty() ? std::string() : first;
      if (Body(block.body)) break;
      SkipSpaceAndComments();
    }
  }

  std::vector<Row> Rows() const {
    std::vector<Row> rows;
    for (const auto& [name, block] : m_blocks) {
      rows.push_back({0, name, block.type});
      AddRows(block.body, 1, rows);
    }
    return rows;
  }

 private:
  static constexpr std::string_view kHeader{"\t\n\r ;"};
  static constexpr std::string_view kKey{"\n\r ;="};
  static constexpr std::string_view kValue{"\n\r;"};

  static bool Blank(char c) { return c == ' ' || c == '\t'; }

  void SkipBlanks() {
    while (m_at < m_text.size() && Blank(m_text[m_at])) ++m_at;
  }

  void SkipSpaceAndComments() {
    while (m_at < m_text.size()) {
      const char c = m_text[m_at];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        ++m_at;
      } else if (c == ';') {
        while (m_at < m_text.size() && m_text[m_at] != '\n' && m_text[m_at] != '\r') ++m_at;
      } else {
        return;
      }
    }
  }

  std::string Token(std::string_view separators) {
    const size_t start = m_at;
    size_t last = m_at;
    while (m_at < m_text.size() && separators.find(m_text[m_at]) == std::string_view::npos) {
      const char c = m_text[m_at++];
      if (!Blank(c)) last = m_at;
    }
    return m_text.substr(start, last - start);
  }

  static bool IsEnd(const std::string& key) {
    if (key.size() != 3) return false;
    std::string lower = key;
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower == "end";
  }

  bool Body(Entry& parent) {
    for (;;) {
      SkipSpaceAndComments();
      if (m_at >= m_text.size()) return true;
      const std::string key = Token(kKey);
      SkipBlanks();
      if (IsEnd(key)) return false;
      if (m_at < m_text.size() && m_text[m_at] == '=') ++m_at;
      SkipBlanks();
      const std::string value = Token(kValue);
      SkipBlanks();
      parent.children.push_back({key, value, {}});
      if (IsBlockKeyword(key) && Body(parent.children.back())) return true;
    }
  }

  static void AddRows(const Entry& entry, uint32_t depth, std::vector<Row>& rows) {
    for (const Entry& child : entry.children) {
      rows.push_back({depth, child.name, child.value});
      AddRows(child, depth + 1, rows);
    }
  }

  std::string m_text;
  size_t m_at = 0;
  std::map<std::string, Block> m_blocks;  // std::string compares bytes as unsigned
};

}  // namespace fuzz
