#include "cli/output.h"

#include "archive/entry_map.h"
#include "archive/extract.h"
#include "threads/in_order.h"

#include <algorithm>
#include <cassert>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

bool NeedsEscape(unsigned char c) { return c < 0x20 || c == 0x7F; }

// The position of the first byte that needs escaping, or the size. Names and
// values almost never hold one, so many bytes are tested at a time.
#if defined(__SSE2__)
size_t FindEscape(std::string_view bytes) {
  const char* const data = bytes.data();
  const size_t size = bytes.size();
  const __m128i limit = _mm_set1_epi8(0x1F);
  const __m128i del = _mm_set1_epi8(0x7F);
  // Bytes at or below 0x1F are those whose unsigned maximum with 0x1F is 0x1F.
  const auto mask = [&](const char* at) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(chunk, limit), limit);
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(control, _mm_cmpeq_epi8(chunk, del))));
  };
  size_t i = 0;
  for (; i + 16 <= size; i += 16)
    if (const unsigned found = mask(data + i))
      return i + static_cast<size_t>(std::countr_zero(found));
  if (i < size && size >= 16) {
    // The last few bytes: one more chunk, overlapping the ones already seen.
    const unsigned found = mask(data + size - 16);
    if (found == 0) return size;
    return size - 16 + static_cast<size_t>(std::countr_zero(found));
  }
  for (; i < size; ++i)
    if (NeedsEscape(static_cast<unsigned char>(data[i]))) return i;
  return size;
}
#else
// Eight bytes at a time: a word has a byte below 0x20 when (w - 0x20..) & ~w
// has a high bit set, and a byte 0x7F when the same test for 0x01 finds a
// zero byte in w ^ 0x7F..
size_t FindEscape(std::string_view bytes) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    const uint64_t del = word ^ (kOnes * 0x7F);
    if (((((word - kOnes * 0x20) & ~word) | ((del - kOnes) & ~del)) & (kOnes * 0x80)) != 0) break;
  }
  for (; i < bytes.size(); ++i)
    if (NeedsEscape(static_cast<unsigned char>(bytes[i]))) return i;
  return bytes.size();
}
#endif

// Hands `bytes` to append(std::string_view) with every byte that needs it
// written as \xHH (upper-case hex): the one escaping loop of tarn.
template <typename Append>
void ForEachEscapedPiece(std::string_view bytes, Append&& append) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (;;) {
    const size_t at = FindEscape(bytes);
    append(bytes.substr(0, at));
    if (at == bytes.size()) return;
    const auto c = static_cast<unsigned char>(bytes[at]);
    const char escape[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
    append(std::string_view(escape, 4));
    bytes.remove_prefix(at + 1);
  }
}

}  // namespace

std::string EscapeBytes(std::string_view bytes) {
  std::string out;
  AppendEscaped(out, bytes);
  return out;
}

void AppendEscaped(std::string& out, std::string_view bytes) {
  ForEachEscapedPiece(bytes, [&out](std::string_view piece) { out.append(piece); });
}

