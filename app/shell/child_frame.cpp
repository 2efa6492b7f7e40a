#include "app/shell/child_frame.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLayout>

#include <algorithm>

#include "app/shell/disk_bar.h"
#include "app/document/disk_watch.h"
#include "app/document/entry_text.h"
#include "app/document/status_text.h"
#include "app/framework/doc_template.h"
#include "app/framework/win_app.h"
#include "app/framework/command_ids.h"
#include "app/framework/splitter.h"
#include "app/tree/left_view.h"
#include "app/compare/compare_window.h"
#include "app/order/load_order_file.h"
#include "app/order/load_order_pane.h"
#include "app/preview/preview_pane.h"
#include "archive/shown_order.h"
#include "app/refs/rules_references.h"
#include "app/search/rules_search_pane.h"
#include "app/shell/main_frame.h"
#include "app/document/tarn_editor_doc.h"
#include "app/rows/tarn_editor_view.h"

void CChildFrame::ActivateFrame(ShowCommand show) {
  (void)show;
  CMDIChildWnd::ActivateFrame(ShowCommand::Maximized);
}

bool CChildFrame::OnCreateClient(CCreateContext& context) {
  auto* splitter = new CSplitterWnd;
  if (!splitter->CreateStatic(this, 1, 2)) {
    delete splitter;
    return false;
  }
  m_wndSplitter = splitter;
  if (!m_wndSplitter->CreateView<CLeftView>(0, 0, QSize(300, 100), context) ||
      !m_wndSplitter->CreateView<CTarnEditorView>(0, 1, QSize(100, 100), context)) {
    setWidget(nullptr);
    delete m_wndSplitter;
    m_wndSplitter = nullptr;
    return false;
  }
  CTarnEditorView* list = GetRightPane();
  m_preview = CPreviewPane::Install(
      m_wndSplitter, 0, 1, list,
      [list](const CDataBuffer& bytes, std::string_view name, std::string_view copyOf) {
        list->ShowEntry(bytes, name, copyOf);
        return list->GetModel()->rowCount();
      },
      dynamic_cast<CTarnEditorDoc*>(context.m_pCurrentDoc));
  auto* document = dynamic_cast<CTarnEditorDoc*>(context.m_pCurrentDoc);
  if (auto* tree = qobject_cast<CLeftView*>(m_wndSplitter->GetPane(0, 0))) {
    connect(tree, &CLeftView::EntrySelected, this, &CChildFrame::ShowEntry);
    // The document is read after its window is made: a load order's pane
    // comes when it is known to be one.
    if (document != nullptr)
      document->AddOrderListener(this, [this, tree, document] { AddOrderPane(tree, document); });
  }
  connect(list, &CTarnEditorView::referenceClicked, this,
          [this](const std::string& name) { GoToDefinition(name); });
  if (document != nullptr) {
    m_diskBar = new CDiskBar;
    m_wndSplitter->AddOverlay(m_diskBar);
    m_wndSplitter->installEventFilter(this);
    connect(&document->GetDiskWatch(), &CDiskWatch::changed, this, &CChildFrame::ShowDiskChange);
    connect(m_diskBar, &CDiskBar::reload, this, [document] { document->ReloadFromDisk(); });
    connect(m_diskBar, &CDiskBar::keep, this, [this, document] {
      document->GetDiskWatch().Keep();
      ShowDiskChange(DiskChange::None);
    });
  }
  return true;
}

void CChildFrame::AddOrderPane(CLeftView* tree, CTarnEditorDoc* document) {
  if (m_orderPane != nullptr || m_wndSplitter == nullptr) return;
  m_orderPane = CLoadOrderPane::Install(m_wndSplitter, tree, document);
  if (m_orderPane == nullptr) return;
  connect(m_orderPane->GetList(), &CLoadOrderList::showEntriesOf, tree,
          [this, tree](std::optional<size_t> archive) {
            m_overriddenOnly = false;  // one arrangement of the rows at a time
            tree->ShowArchiveEntries(archive);
          });
}

