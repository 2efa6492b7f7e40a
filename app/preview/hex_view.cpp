#include "app/preview/hex_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMetaObject>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <functional>

#include "app/document/entry_text.h"
#include "app/document/status_text.h"
#include "app/framework/win_app.h"
#include "threads/run_beside.h"

namespace {

// Scroll bars count in int: past that many rows one step covers several.
constexpr uint64_t kMostSteps = 1u << 30;

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Columns of characters: 8 of offset, 2 of gap, 16 × 3 of hex, 1 of gap, 16 of text.
constexpr int kHexColumn = 10;
constexpr int kTextColumn = kHexColumn + CHexView::kBytesPerRow * 3 + 1;

QChar Shown(uint8_t byte) {
  if (byte < 0x20 || byte == 0x7F) return QLatin1Char('.');
  const QString text = BytesToText(std::string_view(reinterpret_cast<const char*>(&byte), 1));
  // Bytes the code page leaves without a character show as dots too.
  return text.isEmpty() || !text[0].isPrint() ? QLatin1Char('.') : text[0];
}

}  // namespace

std::optional<std::string> NeedleBytes(const QString& typed) {
  if (typed.isEmpty()) return std::nullopt;
  if (typed.size() >= 2 && typed.startsWith(QLatin1Char('"')) && typed.endsWith(QLatin1Char('"')))
    return typed.size() > 2 ? TextToBytes(typed.mid(1, typed.size() - 2)) : std::nullopt;
  QString hex = typed;
  hex.remove(QLatin1Char(' '));
  bool isHex = !hex.isEmpty() && hex.size() % 2 == 0;
  std::string bytes;
  for (int i = 0; isHex && i < hex.size(); i += 2) {
    bool ok = false;
    const uint byte = hex.mid(i, 2).toUInt(&ok, 16);
    isHex = ok;
    bytes += static_cast<char>(byte);
  }
  return isHex ? std::optional<std::string>(bytes) : TextToBytes(typed);
}

CHexView::CHexView() {
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setFocusPolicy(Qt::StrongFocus);
  setAccessibleName(QStringLiteral("Bytes"));
  // A screen reader lands on the viewport, the part that is painted.
  viewport()->setAccessibleName(accessibleName());
  viewport()->setCursor(Qt::IBeamCursor);
}

void CHexView::SetBytes(const CDataBuffer& bytes) {
  StopFinding();
  m_buffer = bytes;
  m_bytes = bytes.View();
  m_selected = false;
  m_anchor = m_cursor = 0;
  UpdateScrollRange();
  verticalScrollBar()->setValue(0);
  viewport()->update();
}

uint64_t CHexView::RowCount() const { return (m_bytes.size() + kBytesPerRow - 1) / kBytesPerRow; }

int CHexView::RowHeight() const { return fontMetrics().height(); }
int CHexView::CharWidth() const { return fontMetrics().horizontalAdvance(QLatin1Char('0')); }

// Rows per scroll step: 1 unless the entry has more rows than a scroll bar counts.
static uint64_t RowsPerStep(uint64_t rows) { return rows / kMostSteps + 1; }

void CHexView::UpdateScrollRange() {
  const uint64_t rows = RowCount();
  const int visible = std::max(1, viewport()->height() / std::max(1, RowHeight()));
  const uint64_t step = RowsPerStep(rows);
  const uint64_t last = rows > static_cast<uint64_t>(visible) ? rows - visible : 0;
  verticalScrollBar()->setRange(0, static_cast<int>((last + step - 1) / step));
  verticalScrollBar()->setPageStep(visible);
  horizontalScrollBar()->setRange(
      0, std::max(0, (kTextColumn + kBytesPerRow + 1) * CharWidth() - viewport()->width()));
  horizontalScrollBar()->setPageStep(viewport()->width());
}

uint64_t CHexView::GetTopRow() const {
  return static_cast<uint64_t>(verticalScrollBar()->value()) * RowsPerStep(RowCount());
}

std::optional<std::pair<uint64_t, uint64_t>> CHexView::GetSelection() const {
  if (!m_selected || m_bytes.empty()) return std::nullopt;
  return std::make_pair(std::min(m_anchor, m_cursor), std::max(m_anchor, m_cursor));
}

