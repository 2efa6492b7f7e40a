#include "cli/grep_command.h"

#include <new>
#include <string_view>

#include "archive/entry_map.h"
#include "cli/output.h"
#include "rules/search_entries.h"
#include "storage/platform.h"

namespace {

constexpr int kGrepMatched = 0;
constexpr int kGrepNothing = 1;
constexpr int kGrepTrouble = 2;

constexpr const char* kGrepUsage = "usage: tarn grep [-i] PATTERN ARCHIVE...\n";

int GrepUsage(std::FILE* err, const std::string& problem) {
  std::fprintf(err, "tarn: grep: %s\n%s", EscapeBytes(problem).c_str(), kGrepUsage);
  return kGrepTrouble;
}

// The lines of one run of entries, made on whichever thread searched it:
// in `made`'s buffer, and in `spill` what did not fit there.
struct CGrepChunk {
  std::string spill;
  COutput made{spill};
  size_t matches = 0;
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
    const platform::Error error =
        bytes.empty() ? platform::Error()
                      : platform::ReadAt(entries.GetFile().Get(), entries.OffsetAt(entry),
                                         bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (error.Failed()) {
      deliver(chunk, entry);
      out.Flush();
      std::fprintf(err, "tarn: %s: cannot read entry '%s': %s\n", EscapeBytes(path).c_str(),
                   EscapeBytes(entries.NameAt(entry)).c_str(), error.Text().c_str());
      return false;
    }
    search.SearchEntry(bytes, [&](const CRulesMatch& match) { collect(chunk, entry, match); });
    deliver(chunk, entry + 1);
  }
  return true;
}

// Searches one archive, writing its lines to `out`; `prefix` (the archive's
// name and a TAB, escaped, or nothing) starts each. Adds the number of
// matching rows to `matches`; false when the archive could not be read.
bool GrepArchive(const std::string& path, std::string_view prefix, std::string_view pattern,
                 bool ignoreCase, COutput& out, std::FILE* err, size_t& matches) {
  CEntryMap entries;
  CStatus error;
  if (!OpenArchiveEntries(path, entries, &error)) {
    out.Flush();  // the lines of the archives before come first
    std::fprintf(err, "tarn: %s: %s\n", EscapeBytes(error.GetPath()).c_str(),
                 error.GetWords().c_str());
    return false;
  }
  const auto collect = [&](CGrepChunk& chunk, size_t entry, const CRulesMatch& match) {
    COutput& line = chunk.made;
    line.Raw(prefix);
    line.Escaped(entries.NameAt(entry));
    line.Raw('\t');
    line.Escaped(match.block);
    line.Raw('\t');
    for (uint32_t level = 0; level < match.cells.depth; ++level) line.Raw("    ");
    line.Escaped(match.cells.name);
    line.Raw('\t');
    line.Escaped(match.cells.value);
    line.Raw('\n');
    ++chunk.matches;
  };
  const auto deliver = [&](CGrepChunk& chunk, size_t) {
    out.Write(chunk.spill);
    out.Write(chunk.made.Buffered());
    chunk.spill.clear();
    chunk.made.Discard();
    matches += chunk.matches;
    chunk.matches = 0;
  };
  if (!entries.IsMapped() && !entries.empty())
    return GrepUnmapped(path, entries, pattern, ignoreCase, collect, deliver, out, err);
  SearchEntries<CGrepChunk>(
      pattern, ignoreCase, entries.size(),
      [&entries](size_t entry) { return entries.BytesAt(entry); }, collect, deliver);
  return true;
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
      // One archive too large to search: say so, and go on with the others.
      lines.Flush();
      std::fprintf(err, "tarn: %s: out of memory\n", EscapeBytes(path).c_str());
      trouble = true;
    }
  }
  if (!lines.Flush()) {
    std::fprintf(err, "tarn: cannot write to standard output\n");
    return kGrepTrouble;
  }
  if (trouble) return kGrepTrouble;
  return matches != 0 ? kGrepMatched : kGrepNothing;
}
