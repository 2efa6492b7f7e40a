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
CBlockMasks Classify(const char* p) {
  uint64_t space = 0, tab = 0, lineEnd = 0, semicolon = 0, equals = 0;
#if defined(TARN_RULES_SSE2)
  const auto bits = [](__m128i hits, int at) { return uint64_t{static_cast<uint32_t>(_mm_movemask_epi8(hits))} << at; };
  for (int at = 0; at < 64; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    space |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kSpace)), at);
    tab |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kTab)), at);
    lineEnd |= bits(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kLf)), _mm_cmpeq_epi8(bytes, _mm_set1_epi8(kCr))), at);
    semicolon |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kSemicolon)), at);
    equals |= bits(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(kEquals)), at);
  }
#else
  for (size_t i = 0; i < kBlock; ++i) {
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
  const uint64_t blank = space | tab;
  return {~(blank | lineEnd), ~blank, lineEnd, blank | lineEnd | semicolon, space | lineEnd | semicolon | equals,
          lineEnd | semicolon};
}

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

}  // namespace

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

bool CRulesParser::ReadLines(size_t size, uint32_t depth, size_t& stop) {
  const char* const text = m_text.get();
  const char* const end = text + size;
  const bool stopAtTop = depth != 0;
  bool ended = true;
  const auto offset = [text](const char* at) { return static_cast<uint32_t>(at - text); };
  CFlatLine* out = m_lines.get() + m_lineCount;
  CFlatLine* outEnd = m_lines.get() + m_lineCapacity;
  CBlockScanner scan(text);
  const char* p = text;
  for (;;) {
    p = scan.SkipSpaceAndComments(p);
    if (p >= end) break;
    if (out == outEnd) {
      // Every line takes at least one byte, so the text's size bounds them.
      m_lineCount = static_cast<size_t>(out - m_lines.get());
      const size_t capacity = std::min(std::max(2 * m_lineCapacity, kKeptLines), size + 1);
      std::unique_ptr<CFlatLine[]> grown(new CFlatLine[capacity]);
      AdviseLarge(grown.get(), capacity);
      if (m_lineCount != 0) std::memcpy(grown.get(), m_lines.get(), m_lineCount * sizeof(CFlatLine));
      m_lines = std::move(grown);
      m_lineCapacity = capacity;
      out = m_lines.get() + m_lineCount;
      outEnd = m_lines.get() + m_lineCapacity;
    }
    if (depth == 0) {
      // A header: a type word and a name, or a name alone. Every header
      // opens a block; the rest of its line is the block's first line.
      const char* const first = p;
      const char* const firstEnd = p = scan.Next<&CBlockMasks::headerStop>(p);
      const char* const second = p = scan.SkipBlanks(p);
      const char* const secondEnd = p = scan.Next<&CBlockMasks::headerStop>(p);
      p = scan.SkipBlanks(p);
      m_headers.push_back(static_cast<uint32_t>(out - m_lines.get()));
      if (second == secondEnd) {
        *out++ = {offset(first), offset(firstEnd) - offset(first), 0, 0, 0};
      } else {
        *out++ = {offset(second), offset(secondEnd) - offset(second), offset(first),
                  offset(firstEnd) - offset(first), 0};
      }
      depth = 1;
      continue;
    }
    // A line: key, blanks, at most one '=', blanks, value. Blanks that trail
    // a token are dropped; trimming them after the search keeps the search
    // to the separators alone. SPACE ends a key, so only TABs can trail it.
    const char* const key = p;
    const char* keyEnd = p = scan.Next<&CBlockMasks::keyStop>(p);
    while (keyEnd > key && keyEnd[-1] == kTab) --keyEnd;
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
    const char* valueEnd = p = scan.Next<&CBlockMasks::valueStop>(p);
    while (valueEnd > value && IsBlank(valueEnd[-1])) --valueEnd;
    *out++ = {offset(key), static_cast<uint32_t>(keySize), offset(value), offset(valueEnd) - offset(value), depth};
    if (block_keywords::IsKeywordWithSlack(key, keySize)) ++depth;
  }
  m_lineCount = static_cast<size_t>(out - m_lines.get());
  stop = static_cast<size_t>(std::min(p, end) - text);
  return ended;
}

void CRulesParser::Parse() {
  if (!m_blocks.empty()) m_blocks.clear();
  m_blocksBuilt = false;
  // Emptied first: if an allocation below throws, the parser holds no
  // result rather than rows over text that is no longer there.
  m_lineCount = 0;
  m_rowCount = 0;
  m_blockCount = 0;
  m_headers.clear();
  m_segments.clear();
  const size_t size = m_position == nullptr ? 0 : static_cast<size_t>(m_end - m_position);
  CopyText(m_position, size);
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
  size_t stop = 0;
  ReadLines(size, 0, stop);
  m_position = m_end;
  GroupHeaders();
}

