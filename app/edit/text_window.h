// The text window: one entry's whole text in an editor of its own. Apply
// makes the text the entry's pending new bytes (one undo step); the list
// then shows the new rows.
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

// The entry's line end for new lines: "\r\n" when its first line ends
// with one, else "\n".
std::string_view LineEndOf(std::string_view bytes);
// The entry's bytes as the editor shows them: each CR LF as LF.
std::string TextToShow(std::string_view bytes);
// The editor's text as the bytes of the entry that was `opened`: the lines
// at its start and end that are as they were keep their own ends, a changed
// line takes the end of the line it stands in for, and a line added takes
// LineEndOf(opened). Nothing when a character has no Windows-1252 byte.
std::optional<std::string> TextToEntryBytes(const QString& text, std::string_view opened);

class CTextWindow : public QDialog {
  Q_OBJECT

 public:
  // `apply` receives the new bytes; the window stays open.
  CTextWindow(const QString& title, std::string_view bytes, std::function<bool(std::string)> apply,
              QWidget* parent);

  QPlainTextEdit* GetEditor() const { return m_editor; }
  // Hands the text over; false (the window says why) when it cannot be stored.
  bool Apply();

 private:
  QPlainTextEdit* m_editor;
  std::string m_opened;
  std::function<bool(std::string)> m_apply;
};
