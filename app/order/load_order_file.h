// Load orders as files: what File > Save Load Order As... writes, and the
// archives File > New Load Order... takes from a folder.
#pragma once

#include <QString>
#include <QStringList>

#include <string>

class CShownOrder;
class CTarnEditorDoc;

// The text of the load-order file `file` for `order`: a comment, then each
// archive on a line of its own, first loaded first, relative to the file's
// folder when it lies under it; one left out is kept as a comment.
std::string LoadOrderText(const CShownOrder& order, const QString& file);

// A folder's archives: its *.big files (any letter case), in name order.
QStringList ArchivesInFolder(const QString& folder);

// File > New Load Order...: asks for archives (or, with `folder`, a folder
// of them) and opens them, the last loaded last, in a new window.
void NewLoadOrder(bool folder);
// File > Save Load Order As...: asks where and writes the document's order;
// the window then stands for that file.
bool SaveLoadOrderAs(CTarnEditorDoc& document);
