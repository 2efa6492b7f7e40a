#include "app/order/load_order_file.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

#include "app/document/entry_text.h"
#include "app/document/status_text.h"
#include "app/document/tarn_editor_doc.h"
#include "app/framework/doc_template.h"
#include "app/framework/win_app.h"
#include "archive/shown_order.h"
#include "storage/replacing_file.h"

std::string LoadOrderText(const CShownOrder& order, const QString& file) {
  const QDir folder = QFileInfo(file).absoluteDir();
  std::string text = "# A load order: the first archive is loaded first, the last wins.\n";
  for (const CShownOrder::CArchive& archive : order.Archives()) {
    const QString absolute = QFileInfo(QString::fromStdString(archive.path)).absoluteFilePath();
    QString shown = folder.relativeFilePath(absolute);
    // Outside the folder: the whole path, which survives the file moving.
    if (shown.startsWith(QLatin1String(".."))) shown = QDir::toNativeSeparators(absolute);
    // A line is taken as it stands; one starting with '#' would be a comment.
    if (shown.startsWith(QLatin1Char('#'))) shown.prepend(QStringLiteral("./"));
    if (!archive.taken) text += "# left out: ";
    text += shown.toStdString() + "\n";
  }
  return text;
}

QStringList ArchivesInFolder(const QString& folder) {
  QDir dir(folder);
  QStringList names = dir.entryList({QStringLiteral("*.big")}, QDir::Files, QDir::NoSort);
  // Name order as the bytes have it: what a game sorting its folder sees.
  std::sort(names.begin(), names.end(),
            [](const QString& a, const QString& b) { return a.toUtf8() < b.toUtf8(); });
  QStringList paths;
  for (const QString& name : names) paths << dir.absoluteFilePath(name);
  return paths;
}

void NewLoadOrder(bool folder) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr || app->GetDocTemplates().empty()) return;
  QStringList paths;
  if (folder) {
    const QString chosen = app->PromptFolderName(QStringLiteral("New Load Order From Folder"));
    if (chosen.isEmpty()) return;
    paths = ArchivesInFolder(chosen);
    if (paths.isEmpty()) {
      ShowStatusText(QStringLiteral("%1 holds no archive (*.big)")
                         .arg(QDir::toNativeSeparators(chosen)));
      return;
    }
  } else {
    paths = app->PromptFileNames(QStringLiteral("New Load Order"));
    if (paths.isEmpty()) return;
  }
  auto* document =
      dynamic_cast<CTarnEditorDoc*>(app->GetDocTemplates().front()->OpenDocumentFile(QString()));
  if (document == nullptr) return;
  std::vector<std::string> native;
  for (const QString& path : paths) native.push_back(NativePath(path));
  QString reason;
  if (!document->OpenOrder(native, reason)) {
    document->OnCloseDocument();
    ShowStatusText(QStringLiteral("Cannot open the load order: %1").arg(reason));
    return;
  }
  document->SetTitle(QStringLiteral("New Load Order"));
  ShowStatusText(QStringLiteral("%1; %2").arg(Plural(paths.size(), "archive", "archives"),
                                              EntryCountText(document->Entries().size())));
}

bool SaveLoadOrderAs(CTarnEditorDoc& document) {
  const CShownOrder* order = document.Shown().Order();
  CWinApp* app = AfxGetApp();
  if (order == nullptr || app == nullptr) return false;
  QString proposal = document.GetPathName();
  if (proposal.isEmpty()) proposal = QStringLiteral("game.order");
  const QString path = app->PromptDocumentSaveName(QStringLiteral("Save Load Order As"), proposal);
  if (path.isEmpty()) return false;
  const std::string text = LoadOrderText(*order, path);
  const CStatus written = WriteFileReplacing(
      NativePath(path), CDataBuffer(text.data(), static_cast<uint32_t>(text.size())),
      std::nullopt);
  if (!written.IsOk()) {
    ShowStatusText(QStringLiteral("Cannot save the load order: %1").arg(StatusText(written)));
    return false;
  }
  document.SetPathName(path);
  ShowStatusText(QStringLiteral("Saved the load order as %1")
                     .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())));
  return true;
}
