#include "rules/rules_search.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64)
#include <emmintrin.h>
#define TARN_SEARCH_SSE2 1
#endif

namespace {

constexpr size_t kTextProbeBytes = 8192;

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

bool IsRulesText(std::string_view bytes) {
  const size_t probe = std::min(bytes.size(), kTextProbeBytes);
  return probe == 0 || std::memchr(bytes.data(), 0, probe) == nullptr;
}

CTextFinder::CTextFinder(std::string_view pattern, bool ignoreCase)
    : m_pattern(pattern), m_fold(pattern.size(), '\0') {
  if (!ignoreCase) return;
  for (size_t i = 0; i < m_pattern.size(); ++i) {
    if (!IsAsciiLetter(m_pattern[i])) continue;
    m_pattern[i] = static_cast<char>(m_pattern[i] | 0x20);
    m_fold[i] = 0x20;
    m_folded = true;
  }
}

bool CTextFinder::MatchesAt(const char* at) const {
  const size_t n = m_pattern.size();
  if (!m_folded) return std::memcmp(at, m_pattern.data(), n) == 0;
  for (size_t i = 0; i < n; ++i)
    if (static_cast<char>(at[i] | m_fold[i]) != m_pattern[i]) return false;
  return true;
}

size_t CTextFinder::Find(std::string_view text, size_t from) const {
  const size_t n = m_pattern.size();
  if (from > text.size() || text.size() - from < n) return npos;
  if (n == 0) return from;
  const char* const data = text.data();
  // Starts [from, last] can hold the pattern.
  const size_t last = text.size() - n;
  size_t at = from;
#if defined(TARN_SEARCH_SSE2)
  // Sixteen starts at a time: a start is a candidate when its byte is the
  // pattern's first and the byte n - 1 after it the pattern's last; only
  // candidates are compared in full. The text's bytes are never read past
  // its end: a block is taken only while its last byte lies inside.
  const __m128i firstByte = _mm_set1_epi8(m_pattern.front());
  const __m128i firstFold = _mm_set1_epi8(m_fold.front());
  const __m128i lastByte = _mm_set1_epi8(m_pattern.back());
  const __m128i lastFold = _mm_set1_epi8(m_fold.back());
  for (; at <= last && last - at >= 15; at += 16) {
    const __m128i heads = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    const __m128i tails = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + n - 1));
    const __m128i both = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(heads, firstFold), firstByte),
                                       _mm_cmpeq_epi8(_mm_or_si128(tails, lastFold), lastByte));
    for (auto candidates = static_cast<unsigned>(_mm_movemask_epi8(both)); candidates != 0;
         candidates &= candidates - 1) {
      const size_t start = at + static_cast<size_t>(std::countr_zero(candidates));
      if (n <= 2 || MatchesAt(data + start)) return start;
    }
  }
#else
  if (!m_folded) {
    // The first byte by memchr, the rest compared where it is found.
    while (at <= last) {
      const void* found = std::memchr(data + at, m_pattern.front(), last - at + 1);
      if (found == nullptr) return npos;
      at = static_cast<size_t>(static_cast<const char*>(found) - data);
      if (MatchesAt(data + at)) return at;
      ++at;
    }
    return npos;
  }
#endif
  for (; at <= last; ++at)
    if (MatchesAt(data + at)) return at;
  return npos;
}

void CRulesSearch::ParseAndFindLines(std::string_view bytes, size_t first) {
  m_parser.SetSourceBytes(bytes);
  // Occurrences are found again in the parser's copy, where the rows lie:
  // the bytes of a mapped file can change under a reader. Only the lines
  // they lie in are read in full.
  const std::string_view text = m_parser.CopySource();
  m_starts.clear();
  for (size_t at = m_finder.Find(text, std::min(first, text.size())); at != CTextFinder::npos;
       at = m_finder.Find(text, at + 1))
    m_starts.push_back(static_cast<uint32_t>(at));
  m_parser.ParseHolding(m_starts, m_finder.size(), m_lines);
}
