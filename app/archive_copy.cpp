#include "app/archive_copy.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <system_error>

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

CopyResult CopyArchive(const CArchiveStamp& source, const QString& destination) {
  const QString target = QFileInfo(destination).absoluteFilePath();
  if (target == source.path) return CopyResult::SameFile;
  std::error_code error;
  // Links, hard or symbolic, and other spellings of the archive's path.
  if (std::filesystem::equivalent(NativePath(target), NativePath(source.path), error)) {
    return CopyResult::SameFile;
  }
  if (StampArchive(source.path) != source) return CopyResult::SourceChanged;

  CDiskFile file;
  if (file.OpenRead(QFile::encodeName(source.path).toStdString()) != 0) return CopyResult::Failed;
  const CDataBuffer bytes = file.MapWhole();
  file.Close();
  if (!bytes.HasData() || bytes.GetSize() != source.size) return CopyResult::SourceChanged;

  QSaveFile out(target);
  if (!out.open(QIODevice::WriteOnly)) return CopyResult::Failed;
  const auto* data = reinterpret_cast<const char*>(bytes.GetData());
  if (out.write(data, bytes.GetSize()) != static_cast<qint64>(bytes.GetSize())) {
    out.cancelWriting();
    return CopyResult::Failed;
  }
  return out.commit() ? CopyResult::Copied : CopyResult::Failed;
}
