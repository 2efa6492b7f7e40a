// What a feature shows in the tree and list views, and what they hand back
// to it. The views know this much of the editing feature and no more.
#pragma once

#include <QString>

#include <cstddef>
#include <string_view>

#include "storage/data_buffer.h"

class CEntryHooks {
 public:
  virtual ~CEntryHooks() = default;

  // Whether the tree marks the entry as changed since it was opened.
  virtual bool IsEntryChanged(std::string_view name) const = 0;
  // The bytes to show for the entry: pending new ones, else `opened`.
  virtual CDataBuffer ShownBytes(std::string_view name, const CDataBuffer& opened) const = 0;
  // The user typed `value` for the value at [offset, offset + size) of
  // the bytes shown for `entry`. False when it was refused (the status bar
  // then says why).
  virtual bool EditValue(std::string_view entry, size_t offset, size_t size, const QString& value) = 0;
};

// The hints a document's views are updated with (CDocument::UpdateAllViews).
enum EntryUpdate : int {
  kEntriesChanged = 1,   // pending changes came or went; the opened entries are the same
  kEntriesReplacing = 2,  // the document is about to show another archive (the one just saved)
  kEntriesReplaced = 3,   // and now shows it
};
