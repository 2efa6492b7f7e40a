#include "app/shell/tarn_editor_app.h"

#include <QSettings>
#include <QStringList>

#include <cstdio>
#include <memory>

#include "app/edit/entry_editor.h"
#include "app/extract/entry_extractor.h"
#include "app/refs/rules_references.h"
#include "app/save/archive_saver.h"
#include "app/shell/child_frame.h"
#include "app/document/entry_text.h"
#include "app/framework/command_ids.h"
#include "app/framework/doc_template.h"
#include "app/framework/frames.h"
#include "app/shell/help_window.h"
#include "app/tree/left_view.h"
#include "app/shell/main_frame.h"
#include "app/shell/resources.h"
#include "app/document/tarn_editor_doc.h"
#include "storage/terminal.h"

namespace {

// Where settings were kept before the project had a name of its own for
// them; they move over once, on the first start that finds none under it.
constexpr const char* kOldOrganisation = "Local AppWizard-Generated Applications";

// An archive document with every feature of its windows.
CDocument* NewArchiveDocument() {
  auto* document = new CTarnEditorDoc;
  // Editing first: its text windows are asked about before the changes are.
  auto editor = std::make_unique<CEntryEditor>(*document);
  document->SetHooks(editor.get());
  document->AddFeature(std::move(editor));
  document->AddFeature(std::make_unique<CArchiveSaver>(*document));
  auto extractor = std::make_unique<CEntryExtractor>(*document);
  document->SetExport(extractor.get());
  document->AddFeature(std::move(extractor));
  auto references = std::make_unique<CRulesReferences>(*document);
  document->SetLinks(references.get());
  document->AddFeature(std::move(references));
  return document;
}

}  // namespace

CTarnEditorApp::CTarnEditorApp() : CWinApp(TarnEditorResources()) {}

void CTarnEditorApp::MoveOldSettings() {
  QSettings old(QString::fromLatin1(kOldOrganisation), GetAppName());
  const QStringList keys = old.allKeys();
  if (keys.isEmpty()) return;
  const std::unique_ptr<QSettings> now = GetProfile();
  if (now->allKeys().isEmpty()) {
    for (const QString& key : keys) now->setValue(key, old.value(key));
    now->sync();
    // Left where they were when they could not be written anew.
    if (now->status() != QSettings::NoError) return;
  }
  old.clear();
}

bool CTarnEditorApp::InitInstance() {
  SetRegistryKey(QStringLiteral("Tarn"));
  MoveOldSettings();
  LoadStdProfileSettings(16);

  AddDocTemplate(
      CMultiDocTemplate::Make<CChildFrame, CLeftView>(IDR_TARNEDTYPE, NewArchiveDocument));
  // A load order opens as an archive does, into one window of its archives.
  AddOpenFilter(QStringLiteral("Load orders (*.order)"));

  auto mainFrame = std::make_unique<CMainFrame>();
  // The frame is the main window before it loads: its creation already
  // asks the application for resources and strings.
  CMainFrame* frame = mainFrame.get();
  SetMainWnd(std::move(mainFrame));
  if (!frame->LoadFrame(IDR_MAINFRAME)) return false;

  CCommandLineInfo cmdInfo;
  if (cmdInfo.m_nShellCommand == CCommandLineInfo::FileNew) {
    cmdInfo.m_nShellCommand = CCommandLineInfo::FileNothing;
  }
  ParseCommandLine(cmdInfo);
  QString failure;
  if (!ProcessShellCommand(cmdInfo, &failure)) {
    // The reason goes where the user started us, often a terminal, where a
    // name's control characters would act.
    std::fprintf(stderr, "tarn-editor: cannot open %s\n",
                 EscapeControls(failure).toLocal8Bit().constData());
    // Started from a terminal, the user reads it there and we end. Started
    // from the desktop, nobody sees stderr: the window comes up empty and
    // says why instead.
    if (platform::IsTerminal(stderr)) return false;
    ReportOpenFailure(failure);
  }

  frame->showMaximized();
  frame->repaint();
  return true;
}

bool CTarnEditorApp::OnCmdMsg(int id, CCmdUI* query) {
  switch (id) {
    case ID_FILE_NEW: return Handle(query, [this] { OnFileNew(); });
    case ID_FILE_OPEN: return Handle(query, [this] { OnFileOpen(); });
    case ID_APP_ABOUT: return Handle(query, [this] { ShowAbout(GetMainWnd()); });
    case ID_HELP: return Handle(query, [this] { CHelpWindow::Show(GetMainWnd()); });
    default: return CWinApp::OnCmdMsg(id, query);
  }
}
