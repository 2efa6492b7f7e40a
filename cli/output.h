// Buffered output for tarn, with the one escaping rule that every command
// uses for names and values: bytes 0x00-0x1F and 0x7F are written as \xHH
// (upper-case hex); every other byte, backslash and 0x80-0xFF included, is
// written as it is.
#pragma once

#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

class COutput {
 public:
  explicit COutput(std::FILE* stream) : m_stream(stream), m_buffer(new char[kSize]) {}
  COutput(const COutput&) = delete;
  COutput& operator=(const COutput&) = delete;
  ~COutput() { Flush(); }

  void Raw(std::string_view bytes) {
    if (bytes.size() > kSize - m_used) return RawSlow(bytes);
    std::memcpy(m_buffer.get() + m_used, bytes.data(), bytes.size());
    m_used += bytes.size();
  }
  void Raw(char c) {
    if (m_used == kSize) Drain();
    m_buffer[m_used++] = c;
  }
  void Escaped(std::string_view bytes);
  void Number(uint64_t value) {
    if (kSize - m_used < kMaxDigits) Drain();
    assert(kSize - m_used >= kMaxDigits);
    m_used += WriteDigits(m_buffer.get() + m_used, value);
  }
  // False when any write failed (a closed pipe, a full disk).
  bool Flush();

 private:
  // Lines collect here and go out in blocks of this size.
  static constexpr size_t kSize = 1 << 16;
  static constexpr size_t kMaxDigits = 20;

  static size_t WriteDigits(char* out, uint64_t value);
  void RawSlow(std::string_view bytes);
  // Writes out what is buffered, without flushing the stream.
  void Drain();

  std::FILE* m_stream;
  std::unique_ptr<char[]> m_buffer;
  size_t m_used = 0;
  bool m_failed = false;
};

std::string EscapeBytes(std::string_view bytes);
