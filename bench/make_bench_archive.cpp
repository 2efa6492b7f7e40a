// make-bench-archive COUNT OUTPUT: writes a BIG archive of COUNT generated
// entries for bench/archive_bench.sh.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "bench/bench_data.h"
#include "tests/support/big_builder.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make-bench-archive COUNT OUTPUT\n");
    return 2;
  }
  const unsigned long count = std::strtoul(argv[1], nullptr, 10);
  try {
    WriteWholeFile(argv[2], MakeBenchArchive(static_cast<uint32_t>(count)));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-bench-archive: %s\n", e.what());
    return 1;
  }
  return 0;
}
