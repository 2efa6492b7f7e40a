// The editor's own logic, free of any window, so it can be checked on its
// own: how names and values become text, what the tree lists, what a
// selection change hands to the list, and which rows are worth measuring
// when a column is fitted to its widest cell.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
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

// --- tree fill

// One tree item: an entry's name, and the address of its buffer in the
// document's map. Both point into the map, which never changes while the
// document lives.
struct CTreeItem {
  const std::string* name;
  const CDataBuffer* data;
};

// One item per entry, in the map's order (byte-wise by name). Nothing is
// copied but two pointers per entry.
std::vector<CTreeItem> FillTreeItems(const CEntryMap& entries);

// --- selection hand-off

// What a change of the tree's selection hands to the list: the entry whose
// buffer address is the new item's data when the new item is now selected
// and the old one no longer is; otherwise nothing (null).
const CDataBuffer* EntryToShow(bool oldItemSelected, bool newItemSelected,
                               const void* newItemData);

// --- widest cell

// Width of text drawn in one font, estimated from each character's own
// advance. Kerning and shaping can make the drawn text a few pixels wider or
// narrower, so the estimate only picks which cells to measure exactly.
class CTextWidthEstimate {
 public:
  explicit CTextWidthEstimate(const QFontMetrics& metrics);
  // Width of `spaces` spaces followed by `bytes`, each byte as its character.
  int Estimate(size_t spaces, std::string_view bytes) const;

 private:
  std::array<int, 256> m_advance{};
};

// Indexes of the (at most) `limit` largest values of `widths`, largest
// first; ties keep the lower index first.
std::vector<size_t> WidestCandidates(const std::vector<int>& widths, size_t limit);

// The width `column` of `view` needs for its widest cell, given an estimate
// of every row's cell: the (at most) 32 cells estimated widest are measured
// exactly, the rest are not drawn to be measured.
int WidestCellWidth(const QAbstractItemView& view, int column, const std::vector<int>& estimates);
