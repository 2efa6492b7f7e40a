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
    return fail(CopyResult::Failed, source.path, QString::fromLocal8Bit(file.GetLastError().GetWords()));
  }
  file.Close();
  if (bytes.GetSize() != source.size) return fail(CopyResult::SourceChanged, source.path, changed);

  // The same way to replace a file as extraction and packing take, so a
  // full disk says so in the system's words, and a replaced file keeps who
  // may read it.
  std::string words;
  if (!WriteFileReplacing(QFile::encodeName(target).toStdString(), bytes,
                          IdentityOfFile(QFile::encodeName(source.path).toStdString()), words)) {
    return fail(CopyResult::Failed, target, QString::fromLocal8Bit(words));
  }
  return CopyResult::Copied;
}
