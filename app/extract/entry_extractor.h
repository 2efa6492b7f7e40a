// Extracting entries from an archive document: Extract... (one entry, to a
// file the user names), Extract All and Extract of a selection (to a
// folder, with progress), and a drag of entries onto a file manager.
//
// Extraction is the core's (archive/extract.h), the same code and rules as
// `tarn extract`; this file only asks where, shows progress and reports.
// What is extracted is what the window shows: pending bytes where there are
// some. Nothing here writes to the open archive: a destination that is the
// archive's own file, under any name, is refused; and no entry is read
// from an opened file another program rewrote in place.
#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/document/document_feature.h"
#include "app/document/entry_export.h"
#include "archive/extract.h"
#include "archive/shown_archive.h"

class CTarnEditorDoc;
class QMimeData;
class QTemporaryDir;

// Dragging entries out onto a file manager: `entries` written under
// `folder` (a private one of ours) by the extraction, with its name rules,
// so no name can reach outside it. The mime data holds a file URL for each
// entry written; the others go to `problems`. Null when none was written.
// `archiveChanged`: as CExtractOptions's.
std::unique_ptr<QMimeData> ExtractForDrag(const QString& folder,
                                          std::span<const CExtractEntry> entries,
                                          std::vector<CEntryProblem>& problems,
                                          std::function<bool()> archiveChanged = {});

class CEntryExtractor : public CDocumentFeature, public CEntryExport {
 public:
  explicit CEntryExtractor(CTarnEditorDoc& document);
  ~CEntryExtractor() override;

  void ExtractEntry(const std::string& name) override;
  void ExtractEntries(const std::vector<std::string>* names, QWidget* parent) override;
  std::unique_ptr<QMimeData> DragOut(std::vector<std::string> names) override;

  // The entries of `shown` (those of `only`, sorted, when given) to
  // extract; none, with `refusal`, when they would be read from an opened
  // file that changed in place.
  std::vector<CExtractEntry> ExtractableEntries(const CShownSnapshot& shown,
                                                const std::vector<std::string>* only,
                                                QString& refusal) const;

 private:
  // The status bar's words, and the problems' report, after an extraction
  // of `count` entries to `folder`.
  void TellExtracted(const CExtractReport& report, size_t count, const QString& folder) const;
  // Asks for a folder and extracts `entries` (those of `names` in `shown`,
  // or all) into it, with progress.
  void ExtractToFolder(std::vector<CExtractEntry> entries,
                       const std::shared_ptr<const CShownSnapshot>& shown,
                       const std::vector<std::string>* names, const QString& title,
                       QWidget* parent);
  // "PATH: has changed on disk since it was opened", as Save As says it.
  QString ArchiveChangedText() const;

  CTarnEditorDoc& m_document;
  std::unique_ptr<QTemporaryDir> m_dragFolder;
};
