#include "app/tree/entry_names.h"

#include <algorithm>
#include <string>

#include "storage/path_name.h"
#include "threads/run_beside.h"

namespace {

// Whether `name` contains `lower` (already in lower case), ASCII letters
// compared without case. The first byte is looked for in both cases with
// memchr, which is what keeps a search of 200,000 names short.
bool ContainsFolded(std::string_view name, std::string_view lower) {
  if (lower.size() > name.size()) return false;
  const char first = lower.front();
  const char upper = AsciiUpper(first);
  const size_t last = name.size() - lower.size();
  for (size_t at = 0; at <= last; ++at) {
    const char c = name[at];
    if (c != first && c != upper) continue;
    size_t i = 1;
    while (i < lower.size() && AsciiLower(name[at + i]) == lower[i]) ++i;
    if (i == lower.size()) return true;
  }
  return false;
}

}  // namespace

namespace {

// WidestNames over the positions [begin, end), offered to `widest`.
void OfferNames(const CEntryMap& entries, const CTextWidthEstimate& estimate, size_t begin,
                size_t end, CWidestCandidates& widest) {
  const auto maxAdvance = static_cast<size_t>(estimate.MaxAdvance());
  int threshold = -1;  // what a name must pass once `limit` are kept
  for (size_t i = begin; i < end; ++i) {
    // A name's length is known without reading it: one that could not pass
    // even in its widest characters is never read, which saves a cache
    // miss, the names lying in file order and visited in name order.
    const std::string_view name = entries.NameAt(i);
    if (threshold >= 0 && name.size() * maxAdvance <= static_cast<size_t>(threshold)) continue;
#if defined(__GNUC__)
    constexpr size_t kAhead = 16;
    if (i + kAhead < end) __builtin_prefetch(entries.NameAt(i + kAhead).data());
#endif
    widest.Offer(i, estimate.Estimate(0, name));
    threshold = widest.Threshold();
  }
}

}  // namespace

std::vector<size_t> WidestNames(const CEntryMap& entries, const CTextWidthEstimate& estimate,
                                size_t limit) {
  // Below this many names a second thread would cost more than it saves.
  // No benchmark chose this figure: scaled from the one below, this many
  // names take some 12 million instructions, milliseconds against a
  // thread's start of tens of microseconds.
  constexpr size_t kSplitFrom = size_t{1} << 16;
  const size_t n = entries.size();
  if (n < kSplitFrom) {
    CWidestCandidates widest(limit);
    OfferNames(entries, estimate, 0, n, widest);
    return widest.Take();
  }
  const size_t half = n / 2;
  CWidestCandidates early(limit), late(limit);
  // The second half on a second thread halves the caller's share: 200,000
  // names under long prefixes (bench/make_bench_archive.cpp), five fits,
  // 190 million instructions alone, 95 with the second thread (callgrind
  // --separate-threads). On a busy machine the wall time did not show it.
  RunBeside([&] { OfferNames(entries, estimate, 0, half, early); },
            [&] { OfferNames(entries, estimate, half, n, late); });
  // Each half's choice holds every name of the whole choice from that half;
  // offered again in position order, they make the same choice as one pass.
  std::vector<size_t> kept = early.Take();
  std::vector<size_t> later = late.Take();
  std::sort(kept.begin(), kept.end());
  std::sort(later.begin(), later.end());
  kept.insert(kept.end(), later.begin(), later.end());
  CWidestCandidates widest(limit);
  for (const size_t i : kept) widest.Offer(i, estimate.Estimate(0, entries.NameAt(i)));
  return widest.Take();
}

std::optional<size_t> FindEntry(const CEntryMap& entries, std::string_view needle, size_t from,
                                FindDirection direction) {
  const size_t n = entries.size();
  if (n == 0 || needle.empty()) return std::nullopt;
  std::string lower(needle);
  for (char& c : lower) c = AsciiLower(c);
  const bool forward = direction == FindDirection::Forward;
  // Past the end, the first step lands on the first (or last) item.
  size_t at = from < n ? from : (forward ? n - 1 : 0);
  for (size_t step = 0; step < n; ++step) {
    at = forward ? (at + 1) % n : (at + n - 1) % n;
    if (ContainsFolded(entries.NameAt(at), lower)) return at;
  }
  return std::nullopt;
}
