// The rows that a parsed rules text shows as: one row per block, in block-
// name order, each followed depth-first by the rows of its lines. A block row
// has depth 0, its name and its type as value; a line of the block has depth
// 1, a line of a block nested in that line depth 2, and so on. Shown, a row's
// name is indented by four spaces per level of depth.
//
// Rows refer to the parser's strings: they are valid until its next Parse().
// The parser gives its rows without building trees (CRulesParser::GetRow and
// ForEachRow); the functions over Blocks here walk trees that a caller asked
// for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rules/rules_parser.h"

// Calls visit(const CRulesRow&) for every row, in order. Walks with its own
// stack, so any depth of nesting is fine.
template <typename Visit>
void ForEachRulesRow(const CRulesParser::Blocks& blocks, Visit&& visit) {
  struct Level {
    const CRulesEntry* entry;
    size_t next;
  };
  std::vector<Level> stack;
  for (const auto& [name, block] : blocks) {
    visit(CRulesRow{0, name, block.m_type});
    stack.push_back({&block.m_body, 0});
    while (!stack.empty()) {
      Level& top = stack.back();
      if (top.next == top.entry->m_children.size()) {
        stack.pop_back();
        continue;
      }
      const CRulesEntry& child = top.entry->m_children[top.next++];
      visit(CRulesRow{static_cast<uint32_t>(stack.size()), child.m_name, child.m_value});
      if (!child.m_children.empty()) stack.push_back({&child, 0});
    }
  }
}

inline std::vector<CRulesRow> BuildRulesRows(const CRulesParser::Blocks& blocks,
                                             size_t expected = 0) {
  std::vector<CRulesRow> rows;
  rows.reserve(expected);
  ForEachRulesRow(blocks, [&rows](const CRulesRow& row) { rows.push_back(row); });
  return rows;
}

// The same rows read in place from the parser's last result: no trees.
template <typename Visit>
void ForEachRulesRow(const CRulesParser& parser, Visit&& visit) {
  parser.ForEachRow(visit);
}

// The rows of the parser's last result, sized once.
inline std::vector<CRulesRow> BuildRulesRows(const CRulesParser& parser) {
  std::vector<CRulesRow> rows;
  rows.reserve(parser.GetRowCount());
  parser.ForEachRow([&rows](const CRulesRow& row) { rows.push_back(row); });
  return rows;
}

// The rows of a parser's last result as a sequence, read in place: what the
// list view keeps instead of a copy of every row. Valid until the parser's
// next Parse().
class CRulesRows {
 public:
  CRulesRows() = default;
  explicit CRulesRows(const CRulesParser& parser)
      : m_parser(&parser), m_size(parser.GetRowCount()) {}

  size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  // REQUIRES: row < size().
  CRulesRow operator[](size_t row) const { return m_parser->GetRow(row); }
  // Where a row's value starts in the entry's bytes.
  size_t ValueOffset(const CRulesRow& row) const { return m_parser->TextOffset(row.value); }

  class Iterator {
   public:
    using value_type = CRulesRow;
    using difference_type = std::ptrdiff_t;
    Iterator(const CRulesRows* rows, size_t at) : m_rows(rows), m_at(at) {}
    CRulesRow operator*() const { return (*m_rows)[m_at]; }
    Iterator& operator++() {
      ++m_at;
      return *this;
    }
    bool operator==(const Iterator& other) const { return m_at == other.m_at; }

   private:
    const CRulesRows* m_rows;
    size_t m_at;
  };
  Iterator begin() const { return {this, 0}; }
  Iterator end() const { return {this, m_size}; }

 private:
  const CRulesParser* m_parser = nullptr;
  size_t m_size = 0;
};

// The Name cell as shown: 4 × depth spaces, then the name.
inline std::string IndentedName(const CRulesRow& row) {
  std::string cell(size_t{4} * row.depth, ' ');
  cell.append(row.name);
  return cell;
}
