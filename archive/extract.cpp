#include "archive/extract.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "archive/big_archive.h"
#include "archive/entry_map.h"
#include "archive/entry_path.h"
#include "archive/windows_names.h"
#include "storage/handle_owner.h"
#include "threads/run_beside.h"

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
  // `lane`: the interrupt lane of the thread that writes it.
  CPendingFile(platform::Handle folder, std::string name, std::string tempPrefix, bool direct,
               std::string shown, int lane = 0)
      : m_folder(folder),
        m_name(std::move(name)),
        m_prefix(std::move(tempPrefix)),
        m_direct(direct),
        m_lane(lane),
        m_shown(std::move(shown)) {}
  ~CPendingFile() { Discard(); }
  CPendingFile(const CPendingFile&) = delete;
  CPendingFile& operator=(const CPendingFile&) = delete;

  // `replacing`: a file stands at the name now.
  bool Open(bool replacing) { return OpenUnnamed(replacing) || OpenNamed(replacing); }
  // A file without a name, where the system has such files; false, and no
  // status, where it has not.
  bool OpenUnnamed(bool replacing = false) {
    m_replacing = replacing;
    const platform::Result<platform::Handle> unnamed = platform::CreateUnnamedFileAt(m_folder);
    m_file = CHandleOwner(*unnamed);
    if (!m_file) return false;
    // Nothing to remove on an interrupt; this still makes a write past the
    // file-size limit fail rather than end the process.
    platform::RemoveOnInterrupt(platform::kInvalidHandle, std::string(), m_lane);
    return true;
  }
  bool OpenNamed(bool replacing) {
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
      if (replacing) platform::RemoveOnInterrupt(m_folder, m_written, m_lane);
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
    platform::RemoveOnInterrupt(platform::kInvalidHandle, std::string(), m_lane);
    if (!m_direct)
      platform::SyncFile(m_folder);  // the rename itself; the file is complete either way
    return true;
  }

  void Discard() {
    m_file.Close();
    if (!m_written.empty()) {
      platform::RemoveAt(m_folder, m_written);
      m_written.clear();
      platform::RemoveOnInterrupt(platform::kInvalidHandle, std::string(), m_lane);
    }
  }

  platform::Handle m_folder;
  std::string m_name;
  std::string m_prefix;
  bool m_direct;
  int m_lane;
  bool m_replacing = false;
  std::string m_shown;
  CHandleOwner m_file;
  std::string m_written;  // the name it has now; empty while it has none
  CStatus m_status;
};

// What became of one entry.
enum class CEntryResult : uint8_t {
  NotTried,    // the extraction stopped before it
  Written,     // whole
  CutShort,    // written, but the archive holds less than its record says
  Problem,     // not written, for `reason`
  Lasting,     // not written, for `reason`, which every later entry would meet
  ArchiveCut,  // the archive was cut short on disk while it was copied
  Cancelled,   // the progress function asked to stop
  Later,       // not yet tried: to be written after the others of its run
};
struct CEntryOutcome {
  CEntryResult result = CEntryResult::NotTried;
  std::string reason;
};

