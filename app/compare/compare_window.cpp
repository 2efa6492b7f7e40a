#include "app/compare/compare_window.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeWidget>

#include "app/compare/compare_rows.h"
#include "app/document/entry_text.h"
#include "app/document/status_text.h"
#include "app/framework/win_app.h"
#include "app/document/tarn_editor_doc.h"
#include "archive/entry_path.h"
#include "archive/extract.h"
#include "rules/rules_diff.h"
#include "storage/replacing_file.h"

namespace {

QString Words(const std::vector<CEntryProblem>& problems) {
  QStringList all;
  for (const CEntryProblem& problem : problems)
    all << BytesToText(problem.name) + QStringLiteral(": ") +
               QString::fromLocal8Bit(problem.reason);
  return all.join(QStringLiteral("; "));
}

// Colours that read on a light background; each goes with a text mark, so
// nothing is told by colour alone.
const QColor kAddedColour(0x00, 0x70, 0x00);
const QColor kRemovedColour(0xB0, 0x00, 0x00);
const QColor kChangedColour(0x00, 0x40, 0xA0);
const QColor kSameColour(0x80, 0x80, 0x80);

struct CMarkStyle {
  const char* mark;
  const char* description;  // said before the row's own text
  QColor colour;
  bool bold;
  bool struck;
};

CMarkStyle StyleOf(CCompareRow::Kind kind) {
  switch (kind) {
    case CCompareRow::BlockAdded: return {"+", "block added", kAddedColour, true, false};
    case CCompareRow::BlockRemoved: return {"-", "block removed", kRemovedColour, true, true};
    case CCompareRow::BlockChanged: return {"~", "block changed", kChangedColour, true, false};
    case CCompareRow::NotAligned:
      return {"!", "too many changes to align: every row removed and added", kSameColour, false,
              false};
    case CCompareRow::Gap: return {"", "unchanged rows not shown", kSameColour, false, false};
    case CCompareRow::Same: return {"", "unchanged row", kSameColour, false, false};
    case CCompareRow::Removed: return {"-", "removed row", kRemovedColour, false, true};
    case CCompareRow::Added: return {"+", "added row", kAddedColour, true, false};
  }
  return {"", "", kSameColour, false, false};
}

void Style(QTreeWidgetItem* item, int columns, const QColor& colour, bool bold, bool struck,
           const QString& description) {
  for (int c = 0; c < columns; ++c) {
    item->setForeground(c, colour);
    QFont font = item->font(c);
    font.setBold(bold);
    font.setStrikeOut(struck);
    item->setFont(c, font);
    item->setData(c, Qt::AccessibleDescriptionRole, description);
  }
}

// "PATH: has changed on disk since it was opened" for a side another program
// cut short or wrote over while it was read: what would be listed is not
// what either file holds. Empty when neither.
QString ChangedSideWords(const CCompareSide& before, const CCompareSide& after) {
  for (const CCompareSide* side : {&before, &after}) {
    if (side->FirstCutEntry() || side->ChangedOnDisk())
      return QString::fromStdString(side->GetPath()) + QStringLiteral(": ") +
             QString::fromLatin1(kArchiveChangedWords);
  }
  return QString();
}

}  // namespace