void CChildFrame::ShowDiskChange(DiskChange change) {
  auto* document = dynamic_cast<CTarnEditorDoc*>(GetActiveDocument());
  if (m_diskBar == nullptr || document == nullptr) return;
  if (change == DiskChange::None) {
    m_diskBar->hide();
  } else {
    const QString words = document->DiskChangeWords();
    m_diskBar->Show(words, change != DiskChange::Gone);
    // Said where a screen reader hears it too.
    ShowStatusText(words);
  }
  PlaceDiskBar();
}

void CChildFrame::PlaceDiskBar() {
  if (m_diskBar == nullptr || m_wndSplitter == nullptr) return;
  int shown = 0;
  if (m_diskBar->isVisible()) {
    // As tall as the text needs, wrapped beside the buttons.
    shown = std::max(m_diskBar->minimumSizeHint().height(),
                     m_diskBar->layout()->totalHeightForWidth(m_wndSplitter->width()));
  }
  m_diskBar->setGeometry(0, 0, m_wndSplitter->width(), shown);
  // The panes move down below it rather than lie under it.
  m_wndSplitter->setContentsMargins(0, shown, 0, 0);
}

bool CChildFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_wndSplitter && event->type() == QEvent::Resize) PlaceDiskBar();
  return CMDIChildWnd::eventFilter(watched, event);
}

void CChildFrame::ShowEntry(const CDataBuffer& bytes, std::string_view name,
                            std::string_view copyOf) {
  if (m_preview != nullptr) {
    m_preview->ShowEntry(bytes, name, copyOf);
  } else if (CTarnEditorView* list = GetRightPane()) {
    list->ShowEntry(bytes, name, copyOf);
  }
}

const CRulesIndex* CChildFrame::ReferencesIndex() const {
  auto* document = dynamic_cast<CTarnEditorDoc*>(GetActiveDocument());
  const auto* references =
      document != nullptr ? dynamic_cast<const CRulesReferences*>(document->GetLinks()) : nullptr;
  const CRulesIndex* index = references != nullptr ? references->GetIndex() : nullptr;
  if (index == nullptr) ShowStatusText(QStringLiteral("The references are still being indexed"));
  return index;
}

CRowPlace CChildFrame::CurrentPlace() const {
  const CTarnEditorView* list = GetRightPane();
  if (list == nullptr) return {};
  return {list->GetEntryName(), static_cast<size_t>(std::max(list->GetCurrentRow(), 0))};
}

bool CChildFrame::GoTo(const CRowPlace& place) {
  if (!SelectEntryRow(place.entry, place.row)) {
    ShowStatusText(
        QStringLiteral("%1 is no longer shown").arg(EscapeControls(BytesToText(place.entry))));
    return false;
  }
  GetRightPane()->setFocus(Qt::OtherFocusReason);
  return true;
}

bool CChildFrame::GoToDefinition(const std::string& name) {
  const CRulesIndex* index = ReferencesIndex();
  if (index == nullptr) return false;
  const std::optional<CRowPlace> place = DefinitionPlace(*index, name);
  if (!place) {
    ShowStatusText(
        QStringLiteral("No block named %1 is defined").arg(EscapeControls(BytesToText(name))));
    return false;
  }
  const CRowPlace here = CurrentPlace();
  if (!GoTo(*place)) return false;
  if (!here.entry.empty() && here != *place) m_history.Leave(here);
  return true;
}

bool CChildFrame::GoBack() {
  const std::optional<CRowPlace> place = m_history.Back(CurrentPlace());
  return place && GoTo(*place);
}

bool CChildFrame::GoForward() {
  const std::optional<CRowPlace> place = m_history.Forward(CurrentPlace());
  return place && GoTo(*place);
}

bool CChildFrame::FindReferences(const std::string& name) {
  const CRulesIndex* index = ReferencesIndex();
  auto* main = qobject_cast<CMainFrame*>(window());
  if (index == nullptr || main == nullptr || main->GetRulesSearch() == nullptr) return false;
  main->GetRulesSearch()->ShowRows(this, BytesToText(name), ReferenceRows(*index, name));
  return true;
}

