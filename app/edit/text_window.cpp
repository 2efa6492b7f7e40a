#include "app/edit/text_window.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/entry_logic.h"

std::string_view LineEndOf(std::string_view bytes) {
  const size_t end = bytes.find('\n');
  return end != std::string_view::npos && end > 0 && bytes[end - 1] == '\r' ? "\r\n" : "\n";
}

std::optional<std::string> TextToEntryBytes(const QString& text, std::string_view lineEnd) {
  std::optional<std::string> bytes = TextToBytes(text);
  if (!bytes || lineEnd == "\n") return bytes;
  std::string ended;
  ended.reserve(bytes->size() + bytes->size() / 16);
  for (const char c : *bytes) {
    if (c == '\n') {
      ended.append(lineEnd);
    } else {
      ended.push_back(c);
    }
  }
  return ended;
}

CTextWindow::CTextWindow(const QString& title, std::string_view bytes, std::function<bool(std::string)> apply,
                         QWidget* parent)
    : QDialog(parent), m_editor(new QPlainTextEdit), m_lineEnd(LineEndOf(bytes)), m_apply(std::move(apply)) {
  setWindowTitle(title);
  setAttribute(Qt::WA_DeleteOnClose);
  // The editor shows one line end a line; the entry's own go back on Apply.
  std::string lines(bytes);
  if (m_lineEnd == "\r\n") {
    std::string plain;
    plain.reserve(lines.size());
    for (size_t k = 0; k < lines.size(); ++k) {
      if (lines[k] == '\r' && k + 1 < lines.size() && lines[k + 1] == '\n') continue;
      plain.push_back(lines[k]);
    }
    lines.swap(plain);
  }
  m_editor->setPlainText(BytesToText(lines));
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
  std::optional<std::string> bytes = TextToEntryBytes(m_editor->toPlainText(), m_lineEnd);
  return bytes && m_apply(std::move(*bytes));
}