// Writes the entry's bytes as the file `name` in `folder`, replacing a file
// there; anything else there is left alone and named in the outcome's
// reason. `lane`: the interrupt lane of the calling thread.
CEntryOutcome WriteEntryFile(platform::Handle folder, const std::string& name,
                             const CExtractEntry& entry,
                             const std::optional<platform::FileIdentity>& protect, int lane,
                             const std::function<bool(uint64_t)>& onPiece) {
  const auto failed = [](const CStatus& status) {
    return CEntryOutcome{status.IsLasting() ? CEntryResult::Lasting : CEntryResult::Problem,
                         status.GetWords()};
  };
  CPendingFile file(folder, name, kTempPrefix, true, name, lane);
  // A file without a name needs no look at what stands at the name unless
  // the name turns out taken when it is linked in. A named one is made at
  // the name itself only where nothing stands there yet.
  if (!file.OpenUnnamed()) {
    platform::NodeInfo there;
    if (const platform::Error error = platform::InspectAt(folder, name, there); error.Failed())
      return failed(CStatus::FromSystem(name, error));
    if (const char* refused = InTheWay(there, protect, false))
      return {CEntryResult::Problem, CStatus::Failure(name, refused).GetWords()};
    // No space or a read-only disk: whatever stands there, nothing can be written.
    if (!file.OpenNamed(there.kind == platform::NodeKind::File)) return failed(file.GetStatus());
  }
  bool stopped = false;
  bool cut = false;
  platform::Error copyError;
  const bool ok = CopyEntryTo(
      file.Get(), entry,
      [&](uint64_t done) {
        if (!onPiece || onPiece(done)) return true;
        stopped = true;
        return false;
      },
      cut, copyError);
  if (stopped) return {CEntryResult::Cancelled, {}};
  if (cut) return {CEntryResult::ArchiveCut, {}};  // the pending file goes with `file`
  if (!ok) return failed(CStatus::FromSystem(name, copyError));
  if (!file.Commit(protect, false)) return failed(file.GetStatus());
  return {entry.claimed > entry.size ? CEntryResult::CutShort : CEntryResult::Written, {}};
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

  // Why `name` is not extracted; empty when it may be. Sets `meets` when the
  // name's file is a folder of an earlier name, or one of its folders an
  // earlier name's file: which of the two is written then depends on the
  // order the two are written in.
  std::string Refuse(std::string_view name, bool& meets) {
    if (const CStatus::Kind unsafe = CheckEntryName(name); unsafe != CStatus::Kind::Ok)
      return CStatus::WordsFor(unsafe);
#ifdef _WIN32
    // Windows would open a device, drop the last dot or refuse the name.
    if (const CStatus::Kind reserved = CheckWindowsEntryName(name); reserved != CStatus::Kind::Ok)
      return CStatus::WordsFor(reserved);
#endif
    // "a/b" and then "a\\b" (or, on Windows, "A" and then "a"): one file,
    // which the second would silently replace.
    std::string key = EntryKey(name);
    const size_t folderEnd = key.rfind('\\');
    if (folderEnd != std::string::npos)
      NoteFolders(std::string_view(key).substr(0, folderEnd), meets);
    if (m_folders.contains(key)) meets = true;
    if (const auto [first, isNew] = m_first.try_emplace(std::move(key), name); !isNew)
      return SameEntryWords(first->second, name);
    return {};
  }

 private:
  // Notes `folder` and each folder above it; entries of one folder come one
  // after another, so each is noted once, and what it met is kept for the
  // next name in it.
  void NoteFolders(std::string_view folder, bool& meets) {
    if (folder != m_lastFolder) {
      m_lastFolder = folder;
      m_lastFolderMeets = false;
      for (size_t end = folder.size(); end != std::string_view::npos && end > 0;
           end = folder.rfind('\\', end - 1)) {
        const std::string_view above = folder.substr(0, end);
        // Each folder above too: a file may have taken one of their names
        // since they were noted.
        if (m_first.contains(std::string(above))) m_lastFolderMeets = true;
        m_folders.emplace(above);
      }
    }
    meets = meets || m_lastFolderMeets;
  }

  // The first entry of each file, by the key that tells files apart here.
  std::unordered_map<std::string, std::string_view> m_first;
  // The folders of the files, by the same key.
  std::unordered_set<std::string> m_folders;
  std::string m_lastFolder;
  bool m_lastFolderMeets = false;
};

// Entries up to this size are written in one piece, with no progress call
// inside them, so another thread may write them.
constexpr uint64_t kSmallEntry = kPiece;
// The entries a thread takes at a time: neighbours mostly share a folder,
// which its walk then keeps open. bench/extract_pack_bench.sh, 10,000 files
// of a few KB to /dev/shm on two cores, mean wall time: 137 ms taking 1 at
// a time, 137 ms taking 4, 124 ms 16, 122 ms 64, 126 ms 256; on one thread
// 187 ms.
constexpr size_t kClaim = 64;
// Fewer small entries than this in a row are written on the caller's
// thread alone: starting a thread costs more than it saves. The first N of
// the same bench's files (TARN_BENCH_SMALL_FILES), median wall time on one
// thread against two: 128 files 4.4 against 4.3 ms, 256 7.7 against 6.9,
// 1,024 23.5 against 18.6.
constexpr size_t kLeastToSplit = 128;
// The most entries whose outcomes are held at once: memory, not speed.
constexpr size_t kMostRun = 65536;

