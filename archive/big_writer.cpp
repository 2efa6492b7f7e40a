#include "archive/big_writer.h"

#include <algorithm>
#include <map>
#include <memory>

#include "archive/big_archive.h"
#include "archive/entry_map.h"
#include "archive/entry_path.h"
#include "storage/windows_names.h"

namespace {

constexpr uint32_t kHeaderBytes = 16;

void PutLE32(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void PutBE32(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

uint64_t RecordBytes(const std::string& name) { return 8 + name.size() + 1; }

// Closes a folder or file handle on every way out.
struct CClose {
  void operator()(platform::Handle* handle) const {
    if (*handle != platform::kInvalidHandle) platform::CloseHandle(*handle);
    delete handle;
  }
};
using CHandleOwner = std::unique_ptr<platform::Handle, CClose>;
CHandleOwner Own(platform::Handle handle) { return CHandleOwner(new platform::Handle(handle)); }

// Walks one folder input.
class CFolderGatherer {
 public:
  CFolderGatherer(CBigWriter& writer, std::vector<CEntryProblem>& problems,
                  const std::optional<platform::FileIdentity>& skip, int root)
      : m_writer(writer), m_problems(problems), m_skip(skip), m_root(root) {}

  // `prefix` is the entry name of the folder ("" for the input, else ending
  // in '\'); `shown` its path for messages.
  void Walk(platform::Handle folder, const std::string& prefix, const std::string& shown) {
    std::vector<platform::FolderItem> items;
    if (!platform::ListFolder(folder, items)) return Problem(shown, platform::LastErrorText());
    // In byte order, so problems come out in the same order on every run.
    std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    for (const platform::FolderItem& item : items) {
      const std::string path = shown + "/" + item.name;
      const std::string name = prefix + item.name;
      if (item.info.kind == platform::NodeKind::Link) {
        Problem(path, "symbolic link (not followed)");
        continue;
      }
      if (item.info.kind == platform::NodeKind::Other) {
        Problem(path, "not a regular file or folder");
        continue;
      }
      // A '\' inside one name would read as a separator when extracted.
      if (item.name.find('\\') != std::string::npos) {
        Problem(path, "name holds a '\\'");
        continue;
      }
      if (const NameProblem unsafe = CheckEntryName(name); unsafe != NameProblem::None) {
        Problem(path, DescribeNameProblem(unsafe));
        continue;
      }
      if (item.info.kind == platform::NodeKind::Folder) {
        const CHandleOwner below = Own(platform::OpenFolderAt(folder, item.name, false));
        if (*below == platform::kInvalidHandle) {
          Problem(path, platform::LastErrorText());
          continue;
        }
        Walk(*below, name + "\\", path);
        continue;
      }
      // The archive being replaced is never its own input.
      if (m_skip && item.info.identity == *m_skip) continue;
      // Nothing is written until every input has been found readable. (A
      // file that cannot be opened after all when it is copied still
      // fails the whole pack; the temporary file then goes.)
      if (!platform::CanReadAt(folder, item.name)) {
        Problem(path, platform::LastErrorText());
        continue;
      }
      m_writer.Add(name, CPackSource{m_root, CDataBuffer(), item.info.size, item.info.identity});
    }
  }

 private:
  void Problem(const std::string& path, std::string reason) { m_problems.push_back({path, std::move(reason)}); }

  CBigWriter& m_writer;
  std::vector<CEntryProblem>& m_problems;
  const std::optional<platform::FileIdentity>& m_skip;
  int m_root;
};

void GatherArchive(const std::string& path, CBigWriter& writer, std::vector<CEntryProblem>& problems) {
  CBigArchive reader;
  if (reader.Open(path) != 0) {
    problems.push_back({path, CArchiveOpenError{reader.GetFailure(), reader.GetOpenError()}.Describe()});
    return;
  }
  for (const CExtractEntry& entry : EntriesToExtract(reader)) {
    const std::string shown = path + ": entry '" + std::string(entry.name) + "'";
    if (entry.claimed > entry.bytes.GetSize()) {
      problems.push_back({shown, "reaches past the end of the archive"});
    } else if (const NameProblem unsafe = CheckEntryName(entry.name); unsafe != NameProblem::None) {
      problems.push_back({shown, DescribeNameProblem(unsafe)});
    } else {
      writer.AddBytes(std::string(entry.name), entry.bytes);
    }
  }
}

}  // namespace

int CBigWriter::AddRoot(const std::string& path) {
  m_roots.push_back(path);
  return static_cast<int>(m_roots.size()) - 1;
}

void CBigWriter::Add(std::string name, CPackSource source) { m_entries.insert_or_assign(std::move(name), std::move(source)); }

void CBigWriter::AddBytes(std::string name, const CDataBuffer& bytes) {
  Add(std::move(name), CPackSource{-1, bytes, bytes.GetSize(), {}});
}

void CBigWriter::AddFileRange(std::string name, const CDataBuffer& bytes, platform::Handle file, uint64_t offset) {
  Add(std::move(name), CPackSource{-1, bytes, bytes.GetSize(), {}, file, offset});
}

uint64_t CBigWriter::GetArchiveSize() const {
  uint64_t total = kHeaderBytes;
  for (const auto& [name, source] : m_entries) total += RecordBytes(name) + source.size;
  return total;
}

bool CBigWriter::Write(const std::string& path, const ProgressFn& progress, std::string& reason) {
  const uint64_t total = GetArchiveSize();
  if (total > kMostArchiveBytes) {
    reason = "the archive would be " + std::to_string(total) + " bytes, 2 GiB or more";
    return false;
  }
  std::string folderPath, name;
  SplitUserPath(path, folderPath, name);
  if (name.empty() || name == "." || name == "..") {
    reason = "not a file name";
    return false;
  }
  const CHandleOwner folder = Own(platform::OpenFolder(folderPath, false));
  if (*folder == platform::kInvalidHandle) {
    reason = platform::LastErrorText();
    return false;
  }
  // The temporary name keeps the start of the archive's, so a person who
  // finds one left by a crash knows what it was.
  std::string temp;
  const CHandleOwner out = Own(platform::CreateTempFileAt(*folder, "." + name.substr(0, 200) + ".tarn-", temp));
  if (*out == platform::kInvalidHandle) {
    reason = platform::LastErrorText();
    return false;
  }
  platform::RemoveOnInterrupt(*folder, temp);
  bool ok = platform::CopyModeAt(*folder, name, *out);
  if (!ok) reason = platform::LastErrorText();
  ok = ok && WriteEntries(*out, progress, reason);
  // Flushed before the rename: a crash must leave the old archive or the
  // whole new one, never a name pointing at bytes not yet on the disk.
  if (ok && !platform::SyncFile(*out)) ok = false, reason = platform::LastErrorText();
  platform::CloseHandle(*out);
  *out = platform::kInvalidHandle;
  for (auto& [entryName, source] : m_entries) source.bytes = CDataBuffer();
  if (ok && !platform::RenameAt(*folder, temp, name)) ok = false, reason = platform::LastErrorText();
  if (ok) {
    platform::SyncFile(*folder);  // the rename itself; the archive is complete either way
  } else {
    platform::RemoveAt(*folder, temp);
  }
  platform::RemoveOnInterrupt(platform::kInvalidHandle, std::string());
  return ok;
}

bool CBigWriter::WriteEntries(platform::Handle out, const ProgressFn& progress, std::string& reason) const {
  const uint64_t total = GetArchiveSize();
  uint64_t headerSize = kHeaderBytes;
  for (const auto& [name, source] : m_entries) headerSize += RecordBytes(name);
  std::string index;
  index.reserve(static_cast<size_t>(headerSize));
  index += "BIGF";
  PutLE32(index, static_cast<uint32_t>(total));
  PutBE32(index, static_cast<uint32_t>(m_entries.size()));
  PutBE32(index, static_cast<uint32_t>(headerSize));
  uint64_t offset = headerSize;
  for (const auto& [name, source] : m_entries) {
    PutBE32(index, static_cast<uint32_t>(offset));
    PutBE32(index, static_cast<uint32_t>(source.size));
    index += name;
    index += '\0';
    offset += source.size;
  }
  const auto writeFailed = [&reason] {
    reason = "cannot write: " + platform::LastErrorText();
    return false;
  };
  if (!platform::WriteAll(out, index.data(), index.size())) return writeFailed();

  std::vector<CHandleOwner> roots;
  std::vector<std::unique_ptr<CFolderWalk>> walks;
  for (const std::string& root : m_roots) {
    roots.push_back(Own(platform::OpenFolder(root, false)));
    if (*roots.back() == platform::kInvalidHandle) {
      reason = root + ": " + platform::LastErrorText();
      return false;
    }
    walks.push_back(std::make_unique<CFolderWalk>(*roots.back()));
  }

  // Small files are gathered here and written together: one write for
  // many of them costs less than a copy call for each.
  constexpr size_t kGatherBytes = size_t{1} << 20;
  constexpr uint64_t kSmallFile = 64 * 1024;
  std::unique_ptr<char[]> gathered(new char[kGatherBytes]);
  size_t used = 0;
  const auto flush = [&] {
    const bool ok = platform::WriteAll(out, gathered.get(), used);
    used = 0;
    return ok;
  };

  // Entries that lie back to back in an open file (the unchanged entries
  // of an archive being saved with changes) go over in one kernel copy a
  // run, however many entries the run holds.
  struct CRun {
    platform::Handle file = platform::kInvalidHandle;
    uint64_t offset = 0;
    uint64_t size = 0;
  } run;
  const auto flushRun = [&](std::string& why) {
    if (run.size == 0) return true;
    const int64_t copied = platform::CopyRange(run.file, static_cast<int64_t>(run.offset), out, static_cast<int64_t>(run.size));
    if (copied < 0) return writeFailed();
    // The sizes went into the index already: a source cut short since
    // would make the archive lie.
    if (copied != static_cast<int64_t>(run.size)) return why = "the archive changed on disk while saving", false;
    run.size = 0;
    return true;
  };

  CProgress done{0, m_entries.size(), 0, total - headerSize};
  for (const auto& [name, source] : m_entries) {
    const uint64_t before = done.bytesDone;
    const auto onPiece = [&](uint64_t piece) {
      done.bytesDone = before + piece;
      return !progress || progress(done);
    };
    if (source.file != platform::kInvalidHandle) {
      if (run.size != 0 && (run.file != source.file || run.offset + run.size != source.fileOffset)) {
        if (!flushRun(reason)) return false;
      }
      if (run.size == 0) {
        if (!flush()) return writeFailed();
        run.file = source.file;
        run.offset = source.fileOffset;
      }
      run.size += source.size;
    } else if (source.root < 0) {
      if (!flushRun(reason)) return false;
      if (!flush()) return writeFailed();
      if (!WriteBytesTo(out, source.bytes.GetData(), source.bytes.GetSize(), onPiece)) {
        if (progress && !progress(done)) return reason = "cancelled", false;
        return writeFailed();
      }
    } else {
      if (!flushRun(reason)) return false;
      const std::vector<std::string_view> parts = SplitEntryName(name);
      const platform::Handle at = walks[static_cast<size_t>(source.root)]->Enter(std::span(parts).first(parts.size() - 1), false);
      const std::string shown = m_roots[static_cast<size_t>(source.root)] + ": " + name;
      if (at == platform::kInvalidHandle) return reason = shown + ": " + platform::LastErrorText(), false;
      platform::NodeInfo now;
      const CHandleOwner file = Own(platform::OpenFileAt(at, std::string(parts.back()), &now));
      if (*file == platform::kInvalidHandle) return reason = shown + ": " + platform::LastErrorText(), false;
      // The size went into the index already: a file that changed since
      // it was found would make the archive lie.
      if (now.identity != source.identity || now.size != source.size)
        return reason = shown + ": changed while packing", false;
      if (source.size <= kSmallFile) {
        if (used + source.size > kGatherBytes && !flush()) return writeFailed();
        if (source.size > 0 && !platform::ReadAt(*file, 0, gathered.get() + used, static_cast<uint32_t>(source.size)))
          return reason = shown + ": " + platform::LastErrorText(), false;
        used += static_cast<size_t>(source.size);
      } else {
        if (!flush()) return writeFailed();
        const int64_t copied = platform::CopyRange(*file, 0, out, static_cast<int64_t>(source.size));
        if (copied < 0) return writeFailed();
        if (copied != static_cast<int64_t>(source.size)) return reason = shown + ": changed while packing", false;
      }
    }
    done.bytesDone = before + source.size;
    ++done.entriesDone;
    if (progress && !progress(done)) return reason = "cancelled", false;
  }
  if (!flushRun(reason)) return false;
  if (!flush()) return writeFailed();
  return true;
}

void GatherPackInputs(const std::string& archive, std::span<const std::string> inputs, CBigWriter& writer,
                      std::vector<CEntryProblem>& problems) {
  // What stands at the archive's path now: never an input of a folder walk,
  // and it must be a file or nothing.
  std::optional<platform::FileIdentity> existing;
  std::string folderPath, name;
  SplitUserPath(archive, folderPath, name);
  const CHandleOwner folder = Own(platform::OpenFolder(folderPath, false));
  platform::NodeInfo there;
  if (name.empty() || name == "." || name == "..") {
    problems.push_back({archive, "not a file name"});
  } else if (*folder == platform::kInvalidHandle || !platform::InspectAt(*folder, name, there)) {
    problems.push_back({archive, platform::LastErrorText()});
  } else if (there.kind == platform::NodeKind::Folder) {
    problems.push_back({archive, "is a folder"});
  } else if (there.kind == platform::NodeKind::File) {
    existing = there.identity;
  }

  for (const std::string& input : inputs) {
    const CHandleOwner root = Own(platform::OpenFolder(input, false));
    if (*root != platform::kInvalidHandle) {
      CFolderGatherer gatherer(writer, problems, existing, writer.AddRoot(input));
      std::string shown = input;
      while (shown.size() > 1 && shown.back() == '/') shown.pop_back();
      gatherer.Walk(*root, "", shown);
    } else {
      GatherArchive(input, writer, problems);
    }
  }

  // An entry that is a file and also a folder of another ("a" and "a\b")
  // could not be extracted whole.
  const auto& entries = writer.GetEntries();
  for (const auto& [entry, source] : entries) {
    for (const char separator : {'\\', '/'}) {
      const auto below = entries.lower_bound(entry + separator);
      if (below != entries.end() && below->first.compare(0, entry.size() + 1, entry + separator) == 0) {
        problems.push_back({"entry '" + entry + "'", "is both a file and a folder ('" + below->first + "')"});
        break;
      }
    }
  }
#ifdef _WIN32
  // An archive made here is meant to be extracted here: names Windows
  // cannot hold, or two names that are the same file to it, are refused now
  // rather than found when extracting.
  std::map<std::string, std::string_view> firstOfCase;  // by WindowsCaseKey
  for (const auto& [entry, source] : entries) {
    if (const WindowsNameProblem reserved = CheckWindowsEntryName(entry); reserved != WindowsNameProblem::None) {
      problems.push_back({"entry '" + entry + "'", DescribeWindowsNameProblem(reserved)});
    } else if (const auto [first, isNew] = firstOfCase.try_emplace(WindowsCaseKey(entry), entry); !isNew) {
      problems.push_back({"entry '" + entry + "'", "differs only in letter case from '" + std::string(first->second) + "'"});
    }
  }
#endif
  if (writer.GetArchiveSize() > kMostArchiveBytes)
    problems.push_back({archive, "the archive would be " + std::to_string(writer.GetArchiveSize()) +
                                     " bytes, 2 GiB or more"});
}
