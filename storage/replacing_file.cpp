#include "storage/replacing_file.h"

#include <algorithm>

#include "storage/file_stamp.h"

const char* InTheWay(const platform::NodeInfo& there,
                     const std::optional<platform::FileIdentity>& protect, bool replaceLink) {
  switch (there.kind) {
    case platform::NodeKind::Missing: return nullptr;
    case platform::NodeKind::Link: return replaceLink ? nullptr : "symbolic link in the way";
    case platform::NodeKind::Folder: return "folder in the way";
    case platform::NodeKind::Other: return "special file in the way";
    case platform::NodeKind::File:
      return protect && there.identity == *protect ? "would replace the archive itself" : nullptr;
  }
  return nullptr;
}

bool CPendingFile::OpenUnnamed(bool replacing) {
  m_replacing = replacing;
  const platform::Result<platform::Handle> unnamed = platform::CreateUnnamedFileAt(m_folder);
  m_file = CHandleOwner(*unnamed);
  if (!m_file) return false;
  // Nothing to remove on an interrupt; this still makes a write past the
  // file-size limit fail rather than end the process.
  platform::RemoveOnInterrupt(platform::kInvalidHandle, std::string(), m_lane);
  return true;
}

bool CPendingFile::OpenNamed(bool replacing) {
  m_replacing = replacing;
  const platform::Result<platform::Handle> named =
      m_direct && !replacing ? platform::CreateFileAt(m_folder, m_name)
                             : platform::CreateTempFileAt(m_folder, m_prefix, m_written);
  if (!named) {
    m_written.clear();
    m_status = CStatus::FromSystem(m_shown, named.GetError());
    return false;
  }
  if (m_direct && !replacing) m_written = m_name;
  m_file = CHandleOwner(*named);
  platform::RemoveOnInterrupt(m_folder, m_written, m_lane);
  return true;
}

bool CPendingFile::Fail(CStatus status) {
  m_status = std::move(status);
  Discard();
  return false;
}

bool CPendingFile::Commit(const std::optional<platform::FileIdentity>& protect,
                          bool replaceLink) {
  const auto failed = [&](const platform::Error& error) {
    return Fail(CStatus::FromSystem(m_shown, error));
  };
  // The common case, a new name that is still free, in one step: the
  // link fails rather than replace anything that got there since.
  if (m_written.empty() && !m_replacing) {
    if (!m_direct) {
      if (const platform::Error error = platform::SyncFile(m_file.Get()); error.Failed())
        return failed(error);
    }
    if (!platform::LinkUnnamedAt(m_folder, m_file.Get(), m_name).Failed()) {
      m_written = m_name;
      return Finish();
    }
  }
  platform::NodeInfo there;
  if (const platform::Error error = platform::InspectAt(m_folder, m_name, there); error.Failed())
    return failed(error);
  if (m_written == m_name) there.kind = platform::NodeKind::Missing;  // that is this file
  if (const char* refused = InTheWay(there, protect, replaceLink))
    return Fail(CStatus::Failure(m_shown, refused));
  if (m_expect && there.kind == platform::NodeKind::File &&
      !(CFileStamp{there.identity, there.size, there.modified, there.changed} == *m_expect))
    return Fail(CStatus::Failure(m_shown, std::string("has changed on disk since it was read; "
                                                      "not replaced")));
  const bool replacing = there.kind != platform::NodeKind::Missing;
  if (there.kind == platform::NodeKind::File) {
    if (const platform::Error error = platform::TakeAccessOf(m_file.Get(), there); error.Failed())
      return failed(error);
  }
  if (replacing || !m_direct) {
    if (const platform::Error error = platform::SyncFile(m_file.Get()); error.Failed())
      return failed(error);
  }
  if (m_written.empty()) {  // unnamed
    // A new name is taken in one step, and fails if anything got there
    // first; a file is replaced by renaming over it.
    const platform::Error error =
        replacing ? platform::LinkUnnamedAsTempAt(m_folder, m_file.Get(), m_prefix, m_written)
                  : platform::LinkUnnamedAt(m_folder, m_file.Get(), m_name);
    if (error.Failed()) return failed(error);
    if (replacing) platform::RemoveOnInterrupt(m_folder, m_written, m_lane);
    else m_written = m_name;
  }
  return Finish();
}

bool CPendingFile::Finish() {
  // Closed before the rename: Windows renames no file that is open.
  m_file.Close();
  if (m_written != m_name) {
    if (const platform::Error error = platform::RenameAt(m_folder, m_written, m_name);
        error.Failed())
      return Fail(CStatus::FromSystem(m_shown, error));
  }
  m_written.clear();
  platform::RemoveOnInterrupt(platform::kInvalidHandle, std::string(), m_lane);
  if (!m_direct)
    platform::SyncFile(m_folder);  // the rename itself; the file is complete either way
  return true;
}

