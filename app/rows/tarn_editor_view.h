// The entry list: the right pane of every document window. Shown an entry,
// it parses it as rules text with its own parser and lists one row per
// block, each followed by the block's lines, indented four spaces per level
// of nesting. Both columns are fitted to their widest cell every time.
//
// The rows live in a model that reads them in place from the parser's
// result; cell texts are made when the view asks for them.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/framework/views.h"
#include "rules/rules_parser.h"
#include "rules/rules_rows.h"

class CReferenceLinks;

class CRulesRowModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  using QAbstractTableModel::QAbstractTableModel;

  // Adds a column headed `heading` at `column`.
  void InsertColumn(int column, const QString& heading);
  // Drops every row. The rows point into a parser: call this before it
  // parses again, then SetRows with the new rows.
  void BeginReplaceRows();
  void SetRows(CRulesRows rows);
  const CRulesRows& GetRows() const { return m_rows; }

  // Lets the values of key/value rows be edited: `edit` gets the value's
  // offset and size in the entry's bytes and the text typed.
  using EditFn = std::function<void(size_t offset, size_t size, const QString& value)>;
  void SetValueEditor(EditFn edit) { m_edit = std::move(edit); }
  // Whether values may be edited here, and `row` is a block's own row,
  // whose name and type word are not edited in place.
  bool IsBlockRowOfEditable(int row) const {
    return m_edit && row >= 0 && static_cast<size_t>(row) < m_rows.size() &&
           m_rows[static_cast<size_t>(row)].depth == 0;
  }
  // Which tokens of the values name defined blocks: shown as links, and
  // described to a screen reader ("reference to BLOCK in ENTRY").
  void SetLinks(CReferenceLinks* links) { m_links = links; }
  CReferenceLinks* GetLinks() const { return m_links; }
  // The value of a key/value row's Value cell, whose tokens may be links;
  // empty for any other cell (a block row's value is its type word).
  std::string_view LinkableValue(const QModelIndex& index) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  // The view lays out every row after a reset, asking for each one's index
  // and flags: these two answer without a call back into the model.
  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  EditFn m_edit;
  CReferenceLinks* m_links = nullptr;
  QStringList m_headings;
  CRulesRows m_rows;
  bool m_replacing = false;
};
struct CColumnWidths {
  int name;
  int value;
};

// The widths of the Name and Value columns from their fitted widths, in a
// pane `visible` pixels wide. Neither goes past the pane's width, nor below
// its minimum (what its heading needs); Name leaves Value at least half the
// pane, or all it needs when that is less, so Value always starts in view.
CColumnWidths CapColumnWidths(CColumnWidths fitted, CColumnWidths minimum, int visible);

class CTarnEditorView : public CListView {
  Q_OBJECT

 public:
  CTarnEditorView();

  // Full-row selection and the columns "Name" and "Value".
  void OnInitialUpdate() override;
  // Replaces every row with the rows of `entry` read as rules text, then
  // fits both columns. `name` is the entry's, for the edits made in the list.
  // `copyOf`, when not empty, is the path of the load order's archive whose
  // copy it is, one the game does not load: shown read only.
  void ShowEntry(const CDataBuffer& entry, std::string_view name = {},
                 std::string_view copyOf = {});
  // Pending changes came or went, or the document shows the archive it
  // saved: shows the entry's bytes as they are now, at the same row and scroll.
  void OnUpdate(int hint) override;

  CRulesRowModel* GetModel() { return &m_model; }
  // The selected rows as NAME<TAB>VALUE lines, names indented as shown.
  QString SelectedRowsText() const;
  // The entry shown (empty before one is), and the current row (-1: none).
  const std::string& GetEntryName() const { return m_entryName; }
  int GetCurrentRow() const { return currentIndex().row(); }
  // The defined block the current row stands for or names first: its own
  // name on a block row, else the first link of its value.
  std::optional<std::string> CurrentReference() const;

 signals:
  // Ctrl and a click on a link.
  void referenceClicked(const std::string& name);

 protected:
  // Editing starts on the Value cell, from either column of a row; Enter
  // starts it too. Refused, with the reason, on a copy shown read only.
  bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  // The link at `point` of the viewport, if any.
  std::optional<std::string> ReferenceAt(const QPoint& point) const;

  void AutoSizeColumns();
  void ShowBytes(const CDataBuffer& entry);

  CRulesParser m_parser;
  CRulesRowModel m_model;
  std::string m_entryName;  // of the entry shown
  std::string m_copyOf;     // its archive's path, when a copy shown read only
  bool m_hasEntry = false;
  CDataBuffer m_shown;  // its bytes, as shown
};
