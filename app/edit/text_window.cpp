#include "app/edit/text_window.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

#include "app/document/entry_text.h"

namespace {

// Where the line end at or after `from` starts, and how long it is: CR LF,
// LF, or a CR alone (as some old texts end their lines). npos when there is
// none.
size_t FindLineEnd(std::string_view bytes, size_t from, size_t& length) {
  const size_t at = bytes.find_first_of("\r\n", from);
  if (at == std::string_view::npos) return at;
  length = bytes[at] == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n' ? 2 : 1;
  return at;
}

}  // namespace

std::string_view LineEndOf(std::string_view bytes) {
  size_t length = 0;
  const size_t end = FindLineEnd(bytes, 0, length);
  if (end == std::string_view::npos) return "\n";
  return bytes.substr(end, length);
}

namespace {

// A text's lines and the end of each but the last.
struct CLines {
  std::vector<std::string_view> lines;
  std::vector<std::string_view> ends;
};

CLines SplitLines(std::string_view bytes) {
  CLines split;
  size_t start = 0;
  size_t length = 0;
  for (size_t end = FindLineEnd(bytes, 0, length); end != std::string_view::npos;
       end = FindLineEnd(bytes, start, length)) {
    split.lines.push_back(bytes.substr(start, end - start));
    split.ends.push_back(bytes.substr(end, length));
    start = end + length;
  }
  split.lines.push_back(bytes.substr(start));
  return split;
}

}  // namespace

namespace {

// The lines of `bytes`, each with its own end.
std::vector<std::string_view> LinesWithEnds(std::string_view bytes) {
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < bytes.size();) {
    const size_t end = bytes.find('\n', start);
    const size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
    lines.push_back(bytes.substr(start, next - start));
    start = next;
  }
  return lines;
}

}  // namespace

std::optional<std::string> MergeTexts(std::string_view read, std::string_view mine,
                                      std::string_view theirs) {
  const std::vector<std::string_view> base = LinesWithEnds(read), ours = LinesWithEnds(mine),
                                      other = LinesWithEnds(theirs);
  if (other.size() != base.size()) return std::nullopt;
  // Mine changed the base's lines [same, base.size() - tail).
  const size_t least = std::min(base.size(), ours.size());
  size_t same = 0, tail = 0;
  while (same < least && base[same] == ours[same]) ++same;
  while (same + tail < least && base[base.size() - 1 - tail] == ours[ours.size() - 1 - tail])
    ++tail;
  for (size_t k = same; k < base.size() - tail; ++k) {
    if (other[k] != base[k]) return std::nullopt;  // both changed this line
  }
  std::string merged;
  merged.reserve(theirs.size() + mine.size());
  for (size_t k = 0; k < same; ++k) merged.append(other[k]);
  for (size_t k = same; k < ours.size() - tail; ++k) merged.append(ours[k]);
  for (size_t k = base.size() - tail; k < base.size(); ++k) merged.append(other[k]);
  return merged;
}

std::string TextToShow(std::string_view bytes) {
  // The editor would make a CR alone a line end of its own, and give it
  // back as LF: it is made one here, where TextToEntryBytes can tell.
  std::string shown;
  shown.reserve(bytes.size());
  for (size_t k = 0; k < bytes.size(); ++k) {
    if (bytes[k] != '\r') shown.push_back(bytes[k]);
    else if (k + 1 == bytes.size() || bytes[k + 1] != '\n') shown.push_back('\n');
  }
  return shown;
}

std::optional<std::string> TextToEntryBytes(const QString& text, std::string_view opened) {
  const std::optional<std::string> bytes = TextToBytes(text);
  if (!bytes) return std::nullopt;
  const CLines was = SplitLines(opened);
  const CLines now = SplitLines(*bytes);  // its ends are the editor's, LF
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

CTextWindow::CTextWindow(const QString& name, const QString& document, std::string_view bytes,
                         ApplyFunction apply, QWidget* parent)
    : QDialog(parent),
      m_editor(new QPlainTextEdit),
      m_problem(new QLabel),
      m_name(name),
      m_opened(bytes),
      m_apply(std::move(apply)) {
  setWindowTitle(name + QStringLiteral(" - ") + document);
  setAttribute(Qt::WA_DeleteOnClose);
  // The editor shows one line end a line; the entry's own go back on Apply.
  m_editor->setPlainText(BytesToText(TextToShow(bytes)));
  m_editor->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  m_editor->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_editor->setAccessibleName(QStringLiteral("Text"));
  m_problem->setAccessibleName(QStringLiteral("Problem"));
  m_problem->setWordWrap(true);
  m_problem->hide();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Apply | QDialogButtonBox::Close);
  connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
          &CTextWindow::Apply);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_editor);
  layout->addWidget(m_problem);
  layout->addWidget(buttons);
  resize(640, 480);
}

QString CTextWindow::GetProblem() const { return m_problem->text(); }

bool CTextWindow::Apply() {
  std::optional<std::string> bytes = TextToEntryBytes(m_editor->toPlainText(), m_opened);
  const std::string typed = bytes.value_or(std::string());
  const QString problem =
      bytes
          ? m_apply(m_opened, *bytes)
          : QStringLiteral("Not applied: the text holds a character that rules text cannot store");
  const bool merged = problem.isEmpty() && *bytes != typed;
  m_problem->setText(merged ? QStringLiteral("Applied together with the changes made to %1 since "
                                             "this window read it")
                                  .arg(m_name)
                            : problem);
  m_problem->setVisible(!m_problem->text().isEmpty());
  if (!problem.isEmpty()) return false;
  if (merged) {
    // The window shows what the entry now holds, where the user was.
    const int line = m_editor->textCursor().blockNumber();
    m_editor->setPlainText(BytesToText(TextToShow(*bytes)));
    QTextCursor at(m_editor->document()->findBlockByNumber(line));
    m_editor->setTextCursor(at);
  }
  // What the next Apply is measured against.
  m_opened = std::move(*bytes);
  return true;
}

bool CTextWindow::HasUnappliedText() const {
  const std::optional<std::string> bytes = TextToEntryBytes(m_editor->toPlainText(), m_opened);
  return !bytes || *bytes != m_opened;
}

bool CTextWindow::MayClose() {
  if (!HasUnappliedText()) return true;
  // Raised first: the question is about this window, which may lie behind others.
  show();
  raise();
  const QMessageBox::StandardButton answer = QMessageBox::question(
      this, QStringLiteral("Tarn Editor"),
      QStringLiteral("Apply the changed text to %1?").arg(m_name),
      QMessageBox::Apply | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Apply);
  if (answer == QMessageBox::Discard) return true;
  return answer == QMessageBox::Apply && Apply();
}

void CTextWindow::reject() { close(); }

void CTextWindow::closeEvent(QCloseEvent* event) {
  if (!MayClose()) return event->ignore();
  event->accept();
}
