// Generated inputs for the benchmarks: a large rules text, and BIG archives
// of many small entries with folder-style names. Deterministic for a seed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// About `targetBytes` of rules text: blocks of 5-40 lines, nested blocks 1-3
// deep, whole-line and trailing comments, a mix of CRLF and LF line ends.
std::string MakeRulesText(size_t targetBytes, uint64_t seed = 1);

// How the bench archive's names are made.
enum class BenchNames {
  Spread,    // 20-60 bytes under 786 short folders
  Prefixed,  // most under a few long folder paths, as real archives name them
};

// A BIG archive of `count` entries with unique names under backslash folders,
// mostly small entries, records in folder-walk order, or in random order
// when `shuffled`. Entries are random bytes whatever their names; with
// `media`, those named as textures and sounds hold small ones whose headers
// check out.
std::string MakeBenchArchive(uint32_t count, uint64_t seed = 1, bool shuffled = false,
                             BenchNames names = BenchNames::Spread, bool media = false);

// A BIG archive of `count` rules texts of about `entryBytes` each (seeds
// differ, so no two are alike), named "Data\\INI\\Rules\\NNNNN.ini" (with more
// digits past 100,000 entries).
std::string MakeRulesArchive(uint32_t count, size_t entryBytes, uint64_t seed = 1);

// The same entries with block names unique across the archive ("U17_3"
// for block 3 of entry 17, not "Unit_3" in every entry), and a value word
// of about one row in twenty-five replaced by the name of a block of
// another entry: an archive whose rules reference each other.
std::string MakeReferencingRulesArchive(uint32_t count, size_t entryBytes, uint64_t seed = 1);
