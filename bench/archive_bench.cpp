// Opening a 200,000-entry archive: the reader alone, the document's open to a
// filled entry map, and `tarn list` in-process (output to /dev/null).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "archive/big_archive.h"
#include "archive/entry_map.h"
#include "bench/bench_data.h"
#include "cli/tarn.h"
#include "tests/support/big_builder.h"

namespace {

constexpr uint32_t kEntries = 200000;

const std::string& ArchivePath() {
  static CTempDir dir;
  static const std::string path = dir.Write("bench.big", MakeBenchArchive(kEntries));
  return path;
}

void ReaderOpen(benchmark::State& state) {
  for (auto _ : state) {
    CBigArchive reader;
    if (reader.Open(ArchivePath()) != 0) state.SkipWithError("open failed");
    benchmark::DoNotOptimize(reader.GetIndex().size());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntries));
}
BENCHMARK(ReaderOpen)->Unit(benchmark::kMillisecond)->UseRealTime();

void OpenArchiveEntriesToMap(benchmark::State& state) {
  for (auto _ : state) {
    CEntryMap entries;
    if (!OpenArchiveEntries(ArchivePath(), entries).IsOk()) state.SkipWithError("open failed");
    benchmark::DoNotOptimize(entries.size());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntries));
}
BENCHMARK(OpenArchiveEntriesToMap)->Unit(benchmark::kMillisecond)->UseRealTime();

void TarnListInProcess(benchmark::State& state) {
  std::FILE* sink = std::fopen("/dev/null", "w");
  for (auto _ : state) benchmark::DoNotOptimize(RunTarn({"list", ArchivePath()}, sink, stderr));
  std::fclose(sink);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntries));
}
BENCHMARK(TarnListInProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
