#include "archive/extract.h"

#include <algorithm>
#include <map>

#include "archive/big_archive.h"
#include "archive/entry_map.h"
#include "archive/entry_path.h"
#include "storage/windows_names.h"

namespace {

// Large enough that a write costs little per byte, small enough that the
// pages of one piece are let go before the next is read.
constexpr size_t kPiece = size_t{8} << 20;
constexpr char kTempPrefix[] = ".tarn-";

// Closes a handle on every way out.
class CHandleGuard {
 public:
  explicit CHandleGuard(platform::Handle handle) : m_handle(handle) {}
  ~CHandleGuard() { Close(); }
  CHandleGuard(const CHandleGuard&) = delete;
  CHandleGuard& operator=(const CHandleGuard&) = delete;
  platform::Handle Get() const { return m_handle; }
  void Close() {
    if (m_handle != platform::kInvalidHandle) platform::CloseHandle(m_handle);
    m_handle = platform::kInvalidHandle;
  }

 private:
  platform::Handle m_handle;
};

// What became of one entry's file.
struct CWriteOutcome {
  std::string reason;
  bool stopped = false;  // `onPiece` asked to stop
  bool cut = false;      // the archive was found cut short on disk
  bool lasting = false;  // failed as every later entry would (LastErrorIsLasting)
};

// Writes the entry's bytes as the file `name` in `folder`. A file already
// there is replaced through a temporary file; anything else there is left
// alone and named in the outcome's reason.
bool WriteEntryFile(platform::Handle folder, const std::string& name, const CExtractEntry& entry,
                    const std::optional<platform::FileIdentity>& protect,
                    const std::function<bool(uint64_t)>& onPiece, CWriteOutcome& outcome) {
  const auto failed = [&outcome] {
    outcome.reason = platform::LastErrorText();
    outcome.lasting = platform::LastErrorIsLasting();
    return false;
  };
  // Mostly nothing is there yet: try to create the file first, and look at
  // what stands there only when that fails.
  platform::Handle created = platform::CreateFileAt(folder, name);
  platform::NodeInfo there;
  if (created == platform::kInvalidHandle) {
    // No space or a read-only disk: whatever stands there, nothing can be written.
    if (platform::LastErrorIsLasting()) return failed();
    if (!platform::InspectAt(folder, name, there)) return failed();
  }
  if (created != platform::kInvalidHandle) there.kind = platform::NodeKind::Missing;
  switch (there.kind) {
    case platform::NodeKind::Link: outcome.reason = "symbolic link in the way"; return false;
    case platform::NodeKind::Folder: outcome.reason = "folder in the way"; return false;
    case platform::NodeKind::Other: outcome.reason = "special file in the way"; return false;
    case platform::NodeKind::File:
      if (protect && there.identity == *protect) {
        outcome.reason = "would replace the archive itself";
        return false;
      }
      break;
    case platform::NodeKind::Missing:
      if (created == platform::kInvalidHandle) {  // gone again since: try once more
        created = platform::CreateFileAt(folder, name);
      }
      break;
  }
  const bool replacing = there.kind == platform::NodeKind::File;
  std::string written = name;
  CHandleGuard file(replacing ? platform::CreateTempFileAt(folder, kTempPrefix, written) : created);
  if (file.Get() == platform::kInvalidHandle) return failed();
  platform::RemoveOnInterrupt(folder, written);
  bool ok = CopyEntryTo(file.Get(), entry, [&](uint64_t done) {
    if (onPiece(done)) return true;
    outcome.stopped = true;
    return false;
  }, outcome.cut);
  if (!ok && !outcome.stopped && !outcome.cut) failed();
  // The old file may go only once the new one is on the disk: a crash after
  // the rename must not leave an empty file where the old one was.
  if (ok && replacing && !platform::SyncFile(file.Get())) ok = failed();
  file.Close();
  if (ok && replacing && !platform::RenameAt(folder, written, name)) ok = failed();
  if (!ok) platform::RemoveAt(folder, written);
  platform::RemoveOnInterrupt(platform::kInvalidHandle, std::string());
  if (outcome.stopped) outcome.reason = "cancelled";
  return ok;
}

}  // namespace

