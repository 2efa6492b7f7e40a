#include "rules/rules_refs.h"

#include <algorithm>
#include <bitset>
#include <cstring>
#include <memory>
#include <utility>

#include "rules/rules_search.h"
#include "rules/search_entries.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A chunk is about a mebibyte of entries, as a search's: enough to make
// handing over cheap, small enough that the two threads finish together.
constexpr size_t kChunkBytes = size_t{1} << 20;
constexpr size_t kChunkEntries = 4096;

// The piece of an entry's bytes that a view of the parser's copy stands for:
// the copy is made byte for byte, so offsets agree.
std::string_view InSource(const CRulesParser& parser, std::string_view bytes,
                          std::string_view piece) {
  if (piece.empty()) return bytes.substr(0, 0);
  return bytes.substr(parser.TextOffset(piece), piece.size());
}

// Runs `run(worker, first, last, slot)` over the rules sources in chunks on
// two threads, and `deliver(slot)` for each chunk in order on this one.
template <typename Run, typename Deliver>
void OverSources(const std::vector<CRulesSource>& sources, Run&& run, Deliver&& deliver) {
  CInOrderWork work;
  work.count = sources.size();
  work.chunkEnd = [&](size_t first) {
    size_t end = first;
    for (size_t bytes = 0;
         end < sources.size() && end - first < kChunkEntries && bytes < kChunkBytes; ++end)
      bytes += sources[end].bytes.size();
    return std::max(end, first + 1);
  };
  work.run = run;
  work.deliver = [&](size_t slot, size_t) { deliver(slot); };
  RunInOrder(work);
}

// Eight bytes of `text` from `at` (zeros past its end), big-endian:
// comparing these compares texts byte-wise as far as they go.
uint64_t WordAt(std::string_view text, size_t at) {
  unsigned char bytes[8] = {};
  if (at < text.size()) std::memcpy(bytes, text.data() + at, std::min<size_t>(text.size() - at, 8));
  uint64_t word = 0;
  for (const unsigned char b : bytes) word = (word << 8) | b;
  return word;
}

// A text as a sort sees it: its first sixteen bytes and its size, which
// settle every comparison with another text of sixteen bytes or fewer.
struct CSortText {
  uint64_t head;
  uint64_t tail;
  size_t size;

  explicit CSortText(std::string_view text)
      : head(WordAt(text, 0)), tail(WordAt(text, 8)), size(text.size()) {}
  // The order of `a` and `b`, their texts; only long texts that start alike
  // are compared in full.
  static int Compare(const CSortText& a, const CSortText& b, std::string_view x,
                     std::string_view y) {
    if (a.head != b.head) return a.head < b.head ? -1 : 1;
    if (a.tail != b.tail) return a.tail < b.tail ? -1 : 1;
    if (a.size <= 16 && b.size <= 16)  // equal words: the shorter is a prefix
      return a.size < b.size ? -1 : a.size > b.size ? 1 : 0;
    return x.compare(y);
  }
};

// The numbers of `definitions` ordered by `first(d)`, then by name, then as
// they are. Most comparisons are settled by numbers in the sort's own
// array, without a look at the definitions.
template <typename First>
std::vector<uint32_t> SortedBy(const std::vector<CRulesDefinition>& definitions, First&& first) {
  struct CKey {
    CSortText first;
    CSortText name;
    uint32_t definition;
  };
  std::vector<CKey> keys;
  keys.reserve(definitions.size());
  for (uint32_t d = 0; d < definitions.size(); ++d)
    keys.push_back({CSortText(first(definitions[d])), CSortText(definitions[d].name), d});
  std::sort(keys.begin(), keys.end(), [&](const CKey& a, const CKey& b) {
    const CRulesDefinition& x = definitions[a.definition];
    const CRulesDefinition& y = definitions[b.definition];
    if (const int order = CSortText::Compare(a.first, b.first, first(x), first(y)); order != 0)
      return order < 0;
    if (const int order = CSortText::Compare(a.name, b.name, x.name, y.name); order != 0)
      return order < 0;
    return a.definition < b.definition;
  });
  std::vector<uint32_t> order(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) order[i] = keys[i].definition;
  return order;
}

}  // namespace

// Most tokens of a value name nothing ("450", "Yes", "PRIMARY"): a bit per
// size, first and last byte answers those before any hashing of the token.
class CRulesIndex::CNameFilter {
 public:
  void Add(std::string_view name) { m_bits.set(Slot(name)); }
  bool MayHold(std::string_view token) const { return m_bits.test(Slot(token)); }

