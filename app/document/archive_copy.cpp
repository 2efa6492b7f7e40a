#include "app/document/archive_copy.h"

#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

#include "app/document/entry_text.h"
#include "storage/replacing_file.h"

std::optional<CArchiveStamp> StampArchive(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  const std::optional<CFileStamp> file = StampOfFile(NativePath(absolute));
  if (!file) return std::nullopt;
  return CArchiveStamp{absolute, *file};
}

CStatus CopyArchive(const CArchiveStamp& source, const QString& destination,
                    const CHandleHolder& held) {
  const QString target = QFileInfo(destination).absoluteFilePath();
  const std::string targetName = NativePath(target);
  const std::string sourceName = NativePath(source.path);
  if (target == source.path) return CStatus::Of(CStatus::Kind::SameFile, targetName);
  std::error_code error;
  // Links, hard or symbolic, and other spellings of the archive's path.
  if (std::filesystem::equivalent(std::filesystem::path(targetName),
                                  std::filesystem::path(sourceName), error) ||
      IdentityOfFile(targetName) == source.file.identity) {
    return CStatus::Of(CStatus::Kind::SameFile, targetName);
  }

  CHandleHolder file = held;
  if (!file) {
    const CResult<CHandleHolder> opened = CHandleHolder::OpenRead(sourceName);
    if (opened) file = *opened;
  }
  // Held since the open, the file may have lost its name: only what a
  // rewrite moves is compared then.
  if (!file || !SameBytes(source.file, StampOfFile(file.Get()), !held))
    return CStatus::Of(CStatus::Kind::SourceChanged, sourceName);

  const auto fill = [&](platform::Handle to) -> CStatus {
    const uint64_t size = source.file.size;
    const CResult<uint64_t> copied = file.CopyTo(to, size);
    if (!copied) return copied.GetStatus().WithPath(targetName);
    // Cut short or rewritten while it was copied: the copy may mix two
    // files, and is not put in place.
    if (*copied != size || !SameBytes(source.file, StampOfFile(file.Get()), !held))
      return CStatus::Of(CStatus::Kind::SourceChanged, sourceName);
    return {};
  };
  // The same way to replace a file as extraction and packing take, so a
  // full disk says so in the system's words, and a replaced file keeps who
  // may read it.
  CReplaceOptions options;
  options.protect = source.file.identity;
  options.replaceLink = true;
  return WriteFileReplacing(targetName, fill, options);
}
