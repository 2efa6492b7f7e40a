#include "rules/rules_refs.h"

#include <algorithm>
#include <array>
#include <bit>
#include <bitset>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "rules/rules_scanner.h"
#include "rules/rules_search.h"
#include "rules/search_entries.h"
#include "storage/platform.h"
#include "threads/run_beside.h"

// Every row's key is looked up; as a call, the lookup's state went
// through memory.
#if defined(_MSC_VER)
#define TARN_REFS_INLINE __forceinline
#else
#define TARN_REFS_INLINE [[gnu::always_inline]] inline
#endif

namespace {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A chunk is about a quarter of a mebibyte of entries: enough to make
// handing over cheap, small enough that the two threads finish together.
// The rows read of each chunk wait in one of a few buffers, whose pages
// are new to the process when first written, and such a page fault takes
// as long as reading some hundred rows: smaller chunks fill fewer pages.
constexpr size_t kChunkBytes = size_t{1} << 18;
constexpr size_t kChunkEntries = 4096;

bool IsBlankByte(unsigned char c) { return c == ' ' || c == '\t'; }

// What ends a header's word, and so a definition's name.
bool IsHeaderWordEnd(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ';'; }

// Has the bytes at `p` brought near before they are read, where they lie
// far from the last read: a definition's name, anywhere in an archive.
inline void Prefetch(const void* p) {
#if defined(__GNUC__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

// How far the token at `p` reads as a number in IsNumberToken's form (a
// sign, digits with at most one point, a '%'), and whether that holds a
// digit: the token is a number when it stops at the token's end with one.
// One look at each byte, as it runs over the value of every row.
TARN_REFS_INLINE const unsigned char* NumberEnd(const unsigned char* p, const unsigned char* end,
                                               bool& digit) {
  if (*p == '+' || *p == '-') ++p;
  bool point = false;
  digit = false;
  for (; p != end; ++p) {
    if (static_cast<unsigned char>(*p - '0') < 10) {
      digit = true;
    } else if (*p == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (p != end && *p == '%') ++p;
  return p;
}

// The first blank at or after p, or `end`: eight bytes at a time where
// eight are left, as it runs over every token kept.
const unsigned char* TokenEnd(const unsigned char* p, const unsigned char* end) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
    for (; end - p >= 8; p += 8) {
      uint64_t word;
      std::memcpy(&word, p, sizeof word);
      const uint64_t space = word ^ (kOnes * ' '), tab = word ^ (kOnes * '\t');
      // A zero byte of either, the lowest found exactly.
      const uint64_t zero = (((space - kOnes) & ~space) | ((tab - kOnes) & ~tab)) & kHighs;
      if (zero != 0) return p + std::countr_zero(zero) / 8;
    }
  }
  while (p != end && !IsBlankByte(*p)) ++p;
  return p;
}

// ForEachValueToken, leaving out the numbers unless `numbers`.
template <typename Visit>
void ForEachTokenToKeep(std::string_view value, bool numbers, Visit&& visit) {
  const auto* p = reinterpret_cast<const unsigned char*>(value.data());
  const auto* const end = p + value.size();
  while (p != end) {
    if (IsBlankByte(*p)) {
      ++p;
      continue;
    }
    const auto* const start = p;
    if (!numbers) {
      bool digit;
      p = NumberEnd(p, end, digit);
      if (digit && (p == end || IsBlankByte(*p))) continue;
    }
    p = TokenEnd(p, end);
    visit(std::string_view(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start)));
  }
}

// Whether the `size` bytes (1 to 8) of `word`, read little-endian, are one
// number of digits with at most one point: the most common value, told
// without a branch for each byte.
bool IsPlainNumber(uint64_t word, size_t size) {
  constexpr uint64_t kOnes = 0x0101010101010101u, kLows = 0x7F7F7F7F7F7F7F7Fu;
  constexpr uint64_t kHighs = 0x8080808080808080u;
  const uint64_t in = kHighs >> (8 * (8 - size));  // the high bit of each byte of the value
  // High bit set where a byte is not a digit: b ^ '0' is 10 or more.
  const uint64_t digits = word ^ (kOnes * '0');
  const uint64_t notDigit = (((digits & kLows) + kOnes * 0x76) | digits) & in;
  // High bit set where a byte is '.'.
  const uint64_t points = word ^ (kOnes * '.');
  const uint64_t point = ~(((points & kLows) + kLows) | points) & in;
  return (notDigit & ~point) == 0 && notDigit != in && (point & (point - 1)) == 0;
}

// Whether ForEachTokenToKeep would visit a token of `value`: decided at
// the first byte that no number holds, as most names start with one.
bool HoldsTokenToKeep(std::string_view value, bool numbers) {
  const auto* p = reinterpret_cast<const unsigned char*>(value.data());
  const auto* const end = p + value.size();
  while (p != end) {
    if (IsBlankByte(*p)) {
      ++p;
      continue;
    }
    if (numbers) return true;
    bool digit;
    p = NumberEnd(p, end, digit);
    if (!digit || (p != end && !IsBlankByte(*p))) return true;
  }
  return false;
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
      bytes += sources[end].Bytes().size();
    return std::max(end, first + 1);
  };
  work.run = run;
  work.deliver = [&](size_t slot, size_t) { deliver(slot); };
  RunInOrder(work);
}

}  // namespace

