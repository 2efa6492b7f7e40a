// What the tree asks of extraction: its Extract commands and the files a
// drag of entries onto a file manager carries. Implemented by the extract
// feature, reached through the document, so the tree need not know it.
#pragma once

#include <QModelIndex>

#include <memory>
#include <string>
#include <vector>

class QMimeData;
class QWidget;

class CEntryExport {
 public:
  virtual ~CEntryExport() = default;

  // Asks where and writes the entry `name` there (Extract...).
  virtual void ExtractEntry(const std::string& name) = 0;
  // Asks for a folder and writes `names` (all of the archive as shown when
  // null) into it, with progress.
  virtual void ExtractEntries(const std::vector<std::string>* names, QWidget* parent) = 0;
  // The entries `names` written to a private folder, as a file manager
  // takes a drop; null (the status bar says why) when none could be.
  virtual std::unique_ptr<QMimeData> DragOut(std::vector<std::string> names) = 0;
};
