#include "archive/extract.h"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "archive/big_archive.h"
#include "archive/entry_map.h"
#include "archive/entry_path.h"
#include "archive/windows_names.h"
#include "storage/handle_owner.h"

namespace {

// Large enough that a write costs little per byte, small enough that the
// pages of one piece are let go before the next is read.
constexpr size_t kPiece = size_t{8} << 20;
constexpr char kTempPrefix[] = ".tarn-";

// What stands at a name where a file is to go, in words, when it must not
// be replaced; null when it may be.
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

// A file being written in a folder that takes its name only once it is
// complete, replacing whatever file had the name then. Where the system has
// unnamed files it is one until then, so a process killed on the way leaves
// nothing; elsewhere it is written under a temporary name (removed on any
// failure and on an interrupt), or, when `direct` and nothing stands at the
// name, under the name itself. A failure keeps its status, about `shown`.
class CPendingFile {
 public:
  CPendingFile(platform::Handle folder, std::string name, std::string tempPrefix, bool direct,
               std::string shown)
      : m_folder(folder),
        m_name(std::move(name)),
        m_prefix(std::move(tempPrefix)),
        m_direct(direct),
        m_shown(std::move(shown)) {}
  ~CPendingFile() { Discard(); }
  CPendingFile(const CPendingFile&) = delete;
  CPendingFile& operator=(const CPendingFile&) = delete;

  // `replacing`: a file stands at the name now.
  bool Open(bool replacing) {
    m_replacing = replacing;
    const platform::Result<platform::Handle> unnamed = platform::CreateUnnamedFileAt(m_folder);
    m_file = CHandleOwner(*unnamed);
    if (m_file) {
      // Nothing to remove on an interrupt; this still makes a write past
      // the file-size limit fail rather than end the process.
      platform::RemoveOnInterrupt(platform::kInvalidHandle, std::string());
      return true;
    }
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
    platform::RemoveOnInterrupt(m_folder, m_written);
    return true;
  }
  platform::Handle Get() const { return m_file.Get(); }
  // Why Open or Commit last failed.
  const CStatus& GetStatus() const { return m_status; }

  // Puts the complete file at its name. What stands there is looked at
  // again now: the replaced file's access passes to the new one, and
  // something that must not be replaced, put there since the caller
  // looked, is left alone. The bytes are on the disk before they take the
  // place of a file (or of anything, unless `direct`), so a crash leaves
  // the old file or the whole new one.
  bool Commit(const std::optional<platform::FileIdentity>& protect, bool replaceLink) {
    const auto fail = [&](CStatus status) {
      m_status = std::move(status);
      Discard();
      return false;
    };
    const auto failed = [&](const platform::Error& error) {
      return fail(CStatus::FromSystem(m_shown, error));
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
      return fail(CStatus::Failure(m_shown, refused));
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
      if (replacing) platform::RemoveOnInterrupt(m_folder, m_written);
      else m_written = m_name;
    }
    return Finish();
  }

 private:
  bool Finish() {
    // Closed before the rename: Windows renames no file that is open.
    m_file.Close();
    if (m_written != m_name) {
      if (const platform::Error error = platform::RenameAt(m_folder, m_written, m_name);
          error.Failed()) {
        m_status = CStatus::FromSystem(m_shown, error);
        Discard();
        return false;
      }
    }
    m_written.clear();
    platform::RemoveOnInterrupt(platform::kInvalidHandle, std::string());
    if (!m_direct)
      platform::SyncFile(m_folder);  // the rename itself; the file is complete either way
    return true;
  }

  void Discard() {
    m_file.Close();
    if (!m_written.empty()) {
      platform::RemoveAt(m_folder, m_written);
      m_written.clear();
      platform::RemoveOnInterrupt(platform::kInvalidHandle, std::string());
    }
  }

