#include "rules/rules_parser.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <utility>

#include "rules/block_keywords.h"
#include "storage/byte_order.h"
#include "storage/platform.h"

#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64)
#include <emmintrin.h>
#define TARN_RULES_SSE2 1
#endif

// The reading steps are shared by two loops and two scanners; inlined into
// each, a scanner's state stays in registers, where as calls it went
// through memory at every step (bench/rules_bench.cpp showed it).
#if defined(_MSC_VER)
#define TARN_RULES_INLINE __forceinline
#else
#define TARN_RULES_INLINE [[gnu::always_inline]] inline
#endif

// ---- CRulesEntry: copy and destruction without recursion ----

CRulesEntry::CRulesEntry(const CRulesEntry& other) : m_name(other.m_name), m_value(other.m_value) {
  // Copy level by level: each pending pair is (source, copy whose children
  // are still to be filled).
  std::vector<std::pair<const CRulesEntry*, CRulesEntry*>> pending{{&other, this}};
  while (!pending.empty()) {
    auto [source, copy] = pending.back();
    pending.pop_back();
    copy->m_children.reserve(source->m_children.size());
    for (const CRulesEntry& child : source->m_children) {
      CRulesEntry& made = copy->m_children.emplace_back(child.m_name, child.m_value);
      if (!child.m_children.empty()) pending.emplace_back(&child, &made);
    }
  }
}

CRulesEntry& CRulesEntry::operator=(const CRulesEntry& other) {
  if (this != &other) *this = CRulesEntry(other);
  return *this;
}

CRulesEntry& CRulesEntry::operator=(CRulesEntry&& other) noexcept {
  if (this == &other) return *this;
  CRulesEntry old(std::move(*this));  // destroyed iteratively on return
  m_name = std::move(other.m_name);
  m_value = std::move(other.m_value);
  m_children = std::move(other.m_children);
  return *this;
}

CRulesEntry::~CRulesEntry() {
  if (m_children.empty()) return;
  // Detach every grandchild list before its owner goes, so no destructor
  // below this one ever sees a child that still has children.
  std::vector<std::vector<CRulesEntry>> doomed;
  doomed.push_back(std::move(m_children));
  while (!doomed.empty()) {
    std::vector<CRulesEntry> level = std::move(doomed.back());
    doomed.pop_back();
    for (CRulesEntry& child : level)
      if (!child.m_children.empty()) doomed.push_back(std::move(child.m_children));
  }
}

// ---- CRulesParser ----

namespace {

constexpr char kTab = '\t', kLf = '\n', kCr = '\r', kSpace = ' ', kSemicolon = ';', kEquals = '=';

// After the copied text: one LF, so that every search for a token's end or a
// line end stops there at the latest and needs no bounds check, then zeros
// (neither white space nor blank, so skipping either stops just past the
// LF), enough for the block that holds that byte to be classified whole.
constexpr size_t kSlack = 2 * 64;

// Below this, large pages would not save a fault worth the call.
constexpr size_t kLargePageBytes = size_t{2} << 20;
// Buffers beyond four times what a parse needs and beyond these sizes are
// given back: a binary entry read as rules text would otherwise hold its
// copy and its lines until the parser goes.
constexpr size_t kKeptTextBytes = size_t{1} << 20;
constexpr size_t kKeptLines = size_t{1} << 16;
// Fewer headers than this are sorted by comparison alone.
constexpr size_t kRadixSortFrom = 1024;

bool IsBlank(char b) { return b == kTab || b == kSpace; }

// The text is read as 64-byte blocks, each classified once into bit masks
// (bit i for byte i of the block). Finding a token's end is then a shift and
// a count of trailing zeros on a mask worked out before, where a search from
// each position would first load and compare the bytes there: each step of a
// line waits for the one before, so their latency is what a parse takes.
constexpr size_t kBlock = 64;

struct CBlockMasks {
  uint64_t notWhiteSpace;  // not SPACE, TAB, LF or CR
  uint64_t notBlank;       // not SPACE or TAB
  uint64_t lineEnd;        // LF, CR
  uint64_t headerStop;     // SPACE, TAB, LF, CR, ';': ends a header's word
  uint64_t keyStop;        // SPACE, LF, CR, ';', '=': ends a key
  uint64_t valueStop;      // LF, CR, ';': ends a value
};

// REQUIRES: the 64 bytes from p are readable.
// The masks of the `Bytes` bytes from p (16 or 64), bit i for byte i.
template <int Bytes>
TARN_RULES_INLINE CBlockMasks ClassifyBytes(const char* p) {
  uint64_t space = 0, tab = 0, lineEnd = 0, semicolon = 0, equals = 0;
#if defined(TARN_RULES_SSE2)
  const auto bits = [](__m128i hits, int at) {
    return uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(hits))} << at;
  };
  for (int at = 0; at < Bytes; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    space |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kSpace)), at);
    tab |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kTab)), at);
    lineEnd |= bits(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kLf)),
                                 _mm_cmpeq_epi8(bytes, _mm_set1_epi8(kCr))),
                    at);
    semicolon |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kSemicolon)), at);
    equals |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kEquals)), at);
  }
