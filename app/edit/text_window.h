// The text window: one entry's whole text in an editor of its own. Apply
// makes the text the entry's pending new bytes (one undo step); the list
// then shows the new rows.
//
// The bytes are read as Windows-1252, one character a byte, and written
// back the same way with the entry's own line end (CR LF when its first
// line ends so, else LF).
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

class QPlainTextEdit;

// The entry's line end: "\r\n" when its first line ends with one, else "\n".
std::string_view LineEndOf(std::string_view bytes);
// The editor's text as the entry's bytes, with `lineEnd` for every line
// end; nothing when a character has no Windows-1252 byte.
std::optional<std::string> TextToEntryBytes(const QString& text, std::string_view lineEnd);

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
  std::string m_lineEnd;
  std::function<bool(std::string)> m_apply;
};
