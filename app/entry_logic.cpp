#include "app/entry_logic.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>

#include <algorithm>
#include <cstring>

#include "rules/rules_search.h"
#include "storage/code_page.h"
#include "threads/run_beside.h"

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

// Whether `name` contains `lower` (already in lower case), ASCII letters
// compared without case. The first byte is looked for in both cases with
// memchr, which is what keeps a search of 200,000 names short.
bool ContainsFolded(std::string_view name, std::string_view lower) {
  if (lower.size() > name.size()) return false;
  const char first = lower.front();
  const char upper = first >= 'a' && first <= 'z' ? static_cast<char>(first - ('a' - 'A')) : first;
  const size_t last = name.size() - lower.size();
  for (size_t at = 0; at <= last; ++at) {
    const char c = name[at];
    if (c != first && c != upper) continue;
    size_t i = 1;
    while (i < lower.size() && AsciiLower(name[at + i]) == lower[i]) ++i;
    if (i == lower.size()) return true;
  }
  return false;
}

QString Plural(size_t count, const char* one, const char* many) {
  return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

}  // namespace

char16_t Cp1252ToUnicode(uint8_t byte) { return Windows1252ToUnicode(byte); }

QString IndentedBytesToText(size_t spaces, std::string_view bytes) {
  QString text(static_cast<qsizetype>(spaces + bytes.size()), QLatin1Char(' '));
  QChar* out = text.data() + spaces;
  for (const char c : bytes) *out++ = QChar(Cp1252ToUnicode(static_cast<uint8_t>(c)));
  return text;
}

QString BytesToText(std::string_view bytes) { return IndentedBytesToText(0, bytes); }

QString EscapeControls(const QString& text) {
  QString escaped;
  escaped.reserve(text.size());
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      escaped += QLatin1String("\\x");
      escaped += QLatin1Char(kHex[u >> 4]);
      escaped += QLatin1Char(kHex[u & 0xF]);
    } else {
      escaped += c;
    }
  }
  return escaped;
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

namespace {

// WidestNames over the positions [begin, end), offered to `widest`.
void OfferNames(const CEntryMap& entries, const CTextWidthEstimate& estimate, size_t begin,
                size_t end, CWidestCandidates& widest) {
  const auto maxAdvance = static_cast<size_t>(estimate.MaxAdvance());
  int threshold = -1;  // what a name must pass once `limit` are kept
  for (size_t i = begin; i < end; ++i) {
    // A name's length is known without reading it: one that could not pass
    // even in its widest characters is never read, which saves a cache
    // miss, the names lying in file order and visited in name order.
    const std::string_view name = entries.NameAt(i);
    if (threshold >= 0 && name.size() * maxAdvance <= static_cast<size_t>(threshold)) continue;
#if defined(__GNUC__)
    constexpr size_t kAhead = 16;
    if (i + kAhead < end) __builtin_prefetch(entries.NameAt(i + kAhead).data());
#endif
    widest.Offer(i, estimate.Estimate(0, name));
    threshold = widest.Threshold();
  }
}

}  // namespace

std::vector<size_t> WidestNames(const CEntryMap& entries, const CTextWidthEstimate& estimate,
                                size_t limit) {
  // Below this many names a second thread would cost more than it saves.
  // No benchmark chose this figure: scaled from the one below, this many
  // names take some 12 million instructions, milliseconds against a
  // thread's start of tens of microseconds.
  constexpr size_t kSplitFrom = size_t{1} << 16;
  const size_t n = entries.size();
  if (n < kSplitFrom) {
    CWidestCandidates widest(limit);
    OfferNames(entries, estimate, 0, n, widest);
    return widest.Take();
  }
  const size_t half = n / 2;
  CWidestCandidates early(limit), late(limit);
  // The second half on a second thread halves the caller's share: 200,000
  // names under long prefixes (bench/make_bench_archive.cpp), five fits,
  // 190 million instructions alone, 95 with the second thread (callgrind
  // --separate-threads). On a busy machine the wall time did not show it.
  RunBeside([&] { OfferNames(entries, estimate, 0, half, early); },
            [&] { OfferNames(entries, estimate, half, n, late); });
  // Each half's choice holds every name of the whole choice from that half;
  // offered again in position order, they make the same choice as one pass.
  std::vector<size_t> kept = early.Take();
  std::vector<size_t> later = late.Take();
  std::sort(kept.begin(), kept.end());
  std::sort(later.begin(), later.end());
  kept.insert(kept.end(), later.begin(), later.end());
  CWidestCandidates widest(limit);
  for (const size_t i : kept) widest.Offer(i, estimate.Estimate(0, entries.NameAt(i)));
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

CColumnWidths CapColumnWidths(CColumnWidths fitted, CColumnWidths minimum, int visible) {
  CColumnWidths widths;
  widths.value = std::max(minimum.value, std::min(fitted.value, visible));
  const int nameRoom = visible - std::min(widths.value, visible / 2);
  widths.name = std::max(minimum.name, std::min(fitted.name, nameRoom));
  return widths;
}

QString EntryCountText(size_t entries) { return Plural(entries, "entry", "entries"); }

// The same rule decides which entries a search of the rules reads.
bool LooksBinary(std::string_view bytes) { return !IsRulesText(bytes); }

QString EntryStatusText(size_t bytes, size_t rows, bool binary) {
  QString text = Plural(bytes, "byte", "bytes");
  if (binary) text += QStringLiteral(", binary data");
  return text + QStringLiteral(", ") + Plural(rows, "row", "rows");
}

QString SaveAsProposal(const QString& path) {
  const QFileInfo info(path);
  const QString suffix = info.suffix();
  QString name = info.completeBaseName() + QStringLiteral(" copy");
  if (!suffix.isEmpty()) name += QLatin1Char('.') + suffix;
  return info.dir().filePath(name);
}

std::optional<std::string> TextToBytes(const QString& text) {
  std::string bytes;
  bytes.reserve(static_cast<size_t>(text.size()));
  for (const QChar c : text) {
    const char16_t unicode = c.unicode();
    int byte = unicode < 0x80 || (unicode >= 0xA0 && unicode <= 0xFF) ? unicode : -1;
    for (int high = 0x80; byte < 0 && high <= 0x9F; ++high) {
      if (Cp1252ToUnicode(static_cast<uint8_t>(high)) == unicode) byte = high;
    }
    if (byte < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(byte));
  }
  return bytes;
}

std::optional<size_t> FindEntry(const CEntryMap& entries, std::string_view needle, size_t from,
                                FindDirection direction) {
  const size_t n = entries.size();
  if (n == 0 || needle.empty()) return std::nullopt;
  std::string lower(needle);
  for (char& c : lower) c = AsciiLower(c);
  const bool forward = direction == FindDirection::Forward;
  // Past the end, the first step lands on the first (or last) item.
  size_t at = from < n ? from : (forward ? n - 1 : 0);
  for (size_t step = 0; step < n; ++step) {
    at = forward ? (at + 1) % n : (at + n - 1) % n;
    if (ContainsFolded(entries.NameAt(at), lower)) return at;
  }
  return std::nullopt;
}
