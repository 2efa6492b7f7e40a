// Fitting a column to its widest cell without drawing every cell: the
// width of text in one font estimated from each character's advance, and
// the few cells estimated widest, which alone are measured exactly.
#pragma once

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class QAbstractItemView;
class QFontMetrics;

// Width of text drawn in one font, estimated from each character's own
// advance. Kerning and shaping can make the drawn text a few pixels wider or
// narrower, so the estimate only picks which cells to measure exactly.
class CTextWidthEstimate {
 public:
  explicit CTextWidthEstimate(const QFontMetrics& metrics);
  // Width of `spaces` spaces followed by `bytes`, each byte as its character;
  // INT_MAX for anything wider.
  int Estimate(size_t spaces, std::string_view bytes) const {
    // Inline, with four sums side by side: fitting a list of 50,000 rows
    // runs this over every byte of the entry, and one running sum waits on
    // each addition. The sums are 64-bit: one line of a few hundred MB in a
    // hostile entry is wider than an int can count.
    const auto* at = reinterpret_cast<const uint8_t*>(bytes.data());
    const uint8_t* const end = at + bytes.size();
    int64_t sums[4] = {static_cast<int64_t>(std::min<size_t>(spaces, INT_MAX)) * m_advance[' '], 0,
                       0, 0};
    for (; end - at >= 4; at += 4) {
      sums[0] += m_advance[at[0]];
      sums[1] += m_advance[at[1]];
      sums[2] += m_advance[at[2]];
      sums[3] += m_advance[at[3]];
    }
    for (; at != end; ++at) sums[0] += m_advance[*at];
    return static_cast<int>(std::min<int64_t>(sums[0] + sums[1] + sums[2] + sums[3], INT_MAX));
  }
  // The widest character's advance: no text of n bytes is estimated wider
  // than n times this.
  int MaxAdvance() const { return m_maxAdvance; }

 private:
  // 64-bit like the sums, so each addition is one instruction with no
  // widening on the way.
  std::array<int64_t, 256> m_advance{};
  int m_maxAdvance = 0;
};

// Indexes of the (at most) `limit` largest values of `widths`, largest
// first; ties keep the lower index first.
std::vector<size_t> WidestCandidates(const std::vector<int>& widths, size_t limit);

// The same choice made while the widths go by, in ascending index order,
// without keeping them: a column of 50,000 cells costs one comparison for
// most cells.
class CWidestCandidates {
 public:
  explicit CWidestCandidates(size_t limit) : m_limit(limit) { m_kept.reserve(limit); }
  // REQUIRES: `index` is above every index offered before.
  void Offer(size_t index, int width) {
    if (m_kept.size() == m_limit && (m_limit == 0 || width <= m_kept.front().width)) return;
    Keep(index, width);
  }
  // The width a cell offered now must exceed to be kept; -1 while fewer
  // than the limit are kept.
  int Threshold() const {
    return m_kept.size() == m_limit && m_limit != 0 ? m_kept.front().width : -1;
  }
  // The kept indexes, widest first, ties in ascending index order.
  std::vector<size_t> Take();

 private:
  struct CCell {
    int width;
    size_t index;
  };
  void Keep(size_t index, int width);
  size_t m_limit;
  std::vector<CCell> m_kept;  // a heap whose front is the one to drop next
};

// How many cells of a column are measured exactly when it is fitted.
inline constexpr size_t kMeasuredCells = 32;

// The width `column` of `view` needs for its widest cell, given an estimate
// of every row's cell: the (at most) kMeasuredCells cells estimated widest
// are measured exactly, the rest are not drawn to be measured.
int WidestCellWidth(const QAbstractItemView& view, int column, const std::vector<int>& estimates);
// The same, given the rows to measure.
int WidestCellWidth(const QAbstractItemView& view, int column, const std::vector<size_t>& rows);
