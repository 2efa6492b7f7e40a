// Rules text: our parser producing every row, against inih parsing the same
// bytes with a handler that only counts its calls. Rows are walked the way
// the list view and `tarn show` read them (in place, from the parse result),
// each one touched so that none is skipped.
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

// Every row's depth and sizes, summed: reads each row as its consumer does.
size_t WalkRows(const CRulesParser& parser) {
  size_t sum = 0;
  ForEachRulesRow(parser, [&sum](const CRulesRow& row) {
    sum += row.depth + row.name.size() + row.value.size();
  });
  return sum;
}

// Each iteration reads the whole text once.
void CountTextBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Text().size()));
}

// Parses the text each iteration into `parser`, which is kept from parse to
// parse, and hands the result to `read`.
template <typename Read>
void ParseIntoKeptParser(benchmark::State& state, CRulesParser& parser, Read&& read) {
  const CDataBuffer bytes(Text().data(), static_cast<uint32_t>(Text().size()));
  for (auto _ : state) {
    parser.SetSource(bytes);
    parser.Parse();
    read(parser);
  }
  CountTextBytes(state);
}

// Parses the text each iteration into a new parser, and hands the result to
// `read`.
template <typename Read>
void ParseIntoNewParser(benchmark::State& state, Read&& read) {
  const CDataBuffer bytes(Text().data(), static_cast<uint32_t>(Text().size()));
  for (auto _ : state) {
    CRulesParser parser;
    parser.SetSource(bytes);
    parser.Parse();
    read(parser);
  }
  CountTextBytes(state);
}

// A new parser each time, as `tarn rules` and `tarn show` have.
void RulesParseAndRows(benchmark::State& state) {
  size_t rows = 0;
  size_t blocks = 0;
  ParseIntoNewParser(state, [&](const CRulesParser& parser) {
    benchmark::DoNotOptimize(WalkRows(parser));
    rows = parser.GetRowCount();
    blocks = parser.GetBlockCount();
  });
  state.counters["blocks"] = static_cast<double>(blocks);
  state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(RulesParseAndRows)->Unit(benchmark::kMillisecond);

// One parser kept from parse to parse, as the list view keeps its own while
// the user walks the tree: its memory is reused, not allocated again.
void RulesParseAndRowsKeptParser(benchmark::State& state) {
  CRulesParser parser;
  ParseIntoKeptParser(state, parser, [](const CRulesParser& parsed) {
    benchmark::DoNotOptimize(WalkRows(parsed));
  });
  state.counters["rows"] = static_cast<double>(parser.GetRowCount());
}
BENCHMARK(RulesParseAndRowsKeptParser)->Unit(benchmark::kMillisecond);

void RulesParseOnly(benchmark::State& state) {
  ParseIntoNewParser(
      state, [](const CRulesParser& parser) { benchmark::DoNotOptimize(parser.GetRowCount()); });
}
BENCHMARK(RulesParseOnly)->Unit(benchmark::kMillisecond);

// The rows alone, from one parse, to tell their share of the whole.
void RulesRowsOnly(benchmark::State& state) {
  const CDataBuffer bytes(Text().data(), static_cast<uint32_t>(Text().size()));
  CRulesParser parser;
  parser.SetSource(bytes);
  parser.Parse();
  for (auto _ : state) benchmark::DoNotOptimize(WalkRows(parser));
  CountTextBytes(state);
}
BENCHMARK(RulesRowsOnly)->Unit(benchmark::kMillisecond);

// The trees of copies, for the callers that ask for them: not on the list
// view's path, measured so that their cost stays known.
void RulesParseAndTrees(benchmark::State& state) {
  CRulesParser parser;
  ParseIntoKeptParser(state, parser, [](const CRulesParser& parsed) {
    benchmark::DoNotOptimize(parsed.GetBlocks().size());
  });
}
BENCHMARK(RulesParseAndTrees)->Unit(benchmark::kMillisecond);

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
  CountTextBytes(state);
  state.counters["calls"] = static_cast<double>(calls);
}
BENCHMARK(InihParseString)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
