// Changing an archive from its window: every change is one command on the
// document's undo stack that sets what some names have become, and its undo
// sets what they were. The document owns the change set beside its
// unchanging entries; nothing here writes a file (that is the save
// feature's).
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>
#include <string>
#include <vector>

#include "app/document/document_feature.h"
#include "app/document/entry_hooks.h"
#include "archive/change_set.h"

class CTarnEditorDoc;
class CTextWindow;

class CEntryEditor : public QObject, public CEntryHooks, public CDocumentFeature {
  Q_OBJECT

 public:
  explicit CEntryEditor(CTarnEditorDoc& document);

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
  // Puts the steps on the undo stack as one, and returns nothing; or, when
  // the window cannot make one of them (in a load order, see
  // CShownArchive::MayChange), makes none, says why in the status bar and
  // returns that.
  QString Push(const QString& text, std::vector<CStep> steps);

  // Before the document's windows close: asks about each text window's
  // text not applied (Apply / Discard / Cancel).
  bool MayClose() override;

 private:
  // A text window's Apply: `text` for `entry`, merged with what changed
  // the entry since the window `read` it (refused, with why, when both
  // changed the same lines); `text` ends as what the entry holds.
  QString ApplyText(const std::string& entry, std::string_view read, std::string& text);

  CTarnEditorDoc& m_document;
  std::vector<QPointer<CTextWindow>> m_textWindows;
};

// `name` with its part number `part` (from 0, split at '\\' and '/')
// replaced by `to`, every other byte and separator kept: a folder renamed
// in one name. `name` unchanged when it has no such part.
std::string ReplaceNamePart(std::string_view name, size_t part, std::string_view to);