  platform::Handle m_folder;
  std::string m_name;
  std::string m_prefix;
  bool m_direct;
  bool m_replacing = false;
  std::string m_shown;
  CHandleOwner m_file;
  std::string m_written;  // the name it has now; empty while it has none
  CStatus m_status;
};

// What became of one entry's file.
struct CWriteOutcome {
  CStatus status;        // IsLasting: failed as every later entry would
  bool stopped = false;  // `onPiece` asked to stop
  bool cut = false;      // the archive was found cut short on disk
};

// Writes the entry's bytes as the file `name` in `folder`, replacing a file
// there; anything else there is left alone and named in the outcome's reason.
bool WriteEntryFile(platform::Handle folder, const std::string& name, const CExtractEntry& entry,
                    const std::optional<platform::FileIdentity>& protect,
                    const std::function<bool(uint64_t)>& onPiece, CWriteOutcome& outcome) {
  const auto failed = [&](const platform::Error& error) {
    outcome.status = CStatus::FromSystem(name, error);
    return false;
  };
  platform::NodeInfo there;
  if (const platform::Error error = platform::InspectAt(folder, name, there); error.Failed())
    return failed(error);
  if (const char* refused = InTheWay(there, protect, false)) {
    outcome.status = CStatus::Failure(name, refused);
    return false;
  }
  CPendingFile file(folder, name, kTempPrefix, true, name);
  // No space or a read-only disk: whatever stands there, nothing can be written.
  const auto pendingFailed = [&outcome, &file] {
    outcome.status = file.GetStatus();
    return false;
  };
  if (!file.Open(there.kind == platform::NodeKind::File)) return pendingFailed();
  platform::Error copyError;
  const bool ok = CopyEntryTo(
      file.Get(), entry,
      [&](uint64_t done) {
        if (onPiece(done)) return true;
        outcome.stopped = true;
        return false;
      },
      outcome.cut, copyError);
  if (outcome.stopped) {
    outcome.status = CStatus::Failure(name, "cancelled");
    return false;
  }
  if (outcome.cut) return false;  // the pending file goes with `file`
  if (!ok) return failed(copyError);
  return file.Commit(protect, false) || pendingFailed();
}

}  // namespace

bool WriteBytesTo(platform::Handle file, const uint8_t* data, size_t size,
                  const std::function<bool(uint64_t)>& onPiece, platform::Error& error) {
  // Bytes that could not be loaded are no bytes to write; memory is what
  // a buffer that has a size but no bytes was refused.
  if (data == nullptr && size > 0) return error = platform::Error::OutOfMemory(), false;
  size_t done = 0;
  while (done < size) {
    const size_t step = std::min(kPiece, size - done);
    error = platform::WriteAll(file, data + done, step);
    if (error.Failed()) return false;
    platform::ForgetPages(data + done, step);
    done += step;
    if (onPiece && done < size && !onPiece(done)) return false;
  }
  return true;
}

bool CopyEntryTo(platform::Handle out, const CExtractEntry& entry,
                 const std::function<bool(uint64_t)>& onPiece, bool& cut, platform::Error& error) {
  cut = false;
  if (!entry.file || entry.bytes.HasData()) {
    const bool ok = WriteBytesTo(out, entry.bytes.GetData(), entry.bytes.GetSize(), onPiece, error);
    // Asked after the copy: a page cut away before it was copied reads as
    // zeros, and only the guard that put them there knows.
    cut = entry.bytes.IsCutOnDisk();
    return ok && !cut;
  }
  uint64_t done = 0;
  while (done < entry.size) {
    const uint64_t step = std::min<uint64_t>(kPiece, entry.size - done);
    const platform::Result<int64_t> copied =
        platform::CopyRange(entry.file.Get(), static_cast<int64_t>(entry.offset + done), out,
                            static_cast<int64_t>(step));
    if (!copied) return error = copied.GetError(), false;
    // The file ends before the index said it does: cut short since it was opened.
    if (static_cast<uint64_t>(*copied) != step) return cut = true, false;
    done += step;
    if (onPiece && done < entry.size && !onPiece(done)) return false;
  }
  return true;
}

namespace {

// Refuses the names that must not become files here: unsafe ones, and a
// second name for a file an earlier entry was written to.
class CNameGuard {
 public:
  explicit CNameGuard(size_t count) { m_first.reserve(count); }