// The defined names, numbered in the order first defined. Looked up for
// every token kept of every row: a flat table of hash tags, and before it a
// bit per size, first and last byte, since most tokens ("Yes", "R:255")
// name nothing and are answered without hashing. The table keeps numbers,
// not views: `nameOf(number)`, given to every call, says which name a
// number stands for.
class CRulesIndex::CNameTable {
 public:
  // Of the first and last eight bytes, the size and the bytes between:
  // inline, and one multiplication for most names, where a call to the
  // library's hash took a tenth of the looking up.
  static uint64_t Hash(std::string_view text) {
    constexpr uint64_t kOdd = 0x9E3779B97F4A7C15ull;
    uint64_t head = 0, tail = 0;
    const size_t n = std::min<size_t>(text.size(), 8);
    std::memcpy(&head, text.data(), n);
    std::memcpy(&tail, text.data() + text.size() - n, n);
    uint64_t h = (head * kOdd) ^ ((tail + text.size()) * 0xC2B2AE3D27D4EB4Full);
    for (size_t at = 8; at + 8 < text.size(); at += 8) {
      uint64_t word;
      std::memcpy(&word, text.data() + at, 8);
      h = (h ^ word) * kOdd;
    }
    h = (h ^ (h >> 32)) * kOdd;  // every byte into the high half, the tag that picks the slot
    return h ^ (h >> 29);
  }
  // The number of a name whose Hash() is `hash` and FilterSlot()
  // `filter`, where `same(number)` says whether the name numbered so is
  // it: a new name numbered next.
  template <typename Same>
  uint32_t Add(size_t hash, size_t filter, const Same& same) {
    if (SlotsFor(m_count + 1) > m_slots.size()) Rehash(2 * m_slots.size());
    for (size_t at = Start(hash, m_slots.size());; at = Next(at)) {
      CSlot& slot = m_slots[at];
      if (slot.number == kNoName) {
        slot = {Tag(hash), m_count++};
        m_filter.set(filter);
        return slot.number;
      }
      if (slot.tag == Tag(hash) && same(slot.number)) return slot.number;
    }
  }
  // `same(number, token)` says whether the name of that number is the
  // token.
  template <typename Same>
  uint32_t Find(std::string_view token, const Same& same) const {
    if (token.empty() || !m_filter[FilterSlot(token)]) return kNoName;
    const size_t hash = Hash(token);
    for (size_t at = Start(hash, m_slots.size());; at = Next(at)) {
      const CSlot& slot = m_slots[at];
      if (slot.number == kNoName) return kNoName;
      if (slot.tag == Tag(hash) && same(slot.number, token)) return slot.number;
    }
  }
  // A bit per size, first and last byte. REQUIRES: a token of one byte or
  // more.
  static size_t FilterSlot(std::string_view token) {
    const auto first = static_cast<unsigned char>(token.front());
    const auto last = static_cast<unsigned char>(token.back());
    return (first * 251u + last * 31u + static_cast<unsigned>(token.size()) * 7919u) % kFilterBits;
  }
  // Brings near the slot where the probes for a hash start.
  void PrefetchSlot(size_t hash) const {
    if (!m_slots.empty()) Prefetch(&m_slots[Start(hash, m_slots.size())]);
  }
  size_t size() const { return m_count; }
  size_t MemoryBytes() const { return sizeof *this + m_slots.capacity() * sizeof(CSlot); }
  // Room for `count` names without growing on the way.
  void Expect(size_t count) {
    if (SlotsFor(count) > m_slots.size()) Rehash(SlotsFor(count));
  }
  // Gives back the room that growing or a guess left empty: the table
  // stays with the index, and placing its slots again reads no name.
  void Fit() {
    if (SlotsFor(m_count) < m_slots.size()) Rehash(SlotsFor(m_count));
  }

 private:
  struct CSlot {
    uint32_t tag = 0;
    uint32_t number = kNoName;
  };
  static constexpr size_t kFilterBits = size_t{1} << 16;
  static uint32_t Tag(size_t hash) { return static_cast<uint32_t>(uint64_t{hash} >> 32); }
  // The slots for `count` names: at most four fifths full, which keeps the
  // probes for a name short and the slots few. Any number, not a power of
  // two, as the table stays with the index: rounding up took a fifth of
  // the index's memory.
  static size_t SlotsFor(size_t count) { return std::max<size_t>(64, count + count / 4 + 1); }
  // Where the probes for a hash start in `slots` slots: its tag scaled to
  // them, so that growing places the names again from the slots alone. The
  // names are numbered while the entries are read, and a table that read
  // every name again as it grew waited on memory for each.
  static size_t Start(size_t hash, size_t slots) { return StartOfTag(Tag(hash), slots); }
  static size_t StartOfTag(uint32_t tag, size_t slots) {
    return static_cast<size_t>((uint64_t{tag} * slots) >> 32);
  }
  size_t Next(size_t at) const { return at + 1 == m_slots.size() ? 0 : at + 1; }
  void Rehash(size_t size) {
    std::vector<CSlot> slots(std::max<size_t>(64, size));
    for (const CSlot& slot : m_slots) {
      if (slot.number == kNoName) continue;
      size_t at = StartOfTag(slot.tag, slots.size());
      while (slots[at].number != kNoName) at = at + 1 == slots.size() ? 0 : at + 1;
      slots[at] = slot;
    }
    m_slots.swap(slots);
  }

  std::vector<CSlot> m_slots;
  uint32_t m_count = 0;
  std::bitset<kFilterBits> m_filter;
};

