// make-bench-archive COUNT OUTPUT [shuffled] [prefixed]: writes a BIG archive
// of COUNT generated entries for bench/archive_bench.sh; "shuffled" puts the
// records in random order instead of folder by folder, "prefixed" files most
// names under a few long folder paths.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "bench/bench_data.h"
#include "tests/support/big_builder.h"

int main(int argc, char** argv) {
  bool shuffled = false;
  BenchNames names = BenchNames::Spread;
  bool understood = argc >= 3;
  for (int i = 3; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "shuffled") shuffled = true;
    else if (word == "prefixed") names = BenchNames::Prefixed;
    else understood = false;
  }
  if (!understood) {
    std::fprintf(stderr, "usage: make-bench-archive COUNT OUTPUT [shuffled] [prefixed]\n");
    return 2;
  }
  const unsigned long count = std::strtoul(argv[1], nullptr, 10);
  try {
    WriteWholeFile(argv[2], MakeBenchArchive(static_cast<uint32_t>(count), 1, shuffled, names));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-bench-archive: %s\n", e.what());
    return 1;
  }
  return 0;
}
