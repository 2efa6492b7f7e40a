#include "cli/refs_command.h"

#include <algorithm>
#include <charconv>
#include <new>
#include <string>
#include <string_view>

#include "archive/entry_map.h"
#include "archive/load_order.h"
#include "cli/output.h"
#include "rules/rules_refs.h"
#include "rules/rules_search.h"
#include "rules/search_entries.h"

namespace {

constexpr int kFound = 0;  // refs: a line printed
constexpr int kNothing = 1;
constexpr int kClean = 0;  // lint: no problem
constexpr int kProblems = 1;
constexpr int kTrouble = 2;

// What IsRulesText looks at.
constexpr uint32_t kRulesProbeBytes = 8192;

constexpr const char* kRefsUsage = "usage: tarn refs NAME ARCHIVE...\n";
constexpr const char* kLintUsage = "usage: tarn lint [--min-uses N] [--share P] ARCHIVE...\n";

void Complain(std::FILE* err, std::string_view culprit, std::string_view words) {
  Report(err, culprit, words);
}

int Usage(std::FILE* err, const char* command, const std::string& problem, const char* usage) {
  Report(err, command, problem);
  std::fputs(usage, err);
  return kTrouble;
}

// The archives of a command in load order, later ones winning, and the
// entry that wins each name: what the game reads.
class CLoadOrder {
 public:
  // Opens every archive; one that does not open is named on `err` and left
  // out. False when any was.
  bool Open(const std::vector<std::string>& paths, std::FILE* err) {
    m_paths = paths;
    m_maps.resize(paths.size());
    bool all = true;
    for (size_t a = 0; a < paths.size(); ++a) {
      CStatus error;
      if ((error = OpenArchiveEntries(paths[a], m_maps[a])).IsOk()) continue;
      Complain(err, error.GetPath(), error.GetWords());
      all = false;
    }
    return all;
  }

  // Each name's winning entry (names matched as the game matches them), in
  // byte order of the winners' names. The entries of an archive
  // that could not be mapped are read here; one that cannot be read is
  // named on `err` and left out, and `trouble` set.
  std::vector<CRulesSource> Winners(std::FILE* err, bool& trouble) const {
    std::vector<const CEntryMap*> order;
    for (const CEntryMap& map : m_maps) order.push_back(&map);
    std::vector<CRulesSource> winners;
    for (const CResolvedName& name : ResolveLoadOrder(order, CopyCheck::NamesOnly).names) {
      const auto [archive, position] = name.winner;
      const CEntryMap& map = m_maps[archive];
      std::string_view bytes = map.BytesAt(position);
      if (!map.IsMapped() && !ReadWinner(archive, position, err, trouble, bytes)) continue;
      if (map.MayReachPastEnd() && map.ReachesPastEndAt(position)) {
        Complain(err, m_paths[archive], PastEndWords(map, position));
        trouble = true;
      }
      winners.push_back({map.NameAt(position), bytes, archive});
    }
    return winners;
  }

  // The bytes of a winner of an archive that could not be mapped, read
  // where they lie: only a rules text is read whole, since the binary
  // entries of such an archive can be larger than the memory left. False
  // when the entry is no rules text, or could not be read (named on `err`).
  bool ReadWinner(uint32_t archive, size_t position, std::FILE* err, bool& trouble,
                  std::string_view& bytes) const {
    const CEntryMap& map = m_maps[archive];
    const std::string_view name = map.NameAt(position);
    const auto failed = [&](const std::string& words) {
      Complain(err, m_paths[archive], "cannot read entry '" + std::string(name) + "': " + words);
      trouble = true;
      return false;
    };
    std::string probe(std::min<uint32_t>(map.SizeAt(position), kRulesProbeBytes), '\0');
    const CStatus error = map.GetFile().ReadAt(map.OffsetAt(position), probe.data(),
                                               static_cast<uint32_t>(probe.size()));
    if (!error.IsOk()) return failed(error.GetWords());
    if (!IsRulesText(probe)) return false;
    CStatus problem;
    const CDataBuffer& read = map.BufferAt(position, &problem);
    if (!read.HasData()) return failed(problem.GetWords());
    bytes = read.View();
    return true;
  }

  // Whether an archive was cut short on disk while it was read: what was
  // read of it is not the archive. Each is named on `err`.
  bool AnyCut(std::FILE* err) const {
    bool cut = false;
    for (size_t a = 0; a < m_maps.size(); ++a) {
      if (m_maps[a].GetWhole().IsCutOnDisk()) {
        Complain(err, m_paths[a], "cut short on disk while it was read");
      } else if (m_maps[a].ChangedOnDisk()) {
        Complain(err, m_paths[a], kArchiveChangedWords);
      } else {
        continue;
      }
      cut = true;
    }
    return cut;
  }

