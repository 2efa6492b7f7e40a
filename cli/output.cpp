#include "cli/output.h"

#include <charconv>

namespace {

bool NeedsEscape(unsigned char c) { return c < 0x20 || c == 0x7F; }

void AppendEscaped(std::string& out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  size_t plainFrom = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (!NeedsEscape(c)) continue;
    out.append(bytes.substr(plainFrom, i - plainFrom));
    const char escape[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
    out.append(escape, 4);
    plainFrom = i + 1;
  }
  out.append(bytes.substr(plainFrom));
}

}  // namespace

std::string EscapeBytes(std::string_view bytes) {
  std::string out;
  AppendEscaped(out, bytes);
  return out;
}

void COutput::Raw(std::string_view bytes) {
  // Large spans are copied through the buffer too, piece by piece: they may
  // be bytes of a mapped archive that another program has cut short. A copy
  // made here reads vanished pages as zeros (the SIGBUS guard), whereas the
  // kernel, writing straight from such a page, fails with EFAULT.
  while (bytes.size() > kFlushAt) {
    m_buffer.append(bytes.substr(0, kFlushAt));
    bytes.remove_prefix(kFlushAt);
    MaybeFlush();
  }
  m_buffer.append(bytes);
  MaybeFlush();
}

void COutput::Escaped(std::string_view bytes) {
  AppendEscaped(m_buffer, bytes);
  MaybeFlush();
}

void COutput::Spaces(size_t count) {
  while (count > 0) {
    const size_t step = count < kFlushAt ? count : kFlushAt;
    m_buffer.append(step, ' ');
    count -= step;
    MaybeFlush();
  }
}

void COutput::Number(uint64_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  m_buffer.append(digits, result.ptr);
}

bool COutput::Flush() {
  if (!m_buffer.empty()) {
    if (std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_stream) != m_buffer.size()) m_failed = true;
    m_buffer.clear();
  }
  if (std::fflush(m_stream) != 0) m_failed = true;
  return !m_failed;
}
