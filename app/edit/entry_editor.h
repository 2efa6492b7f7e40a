// Changing an archive from its window: the document's pending changes as
// steps on an undo stack, and the ways they are written out.
//
// The document owns a change set beside its unchanging entries; every
// change here is one command on the stack that sets what some names have
// become, and its undo sets what they were. Nothing is written until Save
// (the whole archive, beside the opened file and renamed over it), Save As
// (the whole archive elsewhere) or Save Changes As (only the entries added
// or changed). After Save the document shows the saved archive.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUndoStack>

#include <optional>
#include <string>
#include <vector>

#include "app/entry_hooks.h"
#include "app/framework/cmd_target.h"
#include "archive/change_set.h"

class CTarnEditorDoc;
class CTextWindow;

class CEntryEditor : public QObject, public CEntryHooks, public CCmdTarget {
  Q_OBJECT

 public:
  explicit CEntryEditor(CTarnEditorDoc& document);

  QUndoStack& GetUndoStack() { return m_undo; }

  bool IsEntryChanged(std::string_view name) const override;
  bool IsEntryRemoved(std::string_view name) const override;
  void DeleteEntries(const std::vector<std::string>& names) override;
  std::vector<std::string> AddedNames() const override;
  std::vector<std::string> ChangedNames() const override;
  bool RenameEntry(std::string_view from, const QString& to) override;
  bool RenameFolder(const std::vector<std::string>& names, size_t part, const QString& to) override;
  void AddPaths(const QStringList& paths, const QString& prefix, QWidget* parent) override;
  void ReplaceWithFile(std::string_view name, QWidget* parent) override;
  bool EditText(std::string_view name, QWidget* parent) override;
  CDataBuffer ShownBytes(std::string_view name, const CDataBuffer& opened) const override;
  bool EditValue(std::string_view entry, size_t offset, size_t size, const QString& value) override;

  // One step: each name gets what is given (nullopt: as opened).
  struct CStep {
    std::string name;
    std::optional<CChangeSet::CChange> after;
  };
  void Push(const QString& text, std::vector<CStep> steps);

  // Saves over the opened archive (Save As for a new document). True when
  // written; else the status bar says why and every change stays pending.
  bool Save();
  // Asks for a path (proposing `proposal`) and writes the archive with its
  // changes there; the window then shows that archive.
  bool SaveAs(const QString& proposal);
  bool SaveChangesAs();
  // Before the document's windows close: asks about each text window's
  // text not applied (Apply / Discard / Cancel), then, with changes
  // pending, Save / Discard / Cancel. True when the windows may close.
  bool SaveModified();
  // File Save, Save As, Save Changes As, Undo and Redo.
  bool OnCmdMsg(int id, CCmdUI* query) override;

  // "N changes" for the status bar.
  QString ChangesText() const;
  // Drops every undo step: the document shows another archive.
  void Forget();
  // Why the opened archive's bytes cannot be written: rewritten in place.
  static QString RewrittenText();

 private:
  // After every push, undo and redo: title, status bar and views.
  void OnChanged();
  bool WriteTo(const QString& path, SaveScope scope, QString& reason) const;
  // Before a save writes the opened archive's bytes (`whole`) or replaces
  // its file: when another program changed it since it was opened, asks
  // what to do instead; Go when nothing changed or the user chose to go on.
  enum class DiskAnswer { Go, SaveAs, SaveChangesAs, Cancel };
  DiskAnswer AskAboutDisk(const QString& path, bool whole) const;
  // A text window's Apply: `text` for `entry`, merged with what changed
  // the entry since the window `read` it (refused, with why, when both
  // changed the same lines); `text` ends as what the entry holds.
  QString ApplyText(const std::string& entry, std::string_view read, std::string& text);
  // Save and Save As: the whole archive written to `path`, then shown in
  // this document's windows; `saved` (with %1 for the path) tells the user.
  bool SaveTo(const QString& path, const QString& saved);
  // The windows of other documents and comparisons that show the file at
  // `path`: after a save replaces it they still show the old one.
  size_t OtherWindowsOn(const QString& path) const;

  CTarnEditorDoc& m_document;
  QUndoStack m_undo;
  std::vector<QPointer<CTextWindow>> m_textWindows;
};
