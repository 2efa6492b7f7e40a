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

CopyResult CopyArchive(const CArchiveStamp& source, const QString& destination, QString* reason) {
  const QString target = QFileInfo(destination).absoluteFilePath();
  const auto fail = [reason](CopyResult result, const QString& path, const QString& words) {
    if (reason != nullptr) *reason = path + QStringLiteral(": ") + words;
    return result;
  };
  const QString sameFile = QStringLiteral("is the opened archive itself");
  const QString changed = QStringLiteral("has changed on disk since it was opened");
  if (target == source.path) return fail(CopyResult::SameFile, target, sameFile);
  std::error_code error;
  // Links, hard or symbolic, and other spellings of the archive's path.
  if (std::filesystem::equivalent(NativePath(target), NativePath(source.path), error)) {
    return fail(CopyResult::SameFile, target, sameFile);
  }
  if (StampArchive(source.path) != source) return fail(CopyResult::SourceChanged, source.path, changed);

  CDiskFile file;
  CDataBuffer bytes;
  if (file.OpenRead(QFile::encodeName(source.path).toStdString()) != 0 ||
      file.LoadWhole(bytes, nullptr) != 0) {
    return fail(CopyResult::Failed, source.path, QString::fromLocal8Bit(file.GetLastError().words));
  }
  file.Close();
  if (bytes.GetSize() != source.size) return fail(CopyResult::SourceChanged, source.path, changed);

  QSaveFile out(target);
  if (!out.open(QIODevice::WriteOnly)) return fail(CopyResult::Failed, target, out.errorString());
  const auto* data = reinterpret_cast<const char*>(bytes.GetData());
  if (out.write(data, bytes.GetSize()) != static_cast<qint64>(bytes.GetSize())) {
    const QString words = out.errorString();
    out.cancelWriting();
    return fail(CopyResult::Failed, target, words);
  }
  if (!out.commit()) return fail(CopyResult::Failed, target, out.errorString());
  return CopyResult::Copied;
}