#else
  for (int i = 0; i < Bytes; ++i) {
    const uint64_t bit = uint64_t{1} << i;
    switch (p[i]) {
      case kSpace: space |= bit; break;
      case kTab: tab |= bit; break;
      case kLf:
      case kCr: lineEnd |= bit; break;
      case kSemicolon: semicolon |= bit; break;
      case kEquals: equals |= bit; break;
      default: break;
    }
  }
#endif
  constexpr uint64_t all = Bytes == 64 ? ~uint64_t{0} : (uint64_t{1} << Bytes) - 1;
  const uint64_t blank = space | tab;
  return {~(blank | lineEnd) & all,
          ~blank & all,
          lineEnd,
          blank | lineEnd | semicolon,
          space | lineEnd | semicolon | equals,
          lineEnd | semicolon};
}

CBlockMasks Classify(const char* p) { return ClassifyBytes<kBlock>(p); }

// Walks the copied text forward, one classified block at a time.
// REQUIRES: the text's slack: whatever is searched for lies at or before
// its end, and the block holding that byte is readable whole.
class CBlockScanner {
 public:
  explicit CBlockScanner(const char* text) : m_base(text), m_masks(Classify(text)) {}

  // The first byte at or after p whose bit is set in the mask Kind.
  template <uint64_t CBlockMasks::*Kind>
  const char* Next(const char* p) {
    for (;;) {
      const size_t at = static_cast<size_t>(p - m_base);
      if (at < kBlock) {
        const uint64_t hits = (m_masks.*Kind) >> at;
        if (hits != 0) return p + std::countr_zero(hits);
        p = m_base + kBlock;
      }
      // p moved on to a later block: classify the one that holds it.
      m_base += (static_cast<size_t>(p - m_base) / kBlock) * kBlock;
      m_masks = Classify(m_base);
    }
  }

  // White space, and comments up to their line end. Stops at the first
  // byte of a token, or at most one past the end of the text.
  const char* SkipSpaceAndComments(const char* p) {
    for (;;) {
      p = Next<&CBlockMasks::notWhiteSpace>(p);
      if (*p != kSemicolon) return p;
      // The line end itself is left for the next turn, as white space.
      p = Next<&CBlockMasks::lineEnd>(p);
    }
  }

  const char* SkipBlanks(const char* p) { return Next<&CBlockMasks::notBlank>(p); }

 private:
  const char* m_base;  // the classified block: m_base - text is a multiple of kBlock
  CBlockMasks m_masks;
};