 private:
  static constexpr size_t kBits = size_t{1} << 16;
  static size_t Slot(std::string_view token) {
    const auto first = static_cast<unsigned char>(token.front());
    const auto last = static_cast<unsigned char>(token.back());
    return (first * 251u + last * 31u + static_cast<unsigned>(token.size()) * 7919u) % kBits;
  }
  std::bitset<kBits> m_bits;
};

// Row names seen by one thread, each numbered once: every row's name is
// looked up, and the few distinct ones make a small table.
class CRulesIndex::CKeyTable {
 public:
  // The number of `key`; a new key is kept as `keep()` gives it, a view
  // that outlives the parse it was read in.
  template <typename Keep>
  uint32_t Number(std::string_view key, Keep&& keep) {
    if (2 * (m_keys.size() + 1) > m_slots.size()) Grow();
    const size_t mask = m_slots.size() - 1;
    for (size_t at = Hash(key) & mask;; at = (at + 1) & mask) {
      CSlot& slot = m_slots[at];
      if (slot.number == kEmpty) {
        slot = {keep(), static_cast<uint32_t>(m_keys.size())};
        m_keys.push_back(slot.key);
        return slot.number;
      }
      if (slot.key == key) return slot.number;
    }
  }
  const std::vector<std::string_view>& Keys() const { return m_keys; }

 private:
  static constexpr uint32_t kEmpty = UINT32_MAX;
  struct CSlot {
    std::string_view key;
    uint32_t number = kEmpty;
  };
  // The first and last eight bytes (or fewer) and the size.
  static size_t Hash(std::string_view key) {
    const size_t n = std::min<size_t>(key.size(), 8);
    uint64_t head = 0, tail = 0;
    if (n != 0) {
      std::memcpy(&head, key.data(), n);
      std::memcpy(&tail, key.data() + key.size() - n, n);
    }
    const uint64_t h =
        (head * 0x9E3779B97F4A7C15ull) ^ ((tail + key.size()) * 0xC2B2AE3D27D4EB4Full);
    return static_cast<size_t>(h ^ (h >> 29));
  }
  void Grow() {
    std::vector<CSlot> old(std::max<size_t>(64, 2 * m_slots.size()));
    old.swap(m_slots);
    const size_t mask = m_slots.size() - 1;
    for (const CSlot& slot : old) {
      if (slot.number == kEmpty) continue;
      size_t at = Hash(slot.key) & mask;
      while (m_slots[at].number != kEmpty) at = (at + 1) & mask;
      m_slots[at] = slot;
    }
  }

  std::vector<CSlot> m_slots;
  std::vector<std::string_view> m_keys;
};

bool ValueHoldsToken(std::string_view value, std::string_view token) {
  bool found = false;
  ForEachValueToken(value, [&](std::string_view t) { found = found || t == token; });
  return found;
}

