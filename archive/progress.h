// How far a long piece of work on an archive has got (an extraction, a
// pack, a save), and the caller's say in whether it goes on.
#pragma once

#include <cstdint>
#include <functional>

struct CProgress {
  uint64_t entriesDone = 0;
  uint64_t entriesTotal = 0;
  uint64_t bytesDone = 0;
  uint64_t bytesTotal = 0;
};
// Called between entries and between large pieces of one; false stops the
// work as soon as it can be stopped cleanly.
using ProgressFn = std::function<bool(const CProgress&)>;
