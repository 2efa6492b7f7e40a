#include "rules/rules_parser.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

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

constexpr uint8_t kTab = 0x09, kLf = 0x0A, kCr = 0x0D, kSpace = 0x20, kSemicolon = 0x3B,
                  kEquals = 0x3D;

bool IsBlank(uint8_t b) { return b == kTab || b == kSpace; }
bool IsWhiteSpace(uint8_t b) { return b == kTab || b == kSpace || b == kLf || b == kCr; }

// Bits 0x80 of the bytes of `word` that equal `b`; a lower byte's match is
// always exact, so the lowest bit set marks the first one.
constexpr uint64_t BytesEqual(uint64_t word, uint8_t b) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  const uint64_t x = word ^ (kOnes * b);
  return (x - kOnes) & ~x & (kOnes << 7);
}

// The first byte in [p, end) that is one of Stops, or end. Tokens are short
// but so many that scanning them eight bytes at a time pays.
template <uint8_t... Stops>
const uint8_t* FindSeparator(const uint8_t* p, const uint8_t* end) {
  if constexpr (std::endian::native == std::endian::little) {
    while (end - p >= 8) {
      uint64_t word;
      std::memcpy(&word, p, sizeof word);
      const uint64_t hits = (BytesEqual(word, Stops) | ...);
      if (hits != 0) return p + std::countr_zero(hits) / 8;
      p += 8;
    }
  }
  while (p < end && ((*p != Stops) && ...)) ++p;
  return p;
}

constexpr size_t kKeptLevels = 64;
constexpr size_t kKeptLines = size_t{1} << 16;

template <typename T>
void TrimTo(std::vector<T>& scratch, size_t kept) {
  if (scratch.capacity() > kept) {
    scratch.clear();
    scratch.shrink_to_fit();
    scratch.reserve(kept);
  }
}

// "End" in any case of its ASCII letters.
bool IsEndKey(std::string_view key) {
  return key.size() == 3 && (key[0] | 0x20) == 'e' && (key[1] | 0x20) == 'n' &&
         (key[2] | 0x20) == 'd';
}

}  // namespace

void CRulesParser::SetSource(const CDataBuffer& source) {
  m_buffer = source;
  m_begin = m_position = source.GetData();
  m_end = m_begin == nullptr ? nullptr : m_begin + source.GetSize();
}

void CRulesParser::SkipBlanks() {
  while (m_position < m_end && IsBlank(*m_position)) ++m_position;
}

void CRulesParser::SkipSpaceAndComments() {
  while (m_position < m_end) {
    if (IsWhiteSpace(*m_position)) {
      ++m_position;
    } else if (*m_position == kSemicolon) {
      // The line end itself is left for the next turn, as white space.
      while (m_position < m_end && *m_position != kLf && *m_position != kCr) ++m_position;
    } else {
      return;
    }
  }
}

std::string_view CRulesParser::ScanToken(Separators set) {
  const uint8_t* const start = m_position;
  const uint8_t* p;
  switch (set) {
    case Separators::Header: p = FindSeparator<kTab, kLf, kCr, kSpace, kSemicolon>(start, m_end); break;
    case Separators::Key: p = FindSeparator<kLf, kCr, kSpace, kSemicolon, kEquals>(start, m_end); break;
    default: p = FindSeparator<kLf, kCr, kSemicolon>(start, m_end); break;
  }
  m_position = p;
  // Blanks that are not separators belong to the token only when a non-blank
  // follows them; trailing ones are consumed and dropped. Trimming them from
  // the end afterwards keeps the scan to a search for the separator.
  while (p > start && IsBlank(p[-1])) --p;
  return {reinterpret_cast<const char*>(start), static_cast<size_t>(p - start)};
}

void CRulesParser::Parse() {
  m_blocks.clear();
  m_lineCount = 0;
  // Scratch beyond the usual sizes is not worth keeping: a binary entry that
  // opens a million blocks would otherwise hold their lines until the next parse.
  struct TrimScratch {
    CRulesParser& parser;
    ~TrimScratch() {
      TrimTo(parser.m_lines, kKeptLines);
      TrimTo(parser.m_open, kKeptLevels);
      TrimTo(parser.m_pending, kKeptLevels);
    }
  } trim{*this};
  SkipSpaceAndComments();
  while (m_position < m_end) {
    const std::string_view first = ScanToken(Separators::Header);
    SkipBlanks();
    const std::string_view second = ScanToken(Separators::Header);
    SkipBlanks();
    const std::string_view name = second.empty() ? first : second;
    const std::string_view type = second.empty() ? std::string_view() : first;
    auto found = m_blocks.lower_bound(name);
    if (found == m_blocks.end() || found->first != name) found = m_blocks.emplace_hint(found, name, CRulesBlock());
    found->second.m_type = type;
    if (ParseBlockBody(found->second.m_body)) return;
    SkipSpaceAndComments();
  }
}

bool CRulesParser::ParseBlockBody(CRulesEntry& parent) {
  m_lines.clear();
  m_open.clear();
  size_t direct = 0;  // lines of parent's own level
  bool ended = false;
  for (;;) {
    SkipSpaceAndComments();
    if (m_position >= m_end) {
      // Every open block keeps the lines read so far.
      ended = true;
      break;
    }
    const std::string_view key = ScanToken(Separators::Key);
    SkipBlanks();
    if (IsEndKey(key)) {
      // The rest of this line is read as the enclosing block's next line.
      if (m_open.empty()) break;
      m_open.pop_back();
      continue;
    }
    if (m_position < m_end && *m_position == kEquals) ++m_position;
    SkipBlanks();
    const std::string_view value = ScanToken(Separators::Value);
    SkipBlanks();
    ++(m_open.empty() ? direct : m_lines[m_open.back()].children);
    m_lines.push_back({key, value, 0});
    if (IsBlockKeyword(key)) m_open.push_back(m_lines.size() - 1);
  }
  BuildEntries(parent, direct);
  return ended;
}

void CRulesParser::BuildEntries(CRulesEntry& parent, size_t lines) {
  m_lineCount += m_lines.size();
  std::vector<CRulesEntry>& top = parent.m_children;
  // A block named again by a later header gets lines appended many times:
  // grow geometrically there, where an exact reserve each time would copy
  // the list over and over.
  if (top.capacity() - top.size() < lines) top.reserve(std::max(top.size() + lines, 2 * top.size()));
  // The flat lines are in text order, which is the tree's depth-first order;
  // each pending list takes the next `left` lines at its level.
  m_pending.clear();
  m_pending.push_back({&top, lines});
  for (const CFlatLine& line : m_lines) {
    while (m_pending.back().left == 0) m_pending.pop_back();
    CPendingList& into = m_pending.back();
    --into.left;
    // Reserved in full beforehand, so `made` stays where it is.
    CRulesEntry& made = into.list->emplace_back(line.name, line.value);
    if (line.children != 0) {
      made.m_children.reserve(line.children);
      m_pending.push_back({&made.m_children, line.children});
    }
  }
  m_lines.clear();
}