// One extraction. Entries are written a run at a time, the small ones of a
// run by two threads at once; then what became of each is told to the
// report in the entries' order, whichever thread wrote it.
class CExtraction {
 public:
  CExtraction(platform::Handle root, std::span<const CExtractEntry> entries,
              const CExtractOptions& options, CExtractReport& report)
      : m_entries(entries),
        m_options(options),
        m_report(report),
        m_names(entries.size()),
        m_walks{CFolderWalk(root), CFolderWalk(root)} {
    m_progress.entriesTotal = entries.size();
    for (const CExtractEntry& entry : entries) m_progress.bytesTotal += entry.size;
  }

  void Run() {
    for (size_t first = 0; first < m_entries.size();) {
      const size_t end = LookAtRun(first);
      WriteRun(end);
      if (!Tell()) return;
      first = end;
    }
  }

 private:
  // Small, and in memory: the archive's file is read at a shared position
  // on Windows, so only one thread may copy from it.
  static bool IsSmall(const CExtractEntry& entry) {
    return entry.size <= kSmallEntry && (!entry.file || entry.bytes.HasData());
  }
  static bool Stops(CEntryResult result) {
    return result == CEntryResult::Lasting || result == CEntryResult::ArchiveCut ||
           result == CEntryResult::Cancelled;
  }

  // Sets up the run that starts at `first` and returns its end: a large
  // entry alone, whose progress is told piece by piece, or small ones. Their
  // names are judged here, in order; a name that meets an earlier one is
  // kept for after the others, which are written in any order.
  size_t LookAtRun(size_t first) {
    m_runFirst = first;
    m_outcomes.clear();
    m_inOrder.clear();
    size_t end = first;
    while (end < m_entries.size() && end - first < kMostRun) {
      if (!IsSmall(m_entries[end]) && end > first) break;
      bool meets = false;
      std::string refused = m_names.Refuse(m_entries[end].name, meets);
      if (!refused.empty()) m_outcomes.push_back({CEntryResult::Problem, std::move(refused)});
      else m_outcomes.emplace_back();
      if (meets && refused.empty()) {
        m_outcomes.back().result = CEntryResult::Later;
        m_inOrder.push_back(end);
      }
      if (!IsSmall(m_entries[end++])) break;
    }
    return end;
  }

  void WriteRun(size_t end) {
    m_next = m_runFirst;
    m_stopAt = end;
    if (end - m_runFirst < kLeastToSplit ||
        !TryRunBeside([&] { WriteEntries(0, end); }, [&] { WriteEntries(1, end); }))
      WriteEntries(0, end);
    for (const size_t i : m_inOrder) {
      if (i > m_stopAt || m_cancelled) break;
      Write(0, i);
    }
    TellProgress();  // with what the other thread did last
  }

  // Writes entries of the run up to `end` with the walk and interrupt lane
  // `lane`, while another thread may do the same. Once an entry stops the
  // extraction, none after it is begun, but every one before it is written.
  void WriteEntries(int lane, size_t end) {
    for (;;) {
      const size_t from = m_next.fetch_add(kClaim, std::memory_order_relaxed);
      for (size_t i = from; i < std::min(from + kClaim, end); ++i) {
        if (i > m_stopAt.load(std::memory_order_relaxed) || m_cancelled) return;
        CEntryOutcome& outcome = m_outcomes[i - m_runFirst];
        if (outcome.result == CEntryResult::NotTried) Write(lane, i);
        else if (outcome.result != CEntryResult::Later) Done(m_entries[i]);  // refused
        // The caller's thread tells the progress function, between entries.
        if (lane == 0) TellProgress();
      }
      if (from + kClaim >= end) return;
    }
  }

  void Write(int lane, size_t i) {
    CEntryOutcome& outcome = m_outcomes[i - m_runFirst];
    outcome = WriteOne(lane, m_entries[i]);
    Done(m_entries[i]);
    if (!Stops(outcome.result)) return;
    size_t stop = m_stopAt.load(std::memory_order_relaxed);
    while (i < stop && !m_stopAt.compare_exchange_weak(stop, i, std::memory_order_relaxed)) {}
  }