  // Why `name` is not extracted; empty when it may be.
  std::string Refuse(std::string_view name) {
    if (const CStatus::Kind unsafe = CheckEntryName(name); unsafe != CStatus::Kind::Ok)
      return CStatus::WordsFor(unsafe);
#ifdef _WIN32
    // Windows would open a device, drop the last dot or refuse the name.
    if (const CStatus::Kind reserved = CheckWindowsEntryName(name); reserved != CStatus::Kind::Ok)
      return CStatus::WordsFor(reserved);
    // The same file on Windows: the second would overwrite the first.
    if (const auto [first, isNew] = m_first.try_emplace(WindowsCaseKey(name), name); !isNew)
      return "differs only in letter case from '" + std::string(first->second) + "'";
#else
    // "a/b" and then "a\\b": the second would silently replace the first.
    if (const auto [first, isNew] = m_first.try_emplace(EntryPathKey(name), name); !isNew)
      return "names the same file as '" + std::string(first->second) + "'";
#endif
    return {};
  }

 private:
  // The first entry of each file, by the key that tells files apart here.
  std::unordered_map<std::string, std::string_view> m_first;
};

// What the extraction does after an entry.
enum class CAfterEntry { Next, Stop, Cancel };

// Writes one entry as the file `name` in the folder `at`, noting what
// became of it in `report`.
CAfterEntry ExtractOne(platform::Handle at, const std::string& name, const CExtractEntry& entry,
                       const CExtractOptions& options, CProgress& progress,
                       CExtractReport& report) {
  const auto problem = [&](std::string reason) {
    report.problems.push_back({std::string(entry.name), std::move(reason)});
  };
  const uint64_t before = progress.bytesDone;
  CWriteOutcome outcome;
  const bool ok = WriteEntryFile(
      at, name, entry, options.protect,
      [&](uint64_t done) {
        progress.bytesDone = before + done;
        return !options.progress || options.progress(progress);
      },
      outcome);
  if (outcome.stopped) return CAfterEntry::Cancel;
  if (outcome.cut) {
    // Whatever the archive holds now is not what its index described: no
    // later entry can be trusted either.
    report.archiveChanged = true;
    problem(std::string("the archive ") + kArchiveChangedWords +
            "; what was written of its file was removed");
    return CAfterEntry::Stop;
  }
  if (!ok) {
    problem(outcome.status.GetWords());
    if (outcome.status.IsLasting()) return CAfterEntry::Stop;
  } else if (entry.claimed > entry.size) {
    problem("cut short by the end of the archive (" + std::to_string(entry.size) + " of " +
            std::to_string(entry.claimed) + " bytes written)");
  } else {
    ++report.written;
  }
  progress.bytesDone = before + entry.size;
  return CAfterEntry::Next;
}

}  // namespace

void ExtractEntries(const std::string& folder, std::span<const CExtractEntry> entries,
                    const CExtractOptions& options, CExtractReport& report) {
  report = CExtractReport{};
  const platform::Result<platform::Handle> opened = platform::OpenFolder(folder, true);
  CHandleOwner root(*opened);
  if (!opened) {
    report.folderError = CStatus::FromSystem(folder, opened.GetError());
    return;
  }
  CProgress progress;
  progress.entriesTotal = entries.size();
  for (const CExtractEntry& entry : entries) progress.bytesTotal += entry.size;

  CFolderWalk walk(root.Get());
  CNameGuard names(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const CExtractEntry& entry = entries[i];
    CAfterEntry after = CAfterEntry::Next;
    if (std::string refused = names.Refuse(entry.name); !refused.empty()) {
      report.problems.push_back({std::string(entry.name), std::move(refused)});
    } else {
      const std::vector<std::string_view> segments = SplitEntryName(entry.name);
      const platform::Result<platform::Handle> at =
          walk.Enter(std::span(segments).first(segments.size() - 1), true);
      if (at) {
        after = ExtractOne(*at, std::string(segments.back()), entry, options, progress, report);
      } else {
        after = at.GetError().IsLasting() ? CAfterEntry::Stop : CAfterEntry::Next;
        report.problems.push_back({std::string(entry.name), at.GetError().Text()});
      }
    }
    if (after == CAfterEntry::Cancel) {
      report.cancelled = true;
      return;
    }
    // Stopped at a problem every later entry would meet too: those are left.
    if (after == CAfterEntry::Stop) {
      report.left = entries.size() - i - 1;
      return;
    }
    ++progress.entriesDone;
    if (options.progress && !options.progress(progress)) {
      report.cancelled = progress.entriesDone < progress.entriesTotal;
      if (report.cancelled) return;
    }
  }
}

