#include "app/shell/resources.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QPolygon>

#include "app/framework/command_ids.h"

namespace {

// The 16 colours icons of this depth are drawn in.
namespace pal {
constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kNavy = 0xFF000080;
constexpr QRgb kTeal = 0xFF008080;
constexpr QRgb kGray = 0xFF808080;
constexpr QRgb kSilver = 0xFFC0C0C0;
constexpr QRgb kBlue = 0xFF0000FF;
constexpr QRgb kAqua = 0xFF00FFFF;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kOlive = 0xFF808000;
constexpr QRgb kGreen = 0xFF008000;
}  // namespace pal

CMenuItemResource Item(const char* caption, int id) { return {QString::fromLatin1(caption), id}; }
CMenuItemResource Separator() { return {}; }
CMenuItemResource Grayed(const char* caption, int id) {
  return {QString::fromLatin1(caption), id, true};
}

CPopupResource FileMenuWithoutDocument() {
  return {QStringLiteral("&File"),
          {Item("&New\tCtrl+N", ID_FILE_NEW), Item("&Open...\tCtrl+O", ID_FILE_OPEN), Separator(),
           Item("New &Load Order...", ID_FILE_NEW_ORDER),
           Item("New Load Order From &Folder...", ID_FILE_NEW_ORDER_FOLDER), Separator(),
           Grayed("Recent File", ID_FILE_MRU_FILE1), Separator(), Item("E&xit", ID_APP_EXIT)}};
}

CPopupResource ViewMenu() {
  return {QStringLiteral("&View"),
          {Item("&Status Bar", ID_VIEW_STATUS_BAR), Item("S&plit", ID_WINDOW_SPLIT)}};
}

CPopupResource HelpMenu() {
  return {QStringLiteral("&Help"),
          {Item("Tarn Editor &Help\tF1", ID_HELP), Separator(),
           Item("&About Tarn Editor...", ID_APP_ABOUT)}};
}

CMenuResource MainFrameMenu() { return {FileMenuWithoutDocument(), ViewMenu(), HelpMenu()}; }

CPopupResource DocumentViewMenu() {
  CPopupResource menu = ViewMenu();
  menu.items.push_back(Item("&Folders", ID_VIEW_FOLDERS));
  menu.items.push_back(Item("&Overridden Only", ID_VIEW_OVERRIDDEN_ONLY));
  menu.items.push_back(Separator());
  menu.items.push_back(Item("As &Rules", ID_VIEW_AS_RULES));
  menu.items.push_back(Item("As T&ext", ID_VIEW_AS_TEXT));
  menu.items.push_back(Item("As &Hex", ID_VIEW_AS_HEX));
  menu.items.push_back(Item("As &Image", ID_VIEW_AS_IMAGE));
  menu.items.push_back(Item("As &Sound", ID_VIEW_AS_SOUND));
  menu.items.push_back(Separator());
  menu.items.push_back(Item("Pro&blems", ID_VIEW_PROBLEMS));
  return menu;
}

CMenuResource DocumentMenu() {
  return {
      {QStringLiteral("&File"),
       {Item("&New\tCtrl+N", ID_FILE_NEW), Item("&Open...\tCtrl+O", ID_FILE_OPEN),
        Item("&Close", ID_FILE_CLOSE), Item("&Save\tCtrl+S", ID_FILE_SAVE),
        Item("Save &As...", ID_FILE_SAVE_AS), Item("Save C&hanges As...", ID_FILE_SAVE_CHANGES_AS),
        Item("Compa&re With...", ID_FILE_COMPARE), Separator(),
        Item("New &Load Order...", ID_FILE_NEW_ORDER),
        Item("New Load Order From &Folder...", ID_FILE_NEW_ORDER_FOLDER),
        Item("Save Load Order &As...", ID_FILE_SAVE_ORDER_AS), Separator(),
        Grayed("Recent File", ID_FILE_MRU_FILE1), Separator(), Item("E&xit", ID_APP_EXIT)}},
      {QStringLiteral("&Edit"),
       {Item("&Undo\tCtrl+Z", ID_EDIT_UNDO), Item("&Redo\tCtrl+Y", ID_EDIT_REDO), Separator(),
        Item("Cu&t\tCtrl+X", ID_EDIT_CUT), Item("&Copy\tCtrl+C", ID_EDIT_COPY),
        Item("&Paste\tCtrl+V", ID_EDIT_PASTE), Item("&Delete\tDel", ID_EDIT_CLEAR),
        Item("Edit &Text...", ID_EDIT_TEXT), Separator(), Item("Add &Files...", ID_EDIT_ADD_FILES),
        Item("Add F&older...", ID_EDIT_ADD_FOLDER),
        Item("Replace &With File...", ID_EDIT_REPLACE_FILE), Separator(),
        Item("&Find...\tCtrl+F", ID_EDIT_FIND),
        Item("Find in &Rules...\tCtrl+Shift+F", ID_EDIT_FIND_IN_RULES)}},
      DocumentViewMenu(),
      {QStringLiteral("&Go"),
       {Item("Go to &Definition\tF12", ID_GO_TO_DEFINITION),
        Item("Find &References\tShift+F12", ID_FIND_REFERENCES), Separator(),
        Item("&Back\tAlt+Left", ID_GO_BACK), Item("&Forward\tAlt+Right", ID_GO_FORWARD)}},
      {QStringLiteral("&Window"),
       {Item("&New Window", ID_WINDOW_NEW), Item("&Cascade", ID_WINDOW_CASCADE),
        Item("&Tile", ID_WINDOW_TILE_HORZ), Item("&Arrange Icons", ID_WINDOW_ARRANGE)}},
      HelpMenu(),
  };
}

std::vector<CAcceleratorResource> MainFrameAccelerators() {
  return {
      {QKeySequence(Qt::CTRL | Qt::Key_N), ID_FILE_NEW},
      {QKeySequence(Qt::CTRL | Qt::Key_O), ID_FILE_OPEN},
      {QKeySequence(Qt::CTRL | Qt::Key_S), ID_FILE_SAVE},
      {QKeySequence(Qt::CTRL | Qt::Key_Z), ID_EDIT_UNDO},
      {QKeySequence(Qt::CTRL | Qt::Key_X), ID_EDIT_CUT},
      {QKeySequence(Qt::CTRL | Qt::Key_C), ID_EDIT_COPY},
      {QKeySequence(Qt::CTRL | Qt::Key_V), ID_EDIT_PASTE},
      {QKeySequence(Qt::ALT | Qt::Key_Backspace), ID_EDIT_UNDO},
      {QKeySequence(Qt::SHIFT | Qt::Key_Delete), ID_EDIT_CUT},
      {QKeySequence(Qt::CTRL | Qt::Key_Insert), ID_EDIT_COPY},
      {QKeySequence(Qt::SHIFT | Qt::Key_Insert), ID_EDIT_PASTE},
      {QKeySequence(Qt::Key_F6), ID_NEXT_PANE},
      {QKeySequence(Qt::SHIFT | Qt::Key_F6), ID_PREV_PANE},
      {QKeySequence(Qt::CTRL | Qt::Key_F), ID_EDIT_FIND},
      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), ID_EDIT_FIND_IN_RULES},
      {QKeySequence(Qt::Key_F4), ID_NEXT_MATCH},
      {QKeySequence(Qt::SHIFT | Qt::Key_F4), ID_PREV_MATCH},
      {QKeySequence(Qt::CTRL | Qt::Key_Y), ID_EDIT_REDO},
      {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), ID_EDIT_REDO},
      {QKeySequence(Qt::Key_F1), ID_HELP},
      {QKeySequence(Qt::Key_F12), ID_GO_TO_DEFINITION},
      {QKeySequence(Qt::SHIFT | Qt::Key_F12), ID_FIND_REFERENCES},
      {QKeySequence(Qt::ALT | Qt::Key_Left), ID_GO_BACK},
      {QKeySequence(Qt::ALT | Qt::Key_Right), ID_GO_FORWARD},
  };
}

