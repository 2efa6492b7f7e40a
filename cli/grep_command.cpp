#include "cli/grep_command.h"

#include <cstdint>
#include <new>
#include <string_view>

#include "archive/entry_map.h"
#include "archive/extract.h"
#include "cli/output.h"
#include "rules/search_entries.h"

namespace {

constexpr int kGrepMatched = 0;
constexpr int kGrepNothing = 1;
constexpr int kGrepTrouble = 2;

constexpr const char* kGrepUsage = "usage: tarn grep [-i] PATTERN ARCHIVE...\n";

int GrepUsage(std::FILE* err, const std::string& problem) {
  Report(err, "grep", problem);
  std::fputs(kGrepUsage, err);
  return kGrepTrouble;
}

// The matching rows of one run of entries, gathered on whichever thread
// searched it and written out on the caller's. Each row keeps its name and
// value, escaped, its depth and its entry; the entry's name and the
// block's name are kept once for all the rows that share them, and the
// indentation is written only on the way out. A chunk so takes memory in
// proportion to the rows that matched, never to their depth: 40,000 nested
// rows take a few megabytes, where their lines take gigabytes.
struct CGrepChunk {
  struct CRow {
    size_t at;     // the name in `text`, then a TAB and the value
    size_t entry;  // the entry's name in `text`, then a TAB and the block's
    uint32_t size;
    uint32_t entrySize;
    uint32_t depth;
  };
  std::string text;
  std::vector<CRow> rows;
  // The last entry and block met, and where their names are in `text`.
  size_t lastEntry = SIZE_MAX;
  std::string lastBlock;
  size_t lastEntryAt = 0;
  uint32_t lastEntrySize = 0;

  void Add(std::string_view entryName, size_t entry, const CRulesMatch& match) {
    if (entry != lastEntry || match.block != lastBlock) {
      lastEntry = entry;
      lastBlock = match.block;
      lastEntryAt = text.size();
      AppendEscaped(text, entryName);
      text += '\t';
      AppendEscaped(text, match.block);
      lastEntrySize = static_cast<uint32_t>(text.size() - lastEntryAt);
    }
    const size_t at = text.size();
    AppendEscaped(text, match.cells.name);
    text += '\t';
    AppendEscaped(text, match.cells.value);
    rows.push_back({at, lastEntryAt, static_cast<uint32_t>(text.size() - at), lastEntrySize,
                    match.cells.depth});
  }