namespace {

bool NeedsMessageEscape(unsigned char c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

// ForEachEscapedPiece's loop with the rule of messages: messages are short,
// and a byte at a time is fast enough.
template <typename Append>
void ForEachMessagePiece(std::string_view bytes, Append&& append) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  size_t start = 0;
  for (size_t at = 0; at < bytes.size(); ++at) {
    const auto c = static_cast<unsigned char>(bytes[at]);
    if (!NeedsMessageEscape(c)) continue;
    append(bytes.substr(start, at - start));
    const char escape[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
    append(std::string_view(escape, 4));
    start = at + 1;
  }
  append(bytes.substr(start));
}

}  // namespace

void WriteForTerminal(std::FILE* stream, std::string_view bytes) {
  ForEachMessagePiece(bytes, [stream](std::string_view piece) {
    if (!piece.empty()) std::fwrite(piece.data(), 1, piece.size(), stream);
  });
}

void Report(std::FILE* err, std::string_view culprit, std::string_view reason) {
  std::fputs("tarn: ", err);
  WriteForTerminal(err, culprit);
  std::fputs(": ", err);
  WriteForTerminal(err, reason);
  std::fputc('\n', err);
}

std::string EntryCutWords(std::string_view entry) {
  return "entry '" + std::string(entry) + "': the archive " + kArchiveChangedWords;
}

std::string PastEndWords(const CEntryMap& entries, size_t position) {
  return "entry '" + std::string(entries.NameAt(position)) +
         "': " + entries.CutShortWords(position);
}

bool ReportPastEnd(const CEntryMap& entries, std::string_view culprit, COutput& out,
                   std::FILE* err) {
  if (!entries.MayReachPastEnd()) return true;
  bool none = true;
  for (size_t at = 0; at < entries.size(); ++at) {
    if (!entries.ReachesPastEndAt(at)) continue;
    if (none) out.Flush();  // the lines before come first
    Report(err, culprit, PastEndWords(entries, at));
    none = false;
  }
  return none;
}

bool ReportChanged(const CEntryMap& entries, std::string_view culprit, COutput& out,
                   std::FILE* err) {
  if (!entries.ChangedOnDisk()) return true;
  out.Flush();  // the lines before come first
  Report(err, culprit, kArchiveChangedWords);
  return false;
}

void Report(std::FILE* err, std::string_view reason) {
  std::fputs("tarn: ", err);
  WriteForTerminal(err, reason);
  std::fputc('\n', err);
}

// ABCDEFGH as two lanes of 32 bits (ABCD, EFGH), each split by 100 into
// lanes of 16 bits (AB CD EF GH), each split by 10 into bytes: the products
// of one lane never reach the next, and the shifts' spill into a lower lane
// is masked off. The constants divide exactly in range. The first digit is
// the lowest byte. REQUIRES: value < 10^8.
static inline uint64_t EightDigitValues(uint32_t value) {
  const uint64_t halves = value / 10000 | uint64_t{value % 10000} << 32;
  const uint64_t high = (halves * 10486) >> 20 & 0x0000007F0000007Full;
  const uint64_t pairs = high | (halves - high * 100) << 16;
  const uint64_t tens = (pairs * 103) >> 10 & 0x000F000F000F000Full;
  return tens | (pairs - tens * 10) << 8;
}

size_t COutput::WriteEightDigits(char* out, uint32_t value) {
  assert(value < kEightDigitsEnd);
  if constexpr (std::endian::native != std::endian::little) return WriteDigits(out, value);
  if (value == 0) {
    *out = '0';
    return 1;
  }
  const uint64_t values = EightDigitValues(value);
  // The leading zeros are the zero bytes below the lowest that is not.
  const auto zeros = static_cast<size_t>(std::countr_zero(values)) / 8;
  const uint64_t shifted = (values + 0x3030303030303030ull) >> (8 * zeros);
  std::memcpy(out, &shifted, 8);
  return 8 - zeros;
}

char* COutput::PutLongNumber(char* out, uint32_t value) {
  if (value < 10000) {
    // Three or four digits: two pairs cost less than eight digits.
    const uint32_t high = value / 100;
    const uint32_t low = value - high * 100;
    if (high < 10) {
      *out++ = static_cast<char>('0' + high);
    } else {
      std::memcpy(out, kDigitPairs + 2 * high, 2);
      out += 2;
    }
    std::memcpy(out, kDigitPairs + 2 * low, 2);
    return out + 2;
  }
  if (value < kEightDigitsEnd / 10) return out + WriteEightDigits(out, value);
  if (value < kEightDigitsEnd) return PutEightDigits(out, value);
  // Offsets of an archive past 100 MB: the high digits, then all eight of
  // the rest, leading zeros included.
  const uint32_t high = value / static_cast<uint32_t>(kEightDigitsEnd);  // 1 to 42
  out = PutNumber(out, high);
  return PutEightDigits(out, value - high * static_cast<uint32_t>(kEightDigitsEnd));
}

char* COutput::PutEightDigits(char* out, uint32_t value) {
  // Offsets in an archive of some megabytes have eight digits, and need no
  // zeros dropped. The first digit is the lowest byte.
  const uint64_t digits = EightDigitValues(value) + 0x3030303030303030ull;
  if constexpr (std::endian::native == std::endian::little) std::memcpy(out, &digits, 8);
  else
    for (int i = 0; i < 8; ++i) out[i] = static_cast<char>(digits >> (8 * i));
  return out + 8;
}

void COutput::EntryLineSlow(uint32_t offset, uint32_t size, std::string_view name) {
  Number(offset);
  Raw('\t');
  Number(size);
  Raw('\t');
  Escaped(name);
  Raw('\n');
}

bool COutput::CopyCleanPadded(char* out, CPaddedName bytes) {
#if defined(__SSE2__)
  const __m128i limit = _mm_set1_epi8(0x1F);
  const __m128i del = _mm_set1_epi8(0x7F);
  const auto copy = [&](const char* in, char* to) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), chunk);
    const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(chunk, limit), limit);
    return _mm_or_si128(control, _mm_cmpeq_epi8(chunk, del));
  };
  const char* in = bytes.data();
  const char* const end = in + bytes.size();
  // Names almost never hold a byte to escape: the chunks before the last
  // are copied and their findings gathered, and tested once at the end.
  __m128i found = _mm_setzero_si128();
  for (; end - in > 16; in += 16, out += 16) found = _mm_or_si128(found, copy(in, out));
  // Bytes past the end are not the name's: whatever they are, they pass.
  const auto last = static_cast<unsigned>(_mm_movemask_epi8(copy(in, out)));
  return (static_cast<unsigned>(_mm_movemask_epi8(found)) | (last & ((1u << (end - in)) - 1))) == 0;