  // What starts a line about an entry of `archive`: with several archives,
  // its name and a TAB.
  std::string Prefix(uint32_t archive) const {
    return m_paths.size() > 1 ? EscapeBytes(m_paths[archive]) + '\t' : std::string();
  }

 private:
  std::vector<std::string> m_paths;
  std::vector<CEntryMap> m_maps;  // one a path; empty when it did not open
};

// ENTRY<TAB>BLOCK<TAB>NAME<TAB>VALUE<LF>, as tarn grep writes a row.
void RowFields(COutput& out, std::string_view entry, std::string_view block, const CRulesRow& row) {
  out.Escaped(entry);
  out.Raw('\t');
  out.Escaped(block);
  out.Raw('\t');
  for (uint32_t level = 0; level < row.depth; ++level) out.Raw("    ");
  out.Escaped(row.name);
  out.Raw('\t');
  out.Escaped(row.value);
  out.Raw('\n');
}

// Lines made on whichever thread searched a run of entries.
struct CRefsChunk {
  std::string spill;
  COutput made{spill};
  size_t lines = 0;
};

// Each archive's Prefix, made once rather than for each line.
std::vector<std::string> Prefixes(const std::vector<CRulesSource>& sources,
                                  const CLoadOrder& order) {
  std::vector<std::string> prefixes;
  for (const CRulesSource& source : sources)
    if (source.Archive() >= prefixes.size()) prefixes.resize(source.Archive() + 1);
  for (uint32_t a = 0; a < prefixes.size(); ++a) prefixes[a] = order.Prefix(a);
  return prefixes;
}

// The definitions and uses of `name` among `sources`, written to `out`;
// the number of lines.
size_t WriteRefs(const std::string& name, const std::vector<CRulesSource>& sources,
                 const CLoadOrder& order, COutput& out) {
  const std::vector<std::string> prefixes = Prefixes(sources, order);
  size_t lines = 0;
  // Every row holding the name is one the search finds; the terms then
  // keep the block of that name and the rows naming it as a token.
  const auto collect = [&](CRefsChunk& chunk, size_t entry, const CRulesMatch& match) {
    const bool definition = IsDefinitionRow(match.cells);
    if (definition ? match.cells.name != name : !ValueHoldsToken(match.cells.value, name)) return;
    chunk.made.Raw(definition ? "def\t" : "use\t");
    chunk.made.Raw(prefixes[sources[entry].Archive()]);
    RowFields(chunk.made, sources[entry].Name(), match.block, match.cells);
    ++chunk.lines;
  };
  const auto deliver = [&](CRefsChunk& chunk, size_t) {
    out.Write(chunk.spill);
    out.Write(chunk.made.Buffered());
    chunk.spill.clear();
    chunk.made.Discard();
    lines += std::exchange(chunk.lines, 0);
  };
  SearchEntries<CRefsChunk>(
      name, false, sources.size(), [&](size_t entry) { return sources[entry].Bytes(); }, collect,
      deliver);
  return lines;
}

// unresolved<TAB>[ARCHIVE<TAB>]ENTRY<TAB>BLOCK<TAB>NAME<TAB>VALUE for each
// unresolved row, each entry parsed again for the rows it has.
void WriteUnresolved(const CRulesIndex& index, const CLoadOrder& order, COutput& out) {
  const std::vector<CRulesUnresolved>& rows = index.Unresolved();
  CRulesParser parser;
  std::vector<uint32_t> numbers;
  for (size_t i = 0; i < rows.size();) {
    const uint32_t entry = rows[i].entry;
    numbers.clear();
    for (; i < rows.size() && rows[i].entry == entry; ++i) numbers.push_back(rows[i].row);
    const CRulesSource& source = index.Sources()[entry];
    const std::string prefix = order.Prefix(source.Archive());
    ForEachRowNumbered(parser, source.Bytes(), numbers,
                       [&](uint32_t, std::string_view block, const CRulesRow& row) {
                         out.Raw("unresolved\t");
                         out.Raw(prefix);
                         RowFields(out, source.Name(), block, row);
                       });
  }
}

// duplicate<TAB>KEYWORD<TAB>NAME, then each place: [ARCHIVE<TAB>]ENTRY.
// A name copied into many texts makes a line of thousands of places:
// blocks of lines are made on two threads.
size_t WriteDuplicates(const CRulesIndex& index, const CLoadOrder& order, COutput& out) {
  const std::vector<CRulesDuplicate> duplicates = index.Duplicates();
  const std::vector<std::string> prefixes = Prefixes(index.Sources(), order);
  constexpr size_t kBlock = 32;  // lines
  WriteLinesInOrder(out, duplicates.size(), kBlock, [&](size_t first, size_t last, COutput& into) {
    for (size_t i = first; i < last; ++i) {
      const CRulesDuplicate& duplicate = duplicates[i];
      into.Raw("duplicate\t");
      into.Escaped(duplicate.keyword);
      into.Raw('\t');
      into.Escaped(duplicate.name);
      for (const uint32_t d : duplicate.definitions) {
        const CRulesSource& source = index.Sources()[index.Definitions()[d].entry];
        into.Raw('\t');
        into.Raw(prefixes[source.Archive()]);
        into.Escaped(source.Name());
      }
      into.Raw('\n');
    }
  });
  return duplicates.size();
}

// A whole number in [low, high], all of `text`.
bool ReadWhole(const std::string& text, uint32_t low, uint32_t high, uint32_t& value) {
  const char* const end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == end && value >= low &&
         value <= high;
}

// The options of lint; the position of its first archive, or 0 after a
// usage error (reported).
size_t ReadLintOptions(const std::vector<std::string>& args, CReferenceKeyRule& rule,
                       std::FILE* err) {
  size_t at = 1;
  for (; at < args.size() && args[at].size() > 1 && args[at][0] == '-'; at += 2) {
    if (args[at] == "--") return at + 1;
    const bool uses = args[at] == "--min-uses";
    if (!uses && args[at] != "--share") {
      Usage(err, "lint", "unknown option '" + args[at] + "'", kLintUsage);
      return 0;
    }
    const std::string value = at + 1 < args.size() ? args[at + 1] : std::string();
    if (uses ? !ReadWhole(value, 1, UINT32_MAX, rule.minUses)
             : !ReadWhole(value, 0, 100, rule.share)) {
      Usage(err, "lint",
            uses ? "--min-uses takes a whole number of 1 or more, not '" + value + "'"
                 : "--share takes a whole percentage from 0 to 100, not '" + value + "'",
            kLintUsage);
      return 0;
    }
  }
  return at;
}

bool FinishOutput(std::FILE* err, COutput& out) {
  if (out.Flush()) return true;
  std::fprintf(err, "tarn: cannot write to standard output\n");
  return false;
}

}  // namespace

