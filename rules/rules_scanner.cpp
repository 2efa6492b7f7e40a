#include "rules/rules_scanner.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64)
#include <emmintrin.h>
#define TARN_SCANNER_SSE2 1
#endif
// Not on Windows, where GCC keeps 32-byte values on a stack it does not
// align to 32 bytes.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(_WIN32)
#include <immintrin.h>
#define TARN_SCANNER_AVX2 1
#endif

namespace {

// The masks of the 64 bytes from p.
template <typename Masks>
void ClassifyBlock(const char* p, Masks& masks) {
  uint64_t white = 0, keyStop = 0, valueStop = 0;
#if defined(TARN_SCANNER_SSE2)
  for (int at = 0; at < 64; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    const __m128i space = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '));
    const __m128i lineEnd = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')),
                                         _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')));
    const __m128i stop = _mm_or_si128(lineEnd, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(';')));
    const __m128i white16 =
        _mm_or_si128(_mm_or_si128(space, lineEnd), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t')));
    const __m128i key16 =
        _mm_or_si128(_mm_or_si128(space, stop), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('=')));
    const auto bits = [at](__m128i hits) {
      return uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(hits))} << at;
    };
    white |= bits(white16);
    keyStop |= bits(key16);
    valueStop |= bits(stop);
  }
#else
  for (int i = 0; i < 64; ++i) {
    const uint64_t bit = uint64_t{1} << i;
    switch (p[i]) {
      case '\n':
      case '\r':
        white |= bit;
        keyStop |= bit;
        valueStop |= bit;
        break;
      case ' ':
        white |= bit;
        keyStop |= bit;
        break;
      case '\t': white |= bit; break;
      case ';':
        keyStop |= bit;
        valueStop |= bit;
        break;
      case '=': keyStop |= bit; break;
      default: break;
    }
  }
#endif
  masks = {white, keyStop, valueStop};
}

#if defined(TARN_SCANNER_AVX2)
// The same for `count` blocks from p, 32 bytes at a time, where the
// processor has the instructions: classifying is a sixth of the scanning.
template <typename Masks>
__attribute__((target("avx2"))) void ClassifyBlocksAvx2(const char* p, size_t count,
                                                        Masks* masks) {
  for (size_t b = 0; b < count; ++b, p += 64) {
    uint64_t white = 0, keyStop = 0, valueStop = 0;
    for (int at = 0; at < 64; at += 32) {
      const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + at));
      const __m256i space = _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(' '));
      const __m256i lineEnd = _mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\n')),
                                              _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\r')));
      const __m256i stop = _mm256_or_si256(lineEnd, _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(';')));
      const __m256i white32 = _mm256_or_si256(_mm256_or_si256(space, lineEnd),
                                              _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('\t')));
      const __m256i key32 = _mm256_or_si256(_mm256_or_si256(space, stop),
                                            _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('=')));
      white |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(white32))} << at;
      keyStop |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(key32))} << at;
      valueStop |= uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(stop))} << at;
    }
    masks[b] = {white, keyStop, valueStop};
  }
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

}  // namespace

void CRulesScanner::Classify(std::string_view text) {
  m_text = text.data();
  m_size = text.size();
  // Through the zero after the LF that follows the text.
  const size_t full = m_size / 64;
  m_maskStore.resize((m_size + 1) / 64 + 1);
  m_masks = m_maskStore.data();
#if defined(TARN_SCANNER_AVX2)
  if (HasAvx2()) {
    ClassifyBlocksAvx2(m_text, full, m_masks);
  } else {
    for (size_t b = 0; b < full; ++b) ClassifyBlock(m_text + 64 * b, m_masks[b]);
  }
#else
  for (size_t b = 0; b < full; ++b) ClassifyBlock(m_text + 64 * b, m_masks[b]);
#endif
  // The rest, and the LF, from a copy: nothing past the text is read.
  char last[64] = {};
  const size_t rest = m_size % 64;
  if (rest != 0) std::memcpy(last, m_text + 64 * full, rest);
  last[rest] = kLf;
  ClassifyBlock(last, m_masks[full]);
  if (full + 1 < m_maskStore.size()) m_masks[full + 1] = {};
}

const std::vector<CRulesScanner::CHeaderRows>& CRulesScanner::HeaderRows() {
  // Blocks in byte order of their names, each once, its headers' lines in
  // text order after its row: the parser's rows.
  const size_t count = m_headers.size();
  m_sortKeys.resize(count);
  for (uint32_t h = 0; h < count; ++h) {
    // Comparing these compares names as far as their first eight bytes go.
    const std::string_view name = m_headers[h].name;
    uint64_t word = 0;
    for (size_t i = 0; i < 8; ++i)
      word = word << 8 | (i < name.size() ? static_cast<uint8_t>(name[i]) : 0);
    m_sortKeys[h] = {word, h};
  }
  std::sort(m_sortKeys.begin(), m_sortKeys.end(), [this](const CSortKey& a, const CSortKey& b) {
    if (a.word != b.word) return a.word < b.word;
    const int order = m_headers[a.header].name.compare(m_headers[b.header].name);
    return order != 0 ? order < 0 : a.header < b.header;
  });
  m_order.resize(count);
  for (size_t i = 0; i < count; ++i) m_order[i] = m_sortKeys[i].header;
  m_headerRows.resize(count);
  uint32_t row = 0;
  for (size_t i = 0; i < count;) {
    const uint32_t block = row++;
    size_t j = i;
    for (; j < count && m_headers[m_order[j]].name == m_headers[m_order[i]].name; ++j) {
      m_headerRows[m_order[j]] = {block, row};
      row += m_headers[m_order[j]].lines;
    }
    i = j;
  }
  return m_headerRows;
}
