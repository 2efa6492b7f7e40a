#include "app/shell/help_window.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QMessageBox>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <algorithm>

#ifndef TARN_VERSION
#define TARN_VERSION "unknown"
#endif

// The resources live in this static library: naming them here keeps the
// linker from leaving them out of the program.
static void InitHelpResources() { Q_INIT_RESOURCE(help); }

namespace {

QString ReadResource(const QString& path) {
  InitHelpResources();
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A roff escape at text[at] (a backslash) as HTML; `font` is the closing
// tag of the font in force, which a font change ends. Returns the number
// of characters the escape takes.
qsizetype Escape(QStringView text, qsizetype at, QString& html, QString& font) {
  const QChar kind = at + 1 < text.size() ? text[at + 1] : QChar();
  if (kind == QLatin1Char('(') && at + 3 < text.size()) {
    const QStringView name = text.mid(at + 2, 2);
    // Every named character the page uses; one left out would drop from a
    // sentence without a trace.
    html += name == u"lq"   ? QStringLiteral("\u201C")
            : name == u"rq" ? QStringLiteral("\u201D")
            : name == u"em" ? QStringLiteral("\u2014")
            : name == u"en" ? QStringLiteral("\u2013")
            : name == u"mu" ? QStringLiteral("\u00D7")
                            : QString();
    return 4;
  }
  if (kind == QLatin1Char('f') && at + 2 < text.size()) {
    html += font;
    font.clear();
    const QChar face = text[at + 2];
    if (face == QLatin1Char('B') || face == QLatin1Char('I')) {
      html += face == QLatin1Char('B') ? QStringLiteral("<b>") : QStringLiteral("<i>");
      font = face == QLatin1Char('B') ? QStringLiteral("</b>") : QStringLiteral("</i>");
    }
    return 3;
  }
  if (kind == QLatin1Char('~')) html += QStringLiteral("&nbsp;");
  else if (kind == QLatin1Char('e')) html += QLatin1Char('\\');
  else if (kind != QLatin1Char('&')) html += QString(kind).toHtmlEscaped();
  return 2;
}

// One line of text with its escapes, as HTML.
QString Inline(QStringView text) {
  QString html, font;
  for (qsizetype at = 0; at < text.size();) {
    if (text[at] == QLatin1Char('\\')) {
      at += Escape(text, at, html, font);
    } else {
      html += QString(text[at]).toHtmlEscaped();
      ++at;
    }
  }
  return html + font;
}

// A macro's arguments: split at blanks, "double quotes" keeping blanks in.
QStringList Arguments(QStringView line) {
  QStringList arguments;
  QString current;
  bool quoted = false, any = false;
  for (const QChar c : line) {
    if (c == QLatin1Char('"')) {
      quoted = !quoted;
      any = true;
    } else if (c == QLatin1Char(' ') && !quoted) {
      if (any || !current.isEmpty()) arguments << current;
      current.clear();
      any = false;
    } else {
      current += c;
    }
  }
  if (any || !current.isEmpty()) arguments << current;
  return arguments;
}

// .B, .I and the alternating forms (.BR, .IR, .RB, ...): each argument in
// the font its place gives it, without blanks between them.
QString Fonts(QStringView macro, const QStringList& arguments) {
  QString html;
  for (qsizetype k = 0; k < arguments.size(); ++k) {
    const QChar face = macro.size() == 1 ? macro[0] : macro[k % 2];
    const QString text = Inline(arguments[k]);
    html += face == QLatin1Char('B')   ? QStringLiteral("<b>%1</b>").arg(text)
            : face == QLatin1Char('I') ? QStringLiteral("<i>%1</i>").arg(text)
                                       : text;
    if (macro.size() == 1 && k + 1 < arguments.size()) html += QLatin1Char(' ');
  }
  return html;
}

bool IsFontMacro(QStringView name) {
  return !name.isEmpty() && name.size() <= 2 && std::all_of(name.begin(), name.end(), [](QChar c) {
    return c == QLatin1Char('B') || c == QLatin1Char('I') || c == QLatin1Char('R');
  });
}

// The page as it is built: paragraphs, the tags of tagged paragraphs, and
// examples kept as they are laid out.
class CPage {
 public:
  QString Take() {
    EndParagraph();
    return m_html;
  }
  void Line(const QString& line);

 private:
  void EndParagraph() {
    if (!m_text.isEmpty()) m_html += m_open + m_text + QStringLiteral("</p>\n");
    m_text.clear();
    m_open = QStringLiteral("<p>");
  }
  void Text(const QString& html) {
    if (m_tags > 0) {
      // The line after .TP (and after each .TQ) is a tag; the body follows.
      m_text += (m_text.isEmpty() ? QString() : QStringLiteral("<br>")) + html;
      if (--m_tags == 0) {
        m_html +=
            QStringLiteral("<p style=\"margin-bottom:0\">") + m_text + QStringLiteral("</p>\n");
        m_text.clear();
        m_open = QStringLiteral("<p style=\"margin-left:2em; margin-top:0\">");
      }
      return;
    }
    m_text += (m_text.isEmpty() ? QString() : QStringLiteral(" ")) + html;
  }
  void Macro(const QString& name, const QStringList& arguments);

  QString m_html, m_text, m_open = QStringLiteral("<p>");
  int m_tags = 0;
  bool m_example = false;
};

void CPage::Macro(const QString& name, const QStringList& arguments) {
  const QString all = arguments.join(QLatin1Char(' '));
  if (name == u"SH" || name == u"SS") {
    EndParagraph();
    m_html += QStringLiteral("<h%1>%2</h%1>\n").arg(name == u"SH" ? 2 : 3).arg(Inline(all));
  } else if (name == u"PP" || name == u"P" || name == u"LP" || name == u"YS") {
    EndParagraph();
  } else if (name == u"TP") {
    EndParagraph();
    m_tags = 1;
  } else if (name == u"TQ") {
    m_tags = 1;
  } else if (name == u"SY") {
    EndParagraph();
    Text(QStringLiteral("<b>%1</b>").arg(Inline(all)));
  } else if (name == u"EX") {
    EndParagraph();
    m_example = true;
    m_html += QStringLiteral("<pre>");
  } else if (name == u"EE") {
    m_example = false;
    m_html += QStringLiteral("</pre>\n");
  } else if (IsFontMacro(name)) {
    Text(Fonts(name, arguments));
  }
  // Everything else (.TH, .in, comments) changes nothing a reader sees.
}

void CPage::Line(const QString& line) {
  if (m_example && !line.startsWith(QLatin1String(".EE"))) {
    m_html += Inline(line) + QLatin1Char('\n');
  } else if (line.startsWith(QLatin1Char('.'))) {
    const qsizetype blank = line.indexOf(QLatin1Char(' '));
    const QString name = line.mid(1, blank < 0 ? -1 : blank - 1);
    Macro(name, blank < 0 ? QStringList() : Arguments(QStringView(line).mid(blank + 1)));
  } else if (!line.trimmed().isEmpty()) {
    Text(Inline(line));
  }
}

}  // namespace

QString ManualPageToHtml(const QString& roff) {
  CPage page;
  for (const QString& line : roff.split(QLatin1Char('\n'))) page.Line(line);
  return page.Take();
}

QString AboutText() {
  // The licence is the package's copyright file, word for word.
  QString licence = ReadResource(QStringLiteral(":/help/copyright")).trimmed();
  const QLatin1String name("Tarn Editor");
  if (licence.startsWith(name)) licence = licence.mid(name.size()).trimmed();
  // Its lines are broken for a terminal; the box breaks them itself.
  QStringList paragraphs = licence.split(QStringLiteral("\n\n"));
  for (QString& paragraph : paragraphs) paragraph.replace(QLatin1Char('\n'), QLatin1Char(' '));
  licence = paragraphs.join(QStringLiteral("\n\n"));
  return QStringLiteral("Tarn Editor %1\n\n%2\n\nBuilt with Qt %3.")
      .arg(QStringLiteral(TARN_VERSION), licence, QString::fromLatin1(qVersion()));
}

void ShowAbout(QWidget* parent) {
  QMessageBox::about(parent, QStringLiteral("About Tarn Editor"), AboutText());
}

CHelpWindow::CHelpWindow(QWidget* parent) : QDialog(parent), m_browser(new QTextBrowser) {
  setWindowTitle(QStringLiteral("Tarn Editor Help"));
  setAttribute(Qt::WA_DeleteOnClose);
  m_browser->setAccessibleName(QStringLiteral("Manual"));
  m_browser->setHtml(ManualPageToHtml(ReadResource(QStringLiteral(":/help/tarn-editor.1"))));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_browser);
  layout->addWidget(buttons);
  resize(720, 560);
}

CHelpWindow* CHelpWindow::Show(QWidget* parent) {
  auto* window = parent != nullptr
                     ? parent->findChild<CHelpWindow*>(QString(), Qt::FindDirectChildrenOnly)
                     : nullptr;
  if (window == nullptr) window = new CHelpWindow(parent);
  window->show();
  window->raise();
  window->activateWindow();
  return window;
}
