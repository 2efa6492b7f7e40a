// Numbers stored in a fixed byte order, read from any address on any system.
//
// Threading: none; no state.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

// The 32-bit number stored most significant byte first at `p`.
// REQUIRES: 4 readable bytes at `p`.
constexpr uint32_t ReadBigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// The 64-bit number stored most significant byte first at `p`: one load and
// one byte swap where the compiler has one.
// REQUIRES: 8 readable bytes at `p`.
inline uint64_t ReadBigEndian64(const void* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) return word;
#if defined(__GNUC__)
  return __builtin_bswap64(word);
#else
  uint64_t swapped = 0;
  for (int i = 0; i < 8; ++i) swapped = swapped << 8 | ((word >> (8 * i)) & 0xFF);
  return swapped;
#endif
}

// The 32-bit number stored least significant byte first at `p`.
// REQUIRES: 4 readable bytes at `p`.
constexpr uint32_t ReadLittleEndian32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