// The same searches as CBlockScanner's, sixteen bytes at a time from the
// position searched from: for a walk that reads a few bytes of each line,
// where classifying every block whole would cost more than the reading.
// REQUIRES: the text's slack, as for CBlockScanner.
class CWindowScanner {
 public:
  template <uint64_t CBlockMasks::*Kind>
  TARN_RULES_INLINE const char* Next(const char* p) {
    for (;; p += 16) {
      // Inlined, only the compares that the mask Kind needs are made.
      const uint64_t hits = ClassifyBytes<16>(p).*Kind;
      if (hits != 0) return p + std::countr_zero(hits);
    }
  }
  const char* SkipBlanks(const char* p) { return Next<&CBlockMasks::notBlank>(p); }
};

// " = " followed by a byte that is not a blank.
bool IsSpacedEquals(const char* p) {
  if constexpr (std::endian::native == std::endian::little) {
    uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return (word & 0xFFFFFFu) == 0x203D20u && !IsBlank(p[3]);
  } else {
    return p[0] == kSpace && p[1] == kEquals && p[2] == kSpace && !IsBlank(p[3]);
  }
}

// "End" in any case of its ASCII letters.
bool IsEndKey(const char* key) {
  return (key[0] | 0x20) == 'e' && (key[1] | 0x20) == 'n' && (key[2] | 0x20) == 'd';
}

// The first eight bytes of a name (zero-filled when shorter), big-endian:
// comparing these compares names byte-wise as far as they go, so most
// comparisons of the sort end at one compare of two numbers.
// REQUIRES: the 8 bytes from name are readable.
uint64_t SortWord(const char* name, size_t size) {
  uint64_t word = ReadBigEndian64(name);
  if (size < 8) word &= ~(~uint64_t{0} >> (8 * size));
  return word;
}

template <typename T>
void AdviseLarge(T* data, size_t count) {
  if (count * sizeof(T) >= kLargePageBytes) platform::AdviseLargePages(data, count * sizeof(T));
}

// The fields of a header or line, as pointers into the copied text.
struct CFields {
  const char* name;
  const char* nameEnd;
  const char* value;
  const char* valueEnd;
};

// A header: a type word and a name, or a name alone. Every header opens a
// block; the rest of its line is the block's first line. Returns where the
// reading stopped: at the end of the header's last word.
template <typename Scanner>
TARN_RULES_INLINE const char* ReadHeader(Scanner& scan, const char* text, const char* p,
                                         CFields& fields) {
  const char* const first = p;
  const char* const firstEnd = p = scan.template Next<&CBlockMasks::headerStop>(p);
  const char* const second = p = scan.SkipBlanks(p);
  const char* const secondEnd = p = scan.template Next<&CBlockMasks::headerStop>(p);
  if (second == secondEnd) {
    fields = {first, firstEnd, text, text};  // no type: a value of no bytes
  } else {
    fields = {second, secondEnd, first, firstEnd};
  }
  return p;
}

// A line's value, from the end of its key `p`: blanks, at most one '=',
// blanks, then the value up to a line end or ';'. Blanks that trail it are
// dropped; trimming them after the search keeps the search to the
// separators alone. Returns where the value stopped.
template <typename Scanner>
TARN_RULES_INLINE const char* ReadValue(Scanner& scan, const char* p, CFields& fields) {
  // " = " between key and value is by far the most common; the general
  // steps cost a few branches that the mix of forms makes hard to predict.
  if (IsSpacedEquals(p)) {
    p += 3;
  } else {
    p = scan.SkipBlanks(p);
    if (*p == kEquals) ++p;
    p = scan.SkipBlanks(p);
  }
  const char* const value = p;
  const char* valueEnd = p = scan.template Next<&CBlockMasks::valueStop>(p);
  while (valueEnd > value && IsBlank(valueEnd[-1])) --valueEnd;
  fields.value = value;
  fields.valueEnd = valueEnd;
  return p;
}

