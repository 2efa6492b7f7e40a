// Searching many entries at once: the entries are split into runs of
// consecutive entries, searched through RunInOrder (threads/in_order.h), so
// each run's matches are handed over on the calling thread in entry order
// while later runs are still being searched.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string_view>

#include "rules/rules_search.h"
#include "threads/in_order.h"

// Searches entries [0, count) for `pattern`: bytesAt(i) gives entry i's
// bytes, and is called from either thread, so it must only read what stays
// unchanged during the search. For every matching row, collect(Chunk&,
// size_t entry, const CRulesMatch&) adds it to a chunk, on either thread;
// deliver(Chunk&, size_t entriesDone) takes a chunk over on the calling
// thread, entries in order, and leaves it empty for reuse. stopped() (may
// be empty) is asked before each entry.
template <typename Chunk, typename BytesAt, typename Collect, typename Deliver>
void SearchEntries(std::string_view pattern, bool ignoreCase, size_t count, BytesAt&& bytesAt,
                   Collect&& collect, Deliver&& deliver,
                   const std::function<bool()>& stopped = {}) {
  // A chunk is about a mebibyte of entries: enough to make handing over
  // cheap, small enough that the two threads finish close together.
  constexpr size_t kChunkBytes = size_t{1} << 20;
  constexpr size_t kChunkEntries = 4096;
  CRulesSearch searches[2] = {{pattern, ignoreCase}, {pattern, ignoreCase}};
  Chunk chunks[kInOrderSlots];
  CInOrderWork work;
  work.count = count;
  work.chunkEnd = [&](size_t first) {
    size_t end = first;
    for (size_t bytes = 0; end < count && end - first < kChunkEntries && bytes < kChunkBytes; ++end)
      bytes += bytesAt(end).size();
    return std::max(end, first + 1);
  };
  work.run = [&](int worker, size_t first, size_t last, size_t slot) {
    CRulesSearch& search = searches[worker];
    Chunk& chunk = chunks[slot];
    for (size_t entry = first; entry < last; ++entry) {
      if (stopped && stopped()) return;
      search.SearchEntry(bytesAt(entry),
                         [&](const CRulesMatch& match) { collect(chunk, entry, match); });
    }
  };
  work.deliver = [&](size_t slot, size_t done) { deliver(chunks[slot], done); };
  work.stopped = stopped;
  RunInOrder(work);
}
