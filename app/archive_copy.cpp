#include "app/archive_copy.h"

#include <QFile>
#include <QFileInfo>

#include <system_error>

#include "archive/extract.h"
#include "storage/disk_file.h"

namespace {

std::filesystem::path NativePath(const QString& path) {
  return std::filesystem::path(QFile::encodeName(path).toStdString());
}

}  // namespace

std::optional<CArchiveStamp> StampArchive(const QString& path) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  const std::filesystem::path native = NativePath(absolute);
  std::error_code error;
  if (!std::filesystem::is_regular_file(native, error)) return std::nullopt;
  const uintmax_t size = std::filesystem::file_size(native, error);
  if (error) return std::nullopt;
  const auto modified = std::filesystem::last_write_time(native, error);
  if (error) return std::nullopt;
  return CArchiveStamp{absolute, size, modified};
}

CStatus CopyArchive(const CArchiveStamp& source, const QString& destination) {
  const QString target = QFileInfo(destination).absoluteFilePath();
  const std::string targetName = QFile::encodeName(target).toStdString();
  const std::string sourceName = QFile::encodeName(source.path).toStdString();
  if (target == source.path) return CStatus::Of(CStatus::Kind::SameFile, targetName);
  std::error_code error;
  // Links, hard or symbolic, and other spellings of the archive's path.
  if (std::filesystem::equivalent(NativePath(target), NativePath(source.path), error)) {
    return CStatus::Of(CStatus::Kind::SameFile, targetName);
  }
  if (StampArchive(source.path) != source)
    return CStatus::Of(CStatus::Kind::SourceChanged, sourceName);

  CDiskFile file;
  CDataBuffer bytes;
  if (file.OpenRead(sourceName) != 0 || file.LoadWhole(bytes, nullptr) != 0)
    return file.GetLastError();
  file.Close();
  if (bytes.GetSize() != source.size) return CStatus::Of(CStatus::Kind::SourceChanged, sourceName);

  // The same way to replace a file as extraction and packing take, so a
  // full disk says so in the system's words, and a replaced file keeps who
  // may read it.
  return WriteFileReplacing(targetName, bytes, IdentityOfFile(sourceName));
}