// Row names (or keywords), each numbered once, in the order first met:
// every row's name is looked up, and the few distinct ones make a small
// table. A name of
// sixteen bytes or fewer is told apart by its first and last eight bytes
// and its size alone, without a comparison of the bytes.
class CRulesIndex::CKeyTable {
 public:
  // Room for `most` keys: numbering one more throws CTooManyNames.
  void SetMost(size_t most) { m_most = most; }
  // The number of `key`; a new key is kept as `keep()` gives it, a view
  // that outlives the parse it was read in.
  template <typename Keep>
  uint32_t Number(std::string_view key, Keep&& keep) {
    if (2 * (m_keys.size() + 1) > m_slots.size()) Grow();
    return Place(SlotOf(key), key, keep);
  }
  // The same for a key with bytes to read after its start: its head and
  // tail are read eight bytes at a time, as every row's key is looked up,
  // and picked without a branch, as keys of under and over eight bytes
  // take turns.
  // REQUIRES: the eight bytes from the key's start, and those up to its
  // end, are readable.
  template <typename Keep>
  TARN_REFS_INLINE uint32_t NumberInCopy(std::string_view key, Keep&& keep) {
    if constexpr (std::endian::native != std::endian::little) return Number(key, keep);
    if (2 * (m_keys.size() + 1) > m_slots.size()) Grow();
    const size_t size = key.size();
    uint64_t head, tail;
    std::memcpy(&head, key.data(), 8);
    std::memcpy(&tail, key.data() + std::max<size_t>(size, 8) - 8, 8);
    const uint64_t kept = size >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * (size & 7))) - 1;
    CSlot probe;
    probe.head = head & kept;
    probe.tail = size > 8 ? tail : probe.head;
    probe.size = static_cast<uint32_t>(size);
    return Place(probe, key, keep);
  }
  const std::vector<std::string_view>& Keys() const { return m_keys; }
  // Whether the key numbered so opens a nested block: asked of every row,
  // answered once for each key.
  bool Opens(uint32_t number) const { return m_opens[number] != 0; }

 private:
  // 24 bytes, the key itself kept once in m_keys: an archive can hold
  // as many keys as lines.
  struct CSlot {
    uint64_t head = 0;  // the first eight bytes, zeros after a shorter key
    uint64_t tail = 0;  // the last eight
    uint32_t size = 0;
    uint32_t number = kNoName;
  };
  static CSlot SlotOf(std::string_view key) {
    CSlot slot;
    const size_t n = std::min<size_t>(key.size(), 8);
    if (n != 0) {
      std::memcpy(&slot.head, key.data(), n);
      std::memcpy(&slot.tail, key.data() + key.size() - n, n);
    }
    slot.size = static_cast<uint32_t>(key.size());
    return slot;
  }
  // The number of `key`, whose slot would be `probe`, in a table with room
  // for one more.
  template <typename Keep>
  TARN_REFS_INLINE uint32_t Place(const CSlot& probe, std::string_view key, Keep&& keep) {
    const size_t mask = m_slots.size() - 1;
    for (size_t at = Hash(probe, key) & mask;; at = (at + 1) & mask) {
      CSlot& slot = m_slots[at];
      if (slot.number == kNoName) {
        slot = probe;
        slot.number = static_cast<uint32_t>(m_keys.size());
        m_keys.push_back(keep());
        m_opens.push_back(IsBlockKeyword(m_keys.back()));
        return slot.number;
      }
      if (slot.head == probe.head && slot.tail == probe.tail && slot.size == probe.size &&
          (probe.size <= 16 || m_keys[slot.number] == key))
        return slot.number;
    }
  }
  static size_t Hash(const CSlot& slot, std::string_view key) {
    constexpr uint64_t kOdd = 0x9E3779B97F4A7C15ull;
    uint64_t h = (slot.head * kOdd) ^ ((slot.tail + slot.size) * 0xC2B2AE3D27D4EB4Full);
    // The bytes between, for a key longer than its two words: keys alike
    // at both ends would all start at one slot, and each new one probe
    // past all the others.
    for (size_t at = 8; at + 8 < slot.size; at += 8) {
      uint64_t word;
      std::memcpy(&word, key.data() + at, 8);
      h = (h ^ word) * kOdd;
    }
    return static_cast<size_t>(h ^ (h >> 29));
  }
  // Called when the table is half full, so it is checked only as often as
  // it grows.
  void Grow() {
    if (m_keys.size() >= m_most) throw CTooManyNames();
    std::vector<CSlot> old(std::max<size_t>(64, 2 * m_slots.size()));
    old.swap(m_slots);
    const size_t mask = m_slots.size() - 1;
    for (const CSlot& slot : old) {
      if (slot.number == kNoName) continue;
      size_t at = Hash(slot, m_keys[slot.number]) & mask;
      while (m_slots[at].number != kNoName) at = (at + 1) & mask;
      m_slots[at] = slot;
    }
  }

  std::vector<CSlot> m_slots;
  std::vector<std::string_view> m_keys;
  std::vector<uint8_t> m_opens;  // by number
  size_t m_most = kMostRowNames;
};

const char* CTooManyNames::what() const noexcept {
  return "too many different row names or block keywords to index";
}

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
  // Asked of most tokens that name nothing: one look at each byte.
  static constexpr std::array<bool, 256> kModifierBytes = [] {
    std::array<bool, 256> bytes{};
    for (int b = 0; b < 256; ++b) bytes[b] = (b >= 'A' && b <= 'Z') || IsDigit(static_cast<char>(b)) || b == '_';
    return bytes;
  }();
  if (token.empty()) return false;
  for (const char c : token)
    if (!kModifierBytes[static_cast<unsigned char>(c)]) return false;
  return true;
}

bool IsReferenceKey(const CKeyUse& use, const CReferenceKeyRule& rule) {
  return use.rows != 0 && use.rows >= rule.minUses &&
         use.references * 100 >= uint64_t{rule.share} * use.rows;
}

// ---- CRulesIndex ----

// What one chunk of entries gives, made on either thread.
struct CRulesIndex::CRowsPass {
  // What the numbering of its name and keyword wants, taken on the
  // thread that read it while the entry's bytes are near: the other
  // finds them wherever the chunk left them.
  struct CDefinition {
    uint32_t entry;
    uint32_t offset;
    uint32_t keyword;  // by the numbers of the thread's keyword table
    uint32_t size;
    uint64_t hash;
    uint64_t head;  // as CNameKey keeps them
    uint64_t tail;
    uint32_t filter;  // CNameTable::FilterSlot()
    bool number;      // the name is a number
  };
  // A row that holds a token to look up, and where its value lies in the
  // entry's bytes: the value is split again when the token is looked up,
  // which costs less than keeping each token.
  struct CRow {
    uint32_t entry;
    uint32_t row;
    uint32_t key;
    uint32_t value;
    uint32_t size;
  };
  int worker;  // the thread that read it
  std::vector<CDefinition> definitions;
  // The keys and keywords that the thread's tables numbered while reading
  // the chunk, in the order numbered: the numbers the chunk uses are those
  // of the thread, whose tables may grow meanwhile. Only the new ones, as
  // a thread may know millions by the end.
  std::vector<std::string_view> keys;
  std::vector<std::string_view> keywords;
  std::vector<CRow> rows;

  void Clear() {
    definitions.clear();
    keys.clear();
    keywords.clear();
    rows.clear();
  }
};

// A defined name, with its first and last eight bytes (zeros after a
// shorter name): with its size, these tell a name of sixteen bytes or
// fewer from any other.
struct CRulesIndex::CNameKey {
  uint64_t head;
  uint64_t tail;
  std::string_view name;