  CEntryOutcome WriteOne(int lane, const CExtractEntry& entry) {
    const std::vector<std::string_view> segments = SplitEntryName(entry.name);
    const platform::Result<platform::Handle> at =
        m_walks[lane].Enter(std::span(segments).first(segments.size() - 1), true);
    if (!at)
      return {at.GetError().IsLasting() ? CEntryResult::Lasting : CEntryResult::Problem,
              at.GetError().Text()};
    // Called only inside a large entry, which is a run of its own, written
    // on the caller's thread.
    const auto onPiece = [&](uint64_t done) {
      m_progress.bytesDone = m_bytesDone + done;
      return !m_options.progress || m_options.progress(m_progress);
    };
    return WriteEntryFile(*at, std::string(segments.back()), entry, m_options.protect, lane,
                          onPiece);
  }

  void Done(const CExtractEntry& entry) {
    m_bytesDone.fetch_add(entry.size, std::memory_order_relaxed);
    m_entriesDone.fetch_add(1, std::memory_order_relaxed);
  }

  // On the caller's thread only.
  void TellProgress() {
    const uint64_t done = m_entriesDone.load(std::memory_order_relaxed);
    if (done == m_progress.entriesDone || m_cancelled) return;
    m_progress.entriesDone = done;
    m_progress.bytesDone = m_bytesDone.load(std::memory_order_relaxed);
    if (m_options.progress && !m_options.progress(m_progress))
      m_cancelled = done < m_progress.entriesTotal;
  }

  // Tells the report what became of the run's entries, in their order;
  // false when the extraction ends with the run.
  bool Tell() {
    for (size_t k = 0; k < m_outcomes.size(); ++k) {
      const size_t i = m_runFirst + k;
      const CEntryOutcome& outcome = m_outcomes[k];
      switch (outcome.result) {
        case CEntryResult::Written: ++m_report.written; break;
        case CEntryResult::CutShort:
          Problem(i, "cut short by the end of the archive (" + std::to_string(m_entries[i].size) +
                         " of " + std::to_string(m_entries[i].claimed) + " bytes written)");
          break;
        case CEntryResult::Problem: Problem(i, outcome.reason); break;
        case CEntryResult::NotTried:
        case CEntryResult::Later: break;  // not begun once the progress function said stop
        case CEntryResult::Cancelled: m_report.cancelled = true; return false;
        case CEntryResult::Lasting:
        case CEntryResult::ArchiveCut: return TellStop(k);
      }
    }
    m_report.cancelled = m_cancelled;
    return !m_cancelled;
  }

  // The run's `k`th entry stopped the extraction. Of the entries after it,
  // those the other thread wrote meanwhile are counted; the rest are left.
  bool TellStop(size_t k) {
    const size_t at = m_runFirst + k;
    if (m_outcomes[k].result == CEntryResult::ArchiveCut) {
      // Whatever the archive holds now is not what its index described: no
      // later entry can be trusted either.
      m_report.archiveChanged = true;
      Problem(at, std::string("the archive ") + kArchiveChangedWords +
                      "; what was written of its file was removed");
    } else {
      Problem(at, m_outcomes[k].reason);
    }
    const size_t written = static_cast<size_t>(
        std::count_if(m_outcomes.begin() + static_cast<std::ptrdiff_t>(k) + 1, m_outcomes.end(),
                      [](const CEntryOutcome& o) { return o.result == CEntryResult::Written; }));
    m_report.written += written;
    m_report.left = m_entries.size() - at - 1 - written;
    return false;
  }

  void Problem(size_t i, std::string reason) {
    m_report.problems.push_back({std::string(m_entries[i].name), std::move(reason)});
  }

  std::span<const CExtractEntry> m_entries;
  const CExtractOptions& m_options;
  CExtractReport& m_report;
  CNameGuard m_names;
  CFolderWalk m_walks[2];  // one a thread, so each keeps its folders open
  CProgress m_progress;    // as last told, on the caller's thread
  std::atomic<uint64_t> m_entriesDone{0};
  std::atomic<uint64_t> m_bytesDone{0};
  std::atomic<bool> m_cancelled{false};  // the progress function said stop
  // The run: its first entry, what became of each, those to write in order
  // after the others, the first entry not yet taken, and the first that
  // stopped the extraction.
  size_t m_runFirst = 0;
  std::vector<CEntryOutcome> m_outcomes;
  std::vector<size_t> m_inOrder;
  std::atomic<size_t> m_next{0};
  std::atomic<size_t> m_stopAt{0};
};

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
  CExtraction(root.Get(), entries, options, report).Run();
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