CCompareWindow::CCompareWindow(CSource before, CSource after, QWidget* parent)
    : QMainWindow(parent), m_sources{std::move(before), std::move(after)} {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowFlag(Qt::Window);
  setWindowTitle(
      QStringLiteral("Compare %1 with %2")
          .arg(QFileInfo(m_sources[0].path).fileName(), QFileInfo(m_sources[1].path).fileName()));
  setAccessibleName(windowTitle());

  std::vector<CEntryProblem> problems;
  const auto open = [&](CCompareSide& side, const CSource& source) {
    if (source.shown == nullptr) return side.Open(NativePath(source.path), problems);
    side.Open(source.shown, NativePath(source.path));
    return true;
  };
  if (!open(m_before, m_sources[0]) || !open(m_after, m_sources[1])) {
    m_error = Words(problems);
    return;
  }
  QMenu* menu = menuBar()->addMenu(QStringLiteral("&Compare"));
  menu->addAction(QStringLiteral("&Swap Sides"), this, [this] { SwapSides(); });
  m_changes = CompareEntries(m_before, m_after, problems);
  m_error = ChangedSideWords(m_before, m_after);
  if (!m_error.isEmpty()) return;
  m_open = true;

  auto* splitter = new QSplitter(this);
  m_entries = new QTreeWidget(splitter);
  m_entries->setAccessibleName(QStringLiteral("Changes"));
  m_entries->setHeaderLabels({QStringLiteral("Change"), QStringLiteral("Name")});
  m_entries->setRootIsDecorated(false);
  m_entries->setUniformRowHeights(true);
  m_entries->setContextMenuPolicy(Qt::CustomContextMenu);
  m_entries->installEventFilter(this);
  m_rows = new QTreeWidget(splitter);
  m_rows->setAccessibleName(QStringLiteral("Changed rows"));
  m_rows->setHeaderLabels(
      {QStringLiteral("Change"), QStringLiteral("Name"), QStringLiteral("Value")});
  m_rows->setRootIsDecorated(false);
  m_rows->setUniformRowHeights(true);
  splitter->setStretchFactor(1, 2);
  setCentralWidget(splitter);

  FillEntries();
  connect(m_entries, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    ShowChange(item != nullptr ? m_entries->indexOfTopLevelItem(item) : -1);
  });
  connect(m_entries, &QWidget::customContextMenuRequested, this, &CCompareWindow::ShowMenu);

  QString summary = m_changes.empty() ? QStringLiteral("No entry differs")
                                      : Plural(m_changes.size(), "entry differs", "entries differ");
  // Entries that could not be compared are said, not hidden.
  if (!problems.empty()) summary += QStringLiteral("; not compared: ") + Words(problems);
  statusBar()->showMessage(summary);
  resize(900, 560);
}

CCompareWindow::~CCompareWindow() = default;

CCompareWindow* CCompareWindow::SwapSides() {
  auto* swapped = new CCompareWindow(m_sources[1], m_sources[0], parentWidget());
  if (!swapped->IsOpen()) {
    statusBar()->showMessage(QStringLiteral("Cannot swap sides: %1").arg(swapped->GetError()));
    delete swapped;
    return nullptr;
  }
  swapped->setGeometry(geometry());
  swapped->show();
  close();
  return swapped;
}

void CCompareWindow::FillEntries() {
  for (const CEntryChange& change : m_changes) {
    static const CMarkStyle kStyles[] = {{"+", "added", kAddedColour, false, false},
                                         {"-", "removed", kRemovedColour, false, true},
                                         {"M", "changed", kChangedColour, false, false}};
    const CMarkStyle& style = kStyles[change.kind];
    const QString name = BytesToText(change.name);
    auto* item = new QTreeWidgetItem(
        m_entries,
        {QStringLiteral("%1 %2").arg(QLatin1String(style.mark), QLatin1String(style.description)),
         name});
    Style(item, 2, style.colour, false, style.struck,
          QStringLiteral("%1: %2").arg(QLatin1String(style.description), name));
  }
  m_entries->resizeColumnToContents(0);
}

void CCompareWindow::ShowChange(int row) {
  m_rows->clear();
  if (row < 0 || static_cast<size_t>(row) >= m_changes.size()) return;
  const CEntryChange& change = m_changes[static_cast<size_t>(row)];
  CDataBuffer oldBytes, newBytes;
  CStatus status;
  if ((change.kind != CEntryChange::Added &&
       !(status = m_before.BufferAt(change.before, oldBytes)).IsOk()) ||
      (change.kind != CEntryChange::Removed &&
       !(status = m_after.BufferAt(change.after, newBytes)).IsOk())) {
    statusBar()->showMessage(
        QStringLiteral("Cannot read %1: %2")
            .arg(BytesToText(change.name), QString::fromLocal8Bit(status.GetWords())));
    return;
  }
  CRulesTextPair texts;
  if (!texts.Parse(oldBytes, newBytes)) {
    auto* item =
        new QTreeWidgetItem(m_rows, {QString(), QStringLiteral("(not rules text: bytes differ)")});
    Style(item, 3, kSameColour, false, false, QStringLiteral("not rules text"));
    return;
  }
  const std::vector<CCompareRow> rows = BuildCompareRows(texts.OldRows(), texts.NewRows());
  if (rows.empty()) {
    auto* item = new QTreeWidgetItem(
        m_rows,
        {QStringLiteral("="), QStringLiteral("(same rows: only spacing or comments differ)")});
    Style(item, 3, kSameColour, false, false, QStringLiteral("same rows"));
  }
  for (const CCompareRow& shown : rows) {
    const CMarkStyle style = StyleOf(shown.kind);
    QStringList cells{QLatin1String(style.mark)};
    if (shown.kind == CCompareRow::Gap) {
      cells << QStringLiteral("...");
    } else if (shown.kind == CCompareRow::NotAligned) {
      cells << QStringLiteral("(too many changes to align)");
    } else {
      cells << IndentedBytesToText(size_t{4} * shown.row.depth, shown.row.name)
            << BytesToText(shown.row.value);
    }
    auto* item = new QTreeWidgetItem(m_rows, cells);
    const QString what =
        cells.size() > 2 ? QStringLiteral("%1: %2 %3")
                               .arg(QLatin1String(style.description), cells[1].trimmed(), cells[2])
                         : QLatin1String(style.description);
    Style(item, 3, style.colour, style.bold, style.struck, what);
  }
  for (int c = 0; c < 3; ++c) m_rows->resizeColumnToContents(c);
}

