// The find field of the archive tree: a line at the bottom of the tree pane,
// shown only while the user is finding an entry by part of its name. It
// holds the typed text and says "no match" (in the field's placeholder
// style) when no name holds it; the tree does the finding.
#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;

class CEntryFindBar : public QWidget {
  Q_OBJECT

 public:
  explicit CEntryFindBar(QWidget* parent);

  QLineEdit* GetField() const { return m_field; }
  QString GetText() const;
  // Shows or hides "no match" at the right end of the field.
  void SetNoMatch(bool noMatch);

 signals:
  // The user changed the text.
  void TextEdited(const QString& text);
  // Enter: the next match.
  void NextRequested();
  // Escape: the user is done finding.
  void CloseRequested();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void PlaceNoMatch();

  QLineEdit* m_field;
  QLabel* m_noMatch;
};