std::vector<CExtractEntry> EntriesToExtract(const CBigArchive& reader) {
  const CDataBuffer whole = reader.GetData();
  // Not mapped: each entry is copied from the file where it lies.
  const bool mapped = whole.HasData();
  const uint64_t total = mapped ? whole.GetSize() : static_cast<uint32_t>(reader.GetSize());
  std::vector<CExtractEntry> entries;
  entries.reserve(reader.GetIndex().size());
  for (const auto& [name, entry] : reader.GetIndex()) {
    // In 64 bits, so no offset of 2^31 or more becomes negative.
    const uint64_t begin = std::min<uint64_t>(entry.offset, total);
    const uint64_t size = std::min<uint64_t>(entry.size, total - begin);
    CExtractEntry& added = entries.emplace_back();
    added.name = name;
    added.claimed = entry.size;
    added.size = size;
    if (mapped) {
      added.bytes = whole.Slice(static_cast<int32_t>(begin), static_cast<int32_t>(size));
    } else {
      added.file = reader.GetFileHandle();
      added.offset = begin;
    }
  }
  return entries;
}

std::vector<CExtractEntry> EntriesToExtract(const CEntryMap& map) {
  std::vector<CExtractEntry> entries;
  entries.reserve(map.size());
  for (size_t i = 0; i < map.size(); ++i) {
    CExtractEntry& added = entries.emplace_back();
    added.name = map.NameAt(i);
    added.size = map.SizeAt(i);
    // The map keeps every entry cut at the archive's end: asked for whole.
    added.claimed = added.size;
    if (map.IsMapped()) {
      added.bytes = map.BufferAt(i);
    } else {
      added.file = map.GetFile();
      added.offset = map.OffsetAt(i);
    }
  }
  return entries;
}

std::optional<platform::FileIdentity> IdentityOfFile(const std::string& path) {
  const CHandleOwner file(*platform::CreateFile(path, platform::kGenericRead,
                                                platform::kOpenExisting, platform::kFileShareRead));
  if (!file) return std::nullopt;
  platform::NodeInfo info;
  const bool known = !platform::InspectFile(file.Get(), info).Failed();
  return known ? std::optional(info.identity) : std::nullopt;
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
  CPendingFile file(folder.Get(), name, "." + name.substr(0, 200) + kTempPrefix, false, path);
  if (!file.Open(there.kind == platform::NodeKind::File)) return file.GetStatus();
  if (CStatus filled = fill(file.Get()); !filled.IsOk()) return filled;
  file.Commit(options.protect, options.replaceLink);
  return file.GetStatus();
}

CStatus WriteFileReplacing(const std::string& path, const CDataBuffer& bytes,
                           const std::optional<platform::FileIdentity>& protect) {
  // The user chose this name, so a link there is replaced by the file
  // rather than written through.
  const CReplaceOptions options{protect, true};
  return WriteFileReplacing(
      path,
      [&](platform::Handle file) {
        platform::Error error;
        const bool written = WriteBytesTo(file, bytes.GetData(), bytes.GetSize(), nullptr, error);
        // Bytes of an archive cut short since it was opened: zeros, not the entry.
        if (bytes.IsCutOnDisk())
          return CStatus::Failure(path, std::string("the archive ") + kArchiveChangedWords);
        return written ? CStatus() : CStatus::FromSystem(path, error);
      },
      options);
}