void CHexView::Select(uint64_t first, uint64_t last) {
  if (m_bytes.empty()) return;
  m_anchor = std::min<uint64_t>(first, m_bytes.size() - 1);
  m_cursor = std::min<uint64_t>(last, m_bytes.size() - 1);
  m_selected = true;
  viewport()->update();
}

bool CHexView::GoTo(uint64_t offset) {
  if (offset >= m_bytes.size()) return false;
  const uint64_t step = RowsPerStep(RowCount());
  verticalScrollBar()->setValue(static_cast<int>(offset / kBytesPerRow / step));
  Select(offset, offset);
  return true;
}

std::optional<uint64_t> FindNextBytes(std::string_view bytes, std::string_view needle, size_t from,
                                      const std::atomic<bool>& stop) {
  if (needle.empty() || needle.size() > bytes.size()) return std::nullopt;
  from = std::min(from, bytes.size());
  // Boyer-Moore rather than Horspool: searching megabytes of zeros, as
  // entries hold, for bytes that end in zeros took Horspool a step for
  // every byte of the needle at every byte of the entry.
  const std::boyer_moore_searcher searcher(needle.begin(), needle.end());
  // Matches that start in [first, last), a slice at a time.
  const auto search = [&](size_t first, size_t last) -> std::optional<uint64_t> {
    constexpr size_t kSlice = size_t{8} << 20;
    for (size_t at = first; at < last && !stop.load(std::memory_order_relaxed); at += kSlice) {
      const size_t end = std::min(bytes.size(), std::min(last, at + kSlice) + needle.size() - 1);
      const auto found = std::search(bytes.begin() + at, bytes.begin() + end, searcher);
      if (found != bytes.begin() + end) return static_cast<uint64_t>(found - bytes.begin());
    }
    return std::nullopt;
  };
  if (const std::optional<uint64_t> found = search(from, bytes.size())) return found;
  // Then from the start, as far as a match that starts before `from`.
  if (stop.load(std::memory_order_relaxed)) return std::nullopt;
  return search(0, std::min(from, bytes.size() - needle.size() + 1));
}

size_t CHexView::FindFrom() const {
  return std::min<size_t>(m_selected ? std::min(m_anchor, m_cursor) + 1 : 0, m_bytes.size());
}

void CHexView::ShowFound(uint64_t at, size_t size) {
  const uint64_t row = at / kBytesPerRow;
  if (row < GetTopRow() ||
      row >= GetTopRow() + static_cast<uint64_t>(verticalScrollBar()->pageStep()))
    verticalScrollBar()->setValue(static_cast<int>(row / RowsPerStep(RowCount())));
  Select(at, at + size - 1);
  // Said wherever the search ran: the selection alone shows only on screen.
  ShowStatusText(
      QStringLiteral("Found at offset %1 (0x%2)").arg(at).arg(QString::number(at, 16).toUpper()));
}

bool CHexView::Find(const std::string& needle) {
  if (needle.empty() || needle.size() > m_bytes.size()) return false;
  m_lastNeedle = needle;
  const std::atomic<bool> never{false};
  const std::optional<uint64_t> at = FindNextBytes(m_bytes, needle, FindFrom(), never);
  if (!at) return false;
  ShowFound(*at, needle.size());
  return true;
}

// A search beside the window: its own share of the bytes, which another
// entry shown meanwhile does not let go. The share is taken and let go on
// the window's thread (a buffer's counts are not for two threads); the
// search reads only the view of it.
struct CHexView::CFinding {
  CDataBuffer buffer;
  std::string_view bytes;
  std::string needle;
  size_t from = 0;
  uint64_t generation = 0;
  std::atomic<bool> stop{false};
  std::optional<uint64_t> found;
  CBeside beside;  // last: joined before the members it uses go
  ~CFinding() {
    stop = true;
    beside.Join();
  }
};

CHexView::~CHexView() = default;

void CHexView::StopFinding() { m_finding.reset(); }

void CHexView::FindForUser(const std::string& needle) {
  StopFinding();
  // Searched here when the entry is small, or no thread can be spared.
  if (m_bytes.size() > kFindHereBytes && FindBeside(needle)) return;
  if (!Find(needle)) ShowStatusText(QStringLiteral("Bytes not found"));
}

