// refs-bench ARCHIVE PATTERN NAME [RUNS]: in one process, taking turns run
// after run, `tarn grep PATTERN`, the references index alone, `tarn lint` and
// `tarn refs NAME` over ARCHIVE, output to /dev/null; the best and median of
// each, against grep's. bench/refs_bench.sh gives it a pattern found in
// every entry.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "archive/entry_map.h"
#include "cli/tarn.h"
#include "rules/rules_refs.h"

namespace {

double Milliseconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// What the editor would build: the archive opened, its index made. Says
// once how much memory the index holds against the rules bytes it read.
void BuildIndex(const std::string& path) {
  static bool told = false;
  CEntryMap entries;
  if (!OpenArchiveEntries(path, entries).IsOk()) std::exit(1);
  std::vector<CRulesSource> sources;
  for (size_t i = 0; i < entries.size(); ++i)
    sources.push_back({entries.NameAt(i), entries.BytesAt(i)});
  CRulesIndex index;
  index.Build(std::move(sources));
  if (told) return;
  told = true;
  double bytes = 0;
  for (const CRulesSource& source : index.Sources())
    bytes += static_cast<double>(source.Bytes().size());
  const auto held = static_cast<double>(index.MemoryBytes());
  std::printf(
      "index: %zu definitions, %zu unresolved rows, %.1f MB held for %.1f MB of rules "
      "(%.1f %%)\n",
      index.Definitions().size(), index.Unresolved().size(), held / 1e6, bytes / 1e6,
      100 * held / bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: refs-bench ARCHIVE PATTERN NAME [RUNS]\n");
    return 2;
  }
  const std::string path = argv[1], pattern = argv[2], name = argv[3];
  const int runs = argc > 4 ? std::atoi(argv[4]) : 20;
  std::FILE* sink = std::fopen("/dev/null", "w");
  if (sink == nullptr) return 1;
  struct CCase {
    const char* label;
    std::function<void()> run;
    double target;  // at most this many times grep's
    std::vector<double> times;
  };
  std::vector<CCase> cases = {
      {"tarn grep",
       [&] {
         RunTarn({"grep", pattern, path}, sink, sink);
       },
       0,
       {}},
      {"index", [&] { BuildIndex(path); }, 1.0, {}},
      {"tarn lint",
       [&] {
         RunTarn({"lint", path}, sink, sink);
       },
       1.5,
       {}},
      {"tarn refs",
       [&] {
         RunTarn({"refs", name, path}, sink, sink);
       },
       1.0,
       {}},
  };
  for (CCase& c : cases) Milliseconds(c.run);  // warm
  for (int r = 0; r < runs; ++r)
    for (CCase& c : cases) c.times.push_back(Milliseconds(c.run));
  const auto median = [](std::vector<double> t) {
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
  };
  const double grepBest = *std::min_element(cases[0].times.begin(), cases[0].times.end());
  const double grepMedian = median(cases[0].times);
  for (const CCase& c : cases) {
    const double best = *std::min_element(c.times.begin(), c.times.end());
    std::printf("%-10s best %7.1f ms median %7.1f ms", c.label, best, median(c.times));
    if (c.target > 0)
      std::printf(" | against grep: best %.2fx, median %.2fx (target %.1fx or less)",
                  best / grepBest, median(c.times) / grepMedian, c.target);
    std::printf("\n");
  }
  return 0;
}