void CRulesParser::GroupHeaders() {
  const char* const text = m_text.get();
  const size_t headers = m_headers.size();
  m_headers.push_back(static_cast<uint32_t>(m_lineCount));
  m_order.resize(headers);
  for (uint32_t h = 0; h < headers; ++h) {
    const CFlatLine& line = m_lines[m_headers[h]];
    const size_t rest = line.nameSize > 8 ? line.nameSize - 8 : 0;
    m_order[h] = {SortWord(text + line.name, line.nameSize), SortWord(text + line.name + 8, rest), h};
  }
  const auto name = [this, text](const CSortKey& key) {
    const CFlatLine& line = m_lines[m_headers[key.header]];
    return std::string_view(text + line.name, line.nameSize);
  };
  // Byte order of names, headers of one name in text order. Names are
  // compared in full only where their first sixteen bytes tie.
  const auto before = [&name](const CSortKey& a, const CSortKey& b) {
    if (a.word != b.word) return a.word < b.word;
    if (a.second != b.second) return a.second < b.second;
    const int order = name(a).compare(name(b));
    return order != 0 ? order < 0 : a.header < b.header;
  };
  if (headers < kRadixSortFrom) {
    std::sort(m_order.begin(), m_order.end(), before);
  } else {
    // Thousands of headers: sorted by their first eight bytes a byte at a
    // time (stable, so far cheaper than comparisons), then only the runs
    // whose first eight bytes tie are sorted by comparison. Names that all
    // start alike make one run, and std::sort keeps that n log n.
    m_scratch.resize(headers);
    for (int shift = 0; shift < 64; shift += 8) {
      size_t count[256] = {};
      for (const CSortKey& key : m_order) ++count[(key.word >> shift) & 0xFF];
      if (count[(m_order[0].word >> shift) & 0xFF] == headers) continue;  // one value: nothing moves
      size_t at = 0;
      for (size_t& n : count) at += std::exchange(n, at);
      for (const CSortKey& key : m_order) m_scratch[count[(key.word >> shift) & 0xFF]++] = key;
      m_order.swap(m_scratch);
    }
    for (size_t i = 0; i < headers;) {
      size_t j = i + 1;
      while (j < headers && m_order[j].word == m_order[i].word) ++j;
      if (j - i > 1) std::sort(m_order.begin() + static_cast<std::ptrdiff_t>(i), m_order.begin() + static_cast<std::ptrdiff_t>(j), before);
      i = j;
    }
  }
  m_segments.clear();
  m_lastSegment = 0;
  uint32_t rows = 0;
  size_t blocks = 0;
  for (size_t i = 0; i < headers;) {
    size_t j = i + 1;
    while (j < headers && m_order[j].word == m_order[i].word && name(m_order[j]) == name(m_order[i])) ++j;
    // The block's row: its name, and the type of its last header.
    m_segments.push_back({rows++, m_headers[m_order[j - 1].header]});
    for (size_t k = i; k < j; ++k) {
      const uint32_t header = m_order[k].header;
      const uint32_t first = m_headers[header] + 1;
      const uint32_t lines = m_headers[header + 1] - first;
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

CRulesRow CRulesParser::GetRow(size_t row) const {
  assert(row < m_rowCount);
  size_t s = m_lastSegment;
  if (!(m_segments[s].firstRow <= row && row < m_segments[s + 1].firstRow)) {
    if (s + 2 < m_segments.size() && m_segments[s + 1].firstRow <= row && row < m_segments[s + 2].firstRow) {
      ++s;
    } else {
      const auto after = std::upper_bound(m_segments.begin(), m_segments.end(), row,
                                          [](size_t r, const CSegment& segment) { return r < segment.firstRow; });
      s = static_cast<size_t>(after - m_segments.begin()) - 1;
    }
    m_lastSegment = s;
  }
  return RowOf(m_lines[m_segments[s].firstLine + (row - m_segments[s].firstRow)]);
}

size_t CRulesParser::FindTextLine(size_t offset, size_t size) const {
  // Names lie in text order. The line is the last whose name starts at or
  // before `offset`, or the one after it, whose type word comes before its
  // name when it is a header of two words.
  const CFlatLine* const lines = m_lines.get();
  const CFlatLine* const end = lines + m_lineCount;
  const CFlatLine* after = std::upper_bound(lines, end, offset, [](size_t at, const CFlatLine& line) {
    return at < line.name;
  });
  const auto holds = [offset, size](uint32_t field, uint32_t fieldSize) {
    return field <= offset && offset + size <= size_t{field} + fieldSize;
  };
  for (const CFlatLine* line = after == lines ? after : after - 1; line != end && line <= after; ++line)
    if (holds(line->name, line->nameSize) || holds(line->value, line->valueSize))
      return static_cast<size_t>(line - lines);
  return m_lineCount;
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
    BuildTree(segment.firstLine, segment.firstLine + (m_segments[s + 1].firstRow - segment.firstRow), *body);
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