// Icons are drawn on a 32-unit grid and scaled, without smoothing, so both
// sizes keep to the palette.
QImage BlankIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  return image;
}

void Begin(QPainter& painter, int size) {
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.scale(size / 32.0, size / 32.0);
}

QIcon MakeIcon(QImage (*draw)(int)) {
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(draw(32)));
  icon.addPixmap(QPixmap::fromImage(draw(16)));
  return icon;
}

}  // namespace

QImage DrawApplicationIcon(int size) {
  QImage image = BlankIcon(size);
  QPainter p(&image);
  Begin(p, size);
  // A small lake in a hollow of the hills: two peaks, snow on the higher
  // one, dark water in front.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(pal::kGray));
  p.drawPolygon(QPolygon({{0, 24}, {10, 6}, {16, 14}, {22, 4}, {32, 24}}));
  p.setBrush(QColor(pal::kSilver));
  p.drawPolygon(QPolygon({{22, 4}, {32, 24}, {24, 24}, {20, 10}}));
  p.setBrush(QColor(pal::kWhite));
  p.drawPolygon(QPolygon({{22, 4}, {26, 11}, {22, 9}, {19, 11}}));
  p.setBrush(QColor(pal::kGreen));
  p.drawRect(0, 22, 32, 10);
  p.setBrush(QColor(pal::kOlive));
  p.drawRect(0, 30, 32, 2);
  p.setBrush(QColor(pal::kNavy));
  p.drawEllipse(QRect(3, 21, 26, 9));
  p.setBrush(QColor(pal::kBlue));
  p.drawEllipse(QRect(6, 22, 20, 6));
  p.setBrush(QColor(pal::kAqua));
  p.drawRect(10, 24, 8, 2);
  return image;
}

