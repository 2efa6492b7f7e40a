#include "app/document/text_width.h"

#include <QAbstractItemView>
#include <QFontMetrics>

#include "storage/code_page.h"

CTextWidthEstimate::CTextWidthEstimate(const QFontMetrics& metrics) {
  for (int byte = 0; byte < 256; ++byte) {
    m_advance[byte] =
        metrics.horizontalAdvance(QChar(Windows1252ToUnicode(static_cast<uint8_t>(byte))));
  }
  m_maxAdvance =
      static_cast<int>(std::max<int64_t>(0, *std::max_element(m_advance.begin(), m_advance.end())));
}

namespace {

// The heap's order: its front is the narrowest kept cell, and among equally
// narrow ones the last offered, which is the one a wider newcomer displaces.
bool KeptBefore(int widthA, size_t indexA, int widthB, size_t indexB) {
  return widthA != widthB ? widthA > widthB : indexA < indexB;
}

}  // namespace

void CWidestCandidates::Keep(size_t index, int width) {
  const auto heapOrder = [](const CCell& a, const CCell& b) {
    return KeptBefore(a.width, a.index, b.width, b.index);
  };
  if (m_kept.size() == m_limit) {
    std::pop_heap(m_kept.begin(), m_kept.end(), heapOrder);
    m_kept.pop_back();
  }
  m_kept.push_back({width, index});
  std::push_heap(m_kept.begin(), m_kept.end(), heapOrder);
}

std::vector<size_t> CWidestCandidates::Take() {
  std::sort(m_kept.begin(), m_kept.end(), [](const CCell& a, const CCell& b) {
    return KeptBefore(a.width, a.index, b.width, b.index);
  });
  std::vector<size_t> indexes;
  indexes.reserve(m_kept.size());
  for (const CCell& cell : m_kept) indexes.push_back(cell.index);
  m_kept.clear();
  return indexes;
}

std::vector<size_t> WidestCandidates(const std::vector<int>& widths, size_t limit) {
  CWidestCandidates widest(limit);
  for (size_t i = 0; i < widths.size(); ++i) widest.Offer(i, widths[i]);
  return widest.Take();
}

int WidestCellWidth(const QAbstractItemView& view, int column, const std::vector<size_t>& rows) {
  int widest = 0;
  for (size_t row : rows) {
    const QModelIndex index = view.model()->index(static_cast<int>(row), column);
    widest = std::max(widest, view.sizeHintForIndex(index).width());
  }
  return widest;
}

int WidestCellWidth(const QAbstractItemView& view, int column, const std::vector<int>& estimates) {
  return WidestCellWidth(view, column, WidestCandidates(estimates, kMeasuredCells));
}
