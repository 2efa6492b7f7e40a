// What a feature shows in the tree and list views, and what they hand back
// to it. The views know this much of the editing feature and no more.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "storage/data_buffer.h"

class CEntryHooks {
 public:
  virtual ~CEntryHooks() = default;

  // Whether the tree marks the entry as changed since it was opened, and
  // whether the change is its deletion (it stays listed, struck out, until
  // the archive is saved).
  virtual bool IsEntryChanged(std::string_view name) const = 0;
  virtual bool IsEntryRemoved(std::string_view name) const = 0;
  // Every name with a pending change (added, changed or deleted).
  virtual std::vector<std::string> ChangedNames() const = 0;
  // The names added since the archive was opened, in byte order.
  virtual std::vector<std::string> AddedNames() const = 0;
  // Renames an entry (an opened or an added one); false, with the reason in
  // the status bar, for a name pack would refuse or one that is taken.
  virtual bool RenameEntry(std::string_view from, const QString& to) = 0;
  // Renames a folder: part `part` (from 0) of each of `names`, the entries
  // under it, becomes `to`; one step, and none of it when a new name is
  // refused (the status bar then says why).
  virtual bool RenameFolder(const std::vector<std::string>& names, size_t part,
                            const QString& to) = 0;
  // Adds the files and folders at `paths` (local paths) under names that
  // the user may give a prefix, proposed as `prefix`; one step.
  virtual void AddPaths(const QStringList& paths, const QString& prefix, QWidget* parent) = 0;
  // Replace With File: the entry gets the bytes of a file the user picks.
  virtual void ReplaceWithFile(std::string_view name, QWidget* parent) = 0;
  // Deletes the entries, as one step.
  virtual void DeleteEntries(const std::vector<std::string>& names) = 0;
  // Opens the text window on the entry (its bytes as Windows-1252 text);
  // false, with the reason in the status bar, for a binary entry.
  virtual bool EditText(std::string_view name, QWidget* parent) = 0;
  // The bytes to show for the entry: pending new ones, else `opened`.
  virtual CDataBuffer ShownBytes(std::string_view name, const CDataBuffer& opened) const = 0;
  // The user typed `value` for the value at [offset, offset + size) of
  // the bytes shown for `entry`. False when it was refused (the status bar
  // then says why).
  virtual bool EditValue(std::string_view entry, size_t offset, size_t size,
                         const QString& value) = 0;
};

// The hints a document's views are updated with (CDocument::UpdateAllViews).
enum EntryUpdate : int {
  kEntriesChanged = 1,    // pending changes came or went; the opened entries are the same
  kEntriesReplacing = 2,  // the document is about to show another archive (the one just saved)
  kEntriesReplaced = 3,   // and now shows it
};