bool CHexView::FindBeside(const std::string& needle) {
  m_lastNeedle = needle;
  auto finding = std::make_unique<CFinding>();
  finding->buffer = m_buffer;
  finding->bytes = m_bytes;
  finding->needle = needle;
  finding->from = FindFrom();
  finding->generation = ++m_findings;
  CFinding* const work = finding.get();
  const std::error_code refused = finding->beside.Start([this, work] {
    work->found = FindNextBytes(work->bytes, work->needle, work->from, work->stop);
    QMetaObject::invokeMethod(
        this, [this, generation = work->generation] { OnFound(generation); }, Qt::QueuedConnection);
  });
  if (refused) return false;
  m_finding = std::move(finding);
  ShowStatusText(QStringLiteral("Finding bytes (Escape stops)"));
  return true;
}

void CHexView::OnFound(uint64_t generation) {
  if (m_finding == nullptr || m_finding->generation != generation) return;
  m_finding->beside.Join();
  const std::unique_ptr<CFinding> done = std::move(m_finding);
  if (done->stop) return;
  if (!done->found) {
    ShowStatusText(QStringLiteral("Bytes not found"));
    return;
  }
  ShowFound(*done->found, done->needle.size());
}

QString CHexView::SelectionAsHex() const {
  const auto range = GetSelection();
  if (!range) return QString();
  QString text;
  for (uint64_t i = range->first; i <= range->second; ++i) {
    const auto byte = static_cast<uint8_t>(m_bytes[i]);
    if (i != range->first) text += QLatin1Char(' ');
    text += QLatin1Char(kHexDigits[byte >> 4]);
    text += QLatin1Char(kHexDigits[byte & 15]);
  }
  return text;
}

QString CHexView::SelectionAsText() const {
  const auto range = GetSelection();
  if (!range) return QString();
  return BytesToText(m_bytes.substr(range->first, range->second - range->first + 1));
}

void CHexView::paintEvent(QPaintEvent* event) {
  (void)event;
  QPainter painter(viewport());
  const int height = RowHeight(), width = CharWidth();
  const int left = -horizontalScrollBar()->value();
  const uint64_t top = GetTopRow();
  const auto range = GetSelection();
  const QColor highlight = palette().color(QPalette::Highlight);
  const QColor normal = palette().color(QPalette::Text);
  const QColor offsetColour = palette().color(QPalette::PlaceholderText);
  // Only the rows in sight are read.
  for (int line = 0; line * height < viewport()->height(); ++line) {
    const uint64_t row = top + static_cast<uint64_t>(line);
    if (row >= RowCount()) break;
    const int y = line * height;
    const int baseline = y + fontMetrics().ascent();
    const uint64_t start = row * kBytesPerRow;
    painter.setPen(offsetColour);
    painter.drawText(left, baseline,
                     QStringLiteral("%1").arg(start, 8, 16, QLatin1Char('0')).toUpper());
    for (int i = 0; i < kBytesPerRow && start + i < m_bytes.size(); ++i) {
      const uint64_t at = start + static_cast<uint64_t>(i);
      const auto byte = static_cast<uint8_t>(m_bytes[at]);
      const int hexX = left + (kHexColumn + 3 * i) * width;
      const int textX = left + (kTextColumn + i) * width;
      const bool selected = range && at >= range->first && at <= range->second;
      if (selected) {
        painter.fillRect(hexX, y, 2 * width, height, highlight);
        painter.fillRect(textX, y, width, height, highlight);
      }
      painter.setPen(selected ? palette().color(QPalette::HighlightedText) : normal);
      const QChar digits[2] = {QLatin1Char(kHexDigits[byte >> 4]),
                               QLatin1Char(kHexDigits[byte & 15])};
      painter.drawText(hexX, baseline, QString(digits, 2));
      painter.drawText(textX, baseline, QString(Shown(byte)));
    }
  }
}

void CHexView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollRange();
}

std::optional<uint64_t> CHexView::OffsetAt(QPoint point) const {
  const int width = CharWidth();
  const int x = point.x() + horizontalScrollBar()->value();
  const uint64_t row = GetTopRow() + static_cast<uint64_t>(std::max(0, point.y()) / RowHeight());
  int column = -1;
  if (x >= kTextColumn * width) {
    column = (x - kTextColumn * width) / width;
  } else if (x >= kHexColumn * width) {
    column = (x - kHexColumn * width) / (3 * width);
  }
  if (column < 0 || column >= kBytesPerRow) return std::nullopt;
  const uint64_t at = row * kBytesPerRow + static_cast<uint64_t>(column);
  if (at >= m_bytes.size()) return std::nullopt;
  return at;
}

