// One Find in Rules search, run on a thread of its own so that the window
// stays responsive however large the archive.
//
// The job works on a snapshot taken when it starts: a share of the
// archive's bytes and where each entry lies in them. It never touches the
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

  std::string_view Text(uint32_t at, uint32_t size) const { return std::string_view(text).substr(at, size); }
  // Appends `other`'s rows, their texts moved along.
  void Append(const CFoundRows& other);
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

  // Starts searching every entry of `entries` for `pattern`, ASCII letters
  // in either case. `receiver` is the object whose thread gets the calls;
  // none arrive after it is gone.
  CRulesSearchJob(const CEntryMap& entries, std::string pattern, QObject* receiver, Deliver deliver,
                  Finish finish);
  // Stops the search and waits for its thread.
  ~CRulesSearchJob();
  CRulesSearchJob(const CRulesSearchJob&) = delete;
  CRulesSearchJob& operator=(const CRulesSearchJob&) = delete;

  // Asks the search to stop; the finish call says so.
  void Stop() { m_stop = true; }
  size_t GetEntryCount() const { return m_file.Get() != 0 ? m_places.size() : m_entries.size(); }

 private:
  void Run();
  using Collect = std::function<void(CFoundRows& chunk, size_t entry, const CRulesMatch& match)>;
  using Hand = std::function<void(CFoundRows& chunk, size_t entriesDone)>;
  void RunUnmapped(const Collect& collect, const Hand& deliver, QString& failure);

  CDataBuffer m_whole;  // keeps the bytes mapped; touched on this thread only
  std::vector<std::string_view> m_entries;
  // For an archive that is not mapped: its file, and where each entry lies.
  // m_file's count is touched on the user-interface thread only.
  struct CPlace {
    uint32_t offset, size;
  };
  CHandleHolder m_file;
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