  static void Words(std::string_view text, uint64_t& head, uint64_t& tail) {
    head = tail = 0;
    const size_t n = std::min<size_t>(text.size(), 8);
    if (n == 0) return;
    std::memcpy(&head, text.data(), n);
    std::memcpy(&tail, text.data() + text.size() - n, n);
  }
  static CNameKey Of(std::string_view name) {
    CNameKey key{0, 0, name};
    Words(name, key.head, key.tail);
    return key;
  }
  bool Is(std::string_view token) const {
    if (token.size() != name.size()) return false;
    if (token.size() > 16) return token == name;
    uint64_t h, t;
    Words(token, h, t);
    return h == head && t == tail;
  }
  bool Is(const CNameKey& other) const {
    if (other.name.size() != name.size()) return false;
    return name.size() > 16 ? other.name == name : other.head == head && other.tail == tail;
  }
};

// Every entry read, before a token is looked up: that needs every
// definition, and the last entry may hold one.
struct CRulesIndex::CRead {
  std::vector<uint8_t> text;  // whether each source is rules text
  CKeyTable keys;             // every key
  // By key number in `keys`; until the rows are looked up, `references`
  // counts the rows kept, the only ones that may hold one.
  std::vector<CKeyUse> counts;
  std::vector<CRowsPass::CRow> rows;  // in entry then row order, keys numbered in `keys`
  // The defined names by number, for the looking up: one read where the
  // index's own way goes through three tables, and for a name of sixteen
  // bytes or fewer no read of the entry's bytes, which lie anywhere.
  std::vector<CNameKey> names;
  std::vector<uint32_t> numbers;  // each definition's name number
  std::vector<uint32_t> first;    // each name's first definition
  bool plain = false;             // a defined name is a number
  bool expected = false;          // the names' room reserved from the first chunk
};

// What a thread that reads entries keeps from chunk to chunk.
struct CRulesIndex::CWorker {
  CRulesScanner scanner;
  CKeyTable keys;
  CKeyTable keywords;
  // By the number of `keys`; as in CRead, the rows kept for `references`.
  std::vector<CKeyUse> counts;
};

// What the calling thread keeps while the chunks are handed over to it.
struct CRulesIndex::CHandOver {
  std::vector<CRulesDefinition> definitions;
  CKeyTable keywords;  // numbered as first met in source order
  // By thread: the index's number for each key and keyword it numbered.
  std::vector<uint32_t> keysOf[2];
  std::vector<uint32_t> keywordsOf[2];
};

CRulesIndex::CRulesIndex() = default;
CRulesIndex::~CRulesIndex() = default;
CRulesIndex::CRulesIndex(CRulesIndex&&) noexcept = default;
CRulesIndex& CRulesIndex::operator=(CRulesIndex&&) noexcept = default;

void CRulesIndex::Build(std::vector<CRulesSource> sources, const CReferenceKeyRule& rule,
                        CRulesIndexScope scope, size_t mostNames) {
  *this = CRulesIndex();
  m_sources = std::move(sources);
  m_rule = rule;
  m_scope = scope;
  m_mostNames = mostNames;
  auto read = std::make_unique<CRead>();
  ReadEntries(false, *read);
  KeepRulesTexts(read->text, *read);
  const bool everyToken = GroupDefinitions(*read, LooksUp(read->counts));
  if (everyToken) {
    // Rare: then a number is a name, and every token is kept in a second
    // reading of the rules texts.
    m_definitions.clear();
    m_keywords.clear();
    read = std::make_unique<CRead>();
    ReadEntries(true, *read);
    KeepRulesTexts(read->text, *read);
    GroupDefinitions(*read, LooksUp(read->counts));
  }
  ResolveRows(*read, everyToken);
}

// Each entry scanned once, on two threads: its headers are the definitions,
// and of its rows below them the keys are counted and the tokens that may
// name a block kept, by place. Numbers ("450", "-0.5") are most tokens,
// and name a block only in an archive that names one so; without
// `everyToken` they are left out.
void CRulesIndex::ReadEntries(bool everyToken, CRead& read) {
  CWorker workers[2];
  CRowsPass chunks[kInOrderSlots];
  CHandOver handOver;
  for (CKeyTable* table : {&workers[0].keys, &workers[0].keywords, &workers[1].keys,
                           &workers[1].keywords, &handOver.keywords, &read.keys})
    table->SetMost(m_mostNames);
  read.text.assign(m_sources.size(), 0);
  // Room reserved for a row of a value to look up every 32 bytes, more
  // than rules text has: pages not written to cost nothing, where growing
  // would copy every row once or twice. In large pages, as a fault per
  // small page took longer than the rows' reading. Never more than some
  // 80 MB at once, which a system that commits what is reserved must find.
  constexpr size_t kMostReserved = size_t{1} << 22;
  size_t bytes = 0;
  for (const CRulesSource& source : m_sources) bytes += source.Bytes().size();
  read.rows.reserve(std::min(bytes / 32, kMostReserved));
  platform::AdviseLargePages(read.rows.data(), read.rows.capacity() * sizeof read.rows[0]);
  // The same for the definitions, copied to a vector of their size once
  // all are read.
  handOver.definitions.reserve(std::min(bytes / 64, kMostReserved));
  platform::AdviseLargePages(handOver.definitions.data(),
                             handOver.definitions.capacity() * sizeof(CRulesDefinition));
  read.numbers.reserve(handOver.definitions.capacity());
  m_names = std::make_unique<CNameTable>();
  OverSources(
      m_sources,
      [&](int worker, size_t first, size_t last, size_t slot) {
        chunks[slot].worker = worker;
        ReadEntriesOf(first, last, everyToken, workers[worker], chunks[slot], read.text.data());
      },
      [&](size_t slot) { HandOver(chunks[slot], handOver, read); });
  m_definitions.assign(handOver.definitions.begin(), handOver.definitions.end());
  m_keywords.assign(handOver.keywords.Keys().begin(), handOver.keywords.Keys().end());
  // The keys' counts, kept by each thread, added up once: by chunk, each
  // would cost as many steps as the thread had keys.
  read.counts.assign(read.keys.Keys().size(), {});
  for (int w = 0; w < 2; ++w) {
    const std::vector<uint32_t>& keysOf = handOver.keysOf[w];
    for (size_t k = 0; k < workers[w].counts.size() && k < keysOf.size(); ++k) {
      read.counts[keysOf[k]].rows += workers[w].counts[k].rows;
      read.counts[keysOf[k]].references += workers[w].counts[k].references;
    }
  }
}