void CHexView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  const std::optional<uint64_t> at = OffsetAt(event->position().toPoint());
  if (!at) return;
  if (!(event->modifiers() & Qt::ShiftModifier) || !m_selected) m_anchor = *at;
  m_cursor = *at;
  m_selected = true;
  viewport()->update();
}

void CHexView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || !m_selected) return;
  if (const std::optional<uint64_t> at = OffsetAt(event->position().toPoint())) {
    m_cursor = *at;
    viewport()->update();
  }
}

void CHexView::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  const bool any = GetSelection().has_value();
  menu.addAction(QStringLiteral("Copy as &Hex"), this,
                 [this] { QApplication::clipboard()->setText(SelectionAsHex()); })
      ->setEnabled(any);
  menu.addAction(QStringLiteral("Copy as &Text"), this,
                 [this] { QApplication::clipboard()->setText(SelectionAsText()); })
      ->setEnabled(any);
  menu.addSeparator();
  menu.addAction(QStringLiteral("&Go to Offset...\tCtrl+G"), this, &CHexView::AskGoTo);
  menu.addAction(QStringLiteral("&Find Bytes...\tCtrl+F"), this, &CHexView::AskFind);
  menu.exec(event->globalPos());
}

bool CHexView::event(QEvent* event) {
  // The window's own Ctrl+C and Ctrl+F mean the entries; in here they mean bytes.
  if (event->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::ShiftModifier;
    if (mods == Qt::ControlModifier &&
        (key->key() == Qt::Key_C || key->key() == Qt::Key_F || key->key() == Qt::Key_G)) {
      event->accept();
      return true;
    }
  }
  return QAbstractScrollArea::event(event);
}

void CHexView::keyPressEvent(QKeyEvent* event) {
  const bool control = event->modifiers() & Qt::ControlModifier;
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  if (control && event->key() == Qt::Key_C) {
    QApplication::clipboard()->setText(shift ? SelectionAsText() : SelectionAsHex());
  } else if (control && event->key() == Qt::Key_G) {
    AskGoTo();
  } else if (control && event->key() == Qt::Key_F) {
    AskFind();
  } else if (event->key() == Qt::Key_F3 && !m_lastNeedle.empty()) {
    FindForUser(m_lastNeedle);
  } else if (event->key() == Qt::Key_Escape && m_finding != nullptr) {
    StopFinding();
    ShowStatusText(QStringLiteral("Find stopped"));
  } else if (event->key() == Qt::Key_Home && control) {
    verticalScrollBar()->setValue(0);
  } else if (event->key() == Qt::Key_End && control) {
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  } else {
    QAbstractScrollArea::keyPressEvent(event);
  }
}

void CHexView::AskGoTo() {
  bool ok = false;
  const QString typed = QInputDialog::getText(this, QStringLiteral("Go to Offset"),
                                              QStringLiteral("Offset (decimal, or hex after 0x):"),
                                              QLineEdit::Normal, QString(), &ok)
                            .trimmed();
  if (!ok || typed.isEmpty()) return;
  const bool hex = typed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
  bool number = false;
  const qulonglong offset = (hex ? typed.mid(2) : typed).toULongLong(&number, hex ? 16 : 10);
  if (!number) {
    ShowStatusText(QStringLiteral("Not an offset: ") + typed);
  } else if (!GoTo(offset)) {
    ShowStatusText(
        QStringLiteral("Offset %1 is past the end (%2 bytes)").arg(offset).arg(m_bytes.size()));
  }
}

void CHexView::AskFind() {
  bool ok = false;
  const QString typed = QInputDialog::getText(
      this, QStringLiteral("Find Bytes"),
      QStringLiteral("Bytes in hex (4D 5A) or text (\"text\" is always text):"), QLineEdit::Normal,
      QString(), &ok);
  if (!ok) return;
  const std::optional<std::string> needle = NeedleBytes(typed);
  if (!needle) {
    ShowStatusText(QStringLiteral("Nothing to find in: ") + typed);
  } else {
    FindForUser(*needle);
  }
}
