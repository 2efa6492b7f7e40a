// File > Compare With...: a window listing what differs between the active
// document's archive and another archive, entry by entry, and for a rules
// entry the rows its blocks lost and gained, with a few unchanged rows
// around them.
//
// The comparison is the core's (archive/archive_compare.h and
// rules/rules_diff.h), the same as `tarn diff`. Marks are given in text as
// well as colour, and every item carries an accessible description, so the
// window reads the same to a screen reader. Extract writes the entry as the
// compared archive holds it (the older copy for an entry it lacks); neither
// archive is ever written to.
#pragma once

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/document/archive_window.h"
#include "archive/archive_compare.h"

class CTarnEditorDoc;
class QTreeWidget;
class QTreeWidgetItem;

class CCompareWindow : public QMainWindow, public CArchiveWindow {
  Q_OBJECT

 public:
  // One side: an archive or folder at `path`, or, with `shown`, a
  // document's archive as its window shows it (`path` names it).
  struct CSource {
    QString path;
    std::shared_ptr<const CShownSnapshot> shown;
  };
  // Compares `before` with `after`. Check IsOpen(); on failure GetError()
  // says why.
  CCompareWindow(CSource before, CSource after, QWidget* parent = nullptr);
  CCompareWindow(const QString& before, const QString& after, QWidget* parent = nullptr)
      : CCompareWindow(CSource{before, {}}, CSource{after, {}}, parent) {}
  ~CCompareWindow() override;

  bool IsOpen() const { return m_open; }
  const QString& GetError() const { return m_error; }
  QTreeWidget* GetEntries() const { return m_entries; }
  QTreeWidget* GetRows() const { return m_rows; }
  // The files of the two archives compared, which the window keeps open.
  std::vector<std::string> ShownPaths() const override {
    return {m_before.GetPath(), m_after.GetPath()};
  }

  // Shows the rows of the change in row `row` of the entry list.
  void ShowChange(int row);
  // Asks where to write the entry of row `row` and writes it.
  void ExtractChange(int row);
  // Asks for a folder and writes under it every entry added or changed, as
  // the compared archive holds it: what a patch needs.
  void ExtractAll();
  void CopyName(int row);
  // Opens the comparison the other way round in place of this one: what
  // one side adds, the other removes. The new window, or null.
  CCompareWindow* SwapSides();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FillEntries();
  void ShowMenu(const QPoint& position);

  CSource m_sources[2];
  CCompareSide m_before;
  CCompareSide m_after;
  std::vector<CEntryChange> m_changes;
  QTreeWidget* m_entries = nullptr;
  QTreeWidget* m_rows = nullptr;
  bool m_open = false;
  QString m_error;
};

// The command: asks for the archive to compare the active document with and
// opens the window; a failure is said in the status bar.
void CompareDocumentWith(const CTarnEditorDoc* document, QWidget* parent);
// Compare With Shadowed, in a load order's window: the current entry as
// the window shows it against the copy it overrides in an earlier archive,
// "what this archive changes in this entry". The opened window, or null
// (and the status bar says why).
// With `of`, the copy in that archive (a copy row the tree shows).
CCompareWindow* CompareWithShadowed(const CTarnEditorDoc& document, std::string_view name,
                                    QWidget* parent, std::optional<uint32_t> of = std::nullopt);