// A line's key from `key`: up to a SPACE, line end, ';' or '='. Blanks that
// trail it are dropped; SPACE ends a key, so only TABs can trail it. Sets
// `p` to where the key stopped and returns its end.
template <typename Scanner>
TARN_RULES_INLINE const char* ReadKey(Scanner& scan, const char* key, const char*& p) {
  const char* keyEnd = p = scan.template Next<&CBlockMasks::keyStop>(key);
  while (keyEnd > key && keyEnd[-1] == kTab) --keyEnd;
  return keyEnd;
}

// The bytes of a block that start a line's first token: the first byte
// that is not white space after a line end (or after the text's start). A
// run of white space that holds a line end, added to its line ends, carries
// out of its top into that byte; `carry` is such a run reaching the next
// block.
TARN_RULES_INLINE uint64_t LineStarts(const CBlockMasks& masks, uint64_t& carry) {
  const uint64_t whiteSpace = ~masks.notWhiteSpace;
  const uint64_t sum = whiteSpace + masks.lineEnd;
  const uint64_t total = sum + carry;
  carry = (sum < whiteSpace || total < sum) ? 1 : 0;
  return total & masks.notWhiteSpace;
}

// Sorts keys by their first eight bytes, a byte at a time (stable, so far
// cheaper than comparisons on thousands of keys), then the runs whose first
// eight bytes tie by comparison. Names that all start alike make one run,
// and std::sort keeps that n log n.
template <typename Key, typename Before>
void SortByWordThenCompare(std::vector<Key>& order, std::vector<Key>& scratch,
                           const Before& before) {
  const size_t count = order.size();
  scratch.resize(count);
  for (int shift = 0; shift < 64; shift += 8) {
    size_t counts[256] = {};
    for (const Key& key : order) ++counts[(key.word >> shift) & 0xFF];
    if (counts[(order[0].word >> shift) & 0xFF] == count) continue;  // one value: nothing moves
    size_t at = 0;
    for (size_t& n : counts) at += std::exchange(n, at);
    for (const Key& key : order) scratch[counts[(key.word >> shift) & 0xFF]++] = key;
    order.swap(scratch);
  }
  for (size_t i = 0; i < count;) {
    size_t j = i + 1;
    while (j < count && order[j].word == order[i].word) ++j;
    if (j - i > 1)
      std::sort(order.begin() + static_cast<std::ptrdiff_t>(i),
                order.begin() + static_cast<std::ptrdiff_t>(j), before);
    i = j;
  }
}

// A record (CRulesParser::CFlatLine) from the fields that were read.
template <typename Line>
Line MakeLine(const char* text, const CFields& fields, uint32_t depth) {
  const auto offset = [text](const char* at) { return static_cast<uint32_t>(at - text); };
  return {offset(fields.name), static_cast<uint32_t>(fields.nameEnd - fields.name),
          offset(fields.value), static_cast<uint32_t>(fields.valueEnd - fields.value), depth};
}

}  // namespace

struct CRulesParser::CSortKey {
  uint64_t word;    // bytes 0-7 of the name, as SortWord makes them
  uint64_t second;  // bytes 8-15
  uint32_t header;
};

// The occurrences a search has found in the copied text and not yet placed
// in a line, in text order.
class CRulesParser::CPending {
 public:
  CPending(const std::vector<uint32_t>& starts, size_t size, std::vector<uint32_t>& lines)
      : m_next(starts.data()), m_end(starts.data() + starts.size()), m_size(size), m_lines(lines) {
    Load();
  }

  // Whether one may lie in the line whose key starts at `key` and whose
  // text ends at `lineEnd`; those before the key lie in no line.
  bool Within(size_t key, size_t lineEnd) {
    if (m_at >= lineEnd) return false;  // most lines: the next one lies further on
    for (; m_at < key; Load()) ++m_next;
    return m_at < lineEnd;
  }
  // Places those that start before `stop`, where the reading of line
  // `number` stopped: the line holds one that lies in its name or value.
  void Place(const CFlatLine& line, size_t number, size_t stop) {
    for (; m_at < stop; Load()) {
      ++m_next;
      if (!Holds(line.name, line.nameSize) && !Holds(line.value, line.valueSize)) continue;
      if (m_lines.empty() || m_lines.back() != number)
        m_lines.push_back(static_cast<uint32_t>(number));
    }
  }