// A chunk's definitions, keys and rows numbered as the index numbers them,
// on the calling thread, chunk after chunk in source order.
void CRulesIndex::HandOver(CRowsPass& chunk, CHandOver& to, CRead& read) {
  std::vector<uint32_t>& keysOf = to.keysOf[chunk.worker];
  for (const std::string_view key : chunk.keys)
    keysOf.push_back(read.keys.Number(key, [key] { return key; }));
  std::vector<uint32_t>& keywordsOf = to.keywordsOf[chunk.worker];
  for (const std::string_view word : chunk.keywords)
    keywordsOf.push_back(to.keywords.Number(word, [word] { return word; }));
  for (const CRowsPass::CDefinition& d : chunk.definitions)
    to.definitions.push_back({d.entry, d.offset, keywordsOf[d.keyword]});
  NumberNames(chunk, to.definitions, read);
  const size_t at = read.rows.size();
  read.rows.insert(read.rows.end(), chunk.rows.begin(), chunk.rows.end());
  for (auto row = read.rows.begin() + static_cast<std::ptrdiff_t>(at); row != read.rows.end();
       ++row)
    row->key = keysOf[row->key];
  chunk.Clear();
}

// What the scanning of one entry hands over: its headers as definitions,
// and of its lines the keys counted and the rows that hold a token to
// look up kept, in text order, numbered within their header until the
// entry's row order is known.
struct CRulesIndex::CEntryReading {
  uint32_t entry;
  std::string_view bytes;
  bool everyToken;
  CWorker& worker;
  CRowsPass& chunk;
  std::vector<CRowsPass::CRow>& rows;
  std::vector<uint32_t>& firstOfHeader;  // where each header's rows start in `rows`
  uint32_t line = 0;                     // of the current header

  uint32_t Offset(std::string_view piece) const {
    return static_cast<uint32_t>(piece.data() - bytes.data());
  }
  void Header(std::string_view name, std::string_view type) {
    // The scanner's name is NameOf's: the header word, to a blank, line end
    // or ';', never empty.
    const CNameKey key = CNameKey::Of(name);
    chunk.definitions.push_back(
        {entry, Offset(name), worker.keywords.Number(type, [type] { return type; }),
         static_cast<uint32_t>(name.size()), CNameTable::Hash(name), key.head, key.tail,
         static_cast<uint32_t>(CNameTable::FilterSlot(name)), IsNumberToken(name)});
    firstOfHeader.push_back(static_cast<uint32_t>(rows.size()));
    line = 0;
  }
  // HoldsTokenToKeep(value, everyToken), a short number told at once.
  bool Keeps(std::string_view value) const {
    if constexpr (std::endian::native == std::endian::little) {
      if (!everyToken && !value.empty() && value.size() <= 8 && bytes.end() - value.data() >= 8) {
        uint64_t word;
        std::memcpy(&word, value.data(), sizeof word);
        if (IsPlainNumber(word, value.size())) return false;
      }
    }
    return HoldsTokenToKeep(value, everyToken);
  }
  bool Line(std::string_view key, std::string_view value, uint32_t) {
    const uint32_t number = line++;
    const auto keep = [key] { return key; };
    // The quick lookup reads eight bytes from the key's start.
    CKeyTable& keys = worker.keys;
    const uint32_t k =
        bytes.end() - key.data() >= 8 ? keys.NumberInCopy(key, keep) : keys.Number(key, keep);
    std::vector<CKeyUse>& counts = worker.counts;
    if (k >= counts.size()) counts.resize(k + 1);
    ++counts[k].rows;
    if (Keeps(value)) {
      ++counts[k].references;
      rows.push_back({entry, number, k, Offset(value), static_cast<uint32_t>(value.size())});
    }
    return keys.Opens(k);
  }
};

void CRulesIndex::ReadEntriesOf(size_t first, size_t last, bool everyToken, CWorker& worker,
                                CRowsPass& chunk, uint8_t* text) const {
  const size_t keysBefore = worker.keys.Keys().size();
  const size_t keywordsBefore = worker.keywords.Keys().size();
  CRulesScanner& scanner = worker.scanner;
  std::vector<CRowsPass::CRow> rows;
  std::vector<uint32_t> firstOfHeader;
  for (size_t e = first; e < last; ++e) {
    const std::string_view bytes = m_sources[e].Bytes();
    // The first reading of an entry's bytes, on either thread, as a search's.
    text[e] = IsRulesText(bytes);
    if (!text[e]) continue;
    rows.clear();
    firstOfHeader.clear();
    CEntryReading reading{
        static_cast<uint32_t>(e), bytes, everyToken, worker, chunk, rows, firstOfHeader};
    scanner.Scan(bytes, reading);
    // The kept rows in row order: each header's run, by its block's place.
    const std::vector<CRulesScanner::CHeaderRows>& where = scanner.HeaderRows();
    firstOfHeader.push_back(static_cast<uint32_t>(rows.size()));
    const size_t at = chunk.rows.size();
    chunk.rows.resize(at + rows.size());
    CRowsPass::CRow* out = chunk.rows.data() + at;
    for (const uint32_t h : scanner.HeaderOrder()) {
      for (uint32_t r = firstOfHeader[h]; r < firstOfHeader[h + 1]; ++r) {
        *out = rows[r];
        out++->row += where[h].firstLine;
      }
    }
  }
  const std::vector<std::string_view>& keys = worker.keys.Keys();
  chunk.keys.assign(keys.begin() + static_cast<std::ptrdiff_t>(keysBefore), keys.end());
  const std::vector<std::string_view>& keywords = worker.keywords.Keys();
  chunk.keywords.assign(keywords.begin() + static_cast<std::ptrdiff_t>(keywordsBefore),
                        keywords.end());
}

void CRulesIndex::KeepRulesTexts(const std::vector<uint8_t>& text, CRead& read) {
  std::vector<uint32_t> kept(m_sources.size());
  uint32_t count = 0;
  for (size_t e = 0; e < m_sources.size(); ++e) {
    kept[e] = count;
    if (text[e]) m_sources[count++] = m_sources[e];
  }
  m_sources.erase(m_sources.begin() + count, m_sources.end());
  // The caller's vector grew by doubling, and the index keeps it: a sixth of
  // the index's memory stood empty.
  m_sources.shrink_to_fit();
  for (CRulesDefinition& d : m_definitions) d.entry = kept[d.entry];
  for (CRowsPass::CRow& row : read.rows) row.entry = kept[row.entry];
}