bool CChildFrame::OnReferenceCmd(int id, CCmdUI* query) {
  CTarnEditorView* list = GetRightPane();
  if (list == nullptr) return false;
  switch (id) {
    case ID_GO_TO_DEFINITION:
    case ID_FIND_REFERENCES: {
      const std::optional<std::string> name = list->CurrentReference();
      return Handle(
          query,
          [this, id, &name] {
            if (id == ID_GO_TO_DEFINITION) GoToDefinition(*name);
            else FindReferences(*name);
          },
          name.has_value());
    }
    case ID_GO_BACK:
      return Handle(
          query, [this] { GoBack(); }, m_history.CanGoBack());
    case ID_GO_FORWARD:
      return Handle(
          query, [this] { GoForward(); }, m_history.CanGoForward());
    default: break;
  }
  return false;
}

bool CChildFrame::OnCmdMsg(int id, CCmdUI* query) {
  if (m_preview != nullptr && m_preview->OnCmdMsg(id, query)) return true;
  if (OnReferenceCmd(id, query)) return true;
  if (id == ID_EDIT_FIND && m_wndSplitter != nullptr) {
    if (auto* tree = qobject_cast<CLeftView*>(m_wndSplitter->GetPane(0, 0))) {
      return Handle(query, [tree] { tree->BeginFind(); });
    }
  }
  auto* tree =
      m_wndSplitter != nullptr ? qobject_cast<CLeftView*>(m_wndSplitter->GetPane(0, 0)) : nullptr;
  CTarnEditorView* list = GetRightPane();
  if (tree != nullptr && list != nullptr) {
    switch (id) {
      case ID_EDIT_COPY: {
        // What the pane with the focus has selected: rows, or entry names.
        const bool rows = GetActiveView() == list;
        const bool any =
            rows ? list->selectionModel()->hasSelection() : tree->selectionModel()->hasSelection();
        return Handle(
            query,
            [rows, tree, list] {
              QString text = rows ? list->SelectedRowsText() : QString();
              if (!rows) {
                for (const std::string& name : tree->SelectedNames())
                  text += BytesToText(name) + QLatin1Char('\n');
              }
              QApplication::clipboard()->setText(text);
            },
            any);
      }
      case ID_VIEW_FOLDERS:
        if (query != nullptr) query->checked = tree->ShowsFolders();
        return Handle(query, [tree] { tree->SetShowFolders(!tree->ShowsFolders()); });
      case ID_EDIT_CLEAR:
        return Handle(
            query, [tree] { tree->DeleteSelected(); }, tree->selectionModel()->hasSelection());
      case ID_EDIT_TEXT:
        return Handle(
            query, [tree] { tree->EditCurrentText(); }, tree->currentIndex().isValid());
      case ID_EDIT_REPLACE_FILE:
        return Handle(
            query, [tree] { tree->ReplaceCurrent(); }, tree->currentIndex().isValid());
      case ID_EDIT_ADD_FILES:
        return Handle(query, [tree] {
          tree->AddPaths(
              QFileDialog::getOpenFileNames(tree->window(), QStringLiteral("Add Files")));
        });
      case ID_EDIT_ADD_FOLDER:
        return Handle(query, [tree] {
          const QString folder =
              QFileDialog::getExistingDirectory(tree->window(), QStringLiteral("Add Folder"));
          if (!folder.isEmpty()) tree->AddPaths({folder});
        });
      default: break;
    }
  }
  if (tree != nullptr && OnOrderCommand(id, query, tree)) return true;
  return CMDIChildWnd::OnCmdMsg(id, query);
}

