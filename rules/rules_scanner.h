// A reading of rules text for a caller that wants its headers and lines but
// not the parser's rows: the references index reads every rules entry of an
// archive, where building the parser's records, sorting its headers and
// then walking its rows cost more than the reading itself.
//
// It reads exactly as CRulesParser::Parse() does (the same blanks, comments,
// line ends, "End", block keywords and the rest of a header's or an End's
// line), in the entry's own bytes: no copy, and no read before or after
// them. Each header and each line is handed to a visitor in text order, its
// pieces as views of those bytes:
//
//   visit.Header(std::string_view name, std::string_view type)
//       a top-level header; an empty type (a one-word header) is a view of
//       no bytes at the text's start
//   bool visit.Line(std::string_view key, std::string_view value, uint32_t depth)
//       a line below a header (depth 1 for a block's own line); returns
//       whether its key opens a nested block, IsBlockKeyword(key), which the
//       visitor may know without looking
//
// The rows that `tarn show` numbers put blocks in block-name order, so a
// line's row number waits for the last header of its entry: afterwards,
// HeaderRows() gives each header's rows.
//
// Threading: none; each thread scans with its own scanner, which keeps its
// memory from entry to entry.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string_view>
#include <vector>

class CRulesScanner {
 public:
  template <typename Visitor>
  void Scan(std::string_view text, Visitor& visit);

  // Where the rows of the headers of the last Scan() are, in text order.
  struct CHeaderRows {
    uint32_t block;      // the row of its block, which a later header of its name shares
    uint32_t firstLine;  // the row of its first line; its lines' rows follow on
  };
  const std::vector<CHeaderRows>& HeaderRows();
  // The headers in the order of their rows, after HeaderRows().
  const std::vector<uint32_t>& HeaderOrder() const { return m_order; }

 private:
  // Bit i of a block's word is byte 64 * block + i of the text, read as if
  // one LF followed it, then zeros, as the parser's copy does.
  struct CMasks {
    uint64_t white;      // SPACE, TAB, LF, CR
    uint64_t keyStop;    // SPACE, LF, CR, ';', '=': ends a key
    uint64_t valueStop;  // LF, CR, ';': ends a value
  };
  struct CHeader {
    std::string_view name;
    uint32_t lines;
  };
  static constexpr char kTab = '\t', kLf = '\n', kSpace = ' ', kSemicolon = ';', kEquals = '=';

  void Classify(std::string_view text);

  // The reading of one text: a local of Scan(), so that the masks of the
  // block being read stay in registers; loaded from memory, every step of
  // a line would wait for them.
  class CReader {
   public:
    CReader(const char* text, size_t size, const CMasks* masks)
        : m_text(text), m_size(size), m_masks(masks), m_now(masks[0]) {}

    // The first position at or after `at` whose bit is set in the masks
    // Kind (clear, with `Clear`). The LF after the text ends every search
    // for a stop, and the zero after it every search for a byte that is
    // not white.
    template <uint64_t CMasks::*Kind, bool Clear = false>
    size_t Next(size_t at) {
      for (;;) {
        const size_t offset = at - m_base;  // wraps, and so reloads, behind the block
        if (offset < 64) {
          const uint64_t hits = (Clear ? ~(m_now.*Kind) : m_now.*Kind) >> offset;
          if (hits != 0) return at + static_cast<size_t>(std::countr_zero(hits));
          at = m_base + 64;
        }
        m_base = at / 64 * 64;
        m_now = m_masks[at / 64];
      }
    }
    char Byte(size_t at) const { return at < m_size ? m_text[at] : at == m_size ? kLf : '\0'; }
    size_t SkipBlanks(size_t at) const {
      while (IsBlank(Byte(at))) ++at;
      return at;
    }
    // White space and comments to their line ends, as the parser skips them.
    size_t SkipSpaceAndComments(size_t at) {
      for (;;) {
        at = Next<&CMasks::white, true>(at);
        if (at >= m_size || m_text[at] != kSemicolon) return at;
        // Of the value stops, a comment holds only more ';' before its end.
        do at = Next<&CMasks::valueStop>(at + 1);
        while (at < m_size && m_text[at] == kSemicolon);
      }
    }
    // A header's word ends at white space or ';'; headers are few, so two
    // searches cost less than a mask of their own for every block.
    size_t HeaderWordEnd(size_t at) {
      const size_t white = Next<&CMasks::white>(at);
      return std::min(white, Next<&CMasks::valueStop>(at));
    }
    // " = " followed by a byte that is not a blank.
    bool IsSpacedEquals(size_t at) const {
      if (at + 4 <= m_size) {
        const char* p = m_text + at;
        return p[0] == kSpace && p[1] == kEquals && p[2] == kSpace && !IsBlank(p[3]);
      }
      return Byte(at) == kSpace && Byte(at + 1) == kEquals && Byte(at + 2) == kSpace &&
             !IsBlank(Byte(at + 3));
    }
    std::string_view View(size_t from, size_t to) const { return {m_text + from, to - from}; }
    const char* Text() const { return m_text; }
    size_t Size() const { return m_size; }

