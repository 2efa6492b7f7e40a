// References between rules blocks: which top-level blocks are defined, which
// rows name them, which keys hold such names, and which of their rows name
// nothing that exists. One function for each of these, shared by `tarn refs`,
// `tarn lint` and the editor, and an index that answers them over the rules
// entries of one or several archives.
//
//   Weapon TankCannon      ; a definition: keyword Weapon, name TankCannon
//   End
//   Object Tank
//     Weapon = PRIMARY TankCannon   ; a reference to it
//   End
//
// The index keeps views of the entries' bytes, never copies: the caller keeps
// the bytes alive, unchanged, while the index lives. Building it scans each
// entry once (CRulesScanner: the parser's reading, without its records), on
// the calling thread and one beside it, and then looks up the tokens kept
// of its rows; afterwards it is read-only and any thread may read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "rules/rules_parser.h"

class CRulesScanner;

// ---- The terms ----

// Calls visit(std::string_view token) for each token of a row's value: the
// runs of bytes between spaces and tabs.
template <typename Visit>
void ForEachValueToken(std::string_view value, Visit&& visit) {
  size_t at = 0;
  while (at < value.size()) {
    while (at < value.size() && (value[at] == ' ' || value[at] == '\t')) ++at;
    size_t end = at;
    while (end < value.size() && value[end] != ' ' && value[end] != '\t') ++end;
    if (end > at) visit(value.substr(at, end - at));
    at = end;
  }
}

// Whether `value`, split at spaces and tabs, holds `token` byte for byte.
bool ValueHoldsToken(std::string_view value, std::string_view token);

// A definition is a top-level block: the row of depth 0.
inline bool IsDefinitionRow(const CRulesRow& row) { return row.depth == 0; }

// Digits with an optional leading sign, at most one decimal point and an
// optional trailing '%': "12", "-0.5", "+3.", "25%".
bool IsNumberToken(std::string_view token);
// Made only of the capitals A-Z, digits and '_' ("NONE", "PRIMARY"): a
// modifier, not a name.
bool IsModifierToken(std::string_view token);

// The thresholds that make a key a reference key.
struct CReferenceKeyRule {
  uint32_t minUses = 20;  // rows with that name, at least
  uint32_t share = 90;    // percent of them holding a reference, at least
};
// How a row name is used: in how many rows, and how many of them hold a
// reference.
struct CKeyUse {
  uint64_t rows = 0;
  uint64_t references = 0;
};
bool IsReferenceKey(const CKeyUse& use, const CReferenceKeyRule& rule);

// Whether a row of a reference key is unresolved, given whether a name is
// defined: none of its tokens names a defined block, and one or more is
// neither a number nor a modifier.
template <typename IsDefined>
bool IsUnresolvedValue(std::string_view value, IsDefined&& isDefined) {
  bool named = false;
  bool unknown = false;
  ForEachValueToken(value, [&](std::string_view token) {
    if (isDefined(token)) named = true;
    else if (!IsNumberToken(token) && !IsModifierToken(token)) unknown = true;
  });
  return unknown && !named;
}

// ---- The index ----

// One rules entry as the index reads it. With several archives, the caller
// gives only each name's winning entry, in entry-name order. 32 bytes, where
// two views and a number took 40: the index keeps one for every rules entry
// of a window, and at 200,000 small entries they were half its memory.
class CRulesSource {
 public:
  // `archive`: the caller's number for the archive holding it.
  CRulesSource(std::string_view name, std::string_view bytes, uint32_t archive = 0)
      : m_name(name.data()),
        m_bytes(bytes.data()),
        m_byteCount(bytes.size()),
        m_nameSize(static_cast<uint32_t>(name.size())),
        m_archive(archive) {}
  std::string_view Name() const { return {m_name, m_nameSize}; }
  std::string_view Bytes() const { return {m_bytes, m_byteCount}; }
  uint32_t Archive() const { return m_archive; }

 private:
  const char* m_name;
  const char* m_bytes;
  size_t m_byteCount;
  uint32_t m_nameSize;  // an entry's name, which an archive's index holds
  uint32_t m_archive;
};

// A header of a top-level block: where its name starts in the entry's
// bytes (it runs to the first blank, line end or ';', or to the entry's
// end), and its type word by number (empty after a one-word header). The
// index gives both as views (NameOf, KeywordOf). Twelve bytes, as an
// archive can define a block every few hundred bytes.
struct CRulesDefinition {
  uint32_t entry;  // into Sources()
  uint32_t offset;
  uint32_t keyword;
};