 private:
  void Load() { m_at = m_next != m_end ? *m_next : SIZE_MAX; }
  bool Holds(size_t field, size_t fieldSize) const {
    return field <= m_at && m_at + m_size <= field + fieldSize;
  }

  const uint32_t* m_next;
  const uint32_t* m_end;
  size_t m_at = 0;  // *m_next, or SIZE_MAX past the last
  size_t m_size;
  std::vector<uint32_t>& m_lines;
};

// The reading of ParseHolding: it walks the starts of the text's lines, a
// block of them at a time, instead of skipping each line's value and
// comment to find the next. Only a header, or a line that an occurrence
// may lie in, has its fields read and its record written; any other line
// is counted, and its key read for the nesting it opens or closes.
class CRulesParser::CLineWalk {
 public:
  CLineWalk(CRulesParser& parser, size_t size, CPending& pending)
      : m_parser(parser), m_text(parser.m_text.get()), m_size(size), m_pending(pending) {}

  void Run() {
    uint64_t carry = 1;  // the text starts as a line does
    for (size_t base = 0; base < m_size; base += kBlock) {
      // Inlined, only the white space and line ends are worked out.
      const CBlockMasks masks = ClassifyBytes<kBlock>(m_text + base);
      for (uint64_t starts = LineStarts(masks, carry); starts != 0; starts &= starts - 1) {
        const size_t at = base + static_cast<size_t>(std::countr_zero(starts));
        if (at >= m_size) break;
        // The next line's start, when it is in this block, bounds this line.
        const uint64_t later = starts & (starts - 1);
        const size_t bound = later != 0 ? base + static_cast<size_t>(std::countr_zero(later)) : 0;
        // A token follows another on its line only after a header or "End".
        for (const char* p = m_text + at; p != nullptr;) p = ReadToken(p, bound);
      }
    }
    m_parser.m_lineCount = m_count;
  }

 private:
  // Reads the header or line at the token `p`, on a line that ends before
  // `bound` unless that is 0; returns the next token on the same line when
  // the rest of the line is read as one, else nullptr.
  TARN_RULES_INLINE const char* ReadToken(const char* p, size_t bound) {
    if (*p == kSemicolon) return nullptr;  // a comment to the line end
    if (m_count == m_parser.m_lineCapacity) {
      m_parser.m_lineCount = m_count;
      m_parser.GrowLines(m_size);
    }
    CFields fields;
    if (m_depth == 0) {
      m_parser.m_headers.push_back(static_cast<uint32_t>(m_count));
      p = ReadHeader(m_scan, m_text, p, fields);
      Write(fields, 0, p);
      m_depth = 1;
      return TokenAfterBlanks(p);
    }
    const char* const key = p;
    const char* const keyEnd = ReadKey(m_scan, key, p);
    if (keyEnd - key == 3 && IsEndKey(key)) {
      --m_depth;
      return TokenAfterBlanks(p);
    }
    const uint32_t depth = m_depth;
    if (block_keywords::IsKeywordWithSlack(key, static_cast<size_t>(keyEnd - key))) ++m_depth;
    if (bound == 0) bound = static_cast<size_t>(m_scan.Next<&CBlockMasks::lineEnd>(p) - m_text);
    if (!m_pending.Within(static_cast<size_t>(key - m_text), bound)) {
      ++m_count;
      return nullptr;
    }
    fields.name = key;
    fields.nameEnd = keyEnd;
    Write(fields, depth, ReadValue(m_scan, p, fields));
    return nullptr;
  }

  const char* TokenAfterBlanks(const char* p) {
    p = m_scan.SkipBlanks(p);
    return *p == kLf || *p == kCr ? nullptr : p;
  }

