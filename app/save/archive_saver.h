// Writing an archive document out: Save (the whole archive, beside the
// opened file and renamed over it), Save As (the whole archive elsewhere,
// or a byte-for-byte copy when nothing changed) and Save Changes As (only
// the entries added or changed, as an archive to load over the opened one).
// After Save and Save As the document shows the archive written, with
// nothing pending.
//
// Nothing is written over a file another program changed since the window
// opened it without asking first, and nothing of the opened file's is
// written once it was rewritten in place.
#pragma once

#include <QString>

#include <cstddef>

#include "app/document/document_feature.h"
#include "archive/shown_archive.h"

class CTarnEditorDoc;

class CArchiveSaver : public CDocumentFeature {
 public:
  explicit CArchiveSaver(CTarnEditorDoc& document) : m_document(document) {}

  // Saves over the opened archive (Save As for a new document). True when
  // written; else the status bar says why and every change stays pending.
  bool Save();
  // Asks for a path (proposing `proposal`) and writes the archive with its
  // changes there; the window then shows that archive.
  bool SaveAs(const QString& proposal);
  bool SaveChangesAs();
  // With changes pending, asks Save / Discard / Cancel.
  bool MayClose() override;
  // File Save, Save As and Save Changes As.
  bool OnCmdMsg(int id, CCmdUI* query) override;

  // Why the opened archive's bytes cannot be written: rewritten in place.
  static QString RewrittenText();

 private:
  // Save As without changes: a copy of the opened archive.
  void SaveCopyAs();
  bool WriteTo(const QString& path, SaveScope scope, QString& reason) const;
  // Before a save writes the opened archive's bytes (`whole`) or replaces
  // its file: when another program changed it since it was opened, asks
  // what to do instead; Go when nothing changed or the user chose to go on.
  enum class DiskAnswer { Go, SaveAs, SaveChangesAs, Cancel };
  DiskAnswer AskAboutDisk(const QString& path, bool whole) const;
  // Save and Save As: the whole archive written to `path`, then shown in
  // this document's windows; `saved` (with %1 for the path) tells the user.
  bool SaveTo(const QString& path, const QString& saved);
  // The windows of other documents and comparisons that show the file at
  // `path`: after a save replaces it they still show the old one.
  size_t OtherWindowsOn(const QString& path) const;

  CTarnEditorDoc& m_document;
};

// The name Save As proposes for a copy of the archive at `path`: "NAME
// copy.EXT" in the same folder.
QString SaveAsProposal(const QString& path);
