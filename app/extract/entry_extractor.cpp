#include "app/extract/entry_extractor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>

#include "app/document/entry_text.h"
#include "app/document/status_text.h"
#include "app/document/tarn_editor_doc.h"
#include "app/framework/win_app.h"
#include "archive/entry_path.h"
#include "storage/replacing_file.h"

namespace {

// The archive's own file, which no extraction may replace.
std::optional<platform::FileIdentity> ArchiveIdentity(const CTarnEditorDoc& document) {
  if (document.GetPathName().isEmpty()) return std::nullopt;
  return IdentityOfFile(NativePath(document.GetPathName()));
}

void ShowProblems(const std::vector<CEntryProblem>& problems, size_t written) {
  QString text;
  for (const CEntryProblem& problem : problems)
    text += BytesToText(problem.name) + QStringLiteral(": ") +
            QString::fromLocal8Bit(problem.reason) + QLatin1Char('\n');
  if (CWinApp* app = AfxGetApp()) {
    app->ShowReport(QStringLiteral("Extract All"),
                    QStringLiteral("%1 extracted; these were not:").arg(EntryCountText(written)),
                    text);
  }
}

}  // namespace

std::unique_ptr<QMimeData> ExtractForDrag(const QString& folder,
                                          std::span<const CExtractEntry> entries,
                                          std::vector<CEntryProblem>& problems,
                                          std::function<bool()> archiveChanged) {
  CExtractReport report;
  CExtractOptions options;
  options.archiveChanged = std::move(archiveChanged);
  ExtractEntries(NativePath(folder), entries, options, report);
  problems = report.problems;
  if (!report.folderError.IsOk())
    problems.push_back({std::string(), report.folderError.GetWords()});
  if (report.written == 0) return nullptr;
  QList<QUrl> urls;
  size_t problem = 0;  // both in the entries' order
  for (const CExtractEntry& entry : entries) {
    if (problem < report.problems.size() && report.problems[problem].name == entry.name) {
      ++problem;
      continue;
    }
    if (urls.size() == static_cast<qsizetype>(report.written)) break;  // the rest were not tried
    QString path = folder;
    for (const std::string_view part : SplitEntryName(entry.name)) {
      path += QLatin1Char('/') +
              QFile::decodeName(QByteArray(part.data(), static_cast<qsizetype>(part.size())));
    }
    urls << QUrl::fromLocalFile(path);
  }
  auto data = std::make_unique<QMimeData>();
  data->setUrls(urls);
  return data;
}

CEntryExtractor::CEntryExtractor(CTarnEditorDoc& document) : m_document(document) {}

CEntryExtractor::~CEntryExtractor() = default;

void CEntryExtractor::ExtractEntry(const std::string& name) {
  // What the window shows: the pending bytes of a changed or added entry.
  const std::shared_ptr<const CShownSnapshot> shown = m_document.Shown().Snapshot();
  const std::vector<std::string> only{name};
  QString refusal;
  if (ExtractableEntries(*shown, &only, refusal).empty()) {
    if (!refusal.isEmpty()) ShowStatusText(refusal);
    return;
  }
  const std::vector<std::string_view> parts = SplitEntryName(name);
  const QString suggested = BytesToText(parts.empty() ? std::string_view() : parts.back());
  const QString chosen = AfxGetApp()->DoPromptFileName(false, suggested, QStringLiteral("Extract"));
  if (chosen.isEmpty()) return;
  // Asked again: another program may have written to the archive while the
  // dialog was open.
  if (ExtractableEntries(*shown, &only, refusal).empty()) return ShowStatusText(refusal);
  CStatus status;
  bool changed = false;
  // An archive that could not be mapped is read here, this entry only.
  const std::optional<CDataBuffer> bytes = shown->Bytes(name);
  if (bytes && bytes->HasData()) {
    // Pending bytes are the window's own; the opened file's may be written
    // over by another program while they are copied.
    const bool fromOpened = shown->Changes().Find(name) == nullptr;
    status = WriteFileReplacing(NativePath(chosen), *bytes, ArchiveIdentity(m_document),
                                [&] { return fromOpened && shown->Opened().ChangedOnDisk(); });
    changed = bytes->IsCutOnDisk() || (fromOpened && shown->Opened().ChangedOnDisk());
  }
  if (bytes && bytes->HasData() && status.IsOk()) {
    const std::string cut = m_document.Shown().CutShort(name);
    ShowStatusText(QStringLiteral("Extracted %1").arg(BytesToText(name)) +
                   (cut.empty() ? QString() : QStringLiteral(", ") + QString::fromStdString(cut)));
  } else if (!bytes || changed) {
    ShowStatusText(
        QStringLiteral("Cannot extract %1: %2").arg(BytesToText(name), ArchiveChangedText()));
  } else {
    ShowStatusText(QStringLiteral("Cannot extract %1 to %2: %3")
                       .arg(BytesToText(name), chosen, QString::fromLocal8Bit(status.GetWords())));
  }
}

std::vector<CExtractEntry> CEntryExtractor::ExtractableEntries(const CShownSnapshot& shown,
                                                               const std::vector<std::string>* only,
                                                               QString& refusal) const {
  std::vector<CExtractEntry> entries = shown.EntriesToExtract(only);
  // Entries this window has not changed are read from the opened file: not
  // once another program has rewritten it in place.
  const bool fromOpened = std::any_of(entries.begin(), entries.end(), [&](const CExtractEntry& e) {
    return shown.Changes().Find(e.name) == nullptr;
  });
  if (fromOpened && !m_document.Shown().ShownBytesIntact()) {
    refusal = only != nullptr && only->size() == 1
                  ? QStringLiteral("Cannot extract %1: %2")
                        .arg(BytesToText(only->front()), ArchiveChangedText())
                  : QStringLiteral("Cannot extract: %1").arg(ArchiveChangedText());
    entries.clear();
  }
  return entries;
}

