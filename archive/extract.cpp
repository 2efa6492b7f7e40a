#include "archive/extract.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "archive/big_archive.h"
#include "archive/entry_path.h"
#include "archive/windows_names.h"
#include "storage/handle_owner.h"
#include "storage/replacing_file.h"
#include "threads/run_beside.h"

namespace {

// What became of one entry.
enum class CEntryResult : uint8_t {
  NotTried,    // the extraction stopped before it
  Written,     // whole
  CutShort,    // written, but the archive holds less than its record says
  Problem,     // not written, for `reason`
  Lasting,     // not written, for `reason`, which every later entry would meet
  ArchiveCut,  // the archive was cut short or written to on disk while it was copied
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
                             const CExtractEntry& entry, const CExtractOptions& options, int lane,
                             const std::function<bool(uint64_t)>& onPiece) {
  const std::optional<platform::FileIdentity>& protect = options.protect;
  const auto failed = [](const CStatus& status) {
    return CEntryOutcome{status.IsLasting() ? CEntryResult::Lasting : CEntryResult::Problem,
                         status.GetWords()};
  };
  CPendingFile file(folder, name, kTempFilePrefix, true, name, lane);
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
  const CStatus copied = CopyEntryTo(file.Get(), entry, onPiece);
  switch (copied.GetKind()) {
    case CStatus::Kind::Ok: break;
    case CStatus::Kind::Cancelled: return {CEntryResult::Cancelled, {}};
    // The pending file goes with `file`.
    case CStatus::Kind::SourceChanged: return {CEntryResult::ArchiveCut, {}};
    default: return failed(copied.WithPath(name));
  }
  // Asked after the copy and before the file takes its name: bytes of an
  // archive rewritten meanwhile may be the new file's.
  if (options.archiveChanged && options.archiveChanged()) return {CEntryResult::ArchiveCut, {}};
  if (!file.Commit(protect, false)) return failed(file.GetStatus());
  return {entry.claimed > entry.size ? CEntryResult::CutShort : CEntryResult::Written, {}};
}

}  // namespace

CStatus CopyEntryTo(platform::Handle out, const CExtractEntry& entry,
                    const std::function<bool(uint64_t)>& onPiece) {
  if (!entry.file || entry.bytes.HasData()) {
    const CStatus written =
        WriteBytesTo(out, entry.bytes.GetData(), entry.bytes.GetSize(), onPiece);
    // Asked after the copy: a page cut away before it was copied reads as
    // zeros, and only the guard that put them there knows.
    if (written.GetKind() != CStatus::Kind::Cancelled && entry.bytes.IsCutOnDisk())
      return CStatus::Of(CStatus::Kind::SourceChanged);
    return written;
  }
  uint64_t done = 0;
  while (done < entry.size) {
    const uint64_t step = std::min<uint64_t>(kWritePiece, entry.size - done);
    const platform::Result<int64_t> copied =
        platform::CopyRange(entry.file.Get(), static_cast<int64_t>(entry.offset + done), out,
                            static_cast<int64_t>(step));
    if (!copied) return CStatus::FromSystem({}, copied.GetError());
    // The file ends before the index said it does: cut short since it was opened.
    if (static_cast<uint64_t>(*copied) != step) return CStatus::Of(CStatus::Kind::SourceChanged);
    done += step;
    if (onPiece && done < entry.size && !onPiece(done)) return CStatus::Of(CStatus::Kind::Cancelled);
  }
  return {};
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
    if (const CStatus unsafe = CheckEntryName(name); !unsafe.IsOk())
      return unsafe.GetWords();
#ifdef _WIN32
    // Windows would open a device, drop the last dot or refuse the name.
    if (const CStatus reserved = CheckWindowsEntryName(name); !reserved.IsOk())
      return reserved.GetWords();
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
constexpr uint64_t kSmallEntry = kWritePiece;
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
    const CResult<platform::Handle> at =
        m_walks[lane].Enter(std::span(segments).first(segments.size() - 1), true);
    if (!at)
      return {at.GetStatus().IsLasting() ? CEntryResult::Lasting : CEntryResult::Problem,
              at.GetStatus().GetWords()};
    // Called only inside a large entry, which is a run of its own, written
    // on the caller's thread.
    const auto onPiece = [&](uint64_t done) {
      m_progress.bytesDone = m_bytesDone + done;
      return !m_options.progress || m_options.progress(m_progress);
    };
    return WriteEntryFile(*at, std::string(segments.back()), entry, m_options, lane, onPiece);
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
