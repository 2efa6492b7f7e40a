// make-bench-archive COUNT OUTPUT [shuffled] [prefixed] [rules] [references] [media]:
// writes a BIG archive of COUNT generated entries for bench/archive_bench.sh;
// "shuffled" puts the records in random order instead of folder by folder,
// "prefixed" files most names under a few long folder paths. "rules" makes
// COUNT rules texts of 20 KB each instead, for bench/grep_bench.sh;
// "references" makes them name each other's blocks, for bench/refs_bench.sh;
// "media" gives entries named as textures and sounds headers that check out.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "bench/bench_data.h"
#include "tests/support/big_builder.h"

int main(int argc, char** argv) {
  bool shuffled = false;
  bool rules = false;
  bool references = false;
  bool media = false;
  BenchNames names = BenchNames::Spread;
  bool understood = argc >= 3;
  for (int i = 3; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "shuffled") shuffled = true;
    else if (word == "prefixed") names = BenchNames::Prefixed;
    else if (word == "rules") rules = true;
    else if (word == "references") rules = references = true;
    else if (word == "media") media = true;
    else understood = false;
  }
  if (!understood) {
    std::fprintf(stderr,
                 "usage: make-bench-archive COUNT OUTPUT [shuffled] [prefixed] [rules] "
                 "[references] [media]\n");
    return 2;
  }
  const unsigned long count = std::strtoul(argv[1], nullptr, 10);
  try {
    const auto entries = static_cast<uint32_t>(count);
    WriteWholeFile(argv[2], references ? MakeReferencingRulesArchive(entries, 20000)
                            : rules    ? MakeRulesArchive(entries, 20000)
                                       : MakeBenchArchive(entries, 1, shuffled, names, media));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-bench-archive: %s\n", e.what());
    return 1;
  }
  return 0;
}