   private:
    const char* const m_text;
    const size_t m_size;
    const CMasks* const m_masks;
    size_t m_base = 0;  // where the block of m_now starts
    CMasks m_now;
  };

  static bool IsBlank(char c) { return c == kSpace || c == kTab; }
  // "End" in any case of its ASCII letters. REQUIRES: 3 bytes at `key`.
  static bool IsEndKey(const char* key) {
    return (key[0] | 0x20) == 'e' && (key[1] | 0x20) == 'n' && (key[2] | 0x20) == 'd';
  }

  const char* m_text = nullptr;
  size_t m_size = 0;
  CMasks* m_masks = nullptr;  // in m_maskStore
  std::vector<CMasks> m_maskStore;
  std::vector<CHeader> m_headers;
  std::vector<CHeaderRows> m_headerRows;
  struct CSortKey {
    uint64_t word;  // the name's first eight bytes, big-endian, zeros after a shorter one
    uint32_t header;
  };
  std::vector<CSortKey> m_sortKeys;
  std::vector<uint32_t> m_order;
};

template <typename Visitor>
void CRulesScanner::Scan(std::string_view text, Visitor& visit) {
  Classify(text);
  m_headers.clear();
  m_headerRows.clear();
  CReader read(m_text, m_size, m_masks);
  const char* const bytes = read.Text();
  const size_t size = read.Size();
  uint32_t depth = 0;
  uint32_t lines = 0;  // of the last header, kept in m_headers when the next comes
  size_t at = 0;
  for (;;) {
    at = read.SkipSpaceAndComments(at);
    if (at >= size) break;
    if (depth == 0) {
      if (!m_headers.empty()) m_headers.back().lines = lines;
      lines = 0;
      // Two words, or one: the name, after the type when there are two.
      const size_t first = at;
      const size_t firstEnd = read.HeaderWordEnd(at);
      const size_t second = read.SkipBlanks(firstEnd);
      const size_t secondEnd = read.HeaderWordEnd(second);
      const std::string_view name =
          second == secondEnd ? read.View(first, firstEnd) : read.View(second, secondEnd);
      const std::string_view type =
          second == secondEnd ? read.View(0, 0) : read.View(first, firstEnd);
      m_headers.push_back({name, 0});
      visit.Header(name, type);
      at = secondEnd;
      depth = 1;
      continue;
    }
    const size_t key = at;
    at = read.Next<&CMasks::keyStop>(at);
    size_t keyEnd = at;
    while (keyEnd > key && bytes[keyEnd - 1] == kTab) --keyEnd;
    if (keyEnd - key == 3 && IsEndKey(bytes + key)) {
      // The rest of the line is read as the enclosing block's next line.
      at = read.SkipBlanks(at);
      --depth;
      continue;
    }
    if (read.IsSpacedEquals(at)) {
      at += 3;
    } else {
      at = read.SkipBlanks(at);
      if (read.Byte(at) == kEquals) ++at;
      at = read.SkipBlanks(at);
    }
    const size_t value = at;
    at = read.Next<&CMasks::valueStop>(at);
    size_t valueEnd = at;
    while (valueEnd > value && IsBlank(bytes[valueEnd - 1])) --valueEnd;
    ++lines;
    if (visit.Line(read.View(key, keyEnd), read.View(value, valueEnd), depth)) ++depth;
  }
  if (!m_headers.empty()) m_headers.back().lines = lines;
}