bool IsNumberToken(std::string_view token) {
  size_t at = 0;
  if (at < token.size() && (token[at] == '+' || token[at] == '-')) ++at;
  size_t end = token.size();
  if (end > at && token[end - 1] == '%') --end;
  bool digit = false;
  bool point = false;
  for (; at < end; ++at) {
    if (IsDigit(token[at])) {
      digit = true;
    } else if (token[at] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digit;
}

bool IsModifierToken(std::string_view token) {
  if (token.empty()) return false;
  for (const char c : token)
    if (!((c >= 'A' && c <= 'Z') || IsDigit(c) || c == '_')) return false;
  return true;
}

bool IsReferenceKey(const CKeyUse& use, const CReferenceKeyRule& rule) {
  return use.rows != 0 && use.rows >= rule.minUses &&
         use.references * 100 >= uint64_t{rule.share} * use.rows;
}

// ---- CRulesIndex ----

CRulesIndex::CRulesIndex() = default;
CRulesIndex::~CRulesIndex() = default;
CRulesIndex::CRulesIndex(CRulesIndex&&) noexcept = default;
CRulesIndex& CRulesIndex::operator=(CRulesIndex&&) noexcept = default;

void CRulesIndex::Build(std::vector<CRulesSource> sources, const CReferenceKeyRule& rule) {
  *this = CRulesIndex();
  std::erase_if(sources, [](const CRulesSource& s) { return !IsRulesText(s.bytes); });
  m_sources = std::move(sources);
  m_rule = rule;
  ReadDefinitions();
  ReadRows();
}

// The headers of every entry: a walk that reads only what nesting needs.
void CRulesIndex::ReadDefinitions() {
  struct CWorker {
    CRulesParser parser;
    std::vector<uint32_t> none, lines;
  };
  auto workers = std::make_unique<CWorker[]>(2);
  std::vector<CRulesDefinition> chunks[kInOrderSlots];
  OverSources(
      m_sources,
      [&](int worker, size_t first, size_t last, size_t slot) {
        CWorker& w = workers[worker];
        for (size_t e = first; e < last; ++e) {
          const std::string_view bytes = m_sources[e].bytes;
          w.parser.SetSourceBytes(bytes);
          w.parser.CopySource();
          w.parser.ParseHolding(w.none, 1, w.lines);
          w.parser.ForEachHeader([&](const CRulesRow& header) {
            const std::string_view name = InSource(w.parser, bytes, header.name);
            chunks[slot].push_back({static_cast<uint32_t>(e),
                                    static_cast<uint32_t>(name.data() - bytes.data()),
                                    InSource(w.parser, bytes, header.value), name});
          });
        }
      },
      [&](size_t slot) {
        m_definitions.insert(m_definitions.end(), chunks[slot].begin(), chunks[slot].end());
        chunks[slot].clear();
      });

  m_byName = SortedBy(m_definitions, [](const CRulesDefinition& d) { return d.name; });
  m_byKeyword = SortedBy(m_definitions, [](const CRulesDefinition& d) { return d.keyword; });
  for (uint32_t i = 0; i < m_byName.size(); ++i) {
    const std::string_view name = m_definitions[m_byName[i]].name;
    if (m_names.empty() || m_names.back().name != name) m_names.push_back({name, i, 0});
    ++m_names.back().definitions;
  }
  m_nameNumbers.reserve(m_names.size());
  for (uint32_t n = 0; n < m_names.size(); ++n) m_nameNumbers.emplace(m_names[n].name, n);
}

uint32_t CRulesIndex::NameNumber(std::string_view name) const {
  const auto found = m_nameNumbers.find(name);
  return found == m_nameNumbers.end() ? kNoName : found->second;
}

std::vector<const CRulesDefinition*> CRulesIndex::DefinitionsOf(std::string_view name) const {
  std::vector<const CRulesDefinition*> found;
  const uint32_t number = NameNumber(name);
  if (number == kNoName) return found;
  const CName& n = m_names[number];
  for (uint32_t i = 0; i < n.definitions; ++i)
    found.push_back(&m_definitions[m_byName[n.firstDefinition + i]]);
  return found;
}

std::vector<CRulesUse> CRulesIndex::UsesOf(std::string_view name) const {
  const uint32_t number = NameNumber(name);
  if (number == kNoName) return {};
  const auto range =
      std::equal_range(m_uses.begin(), m_uses.end(), CRulesUse{0, 0, number},
                       [](const CRulesUse& a, const CRulesUse& b) { return a.name < b.name; });
  return {range.first, range.second};
}

std::vector<std::string_view> CRulesIndex::NamesOfKeyword(std::string_view keyword) const {
  std::vector<std::string_view> names;
  const auto first = std::lower_bound(
      m_byKeyword.begin(), m_byKeyword.end(), keyword,
      [this](uint32_t d, std::string_view k) { return m_definitions[d].keyword < k; });
  for (auto at = first; at != m_byKeyword.end() && m_definitions[*at].keyword == keyword; ++at)
    if (names.empty() || names.back() != m_definitions[*at].name)
      names.push_back(m_definitions[*at].name);
  return names;
}

std::vector<CRulesDuplicate> CRulesIndex::Duplicates() const {
  std::vector<CRulesDuplicate> found;
  for (size_t i = 0; i < m_byKeyword.size();) {
    const CRulesDefinition& d = m_definitions[m_byKeyword[i]];
    size_t j = i + 1;
    while (j < m_byKeyword.size() && m_definitions[m_byKeyword[j]].keyword == d.keyword &&
           m_definitions[m_byKeyword[j]].name == d.name)
      ++j;
    if (j - i > 1)
      found.push_back({d.keyword, d.name, {m_byKeyword.begin() + i, m_byKeyword.begin() + j}});
    i = j;
  }
  return found;
}

// What one chunk of entries gives the reading of rows, made on either
// thread. Keys go by the numbers of the thread's CKeyTable, whose names
// `keys` copies at the chunk's end: the table itself may grow meanwhile.
struct CRulesIndex::CRowsPass {
  // A row that is unresolved if its key turns out a reference key.
  struct CCandidate {
    uint32_t entry;
    uint32_t row;
    uint32_t key;
  };
  std::vector<CRulesUse> uses;
  std::vector<CKeyUse> counts;  // by key number
  std::vector<std::string_view> keys;
  std::vector<CCandidate> candidates;

  void Clear() {
    uses.clear();
    counts.clear();
    keys.clear();
    candidates.clear();
  }
};

// The rows of the entries [first, last): which names they reference, how
// each key is used, and which rows may be unresolved.
void CRulesIndex::ReadRowsOf(size_t first, size_t last, CRulesParser& parser, CKeyTable& table,
                             CRowsPass& chunk) const {
  for (size_t e = first; e < last; ++e) {
    const std::string_view bytes = m_sources[e].bytes;
    parser.SetSourceBytes(bytes);
    parser.Parse();
    uint32_t row = 0;
    parser.ForEachRow([&](const CRulesRow& cells) {
      const uint32_t number = row++;
      if (cells.depth == 0) return;
      const size_t before = chunk.uses.size();
      bool unknown = false;
      ForEachValueToken(cells.value, [&](std::string_view token) {
        const uint32_t name = m_filter->MayHold(token) ? NameNumber(token) : kNoName;
        if (name == kNoName) {
          unknown = unknown || (!IsNumberToken(token) && !IsModifierToken(token));
          return;
        }
        for (size_t u = before; u < chunk.uses.size(); ++u)
          if (chunk.uses[u].name == name) return;  // one use of a name a row
        chunk.uses.push_back({static_cast<uint32_t>(e), number, name});
      });
      const uint32_t key =
          table.Number(cells.name, [&] { return InSource(parser, bytes, cells.name); });
      if (key >= chunk.counts.size()) chunk.counts.resize(key + 1);
      ++chunk.counts[key].rows;
      if (chunk.uses.size() != before) ++chunk.counts[key].references;
      else if (unknown) chunk.candidates.push_back({static_cast<uint32_t>(e), number, key});
    });
  }
  chunk.keys.assign(table.Keys().begin(), table.Keys().begin() + chunk.counts.size());
}

// The rows of every entry; then the reference keys, and the rows of theirs
// that are unresolved.
void CRulesIndex::ReadRows() {
  m_filter = std::make_unique<CNameFilter>();
  for (const CName& name : m_names) m_filter->Add(name.name);
  CRulesParser parsers[2];
  CKeyTable tables[2];
  CRowsPass chunks[kInOrderSlots];
  CKeyTable keys;  // every key, on this thread
  std::vector<CKeyUse> counts;
  std::vector<CRowsPass::CCandidate> candidates;
  std::vector<uint32_t> global;  // a chunk's key numbers in `keys`
  OverSources(
      m_sources,
      [&](int worker, size_t first, size_t last, size_t slot) {
        ReadRowsOf(first, last, parsers[worker], tables[worker], chunks[slot]);
      },
      [&](size_t slot) {
        CRowsPass& chunk = chunks[slot];
        m_uses.insert(m_uses.end(), chunk.uses.begin(), chunk.uses.end());
        global.resize(chunk.keys.size());
        for (size_t k = 0; k < chunk.keys.size(); ++k) {
          if (chunk.counts[k].rows == 0) continue;
          global[k] = keys.Number(chunk.keys[k], [&] { return chunk.keys[k]; });
          if (global[k] >= counts.size()) counts.resize(global[k] + 1);
          counts[global[k]].rows += chunk.counts[k].rows;
          counts[global[k]].references += chunk.counts[k].references;
        }
        for (CRowsPass::CCandidate c : chunk.candidates) {
          c.key = global[c.key];
          candidates.push_back(c);
        }
        chunk.Clear();
      });
  std::stable_sort(m_uses.begin(), m_uses.end(),
                   [](const CRulesUse& a, const CRulesUse& b) { return a.name < b.name; });
  for (size_t k = 0; k < counts.size(); ++k) m_keys.emplace(keys.Keys()[k], counts[k]);
  for (const CRowsPass::CCandidate& c : candidates)
    if (::IsReferenceKey(counts[c.key], m_rule)) m_unresolved.push_back({c.entry, c.row});
}

bool CRulesIndex::IsReferenceKey(std::string_view key) const {
  const auto found = m_keys.find(key);
  return found != m_keys.end() && ::IsReferenceKey(found->second, m_rule);
}

std::vector<std::pair<std::string_view, uint64_t>> CRulesIndex::ValuesUsedWith(
    std::string_view key) const {
  std::unordered_map<std::string_view, uint64_t> counts;
  const CTextFinder finder(key, false);
  CRulesParser parser;
  for (const CRulesSource& source : m_sources) {
    if (key.empty() || !finder.OccursIn(source.bytes)) continue;
    parser.SetSourceBytes(source.bytes);
    parser.Parse();
    parser.ForEachRow([&](const CRulesRow& row) {
      if (row.depth != 0 && row.name == key) ++counts[InSource(parser, source.bytes, row.value)];
    });
  }
  std::vector<std::pair<std::string_view, uint64_t>> values(counts.begin(), counts.end());
  std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second > b.second : a.first < b.first;
  });
  return values;
}