bool CChildFrame::OnOrderCommand(int id, CCmdUI* query, CLeftView* tree) {
  switch (id) {
    case ID_COMPARE_WITH_SHADOWED: {
      auto* document = dynamic_cast<CTarnEditorDoc*>(GetActiveDocument());
      const std::optional<std::string_view> name = tree->NameOf(tree->currentIndex());
      // A copy row of the archive whose entries are shown: that copy.
      std::optional<uint32_t> of;
      if (document != nullptr && document->IsLoadOrder() && tree->IsCopy(tree->currentIndex()))
        of = document->Shown().Order()->ArchiveAt(tree->GetModel()->GetArchiveShown());
      return Handle(
          query,
          [this, document, entry = std::string(name.value_or(std::string_view())), of] {
            CompareWithShadowed(*document, entry, this, of);
          },
          document != nullptr && document->IsLoadOrder() && name.has_value());
    }
    case ID_FILE_SAVE_ORDER_AS: {
      auto* document = dynamic_cast<CTarnEditorDoc*>(GetActiveDocument());
      return Handle(
          query, [document] { SaveLoadOrderAs(*document); },
          document != nullptr && document->IsLoadOrder());
    }
    case ID_VIEW_OVERRIDDEN_ONLY: {
      auto* document = dynamic_cast<CTarnEditorDoc*>(GetActiveDocument());
      const bool order = document != nullptr && document->IsLoadOrder();
      if (query != nullptr) query->checked = order && m_overriddenOnly;
      return Handle(
          query,
          [this, tree, document] {
            m_overriddenOnly = !m_overriddenOnly;
            if (!m_overriddenOnly) {
              tree->SetEntryFilter({});
              return;
            }
            tree->SetEntryFilter([document](size_t position) {
              const CShownOrder* shown = document->Shown().Order();
              return shown != nullptr && shown->Names()[position].mark != ' ';
            });
          },
          order);
    }
    default: return false;
  }
}

CTarnEditorView* CChildFrame::GetRightPane() const {
  if (m_wndSplitter == nullptr) return nullptr;
  return qobject_cast<CTarnEditorView*>(m_wndSplitter->GetPane(0, 1));
}

bool CChildFrame::SelectEntryRow(std::string_view name, size_t row) {
  auto* tree =
      m_wndSplitter != nullptr ? qobject_cast<CLeftView*>(m_wndSplitter->GetPane(0, 0)) : nullptr;
  CTarnEditorView* list = GetRightPane();
  if (tree == nullptr || list == nullptr) return false;
  CEntryTreeModel* model = tree->GetModel();
  int found = model->RowOfName(name);
  if ((found < 0 || model->IsCopyRow(found)) && !model->GetArchiveShown().empty()) {
    // Listed on its own, an archive may lack the name, or hold a copy of it
    // that is not the one shown.
    m_overriddenOnly = false;
    tree->ShowArchiveEntries(std::nullopt);
    found = model->RowOfName(name);
  }
  return SelectTreeRow(tree, tree->IndexOfFlatRow(found), row);
}

bool CChildFrame::SelectCopyRow(std::string_view archive, std::string_view name, size_t row) {
  auto* tree =
      m_wndSplitter != nullptr ? qobject_cast<CLeftView*>(m_wndSplitter->GetPane(0, 0)) : nullptr;
  auto* document = dynamic_cast<CTarnEditorDoc*>(GetActiveDocument());
  const CShownOrder* order = document != nullptr ? document->Shown().Order() : nullptr;
  const std::optional<uint32_t> at = order != nullptr ? order->ArchiveAt(archive) : std::nullopt;
  if (tree == nullptr || !at) return false;
  if (tree->GetModel()->GetArchiveShown() != archive) {
    m_overriddenOnly = false;
    tree->ShowArchiveEntries(*at);
    // The pane marks the archives around the one listed, as Show Its
    // Entries from its menu leaves it.
    if (m_orderPane != nullptr)
      m_orderPane->GetList()->setCurrentItem(
          m_orderPane->GetList()->topLevelItem(static_cast<int>(*at)));
  }
  const int found = tree->GetModel()->RowOfName(name);
  if (found < 0 || !tree->GetModel()->IsCopyRow(found)) return false;
  return SelectTreeRow(tree, tree->IndexOfFlatRow(found), row);
}

bool CChildFrame::SelectTreeRow(CLeftView* tree, const QModelIndex& item, size_t row) {
  CTarnEditorView* list = GetRightPane();
  if (list == nullptr || !item.isValid()) return false;
  // Selecting the entry fills the list with its rows, as a click would.
  tree->selectionModel()->setCurrentIndex(item, QItemSelectionModel::ClearAndSelect);
  tree->scrollTo(item);
  if (row >= static_cast<size_t>(list->model()->rowCount())) return false;
  const QModelIndex line = list->model()->index(static_cast<int>(row), 0);
  list->selectionModel()->setCurrentIndex(
      line, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  list->scrollTo(line);
  return true;
}