// Numbers the names of a chunk's definitions, the last of `definitions`,
// as they are read. What that wants of a name was taken as it was read: a
// name of sixteen bytes or fewer is numbered without a read of its bytes,
// which lie wherever the chunk's entries do.
void CRulesIndex::NumberNames(const CRowsPass& chunk,
                              const std::vector<CRulesDefinition>& definitions, CRead& read) {
  const std::vector<CRowsPass::CDefinition>& given = chunk.definitions;
  const size_t base = definitions.size() - given.size();
  constexpr size_t kSlotAhead = 4;
  for (size_t i = 0; i < given.size(); ++i) {
    if (i + kSlotAhead < given.size()) m_names->PrefetchSlot(given[i + kSlotAhead].hash);
    const CRowsPass::CDefinition& d = given[i];
    const CNameKey key{d.head, d.tail, {m_sources[d.entry].Bytes().data() + d.offset, d.size}};
    const uint32_t number =
        m_names->Add(d.hash, d.filter, [&](uint32_t n) { return read.names[n].Is(key); });
    read.numbers.push_back(number);
    if (number != read.first.size()) continue;
    read.first.push_back(static_cast<uint32_t>(base + i));
    read.names.push_back(key);
    read.plain = read.plain || d.number;
  }
  // The names of the first chunk that defines any tell how many there
  // will be, give or take an eighth: growing to hold them cost more than
  // numbering them, and a reserve for every definition the pages of many.
  // Never more than the definitions' own reserve, which the rules bytes
  // bound: one entry full of blocks before many without must not make
  // the table take gigabytes.
  if (read.expected || given.empty()) return;
  read.expected = true;
  const size_t done = given.back().entry + 1;
  size_t likely = (m_names->size() * m_sources.size() + done - 1) / done;
  likely = std::min(likely + likely / 8, definitions.capacity());
  m_names->Expect(likely);
  read.first.reserve(likely);
  read.names.reserve(likely);
}

// Each name's definitions together in entry and text order: the one
// definition of a name defined once, as most are, and a run of its own for
// any other.
bool CRulesIndex::GroupDefinitions(CRead& read, bool lookUps) {
  m_keywords.shrink_to_fit();
  if (!lookUps) std::vector<CNameKey>().swap(read.names);
  const std::vector<uint32_t>& first = read.first;
  const std::vector<uint32_t>& numbers = read.numbers;
  // A name defined once keeps its definition's number; the others a run
  // of m_several each, counted as it fills.
  if (m_definitions.size() >= kSeveral) throw std::bad_alloc();
  std::vector<uint32_t> count(first.size(), 0);
  for (const uint32_t n : numbers) ++count[n];
  m_definitionsOf.resize(first.size());
  size_t several = 0;
  for (uint32_t n = 0; n < first.size(); ++n) {
    if (count[n] == 1) {
      m_definitionsOf[n] = first[n];
      continue;
    }
    m_definitionsOf[n] = kSeveral | static_cast<uint32_t>(several);
    several += 1 + size_t{count[n]};
  }
  if (several >= kSeveral) throw std::bad_alloc();
  // Only an index that stays, as the editor's does, is worth the fitting.
  if (m_scope == CRulesIndexScope::kEverything) m_names->Fit();
  m_several.assign(several, 0);
  for (uint32_t d = 0; d < numbers.size(); ++d) {
    const uint32_t at = m_definitionsOf[numbers[d]];
    if ((at & kSeveral) == 0) continue;
    uint32_t* const run = m_several.data() + (at & ~kSeveral);
    run[1 + run[0]++] = d;
  }
  return read.plain;
}

// What the looking up of a run of rows gives.
struct CRulesIndex::CResolved {
  std::vector<CRulesUse> uses;       // in entry and row order
  std::vector<uint64_t> references;  // by key number
  // Rows that name nothing defined, of keys that may still be reference
  // keys: most keys of such rows are not, and their rows are not kept.
  std::vector<const CRowsPass::CRow*> candidates;
  std::vector<uint64_t> unresolved;  // by key number, rows found so

  // Row `r`'s use of the name numbered `name` of `names`, the uses from
  // `before` on being the row's: one use of a name a row. Found by a look
  // back over the row's uses, which are few; for a row that names many,
  // by a mark for each name, where looking back cost the square of their
  // number.
  void Use(const CRowsPass::CRow& row, size_t r, size_t before, uint32_t name, size_t names) {
    constexpr size_t kFew = 16;
    const size_t count = uses.size() - before;
    if (count < kFew) {
      for (size_t u = before; u < uses.size(); ++u)
        if (uses[u].name == name) return;
    } else {
      if (marks.empty()) marks.assign(names, 0);
      if (count == kFew)
        for (size_t u = before; u < uses.size(); ++u) marks[uses[u].name] = r + 1;
      if (marks[name] == r + 1) return;
      marks[name] = r + 1;
    }
    uses.push_back({row.entry, row.row, name});
  }

 private:
  std::vector<size_t> marks;  // by name: the last row to use it, plus one
};

// The kept tokens looked up, now that every name is known: the uses, the
// references of each key, and the rows of reference keys that name
// nothing defined. The rows are split in two halves, looked up on two
// threads.
void CRulesIndex::ResolveRows(const CRead& read, bool everyToken) {
  const size_t half = read.rows.size() / 2;
  CResolved first, second;
  RunBeside([&] { ResolveRowsOf(read, 0, half, everyToken, first); },
            [&] { ResolveRowsOf(read, half, read.rows.size(), everyToken, second); });
  std::vector<CKeyUse> counts = read.counts;
  for (CKeyUse& use : counts) use.references = 0;
  for (const CResolved* part : {&first, &second})
    for (size_t k = 0; k < part->references.size(); ++k)
      counts[k].references += part->references[k];
  for (const CResolved* part : {&first, &second})
    for (const CRowsPass::CRow* c : part->candidates)
      if (::IsReferenceKey(counts[c->key], m_rule)) m_unresolved.push_back({c->entry, c->row});
  if (m_scope == CRulesIndexScope::kProblems) return;
  // By name, each name's in entry and row order: a counting sort.
  std::vector<size_t> next(m_names->size() + 1, 0);
  for (const CResolved* part : {&first, &second})
    for (const CRulesUse& use : part->uses) ++next[use.name + 1];
  for (size_t n = 1; n < next.size(); ++n) next[n] += next[n - 1];
  m_uses.resize(first.uses.size() + second.uses.size());
  for (const CResolved* part : {&first, &second})
    for (const CRulesUse& use : part->uses) m_uses[next[use.name]++] = use;
  // Only keys that can be reference keys: an archive can hold as many keys
  // as lines, each in a row or two.
  for (size_t k = 0; k < counts.size(); ++k)
    if (counts[k].rows >= m_rule.minUses) m_keys.emplace(read.keys.Keys()[k], counts[k]);
}

