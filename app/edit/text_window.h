// The text window: one entry's whole text in an editor of its own. Apply
// makes the text the entry's pending new bytes (one undo step); the list
// then shows the new rows. Closing it with text not applied asks first.
//
// The bytes are read as Windows-1252, one character a byte, and written
// back the same way. The editor shows CR LF and LF alike; on the way back
// every line the user left as it was keeps its own end, so an entry whose
// lines end both ways differs only in the lines changed.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

class QPlainTextEdit;

// The entry's line end for new lines: its first line's ("\r\n", "\n", or
// "\r" alone), else "\n".
std::string_view LineEndOf(std::string_view bytes);
// The entry's bytes as the editor shows them: each CR LF, and each CR
// alone, as LF.
std::string TextToShow(std::string_view bytes);
// The editor's text as the bytes of the entry that was `opened`: the lines
// at its start and end that are as they were keep their own ends, a changed
// line takes the end of the line it stands in for, and a line added takes
// LineEndOf(opened). Nothing when a character has no Windows-1252 byte.
std::optional<std::string> TextToEntryBytes(const QString& text, std::string_view opened);
// `mine` and `theirs` both made from `read`: the two together, when theirs
// only changed lines in place (as editing a value does) and none that mine
// changed; else nothing.
std::optional<std::string> MergeTexts(std::string_view read, std::string_view mine,
                                      std::string_view theirs);

class QLabel;

class CTextWindow : public QDialog {
  Q_OBJECT

 public:
  // `apply` receives the bytes the window read (or last applied) and the
  // new ones, and answers why they were not taken (empty when they were);
  // it may take other bytes (the new ones merged with a change made
  // meanwhile), which it leaves in `bytes` for the window to show. The
  // window stays open.
  using ApplyFunction = std::function<QString(std::string_view read, std::string& bytes)>;
  // Titled "NAME - DOCUMENT".
  CTextWindow(const QString& name, const QString& document, std::string_view bytes,
              ApplyFunction apply, QWidget* parent);

  QPlainTextEdit* GetEditor() const { return m_editor; }
  // The reason the last Apply gave, shown under the text; empty after one
  // that took the text.
  QString GetProblem() const;
  // Hands the text over; false (the window says why) when it was not taken.
  bool Apply();
  // Whether the text differs from what the entry was given last.
  bool HasUnappliedText() const;
  // With text not applied, asks Apply / Discard / Cancel. True when the
  // window may close: nothing to lose, Discard, or an Apply that took.
  bool MayClose();

  // Esc closes through closeEvent, so it asks as the close button does.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QPlainTextEdit* m_editor;
  QLabel* m_problem;
  QString m_name;
  std::string m_opened;
  ApplyFunction m_apply;
};