void CCompareWindow::ExtractChange(int row) {
  if (row < 0 || static_cast<size_t>(row) >= m_changes.size()) return;
  const CEntryChange& change = m_changes[static_cast<size_t>(row)];
  // The compared archive's copy, or the older one for an entry it lacks.
  const bool newer = change.kind != CEntryChange::Removed;
  CCompareSide& side = newer ? m_after : m_before;
  const std::vector<std::string_view> parts = SplitEntryName(change.name);
  const QString suggested = BytesToText(parts.empty() ? std::string_view() : parts.back());
  CWinApp* app = AfxGetApp();
  const QString chosen = app != nullptr
                             ? app->DoPromptFileName(false, suggested, QStringLiteral("Extract"))
                             : QString();
  if (chosen.isEmpty()) return;
  CDataBuffer bytes;
  CStatus status = side.BufferAt(newer ? change.after : change.before, bytes);
  // Neither archive may be replaced, under any name.
  const std::optional<platform::FileIdentity> target = IdentityOfFile(NativePath(chosen));
  if (status.IsOk() && target &&
      (target == IdentityOfFile(m_before.GetPath()) || target == IdentityOfFile(m_after.GetPath())))
    status = CStatus::Failure(NativePath(chosen), "that is an archive being compared");
  if (status.IsOk())
    status = WriteFileReplacing(NativePath(chosen), bytes, IdentityOfFile(side.GetPath()),
                                [&side] { return side.ChangedOnDisk(); });
  statusBar()->showMessage(
      status.IsOk()
          ? QStringLiteral("Extracted %1").arg(BytesToText(change.name))
          : QStringLiteral("Cannot extract %1: %2")
                .arg(BytesToText(change.name), QString::fromLocal8Bit(status.GetWords())));
}

void CCompareWindow::ExtractAll() {
  CWinApp* app = AfxGetApp();
  const QString folder =
      app != nullptr ? app->PromptFolderName(QStringLiteral("Extract All")) : QString();
  if (folder.isEmpty()) return;
  std::vector<CExtractEntry> entries;
  std::vector<CEntryProblem> unread;
  // The extraction keeps the source archive from being replaced; the other
  // one is kept here, by the path an entry would take.
  const std::optional<platform::FileIdentity> other = IdentityOfFile(m_before.GetPath());
  for (const CEntryChange& change : m_changes) {
    if (change.kind == CEntryChange::Removed) continue;
    if (other && CheckEntryName(change.name).IsOk()) {
      std::string path = NativePath(folder);
      for (const std::string_view part : SplitEntryName(change.name)) path.append("/").append(part);
      if (IdentityOfFile(path) == other) {
        unread.push_back({std::string(change.name), "would replace an archive being compared"});
        continue;
      }
    }
    CDataBuffer bytes;
    if (const CStatus status = m_after.BufferAt(change.after, bytes); !status.IsOk()) {
      unread.push_back({std::string(change.name), status.GetWords()});
      continue;
    }
    entries.push_back({change.name, bytes, bytes.GetSize(), bytes.GetSize(), {}, 0});
  }
  // Neither archive may be replaced by an entry's file, under any name.
  CExtractOptions options;
  options.protect = IdentityOfFile(m_after.GetPath());
  CExtractReport report;
  ExtractEntries(NativePath(folder), entries, options, report);
  if (!report.folderError.IsOk()) {
    statusBar()->showMessage(
        QStringLiteral("Cannot extract to %1: %2")
            .arg(folder, QString::fromLocal8Bit(report.folderError.GetWords())));
    return;
  }
  report.problems.insert(report.problems.end(), unread.begin(), unread.end());
  QString text = QStringLiteral("Extracted %1 of %2 entries to %3")
                     .arg(report.written)
                     .arg(entries.size() + unread.size())
                     .arg(folder);
  if (!report.problems.empty())
    text += QStringLiteral("; not extracted: ") + Words(report.problems);
  statusBar()->showMessage(text);
}

