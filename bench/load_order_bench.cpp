// load-order-bench [--runs N] ARCHIVE...: opens the archives, in load
// order, as the editor does (CEntryMap), then resolves the order N times
// (5), printing the time of opening them and the best and median times of
// resolving, in milliseconds, with what was resolved. Timed by
// bench/load_order_bench.sh beside `tarn overrides` of the same archives.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/entry_map.h"
#include "archive/load_order.h"

namespace {

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  int runs = 5;
  if (argc > 2 && std::string(argv[1]) == "--runs") {
    runs = std::max(1, std::atoi(argv[2]));
    first = 3;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: load-order-bench [--runs N] ARCHIVE...\n");
    return 2;
  }
  const auto opening = std::chrono::steady_clock::now();
  std::vector<CEntryMap> maps(static_cast<size_t>(argc - first));
  std::vector<const CEntryMap*> order;
  for (int a = first; a < argc; ++a) {
    const CStatus error = OpenArchiveEntries(argv[a], maps[static_cast<size_t>(a - first)]);
    if (!error.IsOk()) {
      std::fprintf(stderr, "%s\n", error.Describe().c_str());
      return 1;
    }
    order.push_back(&maps[static_cast<size_t>(a - first)]);
  }
  const double opened = MillisecondsSince(opening);
  std::vector<double> times;
  CResolvedOrder resolved;
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    resolved = ResolveLoadOrder(order);
    times.push_back(MillisecondsSince(start));
  }
  std::sort(times.begin(), times.end());
  size_t entries = 0, differ = 0;
  for (const CEntryMap& map : maps) entries += map.size();
  for (const CResolvedName& name : resolved.names) differ += name.mark == '!' ? 1 : 0;
  std::printf("entries %zu, names %zu, shadowed copies %zu, names whose copies differ %zu\n",
              entries, resolved.names.size(), resolved.shadowed.size(), differ);
  std::printf("open     %8.1f ms\nresolve  %8.1f ms best, %8.1f ms median of %d\n", opened,
              times.front(), times[times.size() / 2], runs);
  return 0;
}