// Whether a key can be a reference key, `unresolved` of its rows kept
// holding no reference: neither do those not kept.
bool CRulesIndex::MayBeReferenceKey(const CKeyUse& read, uint64_t unresolved) const {
  const uint64_t without = read.rows - read.references + unresolved;
  return read.rows >= m_rule.minUses && without * 100 <= (100 - uint64_t{m_rule.share}) * read.rows;
}

bool CRulesIndex::NeedsLookUp(const CKeyUse& read) const {
  return m_scope == CRulesIndexScope::kEverything || MayBeReferenceKey(read, 0);
}

bool CRulesIndex::LooksUp(const std::vector<CKeyUse>& counts) const {
  return std::any_of(counts.begin(), counts.end(),
                     [this](const CKeyUse& use) { return NeedsLookUp(use); });
}

// The rows [first, last) of `read`.
void CRulesIndex::ResolveRowsOf(const CRead& read, size_t first, size_t last, bool everyToken,
                                CResolved& out) const {
  out.references.assign(read.counts.size(), 0);
  out.unresolved.assign(read.counts.size(), 0);
  const auto same = [&read](uint32_t n, std::string_view token) { return read.names[n].Is(token); };
  const bool keepUses = m_scope == CRulesIndexScope::kEverything;
  std::vector<uint8_t> lookUp(read.counts.size());
  for (size_t k = 0; k < lookUp.size(); ++k) lookUp[k] = NeedsLookUp(read.counts[k]);
  for (size_t r = first; r < last; ++r) {
    const CRowsPass::CRow& row = read.rows[r];
    if (!lookUp[row.key]) continue;
    const std::string_view value = m_sources[row.entry].Bytes().substr(row.value, row.size);
    const size_t before = out.uses.size();
    bool named = false;
    bool unknown = false;
    ForEachTokenToKeep(value, everyToken, [&](std::string_view token) {
      const uint32_t name = m_names->Find(token, same);
      if (name == kNoName) {
        unknown = unknown || (!IsModifierToken(token) && (!everyToken || !IsNumberToken(token)));
        return;
      }
      named = true;
      if (keepUses) out.Use(row, r, before, name, m_names->size());
    });
    if (named) {
      ++out.references[row.key];
    } else if (unknown && MayBeReferenceKey(read.counts[row.key], ++out.unresolved[row.key])) {
      out.candidates.push_back(&row);
    }
  }
}

uint32_t CRulesIndex::NameNumber(std::string_view name) const {
  const auto same = [this](uint32_t n, std::string_view token) { return NameOf(n) == token; };
  return m_names ? m_names->Find(name, same) : kNoName;
}

std::vector<const CRulesDefinition*> CRulesIndex::DefinitionsOf(std::string_view name) const {
  std::vector<const CRulesDefinition*> found;
  const uint32_t number = NameNumber(name);
  if (number == kNoName) return found;
  for (const uint32_t d : DefinitionsOfNumber(number)) found.push_back(&m_definitions[d]);
  return found;
}

const CRulesDefinition* CRulesIndex::FirstDefinitionOf(std::string_view name) const {
  const uint32_t number = NameNumber(name);
  return number == kNoName ? nullptr : &m_definitions[DefinitionsOfNumber(number).front()];
}

std::vector<CRulesUse> CRulesIndex::UsesOf(std::string_view name) const {
  const uint32_t number = NameNumber(name);
  if (number == kNoName) return {};
  const auto range =
      std::equal_range(m_uses.begin(), m_uses.end(), CRulesUse{0, 0, number},
                       [](const CRulesUse& a, const CRulesUse& b) { return a.name < b.name; });
  return {range.first, range.second};
}

std::vector<CRulesUse> CRulesIndex::SearchUses(std::string_view name) const {
  std::vector<CRulesUse> uses;
  const uint32_t number = NameNumber(name);
  CRulesSearch search(name, false);
  for (uint32_t e = 0; e < m_sources.size(); ++e)
    search.SearchEntry(m_sources[e].Bytes(), [&](const CRulesMatch& match) {
      if (!IsDefinitionRow(match.cells) && ValueHoldsToken(match.cells.value, name))
        uses.push_back({e, static_cast<uint32_t>(match.row), number});
    });
  return uses;
}

size_t CRulesIndex::MemoryBytes() const {
  const auto bytes = [](const auto& v) { return v.capacity() * sizeof(v[0]); };
  // A node of the key map: the pair, a link and the hash, as the standard
  // library lays it out.
  const size_t keyNode = sizeof(std::pair<const std::string_view, CKeyUse>) + 2 * sizeof(void*);
  return sizeof *this + bytes(m_sources) + bytes(m_definitions) + bytes(m_keywords) +
         bytes(m_definitionsOf) + bytes(m_several) + bytes(m_uses) + bytes(m_unresolved) +
         (m_names ? m_names->MemoryBytes() : 0) + m_keys.size() * keyNode +
         m_keys.bucket_count() * sizeof(void*);
}

std::string_view CRulesIndex::NameOf(const CRulesDefinition& d) const {
  const std::string_view rest = m_sources[d.entry].Bytes().substr(d.offset);
  size_t size = 0;
  while (size < rest.size() && !IsHeaderWordEnd(rest[size])) ++size;
  return rest.substr(0, size);
}

std::string_view CRulesIndex::NameOf(uint32_t number) const {
  return NameOf(m_definitions[DefinitionsOfNumber(number).front()]);
}