void CCompareWindow::CopyName(int row) {
  if (row < 0 || static_cast<size_t>(row) >= m_changes.size()) return;
  QApplication::clipboard()->setText(BytesToText(m_changes[static_cast<size_t>(row)].name));
}

void CCompareWindow::ShowMenu(const QPoint& position) {
  const QModelIndex index = m_entries->indexAt(position);
  QMenu menu(this);
  QAction* extract = menu.addAction(QStringLiteral("Extract..."), this,
                                    [this, index] { ExtractChange(index.row()); });
  QAction* all = menu.addAction(QStringLiteral("Extract All..."), this, [this] { ExtractAll(); });
  QAction* copy =
      menu.addAction(QStringLiteral("Copy Name"), this, [this, index] { CopyName(index.row()); });
  extract->setEnabled(index.isValid());
  copy->setEnabled(index.isValid());
  all->setEnabled(!m_changes.empty());
  menu.addSeparator();
  menu.addAction(QStringLiteral("Swap Sides"), this, [this] { SwapSides(); });
  menu.exec(m_entries->viewport()->mapToGlobal(position));
}

void CCompareWindow::keyPressEvent(QKeyEvent* event) {
  // A window of its own that only shows: Escape, which no pane takes, puts
  // it away as it would a dialog.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

bool CCompareWindow::eventFilter(QObject* watched, QEvent* event) {
  // The keyboard's ways to the menu act on the current item.
  if (watched == m_entries && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (key->key() == Qt::Key_Menu ||
        (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier)) {
      const QRect rect = m_entries->visualRect(m_entries->currentIndex());
      ShowMenu(rect.isValid() ? rect.center() : QPoint(4, 4));
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

namespace {

// One entry as a side of the comparison: no archive opened, the entry as
// if added.
std::shared_ptr<const CShownSnapshot> OneEntry(std::string_view name, const CDataBuffer& bytes) {
  CChangeSet changes;
  changes.Put(name, bytes);
  return std::make_shared<const CShownSnapshot>(std::make_shared<const CEntryMap>(),
                                                std::move(changes), 0);
}

}  // namespace

CCompareWindow* CompareWithShadowed(const CTarnEditorDoc& document, std::string_view name,
                                    QWidget* parent, std::optional<uint32_t> of) {
  const CShownOrder* order = document.Shown().Order();
  const auto copy = order != nullptr ? order->ShadowedCopy(name, of) : std::nullopt;
  const std::optional<CDataBuffer> shown = document.Shown().Bytes(name);
  if (!copy || !shown) {
    ShowStatusText(QStringLiteral("%1 overrides no copy in an earlier archive")
                       .arg(BytesToText(name)));
    return nullptr;
  }
  const QString before = BytesToText(CShownOrder::FileName(order->Archives()[copy->first].path));
  const QString after =
      document.Changes().Find(name) != nullptr
          ? QStringLiteral("this window")
          : BytesToText(CShownOrder::FileName(order->Archives()[*order->WinnerOf(name)].path));
  auto* window = new CCompareWindow(CCompareWindow::CSource{before, OneEntry(name, copy->second)},
                                    CCompareWindow::CSource{after, OneEntry(name, *shown)}, parent);
  if (!window->IsOpen()) {
    ShowStatusText(QStringLiteral("Cannot compare: %1").arg(window->GetError()));
    delete window;
    return nullptr;
  }
  window->show();
  if (window->GetEntries()->topLevelItemCount() > 0) window->ShowChange(0);
  ShowStatusText(window->statusBar()->currentMessage());
  window->activateWindow();
  return window;
}

void CompareDocumentWith(const CTarnEditorDoc* document, QWidget* parent) {
  CWinApp* app = AfxGetApp();
  if (document == nullptr || app == nullptr || document->GetPathName().isEmpty()) return;
  const QString other = app->DoPromptFileName(true, QString(), QStringLiteral("Compare With"));
  if (other.isEmpty()) return;
  // The document's side as its window shows it, pending changes included.
  auto* window = new CCompareWindow(
      CCompareWindow::CSource{document->GetPathName(), document->Shown().Snapshot()},
      CCompareWindow::CSource{other, {}}, parent);
  if (!window->IsOpen()) {
    ShowStatusText(QStringLiteral("Cannot compare with %1: %2").arg(other, window->GetError()));
    delete window;
    return;
  }
  ShowStatusText(window->statusBar()->currentMessage());
  window->show();
  window->activateWindow();
}
