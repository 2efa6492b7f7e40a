// The editor's own logic, free of any window, so it can be checked on its
// own: how names and values become text, what the tree lists, what a
// selection change hands to the list, and which rows are worth measuring
// when a column is fitted to its widest cell.
#pragma once

#include <QString>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/entry_map.h"
#include "storage/data_buffer.h"

class QAbstractItemView;
class QFontMetrics;

// --- text

// The character a byte stands for in the Windows-1252 code page. The five
// bytes that page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for
// the code point of the same value, so every byte maps to a character of
// its own and no two bytes look alike.
char16_t Cp1252ToUnicode(uint8_t byte);
// A byte string as text, one character per byte.
QString BytesToText(std::string_view bytes);
// The same, after `spaces` leading spaces.
QString IndentedBytesToText(size_t spaces, std::string_view bytes);

// `text` with every control character (below U+0020, U+007F to U+009F)
// written as \xHH, as `tarn` writes bytes in its messages: a file name that
// reaches a terminal cannot move its cursor or change its colours. The text
// is characters, not bytes: of 0x80-0x9F read as Windows-1252, only the five
// bytes the page leaves undefined come out as controls to escape.
QString EscapeControls(const QString& text);

// --- selection hand-off

// What a change of the tree's selection hands to the list: the entry whose
// buffer address (inside the document's map) is the new item's data when the new item is now
// selected and the old one no longer is; otherwise nothing (null).
const CDataBuffer* EntryToShow(bool oldItemSelected, bool newItemSelected, const void* newItemData);

// --- widest cell

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

// The positions of the (at most) `limit` entries whose names are estimated
// widest, widest first, ties in ascending position: the choice
// WidestCandidates makes from every name's estimate, made without reading
// the names too short to be chosen, and on two threads for a large map.
std::vector<size_t> WidestNames(const CEntryMap& entries, const CTextWidthEstimate& estimate,
                                size_t limit);

// How many cells of a column are measured exactly when it is fitted.
inline constexpr size_t kMeasuredCells = 32;

// The width `column` of `view` needs for its widest cell, given an estimate
// of every row's cell: the (at most) kMeasuredCells cells estimated widest
// are measured exactly, the rest are not drawn to be measured.
int WidestCellWidth(const QAbstractItemView& view, int column, const std::vector<int>& estimates);
// The same, given the rows to measure.
int WidestCellWidth(const QAbstractItemView& view, int column, const std::vector<size_t>& rows);

// --- column widths

struct CColumnWidths {
  int name;
  int value;
};

// The widths of the Name and Value columns from their fitted widths, in a
// pane `visible` pixels wide. Neither goes past the pane's width, nor below
// its minimum (what its heading needs); Name leaves Value at least half the
// pane, or all it needs when that is less, so Value always starts in view.
CColumnWidths CapColumnWidths(CColumnWidths fitted, CColumnWidths minimum, int visible);

// --- status texts

// "1 entry", "N entries".
QString EntryCountText(size_t entries);
// Whether an entry's bytes look like binary data rather than text: a zero
// byte within the first 8 KiB.
bool LooksBinary(std::string_view bytes);
// What the status bar says of a selected entry: "N bytes, M rows", with
// "binary data" between them when it looks binary.
QString EntryStatusText(size_t bytes, size_t rows, bool binary);
// The name Save As proposes for a copy of the archive at `path`: "NAME
// copy.EXT" in the same folder.
QString SaveAsProposal(const QString& path);

// --- find

// The bytes `text` stands for, one per character, the inverse of
// BytesToText; nothing when a character stands for no byte.
std::optional<std::string> TextToBytes(const QString& text);

// The first entry after `from` (or before it, going back), wrapping around
// and ending with `from` itself, whose name contains `needle` with ASCII
// letters compared without case. `from` past the end starts at the first
// item (the last, going back). Nothing when no name contains it; an empty
// needle matches nothing.
enum class FindDirection { Forward, Backward };
std::optional<size_t> FindEntry(const CEntryMap& entries, std::string_view needle, size_t from,
                                FindDirection direction);