bool WriteBytesTo(platform::Handle file, const uint8_t* data, size_t size,
                  const std::function<bool(uint64_t)>& onPiece) {
  // Bytes that could not be loaded are no bytes to write.
  if (data == nullptr && size > 0) return false;
  size_t done = 0;
  while (done < size) {
    const size_t step = std::min(kPiece, size - done);
    if (!platform::WriteAll(file, data + done, step)) return false;
    platform::ForgetPages(data + done, step);
    done += step;
    if (onPiece && done < size && !onPiece(done)) return false;
  }
  return true;
}

bool CopyEntryTo(platform::Handle out, const CExtractEntry& entry,
                 const std::function<bool(uint64_t)>& onPiece, bool& cut) {
  cut = false;
  if (!entry.file || entry.bytes.HasData()) {
    const bool ok = WriteBytesTo(out, entry.bytes.GetData(), entry.bytes.GetSize(), onPiece);
    // Asked after the copy: a page cut away before it was copied reads as
    // zeros, and only the guard that put them there knows.
    cut = entry.bytes.IsCutOnDisk();
    return ok && !cut;
  }
  uint64_t done = 0;
  while (done < entry.size) {
    const uint64_t step = std::min<uint64_t>(kPiece, entry.size - done);
    const int64_t copied = platform::CopyRange(entry.file.Get(), static_cast<int64_t>(entry.offset + done), out,
                                               static_cast<int64_t>(step));
    if (copied < 0) return false;
    // The file ends before the index said it does: cut short since it was opened.
    if (static_cast<uint64_t>(copied) != step) return cut = true, false;
    done += step;
    if (onPiece && done < entry.size && !onPiece(done)) return false;
  }
  return true;
}

void ExtractEntries(const std::string& folder, std::span<const CExtractEntry> entries,
                    const CExtractOptions& options, CExtractReport& report) {
  report = CExtractReport{};
  CHandleGuard root(platform::OpenFolder(folder, true));
  if (root.Get() == platform::kInvalidHandle) {
    report.folderError = platform::LastErrorText();
    return;
  }
  CProgress progress;
  progress.entriesTotal = entries.size();
  for (const CExtractEntry& entry : entries) progress.bytesTotal += entry.size;

  CFolderWalk walk(root.Get());
#ifdef _WIN32
  std::map<std::string, std::string_view> firstOfCase;  // by WindowsCaseKey
#endif
  // Stops before the entries after `last`, counting them as left.
  const auto stop = [&](const CExtractEntry& last) {
    report.left = static_cast<size_t>(entries.data() + entries.size() - (&last + 1));
  };
  for (const CExtractEntry& entry : entries) {
    const auto problem = [&](std::string reason) { report.problems.push_back({std::string(entry.name), std::move(reason)}); };
    const NameProblem unsafe = CheckEntryName(entry.name);
    const std::vector<std::string_view> segments = unsafe == NameProblem::None ? SplitEntryName(entry.name)
                                                                              : std::vector<std::string_view>();
    if (unsafe != NameProblem::None) {
      problem(DescribeNameProblem(unsafe));
#ifdef _WIN32
    } else if (const WindowsNameProblem reserved = CheckWindowsEntryName(entry.name);
               reserved != WindowsNameProblem::None) {
      // Windows would open a device, drop the last dot or refuse the name.
      problem(DescribeWindowsNameProblem(reserved));
    } else if (const auto [first, isNew] = firstOfCase.try_emplace(WindowsCaseKey(entry.name), entry.name); !isNew) {
      // The same file on Windows: the second would overwrite the first.
      problem("differs only in letter case from '" + std::string(first->second) + "'");
#endif
    } else if (const platform::Handle at = walk.Enter(std::span(segments).first(segments.size() - 1), true);
               at == platform::kInvalidHandle) {
      const bool lasting = platform::LastErrorIsLasting();
      problem(platform::LastErrorText());
      if (lasting) return stop(entry);
    } else {
      const uint64_t before = progress.bytesDone;
      CWriteOutcome outcome;
      const bool ok = WriteEntryFile(at, std::string(segments.back()), entry, options.protect,
                                     [&](uint64_t done) {
                                       progress.bytesDone = before + done;
                                       return !options.progress || options.progress(progress);
                                     },
                                     outcome);
      if (outcome.stopped) {
        report.cancelled = true;
        return;
      }
      if (outcome.cut) {
        // Whatever the archive holds now is not what its index described:
        // no later entry can be trusted either.
        report.archiveChanged = true;
        problem(std::string("the archive ") + kArchiveChangedWords + "; what was written of its file was removed");
        return stop(entry);
      }
      if (!ok) {
        problem(outcome.reason);
        if (outcome.lasting) return stop(entry);
      } else if (entry.claimed > entry.size) {
        problem("cut short by the end of the archive (" + std::to_string(entry.size) + " of " +
                std::to_string(entry.claimed) + " bytes written)");
      } else {
        ++report.written;
      }
      progress.bytesDone = before + entry.size;
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
  const platform::Handle file =
      platform::CreateFile(path, platform::kGenericRead, platform::kOpenExisting, platform::kFileShareRead);
  if (file == platform::kInvalidHandle) return std::nullopt;
  platform::NodeInfo info;
  const bool known = platform::InspectFile(file, info);
  platform::CloseHandle(file);
  return known ? std::optional(info.identity) : std::nullopt;
}

void SplitUserPath(const std::string& path, std::string& folder, std::string& name) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    folder = ".";
    name = path;
    return;
  }
  folder = slash == 0 ? "/" : path.substr(0, slash);
  name = path.substr(slash + 1);
}

