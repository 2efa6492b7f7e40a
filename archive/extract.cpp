#include "archive/extract.h"

#include <algorithm>

#include "archive/big_archive.h"
#include "archive/entry_path.h"

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

// Writes `bytes` as the file `name` in `folder`. A file already there is
// replaced through a temporary file; anything else there is left alone and
// named in `reason`. `stopped` is set when `onPiece` asked to stop.
bool WriteEntryFile(platform::Handle folder, const std::string& name, const CDataBuffer& bytes,
                    const std::optional<platform::FileIdentity>& protect,
                    const std::function<bool(uint64_t)>& onPiece, std::string& reason, bool& stopped) {
  // Mostly nothing is there yet: try to create the file first, and look at
  // what stands there only when that fails.
  platform::Handle created = platform::CreateFileAt(folder, name);
  platform::NodeInfo there;
  if (created == platform::kInvalidHandle && !platform::InspectAt(folder, name, there)) {
    reason = platform::LastErrorText();
    return false;
  }
  if (created != platform::kInvalidHandle) there.kind = platform::NodeKind::Missing;
  switch (there.kind) {
    case platform::NodeKind::Link: reason = "symbolic link in the way"; return false;
    case platform::NodeKind::Folder: reason = "folder in the way"; return false;
    case platform::NodeKind::Other: reason = "special file in the way"; return false;
    case platform::NodeKind::File:
      if (protect && there.identity == *protect) {
        reason = "would replace the archive itself";
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
  if (file.Get() == platform::kInvalidHandle) {
    reason = platform::LastErrorText();
    return false;
  }
  platform::RemoveOnInterrupt(folder, written);
  bool ok = WriteBytesTo(file.Get(), bytes.GetData(), bytes.GetSize(), [&](uint64_t done) {
    if (onPiece(done)) return true;
    stopped = true;
    return false;
  });
  if (!ok && !stopped) reason = platform::LastErrorText();
  // The old file may go only once the new one is on the disk: a crash after
  // the rename must not leave an empty file where the old one was.
  if (ok && replacing && !platform::SyncFile(file.Get())) ok = false, reason = platform::LastErrorText();
  file.Close();
  if (ok && replacing && !platform::RenameAt(folder, written, name)) ok = false, reason = platform::LastErrorText();
  if (!ok) platform::RemoveAt(folder, written);
  platform::RemoveOnInterrupt(platform::kInvalidHandle, std::string());
  if (stopped) reason = "cancelled";
  return ok;
}

}  // namespace

bool WriteBytesTo(platform::Handle file, const uint8_t* data, size_t size,
                  const std::function<bool(uint64_t)>& onPiece) {
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
  for (const CExtractEntry& entry : entries) progress.bytesTotal += entry.bytes.GetSize();

  CFolderWalk walk(root.Get());
  for (const CExtractEntry& entry : entries) {
    const auto problem = [&](std::string reason) { report.problems.push_back({std::string(entry.name), std::move(reason)}); };
    const NameProblem unsafe = CheckEntryName(entry.name);
    const std::vector<std::string_view> segments = unsafe == NameProblem::None ? SplitEntryName(entry.name)
                                                                              : std::vector<std::string_view>();
    if (unsafe != NameProblem::None) {
      problem(DescribeNameProblem(unsafe));
    } else if (const platform::Handle at = walk.Enter(std::span(segments).first(segments.size() - 1), true);
               at == platform::kInvalidHandle) {
      problem(platform::LastErrorText());
    } else {
      const uint64_t before = progress.bytesDone;
      std::string reason;
      bool stopped = false;
      const bool ok = WriteEntryFile(at, std::string(segments.back()), entry.bytes, options.protect,
                                     [&](uint64_t done) {
                                       progress.bytesDone = before + done;
                                       return !options.progress || options.progress(progress);
                                     },
                                     reason, stopped);
      if (stopped) {
        report.cancelled = true;
        return;
      }
      if (!ok) {
        problem(reason);
      } else if (entry.claimed > entry.bytes.GetSize()) {
        problem("cut short by the end of the archive (" + std::to_string(entry.bytes.GetSize()) + " of " +
                std::to_string(entry.claimed) + " bytes written)");
      } else {
        ++report.written;
      }
      progress.bytesDone = before + entry.bytes.GetSize();
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
  const uint64_t total = whole.GetSize();
  std::vector<CExtractEntry> entries;
  entries.reserve(reader.GetIndex().size());
  for (const auto& [name, entry] : reader.GetIndex()) {
    // In 64 bits, so no offset of 2^31 or more becomes negative.
    const uint64_t begin = std::min<uint64_t>(entry.offset, total);
    const uint64_t size = std::min<uint64_t>(entry.size, total - begin);
    entries.push_back({name, whole.Slice(static_cast<int32_t>(begin), static_cast<int32_t>(size)), entry.size});
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
  bool ok = WriteBytesTo(file.Get(), bytes.GetData(), bytes.GetSize(), nullptr) && platform::SyncFile(file.Get());
  file.Close();
  // The user chose this name, so a link there is replaced by the file
  // rather than written through.
  ok = ok && platform::RenameAt(folder.Get(), temp, name);
  if (!ok) {
    reason = platform::LastErrorText();
    platform::RemoveAt(folder.Get(), temp);
  }
  platform::RemoveOnInterrupt(platform::kInvalidHandle, std::string());
  return ok;
}