QImage DrawDocumentIcon(int size) {
  QImage image = BlankIcon(size);
  QPainter p(&image);
  Begin(p, size);
  // A page of two-column rows: a block row, then its indented lines.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(pal::kBlack));
  p.drawPolygon(QPolygon({{4, 0}, {22, 0}, {30, 8}, {30, 32}, {4, 32}}));
  p.setBrush(QColor(pal::kWhite));
  p.drawPolygon(QPolygon({{6, 2}, {20, 2}, {20, 10}, {28, 10}, {28, 30}, {6, 30}}));
  p.setBrush(QColor(pal::kSilver));
  p.drawPolygon(QPolygon({{22, 2}, {28, 8}, {22, 8}}));
  p.setBrush(QColor(pal::kNavy));
  p.drawRect(8, 12, 10, 2);
  p.setBrush(QColor(pal::kTeal));
  for (int y = 16; y <= 26; y += 4) {
    p.drawRect(10, y, 6, 2);
    p.drawRect(19, y, 7, 2);
  }
  p.setBrush(QColor(pal::kBlue));
  p.drawRect(19, 12, 7, 2);
  return image;
}

const CResourceTable& TarnEditorResources() {
  static const CResourceTable table = [] {
    CResourceTable t;
    t.strings = {
        {IDR_MAINFRAME, QStringLiteral("Tarn Editor")},
        {IDR_TARNEDTYPE, QStringLiteral("\nTarnEdi\nTarnEdi\nBIG archives "
                                        "(*.big)\n.big\nTarnEditor.Document\nTarnEdi Document")},
        {AFX_IDS_APP_TITLE, QStringLiteral("Tarn Editor")},
        {AFX_IDS_IDLEMESSAGE, QStringLiteral("Ready")},
    };
    t.menus = {{IDR_MAINFRAME, MainFrameMenu()}, {IDR_TARNEDTYPE, DocumentMenu()}};
    t.accelerators = {{IDR_MAINFRAME, MainFrameAccelerators()}};
    t.icons = {{IDR_MAINFRAME, [] { return MakeIcon(&DrawApplicationIcon); }},
               {IDR_TARNEDTYPE, [] { return MakeIcon(&DrawDocumentIcon); }}};
    return t;
  }();
  return table;
}