void CEntryExtractor::ExtractEntries(const std::vector<std::string>* names, QWidget* parent) {
  // Held until the extraction ends: the entries' names and bytes live in it.
  const std::shared_ptr<const CShownSnapshot> shown = m_document.Shown().Snapshot();
  QString refusal;
  std::vector<CExtractEntry> entries = ExtractableEntries(*shown, names, refusal);
  if (!refusal.isEmpty()) return ShowStatusText(refusal);
  if (!entries.empty()) {
    ExtractToFolder(std::move(entries), shown, names,
                    names == nullptr ? QStringLiteral("Extract All") : QStringLiteral("Extract"),
                    parent);
  }
}

std::unique_ptr<QMimeData> CEntryExtractor::DragOut(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  // What the window shows, as Extract takes it: pending bytes where there
  // are some; an entry waiting to be deleted is not dragged.
  const std::shared_ptr<const CShownSnapshot> shown = m_document.Shown().Snapshot();
  QString refusal;
  std::vector<CExtractEntry> entries = ExtractableEntries(*shown, &names, refusal);
  std::vector<CEntryProblem> problems;
  if (!refusal.isEmpty())
    problems.push_back(
        {names.empty() ? std::string() : names.front(), refusal.toLocal8Bit().toStdString()});
  std::unique_ptr<QMimeData> carried;
  if (!entries.empty()) {
    // Kept until the next drag: the file manager copies from it after the drop.
    m_dragFolder = std::make_unique<QTemporaryDir>();
    std::vector<CEntryProblem> refused;
    if (m_dragFolder->isValid())
      carried = ExtractForDrag(m_dragFolder->path(), entries, refused,
                               [shown] { return shown->Opened().ChangedOnDisk(); });
    else
      refused.push_back({names.front(), m_dragFolder->errorString().toLocal8Bit().toStdString()});
    problems.insert(problems.end(), refused.begin(), refused.end());
  }
  if (!problems.empty()) {
    const CEntryProblem& first = problems.front();
    ShowStatusText(QStringLiteral("Cannot drag %1: %2")
                       .arg(BytesToText(first.name), QString::fromLocal8Bit(first.reason)));
  }
  return carried;
}

void CEntryExtractor::ExtractToFolder(std::vector<CExtractEntry> entries,
                                      const std::shared_ptr<const CShownSnapshot>& shown,
                                      const std::vector<std::string>* names, const QString& title,
                                      QWidget* parent) {
  const QString folder = AfxGetApp()->PromptFolderName(title);
  if (folder.isEmpty()) return;
  // Asked again: another program may have written to the archive while the
  // dialog was open.
  QString refusal;
  if (ExtractableEntries(*shown, names, refusal).empty()) return ShowStatusText(refusal);

  // Modal, so the document and its entries stay while the dialog lets
  // events through.
  QProgressDialog progress(QStringLiteral("Extracting entries..."), QStringLiteral("Cancel"), 0,
                           1000, parent);
  progress.setWindowTitle(title);
  progress.setWindowModality(Qt::ApplicationModal);
  progress.setMinimumDuration(500);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  QElapsedTimer sinceUpdate;
  sinceUpdate.start();
  CExtractOptions options;
  options.protect = ArchiveIdentity(m_document);
  options.archiveChanged = [&shown] { return shown->Opened().ChangedOnDisk(); };
  options.progress = [&](const CProgress& done) {
    if (sinceUpdate.elapsed() < 50 && done.entriesDone < done.entriesTotal) return true;
    sinceUpdate.restart();
    const double share = done.bytesTotal > 0 ? double(done.bytesDone) / double(done.bytesTotal)
                                             : double(done.entriesDone) / double(done.entriesTotal);
    progress.setLabelText(QStringLiteral("Extracting entries... %1 of %2")
                              .arg(done.entriesDone)
                              .arg(done.entriesTotal));
    progress.setValue(static_cast<int>(share * 1000));
    QCoreApplication::processEvents();
    return !progress.wasCanceled();
  };
  CExtractReport report;
  ::ExtractEntries(NativePath(folder), entries, options, report);
  progress.close();
  TellExtracted(report, entries.size(), folder);
}

void CEntryExtractor::TellExtracted(const CExtractReport& report, size_t count,
                                    const QString& folder) const {
  if (!report.folderError.IsOk()) {
    ShowStatusText(QStringLiteral("Cannot extract to %1: %2")
                       .arg(folder, QString::fromLocal8Bit(report.folderError.GetWords())));
    return;
  }
  if (report.archiveChanged) {
    // Refused as Save As refuses: what the archive holds now is not what
    // the window shows. The entries written before the cut are whole.
    ShowStatusText(QStringLiteral("Cannot extract all: %1 (%2 of %3 entries were extracted)")
                       .arg(ArchiveChangedText())
                       .arg(report.written)
                       .arg(count));
    return;
  }
  QString summary =
      QStringLiteral("Extracted %1 of %2 entries to %3").arg(report.written).arg(count).arg(folder);
  if (report.left > 0)
    summary += QStringLiteral(" (stopped; %1 more not extracted)").arg(report.left);
  ShowStatusText(report.cancelled ? summary + QStringLiteral(" (cancelled)") : summary);
  if (!report.problems.empty()) ShowProblems(report.problems, report.written);
}

QString CEntryExtractor::ArchiveChangedText() const {
  return m_document.GetPathName() + QStringLiteral(": ") +
         QString::fromLatin1(kArchiveChangedWords);
}
