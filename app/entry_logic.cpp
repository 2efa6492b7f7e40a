#include "app/entry_logic.h"

#include <QAbstractItemView>
#include <QFontMetrics>

#include <algorithm>
#include <numeric>

namespace {

// 0x80..0x9F; everything else in the page is the code point of the same value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

char16_t Cp1252ToUnicode(uint8_t byte) {
  return byte >= 0x80 && byte <= 0x9F ? kCp1252High[byte - 0x80] : char16_t{byte};
}

QString IndentedBytesToText(size_t spaces, std::string_view bytes) {
  QString text(static_cast<qsizetype>(spaces + bytes.size()), QLatin1Char(' '));
  QChar* out = text.data() + spaces;
  for (const char c : bytes) *out++ = QChar(Cp1252ToUnicode(static_cast<uint8_t>(c)));
  return text;
}

QString BytesToText(std::string_view bytes) { return IndentedBytesToText(0, bytes); }

std::vector<CTreeItem> FillTreeItems(const CEntryMap& entries) {
  std::vector<CTreeItem> items;
  items.reserve(entries.size());
  for (const auto& [name, data] : entries) items.push_back({&name, &data});
  return items;
}

const CDataBuffer* EntryToShow(bool oldItemSelected, bool newItemSelected,
                               const void* newItemData) {
  if (oldItemSelected || !newItemSelected) return nullptr;
  return static_cast<const CDataBuffer*>(newItemData);
}

CTextWidthEstimate::CTextWidthEstimate(const QFontMetrics& metrics) {
  for (int byte = 0; byte < 256; ++byte) {
    m_advance[byte] = metrics.horizontalAdvance(QChar(Cp1252ToUnicode(static_cast<uint8_t>(byte))));
  }
}

int CTextWidthEstimate::Estimate(size_t spaces, std::string_view bytes) const {
  int width = static_cast<int>(spaces) * m_advance[' '];
  for (const char c : bytes) width += m_advance[static_cast<uint8_t>(c)];
  return width;
}

std::vector<size_t> WidestCandidates(const std::vector<int>& widths, size_t limit) {
  std::vector<size_t> order(widths.size());
  std::iota(order.begin(), order.end(), size_t{0});
  const size_t keep = std::min(limit, order.size());
  auto wider = [&widths](size_t a, size_t b) {
    return widths[a] != widths[b] ? widths[a] > widths[b] : a < b;
  };
  std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(keep), order.end(),
                    wider);
  order.resize(keep);
  return order;
}

int WidestCellWidth(const QAbstractItemView& view, int column, const std::vector<int>& estimates) {
  constexpr size_t kMeasuredCells = 32;
  int widest = 0;
  for (size_t row : WidestCandidates(estimates, kMeasuredCells)) {
    const QModelIndex index = view.model()->index(static_cast<int>(row), column);
    widest = std::max(widest, view.sizeHintForIndex(index).width());
  }
  return widest;
}