  void Write(const CFields& fields, uint32_t depth, const char* stop) {
    CFlatLine& line = m_parser.m_lines[m_count];
    line = MakeLine<CFlatLine>(m_text, fields, depth);
    m_pending.Place(line, m_count++, static_cast<size_t>(stop - m_text));
  }

  CRulesParser& m_parser;
  const char* const m_text;
  const size_t m_size;
  CPending& m_pending;
  CWindowScanner m_scan;
  size_t m_count = 0;  // records so far, written or not
  uint32_t m_depth = 0;
};

CRulesParser::CRulesParser() = default;
CRulesParser::~CRulesParser() = default;

void CRulesParser::SetSource(const CDataBuffer& source) {
  m_buffer = source;
  m_begin = m_position = source.GetData();
  m_end = m_begin == nullptr ? nullptr : m_begin + source.GetSize();
}

void CRulesParser::SetSourceBytes(std::string_view bytes) {
  m_buffer.Reset();
  m_begin = m_position = reinterpret_cast<const uint8_t*>(bytes.data());
  m_end = m_begin == nullptr ? nullptr : m_begin + bytes.size();
}

void CRulesParser::CopyText(const uint8_t* bytes, size_t size) {
  const size_t needed = size + kSlack;
  if (m_textCapacity < needed || m_textCapacity / 4 > std::max(needed, kKeptTextBytes)) {
    m_text.reset();
    m_textCapacity = 0;  // stays so if the allocation throws
    m_textSize = 0;
    m_text.reset(new char[needed]);
    m_textCapacity = needed;
    AdviseLarge(m_text.get(), needed);
  }
  if (size != 0) std::memcpy(m_text.get(), bytes, size);
  m_textSize = size;
  m_text[size] = kLf;
  std::memset(m_text.get() + size + 1, 0, kSlack - 1);
}

void CRulesParser::GrowLines(size_t size) {
  // Every line takes at least one byte, so the text's size bounds them.
  const size_t capacity = std::min(std::max(2 * m_lineCapacity, kKeptLines), size + 1);
  std::unique_ptr<CFlatLine[]> grown(new CFlatLine[capacity]);
  AdviseLarge(grown.get(), capacity);
  if (m_lineCount != 0) std::memcpy(grown.get(), m_lines.get(), m_lineCount * sizeof(CFlatLine));
  m_lines = std::move(grown);
  m_lineCapacity = capacity;
}

bool CRulesParser::ReadLines(size_t size, uint32_t depth, size_t& stop) {
  const char* const text = m_text.get();
  const char* const end = text + size;
  const bool stopAtTop = depth != 0;
  bool ended = true;
  CFlatLine* out = m_lines.get() + m_lineCount;
  CFlatLine* outEnd = m_lines.get() + m_lineCapacity;
  CBlockScanner scan(text);
  const char* p = text;
  for (;;) {
    p = scan.SkipSpaceAndComments(p);
    if (p >= end) break;
    if (out == outEnd) {
      m_lineCount = static_cast<size_t>(out - m_lines.get());
      GrowLines(size);
      out = m_lines.get() + m_lineCount;
      outEnd = m_lines.get() + m_lineCapacity;
    }
    CFields fields;
    if (depth == 0) {
      m_headers.push_back(static_cast<uint32_t>(out - m_lines.get()));
      p = ReadHeader(scan, text, p, fields);
      *out++ = MakeLine<CFlatLine>(text, fields, 0);
      depth = 1;
      continue;
    }
    const char* const key = p;
    const char* const keyEnd = ReadKey(scan, key, p);
    const size_t keySize = static_cast<size_t>(keyEnd - key);
    if (keySize == 3 && IsEndKey(key)) {
      // The rest of this line is read as the enclosing block's next line.
      p = scan.SkipBlanks(p);
      if (--depth == 0 && stopAtTop) {
        ended = false;
        break;
      }
      continue;
    }
    fields.name = key;
    fields.nameEnd = keyEnd;
    p = ReadValue(scan, p, fields);
    *out++ = MakeLine<CFlatLine>(text, fields, depth);
    if (block_keywords::IsKeywordWithSlack(key, keySize)) ++depth;
  }
  m_lineCount = static_cast<size_t>(out - m_lines.get());
  stop = static_cast<size_t>(std::min(p, end) - text);
  return ended;
}