#else
  (void)out;
  (void)bytes;
  return false;
#endif
}

bool COutput::CopyUnescaped(std::string_view bytes) {
  if (bytes.size() < 16 || kSize - m_used < bytes.size() ||
      !CopyClean(m_buffer.get() + m_used, bytes))
    return false;
  m_used += bytes.size();
  return true;
}

bool COutput::CopyClean(char* out, std::string_view bytes) {
#if defined(__SSE2__)
  const size_t size = bytes.size();
  const char* const data = bytes.data();
  const __m128i limit = _mm_set1_epi8(0x1F);
  const __m128i del = _mm_set1_epi8(0x7F);
  // Copies 16 bytes at `at`, or answers false when one needs escaping.
  const auto step = [&](size_t at) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(chunk, limit), limit);
    if (_mm_movemask_epi8(_mm_or_si128(control, _mm_cmpeq_epi8(chunk, del))) != 0) return false;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), chunk);
    return true;
  };
  size_t i = 0;
  for (; i + 16 <= size; i += 16)
    if (!step(i)) return false;
  // The last few bytes: one more chunk, overlapping the ones already copied.
  return i == size || step(size - 16);
#else
  (void)out;
  (void)bytes;
  return false;
#endif
}

// REQUIRES: room for kMaxDigits bytes at `out`.
size_t COutput::WriteDigits(char* out, uint64_t value) {
  assert(out != nullptr);
  // The digit count from the bit length (log10 2 is about 1233 / 4096), put
  // right by one comparison, so the digits can go straight to their place,
  // two at a time from the end. Zero counts as one digit, like 1.
  static constexpr uint64_t kPowers[] = {1u,
                                         10u,
                                         100u,
                                         1000u,
                                         10000u,
                                         100000u,
                                         1000000u,
                                         10000000u,
                                         100000000u,
                                         1000000000u,
                                         10000000000u,
                                         100000000000u,
                                         1000000000000u,
                                         10000000000000u,
                                         100000000000000u,
                                         1000000000000000u,
                                         10000000000000000u,
                                         100000000000000000u,
                                         1000000000000000000u,
                                         10000000000000000000u};
  const auto bits = static_cast<size_t>(std::bit_width(value | 1));
  const size_t guess = (bits * 1233) >> 12;
  const size_t length = guess + ((value | 1) >= kPowers[guess] ? 1 : 0);
  char* at = out + length;
  while (value >= 100) {
    const auto pair = static_cast<size_t>(value % 100) * 2;
    value /= 100;
    at -= 2;
    at[0] = kDigitPairs[pair];
    at[1] = kDigitPairs[pair + 1];
  }
  if (value >= 10) {
    out[0] = kDigitPairs[value * 2];
    out[1] = kDigitPairs[value * 2 + 1];
  } else {
    out[0] = static_cast<char>('0' + value);
  }
  return length;
}

