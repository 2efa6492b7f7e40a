// Little- and big-endian numbers read byte by byte at an offset the caller
// has checked is inside the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

inline uint32_t ByteAt(std::string_view bytes, size_t at) {
  return static_cast<uint8_t>(bytes[at]);
}
inline uint32_t Le16(std::string_view bytes, size_t at) {
  return ByteAt(bytes, at) | ByteAt(bytes, at + 1) << 8;
}
inline uint32_t Le32(std::string_view bytes, size_t at) {
  return Le16(bytes, at) | Le16(bytes, at + 2) << 16;
}
inline uint32_t Be16(std::string_view bytes, size_t at) {
  return ByteAt(bytes, at) << 8 | ByteAt(bytes, at + 1);
}
inline uint32_t Be32(std::string_view bytes, size_t at) {
  return Be16(bytes, at) << 16 | Be16(bytes, at + 2);
}
