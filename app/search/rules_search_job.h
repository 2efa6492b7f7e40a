// One Find in Rules search, run on a thread of its own so that the window
// stays responsive however large the archive.
//
// The job works on a snapshot taken when it starts: a share of the
// archive's bytes and where each entry lies in them, and the pending
// changes' bytes, so it searches what the window shows. It never touches the
// document, so a document closed during a search goes at once; the job
// keeps the bytes mapped until it is destroyed.
//
// Threading: made, stopped and destroyed on the user-interface thread. The
// matches arrive there through the event loop, in entry order, in pieces.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "archive/entry_map.h"
#include "rules/rules_search.h"
#include "storage/data_buffer.h"
#include "threads/run_beside.h"

// Matching rows, their texts kept in one string.
struct CFoundRows {
  struct CRow {
    uint32_t entry;  // position in the document's map
    uint32_t row;    // position among the entry's rows in the list
    uint32_t depth;
    uint32_t block, blockSize;  // offsets into text
    uint32_t name, nameSize;
    uint32_t value, valueSize;
  };
  std::vector<CRow> rows;
  std::string text;
  // The last row's block name where the search found it: the rows of one
  // block share one copy of its name.
  const char* lastBlock = nullptr;

  std::string_view Text(uint32_t at, uint32_t size) const {
    return std::string_view(text).substr(at, size);
  }
  // Appends `other`'s rows, their texts moved along.
  void Append(const CFoundRows& other);
};

// What the window shows in place of the opened entries.
struct CPendingEntries {
  // A position in the map, and its new bytes (none for a deleted entry).
  std::vector<std::pair<size_t, CDataBuffer>> changed;
  // Entries the map does not have, in byte order.
  std::vector<std::pair<std::string, CDataBuffer>> added;
  // Copies of the names a load order shadows, searched too, each after the
  // entry shown of its name: that entry's position in the map, the archive
  // it is in (in copyArchives), and its name and bytes there, which
  // copyMaps and copyBuffers keep.
  struct CCopy {
    uint32_t after;
    uint32_t archive;
    std::string_view name;
    std::string_view bytes;
  };
  std::vector<CCopy> shadowed;  // in the order of `after`
  std::vector<std::string> copyArchives;
  std::vector<std::shared_ptr<const CEntryMap>> copyMaps;
  std::vector<CDataBuffer> copyBuffers;  // of archives not mapped
};

class CRulesSearchJob {
 public:
  // Called on the user-interface thread: a piece of the matches, and how
  // many entries have been searched so far.
  using Deliver = std::function<void(CFoundRows&& rows, size_t entriesDone)>;
  enum class Outcome {
    Complete,
    Stopped,
    TooMany,  // stopped at kMostRows matches
    Failed,
  };
  // Called once, last: how the search ended, and why it failed.
  using Finish = std::function<void(Outcome outcome, const QString& failure)>;

  // A search stops once it has found this many rows: more than anyone
  // reads, and a bound on the memory they take.
  static constexpr size_t kMostRows = 1000000;

  // Starts searching every entry of `entries`, as `pending` changes them,
  // for `pattern`, ASCII letters in either case. The entries are numbered
  // in the order of their names, added ones among the opened. `receiver` is the
  // object whose thread gets the calls; none arrive after it is gone.
  // The job keeps `entries`: its matches name entries of the map it
  // searched, whatever the document shows by the time they arrive.
  CRulesSearchJob(std::shared_ptr<const CEntryMap> entries, std::string pattern, QObject* receiver,
                  Deliver deliver, Finish finish, CPendingEntries pending = {});
  // Stops the search and waits for its thread.
  ~CRulesSearchJob();
  CRulesSearchJob(const CRulesSearchJob&) = delete;
  CRulesSearchJob& operator=(const CRulesSearchJob&) = delete;

  // Asks the search to stop; the finish call says so.
  void Stop() { m_stop = true; }
  size_t GetEntryCount() const { return m_entries.size(); }
  // The name of entry `entry` of the search.
  std::string_view NameOf(size_t entry) const {
    if (m_order.empty()) return m_map->NameAt(entry);
    const int64_t at = m_order[entry];
    if (at >= 0) return m_map->NameAt(static_cast<size_t>(at));
    const auto k = static_cast<size_t>(-1 - at);
    return k < m_added.size() ? std::string_view(m_added[k]) : m_copies[k - m_added.size()].name;
  }
  // The archive whose shadowed copy entry `entry` is; empty for the others.
  std::string_view CopyOf(size_t entry) const {
    if (m_order.empty() || m_order[entry] >= 0) return {};
    const auto k = static_cast<size_t>(-1 - m_order[entry]);
    if (k < m_added.size()) return {};
    return m_copyArchives[m_copies[k - m_added.size()].archive];
  }

 private:
  void Run();
  // Puts the added entries among the opened ones, in name order, and each
  // shadowed copy after the entry shown of its name.
  void MergeAdded(const CEntryMap& entries, CPendingEntries& pending);
  using Collect = std::function<void(CFoundRows& chunk, size_t entry, const CRulesMatch& match)>;
  using Hand = std::function<void(CFoundRows& chunk, size_t entriesDone)>;
  void RunUnmapped(const Collect& collect, const Hand& deliver, QString& failure);
  // Adds a match to `chunk`, its texts after the chunk's others; stops the
  // search past the most rows kept.
  void CollectRow(CFoundRows& chunk, size_t entry, const CRulesMatch& match);

  // The map searched; its count is touched on the user-interface thread only.
  std::shared_ptr<const CEntryMap> m_map;
  CDataBuffer m_whole;  // keeps the bytes mapped; touched on this thread only
  // Every entry's bytes; for an archive that is not mapped, the pending
  // ones' only (the others are read where they lie).
  std::vector<std::string_view> m_entries;
  std::vector<bool> m_isPending;
  // The pending bytes, kept; touched on the user-interface thread only.
  std::vector<CDataBuffer> m_pending;
  size_t m_opened = 0;
  // Empty while nothing is added: entries are then numbered by position.
  // Else one per entry: a position in the map, or -1 - k for m_added[k],
  // or for m_copies[k - m_added.size()].
  std::vector<int64_t> m_order;
  std::vector<std::string> m_added;
  // The shadowed copies searched, and what keeps their names and bytes;
  // touched on the user-interface thread only, but for the bytes.
  std::vector<CPendingEntries::CCopy> m_copies;
  std::vector<std::string> m_copyArchives;
  std::vector<std::shared_ptr<const CEntryMap>> m_copyMaps;
  std::vector<CDataBuffer> m_copyBuffers;
  // For an archive that is not mapped: where each entry lies, and in which
  // file (kept open by m_map).
  struct CPlace {
    uint32_t offset, size;
    const CHandleHolder* file;
  };
  std::vector<CPlace> m_places;
  std::string m_pattern;
  QPointer<QObject> m_receiver;
  Deliver m_deliver;
  Finish m_finish;
  std::atomic<bool> m_stop{false};
  std::atomic<size_t> m_found{0};
  std::atomic<bool> m_tooMany{false};
  CBeside m_beside;  // last: joined before the members it uses go
};