bool WriteFileReplacing(const std::string& path, const CDataBuffer& bytes,
                        const std::optional<platform::FileIdentity>& protect, std::string& reason) {
  std::string folderPath, name;
  SplitUserPath(path, folderPath, name);
  if (name.empty() || name == "." || name == "..") {
    reason = "not a file name";
    return false;
  }
  CHandleGuard folder(platform::OpenFolder(folderPath, false));
  if (folder.Get() == platform::kInvalidHandle) {
    reason = platform::LastErrorText();
    return false;
  }
  platform::NodeInfo there;
  if (!platform::InspectAt(folder.Get(), name, there)) {
    reason = platform::LastErrorText();
    return false;
  }
  if (there.kind == platform::NodeKind::Folder) {
    reason = "is a folder";
    return false;
  }
  if (protect && there.identity == *protect && there.kind == platform::NodeKind::File) {
    reason = "would replace the archive itself";
    return false;
  }
  std::string temp;
  CHandleGuard file(platform::CreateTempFileAt(folder.Get(), kTempPrefix, temp));
  if (file.Get() == platform::kInvalidHandle) {
    reason = platform::LastErrorText();
    return false;
  }
  platform::RemoveOnInterrupt(folder.Get(), temp);
  bool ok = WriteBytesTo(file.Get(), bytes.GetData(), bytes.GetSize(), nullptr);
  // Bytes of an archive cut short since it was opened: zeros, not the entry.
  const bool cut = bytes.IsCutOnDisk();
  ok = ok && !cut && platform::SyncFile(file.Get());
  file.Close();
  // The user chose this name, so a link there is replaced by the file
  // rather than written through.
  ok = ok && platform::RenameAt(folder.Get(), temp, name);
  if (!ok) {
    reason = cut ? std::string("the archive ") + kArchiveChangedWords : platform::LastErrorText();
    platform::RemoveAt(folder.Get(), temp);
  }
  platform::RemoveOnInterrupt(platform::kInvalidHandle, std::string());
  return ok;
}