void CRulesParser::Clear() {
  if (!m_blocks.empty()) m_blocks.clear();
  m_blocksBuilt = false;
  // Emptied first: if an allocation below throws, the parser holds no
  // result rather than rows over text that is no longer there.
  m_lineCount = 0;
  m_rowCount = 0;
  m_blockCount = 0;
  m_headers.clear();
  m_segments.clear();
}

std::string_view CRulesParser::CopySource() {
  Clear();
  const size_t size = m_position == nullptr ? 0 : static_cast<size_t>(m_end - m_position);
  CopyText(m_position, size);
  m_position = m_end;
  // Rules text has a line every 16 bytes or more; denser text grows the
  // lines as it goes.
  const size_t expected = size / 16 + 64;
  if (m_lineCapacity < expected || m_lineCapacity / 4 > std::max(expected, kKeptLines)) {
    m_lines.reset();
    m_lineCapacity = 0;
    m_lines.reset(new CFlatLine[expected]);
    m_lineCapacity = expected;
    AdviseLarge(m_lines.get(), expected);
  }
  return GetText();
}

void CRulesParser::Parse() {
  CopySource();
  size_t stop = 0;
  ReadLines(m_textSize, 0, stop);
  GroupHeaders();
}

void CRulesParser::ParseHolding(const std::vector<uint32_t>& starts, size_t size,
                                std::vector<uint32_t>& lines) {
  lines.clear();
  CPending pending(starts, size, lines);
  CLineWalk(*this, m_textSize, pending).Run();
  GroupHeaders(true);
  // Most lines were never written: no trees, and no rows but those asked for.
  m_blocksBuilt = true;
}

void CRulesParser::SortHeaders() {
  const char* const text = m_text.get();
  const size_t headers = m_headers.size() - 1;
  m_order.resize(headers);
  for (uint32_t h = 0; h < headers; ++h) {
    const CFlatLine& line = m_lines[m_headers[h]];
    const size_t rest = line.nameSize > 8 ? line.nameSize - 8 : 0;
    m_order[h] = {SortWord(text + line.name, line.nameSize), SortWord(text + line.name + 8, rest),
                  h};
  }
  // Byte order of names, headers of one name in text order. Names are
  // compared in full only where their first sixteen bytes tie.
  const auto before = [this, text](const CSortKey& a, const CSortKey& b) {
    if (a.word != b.word) return a.word < b.word;
    if (a.second != b.second) return a.second < b.second;
    const CFlatLine& x = m_lines[m_headers[a.header]];
    const CFlatLine& y = m_lines[m_headers[b.header]];
    const int order =
        std::string_view(text + x.name, x.nameSize).compare({text + y.name, y.nameSize});
    return order != 0 ? order < 0 : a.header < b.header;
  };
  if (headers < kRadixSortFrom) {
    std::sort(m_order.begin(), m_order.end(), before);
  } else {
    SortByWordThenCompare(m_order, m_scratch, before);
  }
}

