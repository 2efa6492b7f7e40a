#include "app/edit/text_window.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

#include "app/entry_logic.h"

std::string_view LineEndOf(std::string_view bytes) {
  const size_t end = bytes.find('\n');
  return end != std::string_view::npos && end > 0 && bytes[end - 1] == '\r' ? "\r\n" : "\n";
}

namespace {

// A text's lines, split at each LF, and the end of each but the last.
struct CLines {
  std::vector<std::string_view> lines;
  std::vector<std::string_view> ends;
};

CLines SplitLines(std::string_view bytes) {
  CLines split;
  size_t start = 0;
  for (size_t end = bytes.find('\n'); end != std::string_view::npos;
       end = bytes.find('\n', start)) {
    const bool cr = end > start && bytes[end - 1] == '\r';
    split.lines.push_back(bytes.substr(start, end - start - (cr ? 1 : 0)));
    split.ends.push_back(cr ? "\r\n" : "\n");
    start = end + 1;
  }
  split.lines.push_back(bytes.substr(start));
  return split;
}

}  // namespace

std::string TextToShow(std::string_view bytes) {
  std::string shown;
  shown.reserve(bytes.size());
  for (size_t k = 0; k < bytes.size(); ++k) {
    if (bytes[k] != '\r' || k + 1 == bytes.size() || bytes[k + 1] != '\n')
      shown.push_back(bytes[k]);
  }
  return shown;
}

std::optional<std::string> TextToEntryBytes(const QString& text, std::string_view opened) {
  const std::optional<std::string> bytes = TextToBytes(text);
  if (!bytes) return std::nullopt;
  const CLines was = SplitLines(opened);
  const CLines now = SplitLines(*bytes);  // its ends are all LF
  // Lines are matched without the empty piece after a last line end, so
  // one added or taken away at the end leaves the lines before it matched.
  const size_t wasCount =
      was.lines.size() - (was.lines.size() > 1 && was.lines.back().empty() ? 1 : 0);
  const size_t nowCount =
      now.lines.size() - (now.lines.size() > 1 && now.lines.back().empty() ? 1 : 0);
  const size_t least = std::min(wasCount, nowCount);
  size_t same = 0;  // lines alike at the start
  while (same < least && was.lines[same] == now.lines[same]) ++same;
  size_t tail = 0;  // and at the end, not counting those again
  while (same + tail < least && was.lines[wasCount - 1 - tail] == now.lines[nowCount - 1 - tail])
    ++tail;
  // Line k of the new text stands for line k of the old one up to the
  // changed part's end, and for the line as far from the end after it.
  const size_t tailStart = nowCount - tail;
  std::string ended;
  ended.reserve(bytes->size() + bytes->size() / 16);
  for (size_t k = 0; k < now.lines.size(); ++k) {
    ended.append(now.lines[k]);
    if (k + 1 == now.lines.size()) break;
    const size_t old = k < tailStart ? k : k - tailStart + (wasCount - tail);
    const bool stands = k < same || k >= tailStart || old < wasCount - tail;
    ended.append(stands && old < was.ends.size() ? was.ends[old] : LineEndOf(opened));
  }
  return ended;
}

CTextWindow::CTextWindow(const QString& title, std::string_view bytes,
                         std::function<bool(std::string)> apply, QWidget* parent)
    : QDialog(parent), m_editor(new QPlainTextEdit), m_opened(bytes), m_apply(std::move(apply)) {
  setWindowTitle(title);
  setAttribute(Qt::WA_DeleteOnClose);
  // The editor shows one line end a line; the entry's own go back on Apply.
  m_editor->setPlainText(BytesToText(TextToShow(bytes)));
  m_editor->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  m_editor->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_editor->setAccessibleName(QStringLiteral("Text"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Apply | QDialogButtonBox::Close);
  auto* problem = new QLabel;
  problem->hide();
  connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, [this, problem] {
    problem->setVisible(!Apply());
    problem->setText(QStringLiteral("The text holds a character that rules text cannot store"));
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_editor);
  layout->addWidget(problem);
  layout->addWidget(buttons);
  resize(640, 480);
}

bool CTextWindow::Apply() {
  std::optional<std::string> bytes = TextToEntryBytes(m_editor->toPlainText(), m_opened);
  if (!bytes || !m_apply(*bytes)) return false;
  // What the next Apply is measured against.
  m_opened = std::move(*bytes);
  return true;
}