void COutput::RawSlow(std::string_view bytes) {
  // Large spans are copied through the buffer too, piece by piece: they may
  // be bytes of a mapped archive that another program has cut short. A copy
  // made here reads vanished pages as zeros (the SIGBUS guard), whereas the
  // kernel, writing straight from such a page, fails with EFAULT.
  while (!bytes.empty()) {
    if (m_used == kSize) Drain();
    const size_t step = std::min(bytes.size(), kSize - m_used);
    std::memcpy(m_buffer.get() + m_used, bytes.data(), step);
    m_used += step;
    bytes.remove_prefix(step);
  }
}

void COutput::Indent(uint64_t depth) {
  static constexpr std::string_view kSpaces =
      "                                                                "
      "                                                                ";
  for (uint64_t left = 4 * depth; left > 0;) {
    const size_t step = static_cast<size_t>(std::min<uint64_t>(left, kSpaces.size()));
    Raw(kSpaces.substr(0, step));
    left -= step;
  }
}

void COutput::EscapedSlow(std::string_view bytes) {
  ForEachEscapedPiece(bytes, [this](std::string_view piece) { Raw(piece); });
}

void COutput::Drain() {
  if (m_used == 0) return;
  if (m_sink != nullptr) m_sink->append(m_buffer.get(), m_used);
  else if (std::fwrite(m_buffer.get(), 1, m_used, m_stream) != m_used) m_failed = true;
  m_used = 0;
}

void COutput::Write(std::string_view bytes) {
  Drain();
  if (bytes.empty()) return;
  if (m_sink != nullptr) m_sink->append(bytes);
  else if (std::fwrite(bytes.data(), 1, bytes.size(), m_stream) != bytes.size()) m_failed = true;
}

bool COutput::Flush() {
  Drain();
  if (m_stream != nullptr && std::fflush(m_stream) != 0) m_failed = true;
  return !m_failed;
}

void WriteLinesInOrder(COutput& out, size_t count, size_t block,
                       const std::function<void(size_t first, size_t last, COutput& into)>& make) {
  if ((count + block - 1) / block < 4) {
    make(0, count, out);
    return;
  }
  // A block's lines: in `made`'s buffer, and in `spill` what did not fit.
  struct CBlock {
    std::string spill;
    COutput made{spill};
  };
  CBlock blocks[kInOrderSlots];
  CInOrderWork work;
  work.count = count;
  work.chunkEnd = [&](size_t first) { return std::min(first + block, count); };
  work.run = [&](int, size_t first, size_t last, size_t slot) {
    make(first, last, blocks[slot].made);
  };
  work.deliver = [&](size_t slot, size_t) {
    // Written straight from the block: the lines are not copied again.
    CBlock& made = blocks[slot];
    out.Write(made.spill);
    out.Write(made.made.Buffered());
    made.spill.clear();
    made.made.Discard();
  };
  RunInOrder(work);
}