int CommandRefs(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  if (args.size() < 3) return Usage(err, "refs", "expected a NAME and an ARCHIVE", kRefsUsage);
  const std::string& name = args[1];
  if (name.empty()) return Usage(err, "refs", "NAME must not be empty", kRefsUsage);
  CLoadOrder order;
  bool trouble = !order.Open({args.begin() + 2, args.end()}, err);
  COutput lines(out);
  // Memory that runs out is tarn's own to report (RunTarn).
  const std::vector<CRulesSource> sources = order.Winners(err, trouble);
  const size_t printed = WriteRefs(name, sources, order, lines);
  if (!FinishOutput(err, lines)) return kTrouble;
  if (order.AnyCut(err)) trouble = true;
  if (trouble) return kTrouble;
  return printed != 0 ? kFound : kNothing;
}

int CommandLint(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  CReferenceKeyRule rule;
  const size_t first = ReadLintOptions(args, rule, err);
  if (first == 0) return kTrouble;
  if (first >= args.size()) return Usage(err, "lint", "expected an ARCHIVE", kLintUsage);
  CLoadOrder order;
  bool trouble = !order.Open({args.begin() + static_cast<std::ptrdiff_t>(first), args.end()}, err);
  COutput lines(out);
  CRulesIndex index;
  try {
    index.Build(order.Winners(err, trouble), rule, CRulesIndexScope::kProblems);
  } catch (const CTooManyNames& refused) {
    Report(err, "lint",
           std::string(refused.what()) + " (more than " + std::to_string(kMostRowNames) + ")");
    return kTrouble;
  }
  WriteUnresolved(index, order, lines);
  const size_t problems = index.Unresolved().size() + WriteDuplicates(index, order, lines);
  if (!FinishOutput(err, lines)) return kTrouble;
  if (order.AnyCut(err)) trouble = true;
  if (trouble) return kTrouble;
  return problems != 0 ? kProblems : kClean;
}
