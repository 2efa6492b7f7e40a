#include "rules/rules_parser.h"

#include <iterator>
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

// One table per separator set; a byte's bit says which sets stop at it.
struct SeparatorTable {
  uint8_t bits[256] = {};
  constexpr SeparatorTable() {
    for (uint8_t b : {kTab, kLf, kCr, kSpace, kSemicolon}) bits[b] |= 1;  // header
    for (uint8_t b : {kLf, kCr, kSpace, kSemicolon, kEquals}) bits[b] |= 2;  // key
    for (uint8_t b : {kLf, kCr, kSemicolon}) bits[b] |= 4;  // value
  }
};
constexpr SeparatorTable kSeparators;

constexpr size_t kKeptLevels = 64;

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
  const uint8_t mask = set == Separators::Header ? 1 : set == Separators::Key ? 2 : 4;
  const uint8_t* const start = m_position;
  const uint8_t* p = m_position;
  while (p < m_end && !(kSeparators.bits[*p] & mask)) ++p;
  m_position = p;
  // Blanks that are not separators belong to the token only when a non-blank
  // follows them; trailing ones are consumed and dropped. Trimming them from
  // the end afterwards keeps the loop above to one test per byte.
  while (p > start && IsBlank(p[-1])) --p;
  return {reinterpret_cast<const char*>(start), static_cast<size_t>(p - start)};
}

void CRulesParser::Parse() {
  m_blocks.clear();
  // Scratch levels beyond the usual depths are not worth keeping: a text
  // nested a million deep would otherwise hold a million lists until the
  // next parse.
  struct TrimLevels {
    std::vector<std::vector<CRulesEntry>>& levels;
    ~TrimLevels() {
      if (levels.size() > kKeptLevels) levels.resize(kKeptLevels);
    }
  } trim{m_levels};
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
  // The lines of every open level gather in a scratch list of their own and
  // move into their entry's children when the level closes: a new child
  // list is sized once, not grown by doubling, and the scratch lists keep their capacity
  // from block to block. Level 0 belongs to `parent`; level d > 0 to the last
  // line of level d - 1, which nothing appends to while level d is open.
  size_t depth = 0;
  if (m_levels.empty()) m_levels.emplace_back();
  auto close = [this, &parent](size_t level) {
    std::vector<CRulesEntry>& lines = m_levels[level];
    CRulesEntry& owner = level == 0 ? parent : m_levels[level - 1].back();
    // A block named again by a later header gets lines appended many times;
    // insert() grows geometrically there, where an exact reserve each time
    // would copy the list over and over.
    owner.m_children.insert(owner.m_children.end(), std::make_move_iterator(lines.begin()),
                            std::make_move_iterator(lines.end()));
    lines.clear();
  };
  for (;;) {
    SkipSpaceAndComments();
    if (m_position >= m_end) {
      // Every open block keeps the lines read so far.
      for (size_t level = depth + 1; level-- > 0;) close(level);
      return true;
    }
    const std::string_view key = ScanToken(Separators::Key);
    SkipBlanks();
    if (IsEndKey(key)) {
      // The rest of this line is read as the enclosing block's next line.
      close(depth);
      if (depth == 0) return false;
      --depth;
      continue;
    }
    if (m_position < m_end && *m_position == kEquals) ++m_position;
    SkipBlanks();
    const std::string_view value = ScanToken(Separators::Value);
    SkipBlanks();
    m_levels[depth].emplace_back(key, value);
    if (IsBlockKeyword(key)) {
      if (++depth == m_levels.size()) m_levels.emplace_back();
    }
  }
}
