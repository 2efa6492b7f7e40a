// Help > About and the manual. The manual is the editor's own manual page,
// built into the program as a resource (so it is there whether the editor
// runs from the build tree or from the package), shown as formatted text in
// a window of its own.
#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;

// The version and licence, as the About box says them.
QString AboutText();
// The manual page's roff source as HTML: headings, tagged paragraphs,
// bold and italic, examples; the macros the manual pages of this program
// use, and the rest as text.
QString ManualPageToHtml(const QString& roff);

// Help > About Tarn Editor.
void ShowAbout(QWidget* parent);

class CHelpWindow : public QDialog {
  Q_OBJECT

 public:
  explicit CHelpWindow(QWidget* parent);
  QTextBrowser* GetBrowser() const { return m_browser; }
  // Shows the one help window of `parent`, making it first if need be.
  static CHelpWindow* Show(QWidget* parent);

 private:
  QTextBrowser* m_browser;
};