// A row below a top-level block whose value names a defined block; a row
// naming several is one use of each.
struct CRulesUse {
  uint32_t entry;
  uint32_t row;   // as `tarn show` numbers the entry's rows, from 0
  uint32_t name;  // the defined name, by its number (see NameOf)
};

// A row of a reference key that names nothing defined.
struct CRulesUnresolved {
  uint32_t entry;
  uint32_t row;
};

// A keyword and name defined more than once: every place, in entry order
// then text order (an entry twice when it defines it twice).
struct CRulesDuplicate {
  std::string_view keyword;
  std::string_view name;
  std::vector<uint32_t> definitions;  // into Definitions()
};

// The most row names, and the most block keywords, a build numbers: rules
// hold some thousands, and each costs the reading a few hundred bytes, so
// an archive whose every row has a name of its own (only a hostile one)
// took some fifteen times its size in memory, gigabytes. Past it Build
// throws CTooManyNames, a std::bad_alloc: what the memory would have come
// to. A build that stops here has taken about 200 MB.
constexpr size_t kMostRowNames = size_t{1} << 20;
class CTooManyNames : public std::bad_alloc {
 public:
  const char* what() const noexcept override;
};

// What a build keeps: everything the editor asks of the index, or only the
// problems (Unresolved(), Duplicates()) and the definitions, which is all
// `tarn lint` prints. The rows of keys that cannot be reference keys are
// then never looked up, and no use is kept: UsesOf() is empty and Keys()
// holds nothing.
enum class CRulesIndexScope { kEverything, kProblems };

class CRulesIndex {
 public:
  CRulesIndex();
  ~CRulesIndex();
  CRulesIndex(CRulesIndex&&) noexcept;
  CRulesIndex& operator=(CRulesIndex&&) noexcept;

  // Reads `sources` (in entry-name order; entries that are not rules text,
  // by IsRulesText, are left out). Throws std::bad_alloc when memory runs
  // out, and CTooManyNames for more than `mostNames` distinct row names or
  // keywords.
  void Build(std::vector<CRulesSource> sources, const CReferenceKeyRule& rule = {},
             CRulesIndexScope scope = CRulesIndexScope::kEverything,
             size_t mostNames = kMostRowNames);

  const std::vector<CRulesSource>& Sources() const { return m_sources; }
  // Every header, by entry then text order.
  const std::vector<CRulesDefinition>& Definitions() const { return m_definitions; }

  // The definitions of a name, in entry then text order: where a token
  // leads (empty when nothing defines it).
  std::vector<const CRulesDefinition*> DefinitionsOf(std::string_view name) const;
  // The first of them, or null: what a link leads to, asked for each token
  // painted or read out.
  const CRulesDefinition* FirstDefinitionOf(std::string_view name) const;
  // Whether a block of that name is defined anywhere.
  bool IsDefined(std::string_view name) const { return NameNumber(name) != kNoName; }
  // Every row that names `name`, in entry then row order. Empty for a name
  // nothing defines: SearchUses finds those.
  std::vector<CRulesUse> UsesOf(std::string_view name) const;
  // The same found by a search of the entries that hold `name`, defined or
  // not (a misspelt name's uses; their `name` is then UINT32_MAX).
  std::vector<CRulesUse> SearchUses(std::string_view name) const;
  // The names of the blocks of any of `keywords`, in byte order, each once
  // (a look at every name).
  std::vector<std::string_view> NamesOfKeywords(std::span<const std::string_view> keywords) const;
  // The keys used in enough rows to be reference keys (CReferenceKeyRule's
  // minUses), and how their rows are used.
  const std::unordered_map<std::string_view, CKeyUse>& Keys() const { return m_keys; }
  bool IsReferenceKey(std::string_view key) const;
  // The rows of reference keys that name nothing defined, in entry then row
  // order.
  const std::vector<CRulesUnresolved>& Unresolved() const { return m_unresolved; }
  // The keyword-and-name pairs defined twice or more, by keyword then name
  // (byte order).
  std::vector<CRulesDuplicate> Duplicates() const;
  // A defined name by its number (CRulesUse::name).
  std::string_view NameOf(uint32_t number) const;
  // A definition's name, a view of its entry's bytes.
  std::string_view NameOf(const CRulesDefinition& d) const;
  // Its type word, kept once for every definition of that word: a view of
  // the bytes of the first entry, in source order, that used it.
  std::string_view KeywordOf(const CRulesDefinition& d) const { return m_keywords[d.keyword]; }

  // The bytes the index holds, its own and not the entries' it views.
  size_t MemoryBytes() const;

