// The names both platform files give temporary files: the caller's prefix
// and eight letters or digits. The seed mixes the clock with the process id,
// so processes started at the same moment draw different names; whether a
// name is free is the folder's to say, so callers create exclusively and
// draw again.
#pragma once

#ifndef TARN_INSIDE_STORAGE
#error "storage/temp_name.h is internal to the storage library"
#endif

#include <atomic>
#include <cstdint>
#include <string>

namespace platform {

inline std::string TempNameCandidate(const std::string& prefix, uint64_t seed, uint64_t draw) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  uint64_t value = (seed + draw) * 0x9E3779B97F4A7C15u;
  std::string candidate = prefix;
  for (int k = 0; k < 8; ++k, value /= 36) candidate += kLetters[value % 36];
  return candidate;
}

// Hands fresh names of `prefix` to `attempt` until it says it is done with
// one (it took the name, or failed for a reason another name would not
// mend) by returning true; false when a hundred names were all in use.
template <typename Attempt>
bool DrawTempNames(const std::string& prefix, uint64_t seed, Attempt&& attempt) {
  static std::atomic<uint64_t> s_sequence{0};
  for (int draw = 0; draw < 100; ++draw) {
    if (attempt(TempNameCandidate(prefix, seed, ++s_sequence))) return true;
  }
  return false;
}

}  // namespace platform
