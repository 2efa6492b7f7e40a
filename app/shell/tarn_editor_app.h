// The editor application: start-up, and the commands it binds itself (File
// New and File Open, to the framework's handlers; Help and About).
#pragma once

#include "app/framework/win_app.h"

class CTarnEditorApp : public CWinApp {
 public:
  CTarnEditorApp();

  // Start-up: settings, the document template, the main frame, then the
  // command line. False (the program ends) when the frame cannot be made, or
  // when the file named on the command line does not open and stderr, which
  // says why, is a terminal; otherwise the window shows why, with no document.
  bool InitInstance() override;
  bool OnCmdMsg(int id, CCmdUI* query) override;

 private:
  // Settings kept under the name earlier versions used move to ours.
  void MoveOldSettings();
};