  // Asked rather than kept, as they would cost memory in proportion to the
  // rows: each reads every entry again. The values used with a key, with
  // how often, most used first (ties in byte order).
  std::vector<std::pair<std::string_view, uint64_t>> ValuesUsedWith(std::string_view key) const;

 private:
  static constexpr uint32_t kNoName = UINT32_MAX;
  struct CRowsPass;
  struct CRead;      // what the reading of every entry leaves for the resolving
  struct CNameKey;   // a defined name as the resolving compares it
  class CNameTable;  // the defined names, numbered
  class CKeyTable;   // row names, numbered

  uint32_t NameNumber(std::string_view name) const;
  // The definitions of the name numbered so, in entry then text order.
  std::span<const uint32_t> DefinitionsOfNumber(uint32_t number) const;
  // Reads every entry once: its headers, and its rows that hold a token
  // that may name a block (a number only when `everyToken`).
  void ReadEntries(bool everyToken, CRead& read);
  // The entries [first, last) into `chunk`; text[e] says whether entry e
  // is rules text.
  struct CEntryReading;  // the scanning of one entry
  struct CWorker;        // what a reading thread keeps
  struct CHandOver;      // what the calling thread keeps of the chunks
  void ReadEntriesOf(size_t first, size_t last, bool everyToken, CWorker& worker, CRowsPass& chunk,
                     uint8_t* text) const;
  void HandOver(CRowsPass& chunk, CHandOver& to, CRead& read);
  // Drops the sources that are not rules text (`text[e]` false), and
  // renumbers what was read of the others.
  void KeepRulesTexts(const std::vector<uint8_t>& text, CRead& read);
  // Numbers the names of a chunk's definitions, during ReadEntries, once
  // they are the last of `definitions`.
  void NumberNames(const CRowsPass& chunk, const std::vector<CRulesDefinition>& definitions,
                   CRead& read);
  // Groups the definitions by name number; true when a defined name is a
  // number, which the tokens read without `everyToken` leave out.
  // `lookUps`: rows will be looked up, which want the names kept for it.
  bool GroupDefinitions(CRead& read, bool lookUps);
  struct CResolved;  // what the looking up of a run of rows gives
  bool MayBeReferenceKey(const CKeyUse& read, uint64_t unresolved) const;
  // Whether a key's rows need looking up: not for problems alone when too
  // few of them hold a token that may name a block.
  bool NeedsLookUp(const CKeyUse& read) const;
  // Whether the rows of any of these keys need it.
  bool LooksUp(const std::vector<CKeyUse>& counts) const;
  // Looks up the tokens of the rows read: the uses, the keys' references
  // and the unresolved rows.
  void ResolveRows(const CRead& read, bool everyToken);
  void ResolveRowsOf(const CRead& read, size_t first, size_t last, bool everyToken,
                     CResolved& out) const;

  CReferenceKeyRule m_rule;
  CRulesIndexScope m_scope = CRulesIndexScope::kEverything;
  size_t m_mostNames = kMostRowNames;
  std::vector<CRulesSource> m_sources;
  std::vector<CRulesDefinition> m_definitions;
  std::vector<std::string_view> m_keywords;  // the type words, each once, by number
  std::unique_ptr<CNameTable> m_names;
  // Each name's definitions, by its number: the one definition of a name
  // defined once, as most are, or, with kSeveral set, where its run starts
  // in m_several: how many, then the definitions in entry and text order.
  static constexpr uint32_t kSeveral = uint32_t{1} << 31;
  std::vector<uint32_t> m_definitionsOf;
  std::vector<uint32_t> m_several;
  std::vector<CRulesUse> m_uses;        // by name, then entry and row
  std::unordered_map<std::string_view, CKeyUse> m_keys;
  std::vector<CRulesUnresolved> m_unresolved;
};

// Calls visit(uint32_t row, std::string_view block, const CRulesRow&) for
// each row of `bytes` in `rows` (ascending), as `tarn show` prints them:
// what the index's row numbers stand for.
template <typename Visit>
void ForEachRowNumbered(CRulesParser& parser, std::string_view bytes,
                        const std::vector<uint32_t>& rows, Visit&& visit) {
  parser.SetSourceBytes(bytes);
  parser.Parse();
  std::string_view block;
  uint32_t row = 0;
  size_t next = 0;
  parser.ForEachRow([&](const CRulesRow& cells) {
    if (cells.depth == 0) block = cells.name;
    if (next < rows.size() && rows[next] == row) {
      visit(row, block, cells);
      ++next;
    }
    ++row;
  });
}
