// The editor's resources: two menus, one accelerator table, four strings and
// two icons, by the ids the frames and the document template load them with.
#pragma once

#include <QImage>

#include "app/framework/resources.h"

enum ResourceId : int {
  IDR_MAINFRAME = 128,   // main frame: menu, accelerators, icon, title
  IDR_TARNEDTYPE = 129,  // document type: menu, icon, document string
};

const CResourceTable& TarnEditorResources();

// The images of icons 128 and 129, in 16 colours. The windows use sizes 32
// and 16; the desktop's icon theme gets 48 and 256 as well (app/shell/make_icons.cpp), drawn
// on the same grid.
QImage DrawApplicationIcon(int size);
QImage DrawDocumentIcon(int size);
