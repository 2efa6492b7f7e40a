// Parser of rules text: INI-style blocks of key/value lines, nested blocks
// opened by a keyword key and closed by a line whose key is "End".
//
//   Object Tank            ; header: type word, block name
//     Speed = 30           ; key, optional '=', value
//     Draw = Model         ; a block keyword: opens a nested block
//       Scale 2
//     End
//   End
//
// Any byte sequence parses; there is no error path.
//
// Each Parse() copies the text once and keeps its result flat: one line
// record per header and line, in text order, each with its depth and with
// its name and value as offsets into that copy, plus the headers grouped by
// block name. Nothing of the result points into the caller's bytes, so it
// outlives them. The rows read straight from this (GetRow, ForEachRow); the
// trees of CRulesBlock and CRulesEntry, whose strings are copies of their
// own, are built from it only for a caller that asks (GetBlocks). The
// parser keeps its memory from parse to parse: the list view parses again
// at every selection, and allocating and faulting in fresh pages cost more
// than the parse itself.
//
// Nesting depth is unbounded: a line's depth is a number, not a frame, and
// building, copying and destroying the trees use explicit stacks, so a
// million open blocks cost heap memory only.
//
// Threading: none; each list view owns its own parser.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "storage/data_buffer.h"

class CRulesEntry {
 public:
  CRulesEntry() = default;
  CRulesEntry(std::string_view name, std::string_view value) : m_name(name), m_value(value) {}
  CRulesEntry(const CRulesEntry& other);
  CRulesEntry(CRulesEntry&& other) noexcept = default;
  CRulesEntry& operator=(const CRulesEntry& other);
  CRulesEntry& operator=(CRulesEntry&& other) noexcept;
  ~CRulesEntry();

  std::string m_name;
  std::string m_value;
  std::vector<CRulesEntry> m_children;
};

struct CRulesBlock {
  std::string m_type;  // empty after a one-word header
  CRulesEntry m_body;  // its children are the block's lines
};

// One row as the list shows it. A block row has depth 0, the block's name
// and its type as value; a line of the block has depth 1, a line of a block
// nested in that line depth 2, and so on. The views point into the parser's
// copy of the text: valid until its next Parse() or its destruction.
struct CRulesRow {
  uint32_t depth;
  std::string_view name;
  std::string_view value;
};

class CRulesParser {
 public:
  // Byte-wise, case-sensitive block-name order.
  using Blocks = std::map<std::string, CRulesBlock, std::less<>>;

  CRulesParser();
  ~CRulesParser();
  CRulesParser(const CRulesParser&) = delete;
  CRulesParser& operator=(const CRulesParser&) = delete;

  void SetSource(const CDataBuffer& source);
  // The same without a share of any buffer: the caller keeps `bytes` alive
  // until Parse() returns (the result is a copy). A search thread uses this,
  // as buffer counts belong to the thread that made them.
  void SetSourceBytes(std::string_view bytes);
  void Parse();

  // The rows of the last Parse(): one per block in block-name order, each
  // followed depth-first by the rows of its lines (the lines of every header
  // of that name, in text order).
  size_t GetRowCount() const { return m_rowCount; }
  // REQUIRES: row < GetRowCount(). Constant time when rows are read in
  // order; a jump costs a binary search over the headers.
  CRulesRow GetRow(size_t row) const;
  template <typename Visit>
  void ForEachRow(Visit&& visit) const;
  size_t GetBlockCount() const { return m_blockCount; }
  // Lines (entries at every depth) of the last Parse(); with the block count
  // it is the number of rows.
  size_t GetLineCount() const { return m_rowCount - m_blockCount; }

  // The parser's copy of the text the last Parse() read, which every row's
  // name and value are views of: a row's place in the text is its offset.
  std::string_view GetText() const { return {m_text.get(), m_textSize}; }
  // The rows by the text they come from. The headers and lines of the text
  // are numbered in text order; each gives one row, except a header whose
  // name a later header repeats (the block's row is the last header's).
  size_t GetTextLineCount() const { return m_lineCount; }
  // Calls visit(size_t row, std::string_view block, const CRulesRow&) for
  // the rows of the text lines `lines` (ascending numbers, no repeats), in
  // row order; `block` is the name of the top-level block holding the row.
  template <typename Visit>
  void ForEachRowOfLines(const std::vector<uint32_t>& lines, Visit&& visit) const;
  // Where a row's name or value starts in the parsed bytes: the text is
  // copied byte for byte, so this is also its offset in the source.
  // REQUIRES: `piece` is a name or value of a row of the last Parse().
  size_t TextOffset(std::string_view piece) const {
    return static_cast<size_t>(piece.data() - m_text.get());
  }

  // A search's parse, in two steps, that builds only the rows holding what
  // it looks for: most rows of a search hold nothing, and the fields of a
  // line that holds nothing need not be found. CopySource() copies the
  // source as Parse() does and returns the copy, where the caller finds the
  // occurrences. ParseHolding(starts, size, lines) then reads the copy and
  // sets `lines` to the text lines (ascending) whose name or value wholly
  // holds an occurrence: `size` bytes at one of `starts` (ascending).
  // Afterwards only ForEachRowOfLines over those lines, the counts and
  // GetText() may be read.
  std::string_view CopySource();
  void ParseHolding(const std::vector<uint32_t>& starts, size_t size, std::vector<uint32_t>& lines);

