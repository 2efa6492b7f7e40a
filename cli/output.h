// Buffered output for tarn, with the one escaping rule that every command
// uses for names and values: bytes 0x00-0x1F and 0x7F are written as \xHH
// (upper-case hex); every other byte, backslash and 0x80-0xFF included, is
// written as it is.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

class COutput {
 public:
  explicit COutput(std::FILE* stream) : m_stream(stream) { m_buffer.reserve(kFlushAt + 4096); }
  COutput(const COutput&) = delete;
  COutput& operator=(const COutput&) = delete;
  ~COutput() { Flush(); }

  void Raw(std::string_view bytes);
  void Raw(char c) { m_buffer.push_back(c); MaybeFlush(); }
  void Escaped(std::string_view bytes);
  void Spaces(size_t count);
  void Number(uint64_t value);
  // False when any write failed (a closed pipe, a full disk).
  bool Flush();

 private:
  static constexpr size_t kFlushAt = 1 << 16;
  void MaybeFlush() {
    if (m_buffer.size() >= kFlushAt) Flush();
  }

  std::FILE* m_stream;
  std::string m_buffer;
  bool m_failed = false;
};

std::string EscapeBytes(std::string_view bytes);