void CRulesParser::GroupHeaders(bool mapHeaders) {
  const size_t headers = m_headers.size();
  m_headers.push_back(static_cast<uint32_t>(m_lineCount));
  SortHeaders();
  const auto name = [this](const CSortKey& key) {
    const CFlatLine& line = m_lines[m_headers[key.header]];
    return std::string_view(m_text.get() + line.name, line.nameSize);
  };
  m_segments.clear();
  if (mapHeaders) m_headerRows.resize(headers);
  m_lastSegment = 0;
  uint32_t rows = 0;
  size_t blocks = 0;
  for (size_t i = 0; i < headers;) {
    size_t j = i + 1;
    while (j < headers && m_order[j].word == m_order[i].word &&
           name(m_order[j]) == name(m_order[i]))
      ++j;
    // The block's row: its name, and the type of its last header.
    const auto block = static_cast<uint32_t>(m_segments.size());
    m_segments.push_back({rows++, m_headers[m_order[j - 1].header]});
    for (size_t k = i; k < j; ++k) {
      const uint32_t header = m_order[k].header;
      const uint32_t first = m_headers[header] + 1;
      const uint32_t lines = m_headers[header + 1] - first;
      if (mapHeaders)
        m_headerRows[header] = {block,
                                lines == 0 ? kNoSegment : static_cast<uint32_t>(m_segments.size())};
      if (lines == 0) continue;
      m_segments.push_back({rows, first});
      rows += lines;
    }
    ++blocks;
    i = j;
  }
  m_segments.push_back({rows, 0});
  m_rowCount = rows;
  m_blockCount = blocks;
}

size_t CRulesParser::SegmentOf(size_t row) const {
  size_t s = m_lastSegment;
  if (m_segments[s].firstRow <= row && row < m_segments[s + 1].firstRow) return s;
  if (s + 2 < m_segments.size() && m_segments[s + 1].firstRow <= row &&
      row < m_segments[s + 2].firstRow) {
    ++s;
  } else {
    const auto after =
        std::upper_bound(m_segments.begin(), m_segments.end(), row,
                         [](size_t r, const CSegment& segment) { return r < segment.firstRow; });
    s = static_cast<size_t>(after - m_segments.begin()) - 1;
  }
  m_lastSegment = s;
  return s;
}

CRulesRow CRulesParser::GetRow(size_t row) const {
  assert(row < m_rowCount);
  const CSegment& segment = m_segments[SegmentOf(row)];
  return RowOf(m_lines[segment.firstLine + (row - segment.firstRow)]);
}

// Appends the lines [first, end) to parent as trees. The lines are in text
// order, which is the trees' depth-first order, and each is at most one
// level below the line before it; the first is one level below parent.
void CRulesParser::BuildTree(size_t first, size_t end, CRulesEntry& parent) const {
  if (first == end) return;
  const uint32_t base = m_lines[first].depth;
  // open[d] takes the lines d + 1 levels below parent. Only the innermost
  // list is ever appended to, so the entries that the outer ones point at
  // never move while they are open.
  std::vector<CRulesEntry*> open{&parent};
  for (size_t i = first; i < end; ++i) {
    const CRulesRow row = RowOf(m_lines[i]);
    const size_t level = row.depth - base + 1;
    open.resize(level);
    open.push_back(&open.back()->m_children.emplace_back(row.name, row.value));
  }
}

const CRulesParser::Blocks& CRulesParser::GetBlocks() const {
  if (m_blocksBuilt) return m_blocks;
  CRulesEntry* body = nullptr;
  for (size_t s = 0; s + 1 < m_segments.size(); ++s) {
    const CSegment& segment = m_segments[s];
    const CRulesRow row = RowOf(m_lines[segment.firstLine]);
    if (row.depth == 0) {
      CRulesBlock& block = m_blocks.emplace_hint(m_blocks.end(), row.name, CRulesBlock())->second;
      block.m_type = row.value;
      body = &block.m_body;
      continue;
    }
    BuildTree(segment.firstLine,
              segment.firstLine + (m_segments[s + 1].firstRow - segment.firstRow), *body);
  }
  m_blocksBuilt = true;
  return m_blocks;
}

bool CRulesParser::ParseBlockBody(CRulesEntry& parent) {
  // Read by a parser of its own, so that this parser's last result stays.
  CRulesParser reader;
  const size_t size = m_position == nullptr ? 0 : static_cast<size_t>(m_end - m_position);
  reader.CopyText(m_position, size);
  size_t stop = 0;
  const bool ended = reader.ReadLines(size, 1, stop);
  reader.BuildTree(0, reader.m_lineCount, parent);
  if (m_position != nullptr) m_position += stop;
  return ended;
}