  // Writes the rows out, each after `prefix`, and empties the chunk.
  void Deliver(std::string_view prefix, COutput& out) {
    const std::string_view all = text;
    for (const CRow& row : rows) {
      out.Raw(prefix);
      out.Raw(all.substr(row.entry, row.entrySize));
      out.Raw('\t');
      out.Indent(row.depth);
      out.Raw(all.substr(row.at, row.size));
      out.Raw('\n');
    }
    rows.clear();
    text.clear();
    lastEntry = SIZE_MAX;
  }
};

// An archive that could not be mapped: each entry read where it lies into
// one buffer used again, on this thread, so the memory taken is the largest
// entry's and not the archive's.
template <typename Collect, typename Deliver>
bool GrepUnmapped(const std::string& path, const CEntryMap& entries, std::string_view pattern,
                  bool ignoreCase, Collect& collect, Deliver& deliver, COutput& out,
                  std::FILE* err) {
  CRulesSearch search(pattern, ignoreCase);
  CGrepChunk chunk;
  std::string bytes;
  for (size_t entry = 0; entry < entries.size(); ++entry) {
    bytes.resize(entries.SizeAt(entry));
    const CStatus read = entries.GetFile().ReadAt(entries.OffsetAt(entry), bytes.data(),
                                                  static_cast<uint32_t>(bytes.size()));
    if (!read.IsOk()) {
      deliver(chunk, entry);
      out.Flush();
      const std::string name(entries.NameAt(entry));
      // A short read of an archive cut short since it was opened.
      Report(err, path,
             entries.WasCut() ? EntryCutWords(name)
                              : "cannot read entry '" + name + "': " + read.GetWords());
      return false;
    }
    search.SearchEntry(bytes, [&](const CRulesMatch& match) { collect(chunk, entry, match); });
    deliver(chunk, entry + 1);
  }
  return true;
}

// After a search of mapped entries: false, and the first entry named, when
// the archive was cut short under it, so some entries were searched as
// zeros. A cut past every entry changed nothing that was read.
bool CheckNotCut(const std::string& path, const CEntryMap& entries, COutput& out, std::FILE* err) {
  if (!entries.GetWhole().IsCutOnDisk()) return true;
  for (size_t entry = 0; entry < entries.size(); ++entry) {
    if (!entries.WasCutAt(entry)) continue;
    out.Flush();  // the lines found before come first
    Report(err, path, EntryCutWords(entries.NameAt(entry)));
    return false;
  }
  return true;
}

// Searches one archive, writing its lines to `out`; `prefix` (the archive's
// name and a TAB, escaped, or nothing) starts each. Adds the number of
// matching rows to `matches`; false when the archive could not be read.
bool GrepArchive(const std::string& path, std::string_view prefix, std::string_view pattern,
                 bool ignoreCase, COutput& out, std::FILE* err, size_t& matches) {
  CEntryMap entries;
  const CStatus error = OpenArchiveEntries(path, entries);
  if (!error.IsOk()) {
    out.Flush();  // the lines of the archives before come first
    Report(err, error.GetPath(), error.GetWords());
    return false;
  }
  const auto collect = [&entries](CGrepChunk& chunk, size_t entry, const CRulesMatch& match) {
    chunk.Add(entries.NameAt(entry), entry, match);
  };
  const auto deliver = [&](CGrepChunk& chunk, size_t) {
    matches += chunk.rows.size();
    chunk.Deliver(prefix, out);
  };
  if (!entries.IsMapped() && !entries.empty()) {
    if (!GrepUnmapped(path, entries, pattern, ignoreCase, collect, deliver, out, err)) return false;
  } else {
    SearchEntries<CGrepChunk>(
        pattern, ignoreCase, entries.size(),
        [&entries](size_t entry) { return entries.BytesAt(entry); }, collect, deliver);
    if (!CheckNotCut(path, entries, out, err)) return false;
  }
  if (!ReportChanged(entries, path, out, err)) return false;
  return ReportPastEnd(entries, path, out, err);
}

}  // namespace

int CommandGrep(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  bool ignoreCase = false;
  size_t at = 1;
  for (; at < args.size() && args[at].size() > 1 && args[at][0] == '-'; ++at) {
    if (args[at] == "--") {
      ++at;
      break;
    }
    if (args[at] != "-i") return GrepUsage(err, "unknown option '" + args[at] + "'");
    ignoreCase = true;
  }
  if (at >= args.size()) return GrepUsage(err, "expected a PATTERN and an ARCHIVE");
  const std::string& pattern = args[at++];
  if (pattern.empty()) return GrepUsage(err, "PATTERN must not be empty");
  if (at >= args.size()) return GrepUsage(err, "expected an ARCHIVE after the PATTERN");

  const bool several = args.size() - at > 1;
  bool trouble = false;
  size_t matches = 0;
  COutput lines(out);
  for (; at < args.size(); ++at) {
    const std::string& path = args[at];
    const std::string prefix = several ? EscapeBytes(path) + '\t' : std::string();
    try {
      if (!GrepArchive(path, prefix, pattern, ignoreCase, lines, err, matches)) trouble = true;
    } catch (const std::bad_alloc&) {
      // One archive too large to search: say so (taking no memory), and go
      // on with the others. Memory that runs out elsewhere is tarn's own
      // to report (RunTarn).
      lines.Flush();
      Report(err, path, "out of memory");
      trouble = true;
    }
  }
  if (!lines.Flush()) {
    Report(err, "cannot write to standard output");
    return kGrepTrouble;
  }
  if (trouble) return kGrepTrouble;
  return matches != 0 ? kGrepMatched : kGrepNothing;
}