std::span<const uint32_t> CRulesIndex::DefinitionsOfNumber(uint32_t number) const {
  const uint32_t& at = m_definitionsOf[number];
  if ((at & kSeveral) == 0) return {&at, 1};
  const uint32_t* const run = m_several.data() + (at & ~kSeveral);
  return {run + 1, run[0]};
}

// A name at a time rather than a definition, so each is taken once, and
// keywords by number. Sorted by their first eight bytes, read once each,
// before their whole: a large archive's hundreds of thousands of names lie
// all over its entries, and comparisons that read both names each time
// took a third of completion's wait (nav_bench: 123 ms of 400).
std::vector<std::string_view> CRulesIndex::NamesOfKeywords(
    std::span<const std::string_view> keywords) const {
  std::vector<uint8_t> wanted(m_keywords.size());
  for (size_t k = 0; k < m_keywords.size(); ++k)
    wanted[k] = std::find(keywords.begin(), keywords.end(), m_keywords[k]) != keywords.end();
  struct CPrefixed {
    uint64_t prefix;
    std::string_view name;
    bool operator<(const CPrefixed& other) const {
      return prefix != other.prefix ? prefix < other.prefix : name < other.name;
    }
  };
  std::vector<CPrefixed> found;
  for (uint32_t n = 0; n < m_definitionsOf.size(); ++n) {
    const std::span<const uint32_t> definitions = DefinitionsOfNumber(n);
    if (std::none_of(definitions.begin(), definitions.end(),
                     [&](uint32_t d) { return wanted[m_definitions[d].keyword]; }))
      continue;
    const std::string_view name = NameOf(m_definitions[definitions.front()]);
    uint64_t prefix = 0;  // big-endian, zeros past the end: byte order
    for (size_t i = 0; i < 8; ++i)
      prefix = prefix << 8 | (i < name.size() ? static_cast<uint8_t>(name[i]) : 0);
    found.push_back({prefix, name});
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string_view> names(found.size());
  for (size_t i = 0; i < found.size(); ++i) names[i] = found[i].name;
  return names;
}

std::vector<CRulesDuplicate> CRulesIndex::Duplicates() const {
  std::vector<CRulesDuplicate> found;
  // The type words by byte order, so that definitions sort by a number.
  std::vector<uint32_t> rank(m_keywords.size());
  for (uint32_t k = 0; k < rank.size(); ++k) rank[k] = k;
  std::sort(rank.begin(), rank.end(),
            [this](uint32_t a, uint32_t b) { return m_keywords[a] < m_keywords[b]; });
  std::vector<uint32_t> order(rank.size());
  for (uint32_t r = 0; r < rank.size(); ++r) order[rank[r]] = r;
  // A name's places by the rank of their keyword, each rank's in entry and
  // text order: counted, then placed. A name has few keywords, where a sort
  // of its places took most of `tarn lint`'s writing of thousands.
  std::vector<uint32_t> count(rank.size(), 0);
  std::vector<uint32_t> next(rank.size());
  std::vector<uint32_t> present;  // the ranks of the name's keywords
  std::vector<uint32_t> placed;
  const auto rankOf = [&](uint32_t d) { return order[m_definitions[d].keyword]; };
  for (uint32_t n = 0; n < m_definitionsOf.size(); ++n) {
    if ((m_definitionsOf[n] & kSeveral) == 0) continue;  // most names
    const std::span<const uint32_t> definitions = DefinitionsOfNumber(n);
    present.clear();
    for (const uint32_t d : definitions)
      if (count[rankOf(d)]++ == 0) present.push_back(rankOf(d));
    std::sort(present.begin(), present.end());
    uint32_t at = 0;
    for (const uint32_t r : present) {
      next[r] = at;
      at += count[r];
    }
    placed.resize(definitions.size());
    for (const uint32_t d : definitions) placed[next[rankOf(d)]++] = d;
    at = 0;
    for (const uint32_t r : present) {
      const uint32_t end = at + count[r];
      if (count[r] > 1) {
        const CRulesDefinition& d = m_definitions[placed[at]];
        found.push_back({KeywordOf(d), NameOf(d), {placed.begin() + at, placed.begin() + end}});
      }
      count[r] = 0;
      at = end;
    }
  }
  std::sort(found.begin(), found.end(), [](const CRulesDuplicate& a, const CRulesDuplicate& b) {
    return a.keyword != b.keyword ? a.keyword < b.keyword : a.name < b.name;
  });
  return found;
}

bool CRulesIndex::IsReferenceKey(std::string_view key) const {
  const auto found = m_keys.find(key);
  return found != m_keys.end() && ::IsReferenceKey(found->second, m_rule);
}

namespace {

// The values of one key's rows, counted, as the scanner reads an entry:
// the index's own reading, without the parser's records.
struct CValueCounting {
  std::string_view key;
  std::unordered_map<std::string_view, uint64_t> counts;

  void Header(std::string_view, std::string_view) {}
  bool Line(std::string_view name, std::string_view value, uint32_t) {
    if (name == key) ++counts[value];
    return IsBlockKeyword(name);
  }
};

}  // namespace

std::vector<std::pair<std::string_view, uint64_t>> CRulesIndex::ValuesUsedWith(
    std::string_view key) const {
  if (key.empty()) return {};
  // The sources in two halves, one on each thread: on nav_bench's 200,000
  // entries, 81 ms where the parser on one thread took 131 ms.
  CValueCounting halves[2] = {{key, {}}, {key, {}}};
  const auto count = [&](size_t first, size_t last, CValueCounting& into) {
    const CTextFinder finder(key, false);
    CRulesScanner scanner;
    for (size_t e = first; e < last; ++e)
      if (finder.OccursIn(m_sources[e].Bytes())) scanner.Scan(m_sources[e].Bytes(), into);
  };
  const size_t half = m_sources.size() / 2;
  RunBeside([&] { count(0, half, halves[0]); }, [&] { count(half, m_sources.size(), halves[1]); });
  for (const auto& [value, n] : halves[1].counts) halves[0].counts[value] += n;
  std::vector<std::pair<std::string_view, uint64_t>> values(halves[0].counts.begin(),
                                                            halves[0].counts.end());
  std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second > b.second : a.first < b.first;
  });
  return values;
}
