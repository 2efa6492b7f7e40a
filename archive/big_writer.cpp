#include "archive/big_writer.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "archive/big_archive.h"
#include "archive/entry_map.h"
#include "archive/entry_path.h"
#include "archive/windows_names.h"
#include "storage/handle_owner.h"
#include "storage/replacing_file.h"

namespace {

constexpr uint32_t kHeaderBytes = 16;

void PutLE32(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void PutBE32(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

uint64_t RecordBytes(const std::string& name) { return 8 + name.size() + 1; }

// The archive being written, as found before packing: never packed into
// itself, under its own name or any other.
struct CArchiveSpot {
  platform::FileIdentity file;
  platform::FileIdentity folder;
  std::string name;
};

// Walks one folder input.
class CFolderGatherer {
 public:
  CFolderGatherer(CBigWriter& writer, std::vector<CEntryProblem>& problems,
                  const std::optional<CArchiveSpot>& skip, int root)
      : m_writer(writer), m_problems(problems), m_skip(skip), m_root(root) {}

  // Every file below `root`, whose path for messages is `shown`. Without
  // recursion, so no tree can exhaust the stack: one frame per folder on the
  // way down, and one entry name and one shown path that grow and shrink
  // with them.
  void Walk(platform::Handle root, std::string shown) {
    std::vector<CFrame> frames;
    std::string name;  // the entry name of the folder being listed, "" or ending in '\'
    if (!Enter(frames, root, CHandleOwner(), shown)) return;
    while (!frames.empty()) {
      CFrame& frame = frames.back();
      if (frame.next == frame.items.size()) {
        name.resize(frame.nameLength);
        shown.resize(frame.shownLength);
        frames.pop_back();
        continue;
      }
      const platform::FolderItem& item = frame.items[frame.next++];
      const size_t nameLength = name.size();
      const size_t shownLength = shown.size();
      name += item.name;
      shown += '/';
      shown += item.name;
      if (Visit(frames, item, name, shown)) continue;  // went down: the path stays
      name.resize(nameLength);
      shown.resize(shownLength);
    }
  }

 private:
  struct CFrame {
    platform::Handle folder;
    CHandleOwner owner;  // none for the input itself, which is the caller's
    std::vector<platform::FolderItem> items;
    size_t next = 0;
    size_t nameLength = 0;  // of the name and path above this folder
    size_t shownLength = 0;
  };

  // Lists `folder`, whose path for messages is `shown`, into a new frame.
  bool Enter(std::vector<CFrame>& frames, platform::Handle folder, CHandleOwner owner,
             const std::string& shown) {
    std::vector<platform::FolderItem> items;
    if (const platform::Error error = platform::ListFolder(folder, items); error.Failed()) {
      Problem(shown, error.Text());
      return false;
    }
    // In byte order, so problems come out in the same order on every run.
    std::sort(items.begin(), items.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    frames.push_back({folder, std::move(owner), std::move(items), 0, 0, 0});
    return true;
  }

  // Takes in one item; true when it was a folder that was entered, which
  // then owns the extended `name` and `shown`.
  bool Visit(std::vector<CFrame>& frames, const platform::FolderItem& item, std::string& name,
             std::string& shown) {
    if (item.info.kind == platform::NodeKind::Link)
      return Problem(shown, "symbolic link (not followed)"), false;
    if (item.info.kind == platform::NodeKind::Other)
      return Problem(shown, "not a regular file or folder"), false;
    // A '\' inside one name would read as a separator when extracted.
    if (item.name.find('\\') != std::string::npos)
      return Problem(shown, "name holds a '\\'"), false;
    if (const CStatus unsafe = CheckEntryName(name); !unsafe.IsOk())
      return Problem(shown, unsafe.GetWords()), false;
    const platform::Handle folder = frames.back().folder;
    if (item.info.kind == platform::NodeKind::Folder) {
      if (frames.size() > kMostPackDepth) {
        return Problem(shown,
                       "folders nested more than " + std::to_string(kMostPackDepth) + " deep"),
               false;
      }
      const platform::Result<platform::Handle> opened =
          platform::OpenFolderAt(folder, item.name, false);
      if (!opened) return Problem(shown, opened.GetError().Text()), false;
      CHandleOwner below(*opened);
      const size_t nameLength = name.size() - item.name.size();
      const size_t shownLength = shown.size() - item.name.size() - 1;
      name += '\\';
      if (!Enter(frames, *opened, std::move(below), shown)) {
        name.pop_back();
        return false;
      }
      frames.back().nameLength = nameLength;
      frames.back().shownLength = shownLength;
      return true;
    }
    // The archive being replaced is never its own input; another name for
    // it (a hard link) would leave a hole in what the user asked for.
    if (m_skip && item.info.identity == m_skip->file) {
      platform::NodeInfo here;
      if (item.name == m_skip->name && !platform::InspectFile(folder, here).Failed() &&
          here.identity == m_skip->folder)
        return false;
      return Problem(shown, "is a hard link of the archive being written"), false;
    }
    // Nothing is written until every input has been found readable. (A
    // file that cannot be opened after all when it is copied still
    // fails the whole pack; the temporary file then goes.)
    if (const platform::Error error = platform::CanReadAt(folder, item.name); error.Failed())
      return Problem(shown, error.Text()), false;
    if (const CStatus clash = m_writer.AddInput(
            name,
            CPackSource{m_root, CDataBuffer(), item.info.size, item.info.identity, {}, 0, {}});
        !clash.IsOk())
      Problem("entry '" + name + "'", clash.GetWords());
    return false;
  }

  void Problem(const std::string& path, std::string reason) {
    m_problems.push_back({path, std::move(reason)});
  }

  CBigWriter& m_writer;
  std::vector<CEntryProblem>& m_problems;
  const std::optional<CArchiveSpot>& m_skip;
  int m_root;
};

// `replaced`: the archive the one written replaces, if any.
void GatherArchive(const std::string& path, const std::optional<CArchiveSpot>& replaced,
                   CBigWriter& writer, std::vector<CEntryProblem>& problems) {
  CBigArchive reader;
  if (reader.Open(path) != 0) {
    problems.push_back({path, reader.GetStatus().GetWords()});
    return;
  }
  const std::optional<CFileStamp>& stamp = reader.GetHeldFile().stamp;
  if (replaced && stamp && stamp->identity == replaced->file) writer.Replaces(stamp);
  const auto input = std::make_shared<const CPackInput>(CPackInput{path, reader.GetHeldFile()});
  for (const CExtractEntry& entry : EntriesToExtract(reader)) {
    const std::string shown = path + ": entry '" + std::string(entry.name) + "'";
    if (entry.claimed > entry.size) {
      problems.push_back({shown, "reaches past the end of the archive"});
    } else if (const CStatus unsafe = CheckEntryName(entry.name); !unsafe.IsOk()) {
      problems.push_back({shown, unsafe.GetWords()});
    } else if (const CStatus clash = writer.AddInput(
                   std::string(entry.name),
                   CPackSource{-1, entry.bytes, entry.size, {}, entry.file, entry.offset, input});
               !clash.IsOk()) {
      problems.push_back({shown, clash.GetWords()});
    }
  }
}

void GatherFolder(platform::Handle root, const std::string& path,
                  const std::optional<CArchiveSpot>& skip, CBigWriter& writer,
                  std::vector<CEntryProblem>& problems) {
  CFolderGatherer gatherer(writer, problems, skip, writer.AddRoot(path));
  std::string shown = path;
  while (shown.size() > 1 && shown.back() == '/') shown.pop_back();
  gatherer.Walk(root, shown);
}

}  // namespace

void GatherPackFolder(platform::Handle root, const std::string& path, CBigWriter& writer,
                      std::vector<CEntryProblem>& problems) {
  writer.BeginInput();
  GatherFolder(root, path, std::nullopt, writer, problems);
}

int CBigWriter::AddRoot(const std::string& path) {
  m_roots.push_back(path);
  return static_cast<int>(m_roots.size()) - 1;
}

void CBigWriter::Add(std::string name, CPackSource source) {
  // Names most often come in byte order (an archive's entries, saved or
  // rewritten): one past the last goes at the end without a search. The
  // search was half of gathering the 100,000 entries of an archive to save
  // (14 ms of a 58 ms save).
  if (m_entries.empty() || m_entries.rbegin()->first < name) {
    m_entries.emplace_hint(m_entries.end(), std::move(name), std::move(source));
    return;
  }
  m_entries.insert_or_assign(std::move(name), std::move(source));
}

void CBigWriter::AddBytes(std::string name, const CDataBuffer& bytes,
                          std::shared_ptr<const CPackInput> input) {
  Add(std::move(name), CPackSource{-1, bytes, bytes.GetSize(), {}, {}, 0, std::move(input)});
}

CStatus CBigWriter::AddInput(std::string name, CPackSource source) {
  const auto [path, isNew] = m_paths.try_emplace(EntryKey(name), CInputName{name, m_input});
  if (!isNew && path->second.name != name) {
    // "c/y" and "c\\y" are one file once extracted: a later input's
    // replaces the earlier, under its own spelling. Two of one input, or
    // two that differ in letter case, are not the user's choice of one.
    const std::string& earlier = path->second.name;
    if (path->second.input == m_input || EntryKey(earlier, false) != EntryKey(name, false))
      return CStatus::Failure(name, SameEntryWords(earlier, name));
    m_entries.erase(earlier);
    path->second.name = name;
  }
  path->second.input = m_input;
  Add(std::move(name), std::move(source));
  return {};
}

void CBigWriter::AddFileRange(std::string name, uint64_t size, const CHandleHolder& file,
                              uint64_t offset, std::shared_ptr<const CPackInput> input) {
  Add(std::move(name), CPackSource{-1, CDataBuffer(), size, {}, file, offset, std::move(input)});
}

uint64_t CBigWriter::GetArchiveSize() const {
  uint64_t total = kHeaderBytes;
  for (const auto& [name, source] : m_entries) total += RecordBytes(name) + source.size;
  return total;
}

std::vector<const CPackInput*> CBigWriter::Inputs() const {
  std::vector<const CPackInput*> inputs;
  for (const auto& [name, source] : m_entries)
    if (source.input && (inputs.empty() || inputs.back() != source.input.get()))
      inputs.push_back(source.input.get());
  std::sort(inputs.begin(), inputs.end());
  inputs.erase(std::unique(inputs.begin(), inputs.end()), inputs.end());
  return inputs;
}

CStatus CBigWriter::Write(const std::string& path, const ProgressFn& progress) {
  const uint64_t total = GetArchiveSize();
  if (total > kMostArchiveBytes)
    return CStatus::Failure(
        path, "the archive would be " + std::to_string(total) + " bytes, 2 GiB or more");
  // No protected file: an archive may be replaced by one made from itself,
  // but only while it is still the file that was read.
  CReplaceOptions options{std::nullopt, false, m_replaced};
  const std::vector<const CPackInput*> inputs = Inputs();
  if (const std::optional<CFileStamp> there = options.expect ? std::nullopt : StampOfFile(path)) {
    for (const CPackInput* input : inputs)
      if (input->file.stamp && input->file.stamp->identity == there->identity)
        options.expect = input->file.stamp;
  }
  return WriteFileReplacing(
      path,
      [&](platform::Handle out) {
        CStatus written = WriteEntries(out, path, progress);
        // Another program wrote to an input while its bytes were copied:
        // the copy may hold some of the old file and some of the new.
        for (const CPackInput* input : inputs) {
          if (!written.IsOk() || !input->file.Changed()) continue;
          const std::string which = input->path == path ? "the archive" : "'" + input->path + "'";
          written = CStatus::Failure(path, which + " " + kArchiveChangedWords + "; not written");
        }
        // Windows refuses to rename over a file that is open or mapped.
        for (auto& [entryName, source] : m_entries) {
          source.bytes = CDataBuffer();
          source.file.Release();
          source.input.reset();
        }
        return written;
      },
      options);
}

namespace {

// The index the entries make: header and one record per entry, names in
// byte order, bytes laid out right after it in the same order.
std::string MakeIndex(const std::map<std::string, CPackSource, std::less<>>& entries,
                      uint64_t total, uint64_t headerSize) {
  std::string index;
  index.reserve(static_cast<size_t>(headerSize));
  index += "BIGF";
  PutLE32(index, static_cast<uint32_t>(total));
  PutBE32(index, static_cast<uint32_t>(entries.size()));
  PutBE32(index, static_cast<uint32_t>(headerSize));
  uint64_t offset = headerSize;
  for (const auto& [name, source] : entries) {
    PutBE32(index, static_cast<uint32_t>(offset));
    PutBE32(index, static_cast<uint32_t>(source.size));
    index += name;
    index += '\0';
    offset += source.size;
  }
  return index;
}

// Appends entries' bytes to the archive being written, each the cheapest
// way its source allows. Every failure returns false and keeps its status,
// about the archive at `path`.
class CEntryCopier {
 public:
  CEntryCopier(platform::Handle out, const std::string& path) : m_out(out), m_path(path) {}

  const CStatus& GetStatus() const { return m_status; }

  // Opens the folder inputs that file sources are found under.
  bool OpenRoots(const std::vector<std::string>& roots) {
    for (const std::string& root : roots) {
      const platform::Result<platform::Handle> opened = platform::OpenFolder(root, false);
      if (!opened) return Fail(root + ": " + opened.GetError().Text());
      m_roots.push_back(CHandleOwner(*opened));
      m_walks.push_back(std::make_unique<CFolderWalk>(m_roots.back().Get()));
    }
    return true;
  }

  // Entries that lie back to back in an open file (the unchanged entries of
  // an archive saved with changes, the entries of an archive input that
  // could not be mapped) go over in one kernel copy a run, however many
  // entries the run holds.
  bool AddToRun(const std::string& name, const CPackSource& source) {
    if (m_run.size != 0 &&
        (m_run.file != source.file.Get() || m_run.offset + m_run.size != source.offset) &&
        !FlushRun())
      return false;
    if (m_run.size == 0) {
      if (!FlushGathered()) return WriteFailed();
      m_run.file = source.file.Get();
      m_run.offset = source.offset;
    }
    m_run.size += source.size;
    m_run.entries.emplace_back(&name, &source);
    return true;
  }

  // Bytes in memory: a slice of a mapped archive input, or new bytes.
  bool CopyBytes(const std::string& name, const CPackSource& source,
                 const std::function<bool(uint64_t)>& onPiece) {
    if (!FlushRun()) return false;
    if (!FlushGathered()) return WriteFailed();
    CExtractEntry entry;
    entry.bytes = source.bytes;
    entry.size = source.size;
    const CStatus copied = CopyEntryTo(m_out, entry, onPiece);
    switch (copied.GetKind()) {
      case CStatus::Kind::Ok: return true;
      // The archive input was cut short since it was read: its bytes are no
      // longer what its index promised.
      case CStatus::Kind::SourceChanged:
        return Fail((source.input ? source.input->path : std::string()) + ": " + name +
                    ": changed while packing");
      case CStatus::Kind::Cancelled: return Fail("cancelled");
      default: return Fail("cannot write: " + copied.GetWords());
    }
  }

  // A file under folder input `source.root`, found there when gathered.
  bool CopyFile(const std::string& shown, const std::string& name, const CPackSource& source) {
    if (!FlushRun()) return false;
    const std::vector<std::string_view> parts = SplitEntryName(name);
    const CResult<platform::Handle> at = m_walks[static_cast<size_t>(source.root)]->Enter(
        std::span(parts).first(parts.size() - 1), false);
    if (!at) return Fail(shown + ": " + at.GetStatus().GetWords());
    platform::NodeInfo now;
    const platform::Result<platform::Handle> opened =
        platform::OpenFileAt(*at, std::string(parts.back()), &now);
    if (!opened) return Fail(shown + ": " + opened.GetError().Text());
    const CHandleOwner file(*opened);
    // The size went into the index already: a file that changed since it
    // was found would make the archive lie.
    if (now.identity != source.identity || now.size != source.size)
      return Fail(shown + ": changed while packing");
    if (source.size <= kSmallFile) {
      if (m_used + source.size > kGatherBytes && !FlushGathered()) return WriteFailed();
      if (source.size > 0) {
        const platform::Error error = platform::ReadAt(file.Get(), 0, m_gathered.get() + m_used,
                                                       static_cast<uint32_t>(source.size));
        if (error.Failed()) return Fail(shown + ": " + error.Text());
      }
      m_used += static_cast<size_t>(source.size);
      return true;
    }
    if (!FlushGathered()) return WriteFailed();
    const platform::Result<int64_t> copied =
        platform::CopyRange(file.Get(), 0, m_out, static_cast<int64_t>(source.size));
    if (!copied) return m_error = copied.GetError(), WriteFailed();
    if (*copied != static_cast<int64_t>(source.size))
      return Fail(shown + ": changed while packing");
    return true;
  }

  // Writes out what is still held back.
  bool Finish() { return FlushRun() && (FlushGathered() || WriteFailed()); }

 private:
  // Small files are gathered here and written together: one write for many
  // of them costs less than a copy call for each.
  static constexpr size_t kGatherBytes = size_t{1} << 20;
  static constexpr uint64_t kSmallFile = 64 * 1024;

  bool Fail(std::string words) {
    m_status = CStatus::Failure(m_path, std::move(words));
    return false;
  }
  // After a failed write or copy, which left its reason in m_error.
  bool WriteFailed() { return Fail("cannot write: " + m_error.Text()); }

  bool FlushGathered() {
    m_error = platform::WriteAll(m_out, m_gathered.get(), m_used);
    m_used = 0;
    return !m_error.Failed();
  }

  bool FlushRun() {
    if (m_run.size == 0) return true;
    const platform::Result<int64_t> result = platform::CopyRange(
        m_run.file, static_cast<int64_t>(m_run.offset), m_out, static_cast<int64_t>(m_run.size));
    if (!result) return m_error = result.GetError(), WriteFailed();
    const int64_t copied = *result;
    // The sizes went into the index already: a source cut short since it
    // was read would make the archive lie. Named by the entry it cut.
    if (static_cast<uint64_t>(copied) != m_run.size) {
      uint64_t at = 0;
      for (const auto& [name, source] : m_run.entries) {
        at += source->size;
        if (at <= static_cast<uint64_t>(copied)) continue;
        return Fail(source->input ? source->input->path + ": " + *name + ": changed while packing"
                                  : std::string("the archive ") + kArchiveChangedWords);
      }
      return Fail(std::string("the archive ") + kArchiveChangedWords);
    }
    m_run.size = 0;
    m_run.entries.clear();
    return true;
  }

  platform::Handle m_out;
  const std::string& m_path;
  CStatus m_status;
  platform::Error m_error;
  std::vector<CHandleOwner> m_roots;
  std::vector<std::unique_ptr<CFolderWalk>> m_walks;
  std::unique_ptr<char[]> m_gathered{new char[kGatherBytes]};
  size_t m_used = 0;
  struct {
    platform::Handle file = platform::kInvalidHandle;
    uint64_t offset = 0;
    uint64_t size = 0;
    std::vector<std::pair<const std::string*, const CPackSource*>> entries;
  } m_run;
};

}  // namespace

CStatus CBigWriter::WriteEntries(platform::Handle out, const std::string& path,
                                 const ProgressFn& progress) const {
  const uint64_t total = GetArchiveSize();
  uint64_t headerSize = kHeaderBytes;
  for (const auto& [name, source] : m_entries) headerSize += RecordBytes(name);
  const std::string index = MakeIndex(m_entries, total, headerSize);
  if (const platform::Error error = platform::WriteAll(out, index.data(), index.size());
      error.Failed())
    return CStatus::Failure(path, "cannot write: " + error.Text());
  CEntryCopier copier(out, path);
  if (!copier.OpenRoots(m_roots)) return copier.GetStatus();

  CProgress done{0, m_entries.size(), 0, total - headerSize};
  for (const auto& [name, source] : m_entries) {
    const uint64_t before = done.bytesDone;
    const auto onPiece = [&](uint64_t piece) {
      done.bytesDone = before + piece;
      return !progress || progress(done);
    };
    bool copied = false;
    if (source.file && !source.bytes.HasData()) copied = copier.AddToRun(name, source);
    else if (source.root < 0) copied = copier.CopyBytes(name, source, onPiece);
    else
      copied =
          copier.CopyFile(m_roots[static_cast<size_t>(source.root)] + ": " + name, name, source);
    if (!copied) return copier.GetStatus();
    done.bytesDone = before + source.size;
    ++done.entriesDone;
    if (progress && !progress(done)) return CStatus::Failure(path, "cancelled");
  }
  copier.Finish();
  return copier.GetStatus();
}

namespace {

// What stands at the archive's path now: never an input of a folder walk,
// and it must be a regular file or nothing. Anything else is refused
// before a byte is written: renaming over a device or a FIFO would take
// its name from it, and over a link would drop the link.
std::optional<CArchiveSpot> FindArchiveSpot(const std::string& archive,
                                            std::vector<CEntryProblem>& problems) {
  std::optional<CArchiveSpot> existing;
  std::string folderPath, name;
  SplitUserPath(archive, folderPath, name);
  const platform::Result<platform::Handle> opened = platform::OpenFolder(folderPath, false);
  const CHandleOwner folder(*opened);
  platform::NodeInfo there, folderInfo;
  platform::Error error = opened.GetError();
  if (!error.Failed()) error = platform::InspectAt(folder.Get(), name, there);
  if (!error.Failed()) error = platform::InspectFile(folder.Get(), folderInfo);
  if (name.empty() || name == "." || name == "..") {
    problems.push_back({archive, "not a file name"});
  } else if (error.Failed()) {
    problems.push_back({archive, error.Text()});
  } else if (there.kind == platform::NodeKind::Folder) {
    problems.push_back({archive, "is a folder"});
  } else if (there.kind == platform::NodeKind::Link) {
    problems.push_back({archive, "is a symbolic link (not replaced)"});
  } else if (there.kind == platform::NodeKind::Other) {
    problems.push_back({archive, "is not a regular file (not replaced)"});
  } else if (there.kind == platform::NodeKind::File) {
    existing = CArchiveSpot{there.identity, folderInfo.identity, name};
  }
  return existing;
}

}  // namespace

void GatherPackInputs(const std::string& archive, std::span<const std::string> inputs,
                      CBigWriter& writer, std::vector<CEntryProblem>& problems) {
  const std::optional<CArchiveSpot> existing = FindArchiveSpot(archive, problems);
  for (const std::string& input : inputs) {
    writer.BeginInput();
    const CHandleOwner root(*platform::OpenFolder(input, false));
    if (root) {
      GatherFolder(root.Get(), input, existing, writer, problems);
    } else {
      GatherArchive(input, existing, writer, problems);
    }
  }

  // An entry that is a file and also a folder of another ("a" and "a\\b",
  // or "a/b"), with either separator, could not be extracted whole.
  // The keys of IsSameEntry, so "A" and "a\\b" meet too where names fold case.
  const auto& paths = writer.GetPaths();
  for (const auto& [key, entry] : paths) {
    const auto below = paths.lower_bound(key + '\\');
    if (below != paths.end() && below->first.compare(0, key.size() + 1, key + '\\') == 0)
      problems.push_back({"entry '" + entry.name + "'",
                          "is both a file and a folder ('" + below->second.name + "')"});
  }
#ifdef _WIN32
  // An archive made here is meant to be extracted here: names Windows
  // cannot hold are refused now rather than found when extracting (two that
  // are one file to it, AddInput refused already).
  for (const auto& [entry, source] : writer.GetEntries()) {
    if (const CStatus reserved = CheckWindowsEntryName(entry); !reserved.IsOk())
      problems.push_back({"entry '" + entry + "'", reserved.GetWords()});
  }
#endif
  if (writer.GetArchiveSize() > kMostArchiveBytes)
    problems.push_back({archive, "the archive would be " + std::to_string(writer.GetArchiveSize()) +
                                     " bytes, 2 GiB or more"});
}

void GatherRemoval(const std::string& archive, std::span<const std::string> removed,
                   CBigWriter& writer, std::vector<CEntryProblem>& problems) {
  CBigArchive reader;
  if (reader.Open(archive) != 0) {
    problems.push_back({archive, reader.GetStatus().GetWords()});
    return;
  }
  FindArchiveSpot(archive, problems);  // the archive opened through a link is not replaced
  const std::set<std::string_view, std::less<>> named(removed.begin(), removed.end());
  const CBigIndex& index = reader.GetIndex();
  for (const std::string_view name : named) {
    if (index.find(name) != index.end()) continue;
    // Another spelling of an entry is another entry: named, not taken.
    std::string words = "no such entry";
    for (const auto& [other, entry] : index)
      if (IsSameEntry(other, name)) words += " (the archive holds '" + std::string(other) + "')";
    problems.push_back({std::string(name), std::move(words)});
  }
  const auto input = std::make_shared<const CPackInput>(CPackInput{archive, reader.GetHeldFile()});
  writer.Replaces(reader.GetHeldFile().stamp);
  for (const CExtractEntry& entry : EntriesToExtract(reader)) {
    if (named.contains(entry.name)) continue;
    // Its size goes into the index, and the bytes past the end are not
    // there: whatever were written would not be the entry.
    if (entry.claimed > entry.size) {
      problems.push_back({archive + ": entry '" + std::string(entry.name) + "'",
                          "reaches past the end of the archive (remove it too)"});
      continue;
    }
    writer.Add(std::string(entry.name),
               CPackSource{-1, entry.bytes, entry.size, {}, entry.file, entry.offset, input});
  }
}
