// Searching rules text for a piece of literal text, in the terms a person
// reads it in: which rows hold it, in which block.
//
// A row matches when the pattern occurs in its name (without indentation)
// or in its value, byte for byte, or with ASCII letters folded when the
// search ignores case. Only entries that read as rules text are searched:
// no zero byte in their first 8 KiB.
//
// The work for one entry is cheap first: the pattern is looked for in the
// entry's bytes, and only an entry that holds it somewhere is parsed, since
// a row's name and value are pieces of the text. Most entries of a search
// for something rare are never parsed at all.
//
// Threading: a CTextFinder may be shared by threads (it is never changed
// after construction); a CRulesSearch belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rules/rules_parser.h"

// Whether `bytes` read as rules text rather than binary data: no zero byte
// in the first 8 KiB. Empty bytes are text.
bool IsRulesText(std::string_view bytes);

// A literal pattern, found in text many bytes at a time.
class CTextFinder {
 public:
  static constexpr size_t npos = std::string_view::npos;

  // With `ignoreCase`, ASCII letters match in either case; no other byte is
  // folded.
  CTextFinder(std::string_view pattern, bool ignoreCase);

  // Where the pattern first occurs in `text` at or after `from`, or npos.
  // An empty pattern occurs at `from` (when from <= size).
  size_t Find(std::string_view text, size_t from = 0) const;
  bool OccursIn(std::string_view text) const { return Find(text) != npos; }
  size_t size() const { return m_pattern.size(); }

 private:
  bool MatchesAt(const char* at) const;

  // With ignoreCase, each letter in lower case and 0x20 at its place in
  // m_fold: a byte b matches place i when (b | m_fold[i]) == m_pattern[i],
  // which holds for the letter in either case and for nothing else.
  std::string m_pattern;
  std::string m_fold;
  bool m_folded = false;
};

// One matching row of an entry.
struct CRulesMatch {
  size_t row;              // its position among the entry's rows, as `tarn show` prints them
  std::string_view block;  // the name of the top-level block holding it
  CRulesRow cells;         // depth, name and value
};

class CRulesSearch {
 public:
  CRulesSearch(std::string_view pattern, bool ignoreCase) : m_finder(pattern, ignoreCase) {}

  // Calls visit(const CRulesMatch&) for every row of `bytes` that matches,
  // in row order, and returns how many did. An empty pattern matches
  // nothing. The views in a match are valid
  // during the call only. `bytes` are needed during this call only, and no
  // buffer count is touched, so any thread may call this on bytes that
  // another thread keeps alive.
  template <typename Visit>
  size_t SearchEntry(std::string_view bytes, Visit&& visit);

 private:
  // Parses `bytes` and finds the text lines that hold the pattern in their
  // name or value, from `first` (the first occurrence, found already) on.
  void ParseAndFindLines(std::string_view bytes, size_t first);

  CTextFinder m_finder;
  CRulesParser m_parser;           // kept from entry to entry, with its memory
  std::vector<uint32_t> m_starts;  // where the pattern occurs in the parser's copy
  std::vector<uint32_t> m_lines;   // text lines that hold the pattern, ascending
};

template <typename Visit>
size_t CRulesSearch::SearchEntry(std::string_view bytes, Visit&& visit) {
  if (m_finder.size() == 0) return 0;  // an empty pattern matches nothing
  const size_t first = m_finder.Find(bytes);
  if (first == CTextFinder::npos || !IsRulesText(bytes)) return 0;
  ParseAndFindLines(bytes, first);
  size_t found = 0;
  m_parser.ForEachRowOfLines(m_lines,
                             [&](size_t row, std::string_view block, const CRulesRow& cells) {
                               visit(CRulesMatch{row, block, cells});
                               ++found;
                             });
  return found;
}
