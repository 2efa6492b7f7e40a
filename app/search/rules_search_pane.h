// Find in Rules: a pane under the document windows with a field and a list
// of every row, in every rules entry of a window's archive, whose name or
// value holds the field's text (ASCII letters in either case). Enter
// searches the active window's archive, off the user-interface thread;
// Escape or a new search stops it. Enter or a double-click on a match, or
// F4 and Shift+F4 through them, shows it in the window it was found in.
// In a load order's window, "Shadowed copies too" searches the copies the
// order shadows as well, not only what the game loads; such a match names
// its archive, and shows that copy, read only.
//
// It knows the document and the framework; the window's tree and list it
// reaches through CEntrySelection.
#pragma once

#include <QAbstractTableModel>
#include <QDockWidget>
#include <QPointer>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/document/reference_links.h"
#include "app/framework/cmd_target.h"
#include "app/search/rules_search_job.h"

class CMDIChildWnd;
class CMDIFrameWnd;
class QCheckBox;
class QLineEdit;
class QShortcut;
class QTreeView;

// The matches as rows of four columns: Entry, Block, Name (indented as
// the list shows it) and Value; rows listed with a mark ("def", "use")
// rather than found by a search have a fifth, Kind.
class CFoundRowModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  using QAbstractTableModel::QAbstractTableModel;

  void Clear();
  // Appends `rows`; `entryName` gives the name of an entry by position,
  // `copyOf` the path of the archive whose shadowed copy it is (else empty).
  template <typename EntryName, typename CopyOf>
  void Append(CFoundRows&& rows, EntryName&& entryName, CopyOf&& copyOf);
  const CFoundRows::CRow& At(int row) const { return m_rows.rows[static_cast<size_t>(row)]; }
  // The name of the entry of match `row`.
  std::string_view EntryNameOf(int row) const;
  // The archive whose shadowed copy match `row` is in; empty for the others.
  std::string_view CopyOfRow(int row) const;
  // In place of every row: `rows`, each with its mark; entry e of a row is
  // named names[e].
  void SetMarkedRows(CFoundRows&& rows, std::vector<std::string> marks,
                     const std::vector<std::string_view>& names);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // Entries the rows come from.
  size_t GetEntryCount() const { return m_names.size(); }

 private:
  void BeginAppend(size_t count);
  void EndAppend();

  struct CName {
    uint32_t entry;
    uint32_t at;
    uint32_t size;
    int32_t copy = -1;  // in m_copyOf, for a shadowed copy
  };
  const CName* NameOf(int row) const;
  CFoundRows m_rows;
  std::vector<std::string> m_marks;  // empty for a search's matches
  std::string m_nameText;
  std::vector<CName> m_names;  // one per entry with rows, ascending
  std::vector<std::string> m_copyOf;  // the archives copies were found in
};

class CRulesSearchPane : public QDockWidget, public CCmdTarget {
  Q_OBJECT

 public:
  explicit CRulesSearchPane(CMDIFrameWnd* frame);
  ~CRulesSearchPane() override;

  // Find in Rules, and the next and previous match.
  bool OnCmdMsg(int id, CCmdUI* query) override;

  // Shows the pane with the focus in its field.
  void Begin();
  // Searches the active window's archive for the field's text.
  void Search();
  // Stops a running search; its matches so far stay.
  void Stop();
  bool IsSearching() const { return m_job != nullptr; }
  // Shows match `row` in its window, and makes it the current match.
  void ShowMatch(int row);
  // The next (+1) or previous (-1) match, wrapping around.
  void Step(int direction);
  // Lists `rows` of `window`'s archive in place of the matches, each with
  // its mark, as found for `what`; Enter and F4 go to them as to matches.
  void ShowRows(CMDIChildWnd* window, const QString& what, const std::vector<CMarkedRow>& rows);

  QLineEdit* GetField() const { return m_field; }
  // "Shadowed copies too", shown while a load order's window is active.
  QCheckBox* GetCopiesBox() const { return m_copies; }
  QTreeView* GetResults() const { return m_results; }
  CFoundRowModel* GetModel() { return &m_model; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnDeliver(uint64_t generation, CFoundRows&& rows, size_t entriesDone);
  void OnFinish(uint64_t generation, CRulesSearchJob::Outcome outcome, const QString& failure);
  void ForgetWindow();
  // Forgets the rows listed and makes them `window`'s.
  void StartOver(CMDIChildWnd* window);
  QString CountText() const;
  void ShowCopiesBox();

  CMDIFrameWnd* m_frame;
  QLineEdit* m_field;
  QCheckBox* m_copies;
  QTreeView* m_results;
  QShortcut* m_stopKey;  // Escape, while a search runs
  CFoundRowModel m_model;
  std::unique_ptr<CRulesSearchJob> m_job;
  uint64_t m_generation = 0;        // of the search whose matches are shown
  QPointer<CMDIChildWnd> m_window;  // where they were found
  QString m_pattern;
  bool m_fitted = false;  // the columns were fitted to the first matches
};
