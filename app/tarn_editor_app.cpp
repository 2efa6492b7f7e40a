#include "app/tarn_editor_app.h"

#include <cstdio>

#include "app/child_frame.h"
#include "app/entry_logic.h"
#include "app/framework/command_ids.h"
#include "app/framework/doc_template.h"
#include "app/framework/frames.h"
#include "app/help_window.h"
#include "app/left_view.h"
#include "app/main_frame.h"
#include "app/resources.h"
#include "app/tarn_editor_doc.h"
#include "cli/terminal.h"

CTarnEditorApp::CTarnEditorApp() : CWinApp(TarnEditorResources()) {}

bool CTarnEditorApp::InitInstance() {
  SetRegistryKey(QStringLiteral("Local AppWizard-Generated Applications"));
  LoadStdProfileSettings(16);

  AddDocTemplate(CMultiDocTemplate::Make<CTarnEditorDoc, CChildFrame, CLeftView>(IDR_TARNEDTYPE));

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