void CPendingFile::Discard() {
  m_file.Close();
  if (!m_written.empty()) {
    platform::RemoveAt(m_folder, m_written);
    m_written.clear();
    platform::RemoveOnInterrupt(platform::kInvalidHandle, std::string(), m_lane);
  }
}

CStatus WriteBytesTo(platform::Handle file, const uint8_t* data, size_t size,
                     const std::function<bool(uint64_t)>& onPiece) {
  // Bytes that could not be loaded are no bytes to write; memory is what
  // a buffer that has a size but no bytes was refused.
  if (data == nullptr && size > 0) return CStatus::FromSystem({}, platform::Error::OutOfMemory());
  size_t done = 0;
  while (done < size) {
    const size_t step = std::min(kWritePiece, size - done);
    if (const platform::Error error = platform::WriteAll(file, data + done, step); error.Failed())
      return CStatus::FromSystem({}, error);
    platform::ForgetPages(data + done, step);
    done += step;
    if (onPiece && done < size && !onPiece(done)) return CStatus::Of(CStatus::Kind::Cancelled);
  }
  return {};
}

std::optional<platform::FileIdentity> IdentityOfFile(const std::string& path) {
  const std::optional<CFileStamp> stamp = StampOfFile(path);
  return stamp ? std::optional(stamp->identity) : std::nullopt;
}

void SplitUserPath(const std::string& path, std::string& folder, std::string& name) {
#ifdef _WIN32
  // Typed on Windows: either separator, and perhaps a drive. "C:x" is x in
  // drive C's current folder, "C:\x" and "C:/x" are x in its root.
  const bool drive = path.size() >= 2 && path[1] == ':' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  const size_t start = drive ? 2 : 0;
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos || slash < start) {
    folder = drive ? path.substr(0, 2) : ".";
    name = path.substr(start);
    return;
  }
  // A root keeps its separator: without it, "C:" would be the drive's
  // current folder.
  folder = path.substr(0, slash == start ? slash + 1 : slash);
  name = path.substr(slash + 1);
#else
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    folder = ".";
    name = path;
    return;
  }
  folder = slash == 0 ? "/" : path.substr(0, slash);
  name = path.substr(slash + 1);
#endif
}

CStatus WriteFileReplacing(const std::string& path, const FillFn& fill,
                           const CReplaceOptions& options) {
  std::string folderPath, name;
  SplitUserPath(path, folderPath, name);
  if (name.empty() || name == "." || name == "..") return CStatus::Failure(path, "not a file name");
  const platform::Result<platform::Handle> opened = platform::OpenFolder(folderPath, false);
  CHandleOwner folder(*opened);
  if (!opened) return CStatus::FromSystem(path, opened.GetError());
  platform::NodeInfo there;
  if (const platform::Error error = platform::InspectAt(folder.Get(), name, there); error.Failed())
    return CStatus::FromSystem(path, error);
  // Looked at before anything is written, in words about the path the user
  // gave; looked at again when the new file takes the name.
  switch (there.kind) {
    case platform::NodeKind::Folder: return CStatus::Failure(path, "is a folder");
    case platform::NodeKind::Other:
      return CStatus::Failure(path, "is not a regular file (not replaced)");
    case platform::NodeKind::Link:
      if (!options.replaceLink) return CStatus::Failure(path, "is a symbolic link (not replaced)");
      break;
    case platform::NodeKind::File:
      if (options.protect && there.identity == *options.protect)
        return CStatus::Failure(path, "would replace the archive itself");
      break;
    case platform::NodeKind::Missing: break;
  }
  // The temporary name keeps the start of the file's, so a person who finds
  // one left by a crash knows what it was.
  CPendingFile file(folder.Get(), name, "." + name.substr(0, 200) + kTempFilePrefix, false, path);
  if (!file.Open(there.kind == platform::NodeKind::File)) return file.GetStatus();
  file.Expect(options.expect);
  if (CStatus filled = fill(file.Get()); !filled.IsOk()) return filled;
  file.Commit(options.protect, options.replaceLink);
  return file.GetStatus();
}

CStatus WriteFileReplacing(const std::string& path, const CDataBuffer& bytes,
                           const std::optional<platform::FileIdentity>& protect,
                           const std::function<bool()>& changed) {
  // The user chose this name, so a link there is replaced by the file
  // rather than written through.
  const CReplaceOptions options{protect, true, std::nullopt};
  return WriteFileReplacing(
      path,
      [&](platform::Handle file) {
        const CStatus written = WriteBytesTo(file, bytes.GetData(), bytes.GetSize(), nullptr);
        // Bytes of an archive cut short since it was opened (zeros), or
        // written over by another program: not the entry.
        if (bytes.IsCutOnDisk() || (changed && changed()))
          return CStatus::Failure(path, std::string("the archive ") + kArchiveChangedWords);
        return written.WithPath(path);
      },
      options);
}
