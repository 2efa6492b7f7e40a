// Command ids of the menus and accelerator keys, and the ids of the
// resources the framework looks up by number. The values are the ones the
// resource tables use, so a menu item, its key and its handler meet on one id.
#pragma once

enum CommandId : int {
  ID_SEPARATOR = 0,  // a menu separator, or the message pane of the status bar

  ID_FILE_NEW = 57600,
  ID_FILE_OPEN = 57601,
  ID_FILE_CLOSE = 57602,
  ID_FILE_SAVE = 57603,
  ID_FILE_SAVE_AS = 57604,
  ID_FILE_MRU_FILE1 = 57616,  // and the 15 ids after it
  ID_FILE_MRU_LAST = ID_FILE_MRU_FILE1 + 15,
  ID_FILE_COMPARE = 32900,  // File > Compare With... (app/compare/)

  ID_EDIT_CLEAR = 57632,
  ID_EDIT_COPY = 57634,
  ID_EDIT_CUT = 57635,
  ID_EDIT_FIND = 57636,
  ID_EDIT_PASTE = 57637,
  ID_EDIT_UNDO = 57643,
  ID_EDIT_REDO = 57644,

  ID_WINDOW_NEW = 57648,
  ID_WINDOW_ARRANGE = 57649,
  ID_WINDOW_CASCADE = 57650,
  ID_WINDOW_TILE_HORZ = 57651,
  ID_WINDOW_SPLIT = 57653,

  ID_APP_ABOUT = 57664,
  ID_APP_EXIT = 57665,
  ID_HELP = 57670,
  ID_NEXT_PANE = 57680,
  ID_PREV_PANE = 57681,

  ID_INDICATOR_CAPS = 59137,
  ID_INDICATOR_NUM = 59138,
  ID_INDICATOR_SCRL = 59139,
  ID_VIEW_STATUS_BAR = 59393,

  // Find in Rules, and stepping through its matches.
  ID_EDIT_FIND_IN_RULES = 32800,
  ID_NEXT_MATCH = 32801,
  ID_PREV_MATCH = 32802,
  // Commands of the editing feature (app/edit/).
  ID_FILE_SAVE_CHANGES_AS = 0xE900,
  ID_EDIT_TEXT = 0xE901,
  ID_EDIT_ADD_FILES = 0xE902,
  ID_EDIT_ADD_FOLDER = 0xE903,
  ID_EDIT_REPLACE_FILE = 0xE904,
  ID_VIEW_FOLDERS = 0xE910,   // View > Folders: the tree as folders
  ID_VIEW_AS_RULES = 0xE911,  // View > As Rules ... As Image: how the right pane shows an entry
  ID_VIEW_AS_TEXT = 0xE912,
  ID_VIEW_AS_HEX = 0xE913,
  ID_VIEW_AS_IMAGE = 0xE914,
  ID_VIEW_PROBLEMS = 0xE915,          // View > Problems: what tarn lint finds (app/refs/)
  ID_VIEW_OVERRIDDEN_ONLY = 0xE916,   // View > Overridden Only, in a load order's window
  ID_COMPARE_WITH_SHADOWED = 0xE917,  // the tree's menu, in a load order's window
  ID_FILE_NEW_ORDER = 0xE918,         // File > New Load Order...
  ID_FILE_NEW_ORDER_FOLDER = 0xE919,  // File > New Load Order From Folder...
  ID_FILE_SAVE_ORDER_AS = 0xE91A,     // File > Save Load Order As...
  ID_VIEW_AS_SOUND = 0xE91B,          // View > As Sound, after As Image
  // Following references between rules blocks (app/refs/).
  ID_GO_TO_DEFINITION = 0xE920,
  ID_FIND_REFERENCES = 0xE921,
  ID_GO_BACK = 0xE922,
  ID_GO_FORWARD = 0xE923,

  // The ids of the windows in the Window menu; not bound to any resource.
  ID_WINDOW_LIST_FIRST = 0xFF00,
};

// Strings the framework itself asks the program's resources for.
enum StringId : int {
  AFX_IDS_APP_TITLE = 57344,
  AFX_IDS_IDLEMESSAGE = 57345,
};