  // Calls visit(const CRulesRow&) for every header of the last Parse() or
  // ParseHolding(), in text order: depth 0, its block name and its own type
  // word. Unlike the rows, two headers of one name stay two.
  template <typename Visit>
  void ForEachHeader(Visit&& visit) const {
    for (size_t h = 0; h + 1 < m_headers.size(); ++h) visit(RowOf(m_lines[m_headers[h]]));
  }

  // The last result as trees, built on the first call after a Parse().
  const Blocks& GetBlocks() const;

  // Reads lines into parent's children until a line whose key is "End"
  // (false) or the end of the data (true).
  bool ParseBlockBody(CRulesEntry& parent);

 private:
  // One header or line of the text: offsets into the copy of the text.
  struct CFlatLine {
    uint32_t name;
    uint32_t nameSize;
    uint32_t value;
    uint32_t valueSize;
    uint32_t depth;  // 0 for a header
  };
  struct CSortKey;  // a header as the block-name sort sees it
  class CPending;   // the occurrences a search has still to place
  class CLineWalk;  // the reading of ParseHolding
  // A run of rows that are consecutive lines of the text, or a block's row.
  struct CSegment {
    uint32_t firstRow;
    uint32_t firstLine;
  };
  // Where the rows of a header and its lines are: the segment of its
  // block's row, and that of its lines (kNoSegment when it has none).
  struct CHeaderRows {
    uint32_t block;
    uint32_t lines;
  };
  static constexpr uint32_t kNoSegment = UINT32_MAX;
  // A row that ForEachRowOfLines visits.
  struct CLineRow {
    uint32_t row;
    uint32_t line;
    uint32_t block;  // the segment of its block's row
  };

  CRulesRow RowOf(const CFlatLine& line) const {
    return {line.depth,
            {m_text.get() + line.name, line.nameSize},
            {m_text.get() + line.value, line.valueSize}};
  }
  // The segment holding `row`, found from the last one looked up.
  size_t SegmentOf(size_t row) const;
  void Clear();
  // Reads the copied text [0, size) into m_lines. From the top level,
  // headers open blocks; a block body (depth 1) stops at its own "End".
  // Returns whether the data ended, and the offset where reading stopped.
  bool ReadLines(size_t size, uint32_t depth, size_t& stop);
  // Grows m_lines, keeping its first m_lineCount records.
  void GrowLines(size_t textSize);
  void CopyText(const uint8_t* bytes, size_t size);
  // m_order: the headers of m_headers (but its last) in block-name order.
  void SortHeaders();
  // With `mapHeaders`, fills m_headerRows too.
  void GroupHeaders(bool mapHeaders = false);
  void BuildTree(size_t first, size_t end, CRulesEntry& parent) const;

  CDataBuffer m_buffer;
  const uint8_t* m_begin = nullptr;
  const uint8_t* m_position = nullptr;
  const uint8_t* m_end = nullptr;

  // Kept from parse to parse; see the file comment.
  std::unique_ptr<char[]> m_text;
  size_t m_textCapacity = 0;
  size_t m_textSize = 0;
  std::unique_ptr<CFlatLine[]> m_lines;
  size_t m_lineCapacity = 0;
  size_t m_lineCount = 0;
  std::vector<uint32_t> m_headers;        // indexes in m_lines, text order, then m_lineCount
  std::vector<CSegment> m_segments;       // in row order, then one that starts at m_rowCount
  std::vector<CHeaderRows> m_headerRows;  // by header, in text order; made by ParseHolding
  mutable std::vector<CLineRow> m_lineRows;
  std::vector<CSortKey> m_order;  // the headers in block-name order
  std::vector<CSortKey> m_scratch;
  size_t m_rowCount = 0;
  size_t m_blockCount = 0;
  mutable size_t m_lastSegment = 0;

  mutable Blocks m_blocks;
  mutable bool m_blocksBuilt = true;
};

template <typename Visit>
void CRulesParser::ForEachRow(Visit&& visit) const {
  for (size_t s = 0; s + 1 < m_segments.size(); ++s) {
    const CFlatLine* line = m_lines.get() + m_segments[s].firstLine;
    const CFlatLine* const end = line + (m_segments[s + 1].firstRow - m_segments[s].firstRow);
    for (; line != end; ++line) visit(RowOf(*line));
  }
}

template <typename Visit>
void CRulesParser::ForEachRowOfLines(const std::vector<uint32_t>& lines, Visit&& visit) const {
  // Each line's row from the header it follows, then the rows in order.
  m_lineRows.clear();
  size_t h = 0;
  for (const uint32_t line : lines) {
    while (m_headers[h + 1] <= line) ++h;
    const CHeaderRows& where = m_headerRows[h];
    if (line == m_headers[h]) {
      // A header's own row is its block's, when it is the block's last.
      const CSegment& block = m_segments[where.block];
      if (block.firstLine == line) m_lineRows.push_back({block.firstRow, line, where.block});
    } else {
      const CSegment& run = m_segments[where.lines];
      m_lineRows.push_back({run.firstRow + (line - run.firstLine), line, where.block});
    }
  }
  std::sort(m_lineRows.begin(), m_lineRows.end(),
            [](const CLineRow& a, const CLineRow& b) { return a.row < b.row; });
  for (const CLineRow& found : m_lineRows)
    visit(size_t{found.row}, RowOf(m_lines[m_segments[found.block].firstLine]).name,
          RowOf(m_lines[found.line]));
}

// True for the keys that open a nested block (exact, case-sensitive).
bool IsBlockKeyword(std::string_view key);
