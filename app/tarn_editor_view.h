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

#include <vector>

#include "app/framework/views.h"
#include "rules/rules_parser.h"
#include "rules/rules_rows.h"

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

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  // The view lays out every row after a reset, asking for each one's index
  // and flags: these two answer without a call back into the model.
  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  QStringList m_headings;
  CRulesRows m_rows;
  bool m_replacing = false;
};

class CTarnEditorView : public CListView {
  Q_OBJECT

 public:
  CTarnEditorView();

  // Full-row selection and the columns "Name" and "Value".
  void OnInitialUpdate() override;
  // Replaces every row with the rows of `entry` read as rules text, then
  // fits both columns.
  void ShowEntry(const CDataBuffer& entry);

  CRulesRowModel* GetModel() { return &m_model; }

 private:
  void AutoSizeColumns();

  CRulesParser m_parser;
  CRulesRowModel m_model;
};
