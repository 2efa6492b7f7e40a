// make-bench-archive COUNT OUTPUT [shuffled|rules]: writes a BIG archive of
// COUNT generated entries for bench/archive_bench.sh; "shuffled" puts the
// records in random order instead of folder by folder. "rules" makes COUNT
// rules texts of 20 KB each instead, for bench/grep_bench.sh.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "bench/bench_data.h"
#include "tests/support/big_builder.h"

int main(int argc, char** argv) {
  const bool shuffled = argc == 4 && std::string(argv[3]) == "shuffled";
  const bool rules = argc == 4 && std::string(argv[3]) == "rules";
  if (argc != 3 && !shuffled && !rules) {
    std::fprintf(stderr, "usage: make-bench-archive COUNT OUTPUT [shuffled|rules]\n");
    return 2;
  }
  const unsigned long count = std::strtoul(argv[1], nullptr, 10);
  try {
    const auto entries = static_cast<uint32_t>(count);
    WriteWholeFile(argv[2], rules ? MakeRulesArchive(entries, 20000) : MakeBenchArchive(entries, 1, shuffled));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-bench-archive: %s\n", e.what());
    return 1;
  }
  return 0;
}
