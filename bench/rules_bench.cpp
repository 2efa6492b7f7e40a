// Rules text: our parser building the whole tree and its rows, against inih
// parsing the same bytes with a handler that only counts its calls.
#include <benchmark/benchmark.h>
#include <ini.h>

#include <string>

#include "bench/bench_data.h"
#include "rules/rules_parser.h"
#include "rules/rules_rows.h"
#include "storage/data_buffer.h"

namespace {

const std::string& Text() {
  static const std::string text = MakeRulesText(20u << 20);
  return text;
}

void RulesParseAndRows(benchmark::State& state) {
  const CDataBuffer bytes(Text().data(), static_cast<uint32_t>(Text().size()));
  size_t rows = 0;
  size_t blocks = 0;
  for (auto _ : state) {
    CRulesParser parser;
    parser.SetSource(bytes);
    parser.Parse();
    const std::vector<CRulesRow> built = BuildRulesRows(parser);
    rows = built.size();
    blocks = parser.GetBlocks().size();
    benchmark::DoNotOptimize(built.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Text().size()));
  state.counters["blocks"] = static_cast<double>(blocks);
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(RulesParseAndRows)->Unit(benchmark::kMillisecond);

void RulesParseOnly(benchmark::State& state) {
  const CDataBuffer bytes(Text().data(), static_cast<uint32_t>(Text().size()));
  for (auto _ : state) {
    CRulesParser parser;
    parser.SetSource(bytes);
    parser.Parse();
    benchmark::DoNotOptimize(parser.GetBlocks().size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Text().size()));
}
BENCHMARK(RulesParseOnly)->Unit(benchmark::kMillisecond);

// The rows alone, from one parse, to tell their share of the whole.
void RulesRowsOnly(benchmark::State& state) {
  const CDataBuffer bytes(Text().data(), static_cast<uint32_t>(Text().size()));
  CRulesParser parser;
  parser.SetSource(bytes);
  parser.Parse();
  for (auto _ : state) {
    const std::vector<CRulesRow> built = BuildRulesRows(parser);
    benchmark::DoNotOptimize(built.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Text().size()));
}
BENCHMARK(RulesRowsOnly)->Unit(benchmark::kMillisecond);

int CountCall(void* user, const char*, const char*, const char*) {
  ++*static_cast<size_t*>(user);
  return 1;
}

void InihParseString(benchmark::State& state) {
  const char* text = Text().c_str();
  size_t calls = 0;
  for (auto _ : state) {
    calls = 0;
    benchmark::DoNotOptimize(ini_parse_string(text, CountCall, &calls));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Text().size()));
  state.counters["calls"] = static_cast<double>(calls);
}
BENCHMARK(InihParseString)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
