#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "archive/big_archive.h"
#include "archive/entry_map.h"
#include "archive/extract.h"
#include "archive/load_order.h"
#include "archive/name_registry.h"
#include "cli/archive_commands.h"
#include "cli/grep_command.h"
#include "cli/info_command.h"
#include "cli/compare_commands.h"
#include "cli/refs_command.h"
#include "cli/output.h"
#include "cli/tarn.h"
#include "rules/rules_parser.h"
#include "rules/rules_rows.h"
#include "storage/disk_file.h"

// The main build passes the version from project(); a build of these sources
// outside it (the fuzz targets) has none to give.
#ifndef TARN_VERSION
#define TARN_VERSION "unknown"
#endif

namespace {

constexpr const char* kUsage =
    "usage: tarn COMMAND [ARGUMENTS]\n"
    "\n"
    "Reads BIG archives and the rules text inside them, extracts their entries\n"
    "and packs new ones. Nothing is ever written to the files it reads.\n"
    "\n"
    "commands:\n"
    "  rules FILE             print the rows of a rules text file\n"
    "  id TYPE NAME           print the identifier of NAME under type code TYPE\n"
    "  list ARCHIVE           print OFFSET, SIZE and NAME of every entry, in name order\n"
    "  info ARCHIVE [ENTRY...]\n"
    "                         print NAME, KIND (rules, text, image, sound or binary)\n"
    "                         and DETAILS of every entry, or the named ones, in name\n"
    "                         order, from their headers; named rules entries also\n"
    "                         give their blocks and rows\n"
    "  show ARCHIVE ENTRY     print the rows of an entry read as rules text\n"
    "  cat ARCHIVE ENTRY      write an entry's bytes to standard output\n"
    "  check ARCHIVE          tell whether every entry lies inside the archive\n"
    "  grep [-i] PATTERN ARCHIVE...\n"
    "                         print ENTRY, BLOCK, NAME and VALUE of every row of the\n"
    "                         rules entries whose name or value holds PATTERN (plain\n"
    "                         text; -i: ASCII letters in either case), ARCHIVE first\n"
    "                         when there are several. Exit status as grep's: 0 a row\n"
    "                         matched, 1 none did, 2 trouble\n"
    "  refs NAME ARCHIVE...   print every definition of the block NAME and every row\n"
    "                         whose value holds NAME as a word: 'def' or 'use', then\n"
    "                         ENTRY, BLOCK, NAME and VALUE as grep prints them\n"
    "                         (ARCHIVE first when there are several). Exit status: 0\n"
    "                         a line printed, 1 none, 2 trouble\n"
    "  lint [--min-uses N] [--share P] ARCHIVE...\n"
    "                         print rows of reference keys that name no defined\n"
    "                         block ('unresolved', then fields as refs prints them),\n"
    "                         then blocks defined twice or more ('duplicate',\n"
    "                         KEYWORD, NAME and each ENTRY). A reference key is a\n"
    "                         name of N rows or more (20), P percent of which (90)\n"
    "                         name a defined block. Exit status: 0 no problem,\n"
    "                         1 problems, 2 trouble\n"
    "  extract ARCHIVE DIR [ENTRY...]\n"
    "                         write every entry, or the named ones, as files under DIR;\n"
    "                         unsafe names and links in the way are skipped and named\n"
    "  pack ARCHIVE INPUT...  make a new archive from folders (every file under them,\n"
    "                         named with '\\' between parts) and archives; a later\n"
    "                         INPUT replaces an entry of the same name. ARCHIVE is\n"
    "                         replaced only once the new one is complete\n"
    "  diff [--brief] OLD NEW compare two archives or folders: +, - or M and the\n"
    "                         name of each entry added, removed or changed; under\n"
    "                         a changed rules entry its blocks added (+), removed\n"
    "                         (-) or changed (~, then the rows removed and added,\n"
    "                         each run after '@ OLDROW NEWROW'). --brief: entry\n"
    "                         lines only\n"
    "  overrides ARCHIVE...   archives in load order: for each name in two or more\n"
    "                         (letter case and '/' against '\\' aside, as the game\n"
    "                         matches names), MARK, NAME, the winning archive and\n"
    "                         those it shadows (MARK '=' when every copy is the same,\n"
    "                         else '!'); then 'shadowed' and each archive that wins\n"
    "                         nothing\n"
    "  rm ARCHIVE ENTRY...    remove exactly the named entries (as list names them)\n"
    "                         from ARCHIVE, keeping every other entry as it is;\n"
    "                         ARCHIVE is replaced only once the new one is complete\n"
    "  help                   print this text\n"
    "  --version              print the version\n"
    "\n"
    "Rows are NAME<TAB>VALUE; lines of a block are indented four spaces per level.\n"
    "Bytes 0x00-0x1F and 0x7F in names and values are written as \\xHH\n"
    "(in messages on standard error 0x80-0x9F too).\n"
    "\n"
    "exit status: 0 success, 1 a file could not be read or written or an entry\n"
    "is missing, damaged or skipped, 2 usage error. diff: 0 nothing differs,\n"
    "1 something does, 2 trouble; overrides: 0, or 2 on trouble. An archive cut\n"
    "short while it is read, or memory running out, is trouble too.\n"
    "With several archives, refs and lint read them in load order: of entries\n"
    "of one name only the last archive's counts.\n"
    "Where archives go in load order (grep, refs, lint, overrides, pack's INPUTs),\n"
    "@FILE stands for those a load-order file lists: one path a line, relative to\n"
    "the file's folder, '#' starting a comment line (./@NAME for a file named @NAME).\n";

struct Context {
  std::FILE* out;
  std::FILE* err;
};

int Usage(const Context& c, const std::string& problem) {
  Report(c.err, problem);
  std::fputs(kUsage, c.err);
  return kExitUsage;
}

// A mistake in one command's arguments: its line of the help alone, as
// grep, refs and lint give theirs, rather than the whole text.
int CommandUsage(const Context& c, const std::string& command, const std::string& problem) {
  const std::string_view help(kUsage);
  const size_t at = help.find("\n  " + command + " ");
  if (at == std::string_view::npos) return Usage(c, command + ": " + problem);
  std::string_view line = help.substr(at + 3, help.find('\n', at + 1) - at - 3);
  line = line.substr(0, line.find("  "));  // what it does follows two spaces
  Report(c.err, command + ": " + problem);
  std::fprintf(c.err, "usage: tarn %.*s\n", static_cast<int>(line.size()), line.data());
  return kExitUsage;
}

int Fail(const Context& c, std::string_view path, std::string_view reason) {
  Report(c.err, path, reason);
  return kExitFailure;
}

// The one place a failure of the core becomes words for a user of tarn.
int Fail(const Context& c, const CStatus& status) {
  return Fail(c, status.GetPath(), status.GetWords());
}

int Finish(const Context& c, COutput& out) {
  if (out.Flush()) return kExitOk;
  Report(c.err, "cannot write to standard output");
  return kExitFailure;
}

// The rows of the text `parser` read last.
void PrintRows(COutput& out, const CRulesParser& parser) {
  ForEachRulesRow(parser, [&out](const CRulesRow& row) {
    out.Indent(row.depth);
    out.Escaped(row.name);
    out.Raw('\t');
    out.Escaped(row.value);
    out.Raw('\n');
  });
}

// Reads `bytes` as rules text into `parser`; false when they were cut
// short on disk before the parser had copied them all.
bool ParseRows(CRulesParser& parser, const CDataBuffer& bytes) {
  parser.SetSource(bytes);
  parser.Parse();
  return !bytes.IsCutOnDisk();
}

int CommandRules(const Context& c, const std::string& path) {
  CDiskFile file;
  CDataBuffer bytes;
  if (file.OpenRead(path) != 0 || file.LoadWhole(bytes, nullptr) != 0)
    return Fail(c, file.GetLastError());
  CRulesParser parser;
  if (!ParseRows(parser, bytes)) return Fail(c, path, kArchiveChangedWords);
  COutput out(c.out);
  PrintRows(out, parser);
  return Finish(c, out);
}

bool ParseTypeCode(const std::string& text, int32_t& type) {
  if (text.empty()) return false;
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (*first == '+' && text.size() > 1 && text[1] != '-') ++first;
  const auto result = std::from_chars(first, last, type);
  return result.ec == std::errc() && result.ptr == last;
}

int CommandId(const Context& c, const std::string& typeText, const std::string& name) {
  int32_t type = 0;
  if (!ParseTypeCode(typeText, type))
    return CommandUsage(c, "id",
                        "TYPE must be a signed 32-bit decimal number, not '" + typeText + "'");
  const auto id = static_cast<uint32_t>(CNameRegistry::GetId(type, name));
  std::fprintf(c.out, "0x%08X\n", static_cast<unsigned>(id));
  return std::fflush(c.out) == 0 ? kExitOk : kExitFailure;
}

int OpenReader(const Context& c, const std::string& path, CBigArchive& reader) {
  if (reader.Open(path) == 0) return kExitOk;
  return Fail(c, reader.GetStatus());
}

// The end of list and check, which read the index alone: what they said
// holds only if the archive is still the one they read. Cut short or
// written to since (the words extraction uses), it fails.
int FinishReading(const Context& c, const CBigArchive& reader, COutput& out, int status) {
  const int written = Finish(c, out);
  if (reader.WasCutSinceOpened() || reader.ChangedSinceOpened())
    return Fail(c, reader.GetPath(), kArchiveChangedWords);
  return written != kExitOk ? written : status;
}

// The lines of `tarn list` for the index's elements [first, last).
void WriteEntryLines(const CBigIndex& index, size_t first, size_t last, COutput& out) {
  const auto end = index.begin() + static_cast<std::ptrdiff_t>(last);
  for (auto at = index.begin() + static_cast<std::ptrdiff_t>(first); at != end; ++at) {
    const auto& [name, entry] = *at;
    out.EntryLine(entry.offset, entry.size, name);
  }
}

int CommandList(const Context& c, const std::string& path) {
  CBigArchive reader;
  if (const int status = OpenReader(c, path, reader); status != kExitOk) return status;
  COutput out(c.out);
  // Making the lines is most of the work after the reader's, and blocks of
  // them are made on two threads, handed over in order. A second thread
  // for this was measured on bench/archive_bench.sh's 200,000 shuffled
  // names at 24.4 ms against 25.0 ms without (median of 100 runs): a small
  // gain, and the most of a second core that tarn list can use. Only an
  // index of four blocks or more pays for the second thread.
  const CBigIndex& index = reader.GetIndex();
  constexpr size_t kBlock = 8192;  // lines
  WriteLinesInOrder(out, index.size(), kBlock, [&](size_t first, size_t last, COutput& into) {
    WriteEntryLines(index, first, last, into);
  });
  return FinishReading(c, reader, out, kExitOk);
}

int CommandCheck(const Context& c, const std::string& path) {
  CBigArchive reader;
  if (const int status = OpenReader(c, path, reader); status != kExitOk) return status;
  const uint64_t total = static_cast<uint32_t>(reader.GetSize());
  std::vector<std::string_view> damaged;
  for (const auto& [name, entry] : reader.GetIndex())
    if (ReachesPastEnd(entry, total)) damaged.push_back(name);
  COutput out(c.out);
  if (damaged.empty()) {
    out.Raw("ok: ");
    out.Number(reader.GetIndex().size());
    out.Raw(" entries\n");
    return FinishReading(c, reader, out, kExitOk);
  }
  out.Raw("damaged: ");
  out.Number(damaged.size());
  out.Raw(" of ");
  out.Number(reader.GetIndex().size());
  out.Raw(" entries reach past the end of the archive\n");
  for (const std::string_view name : damaged) {
    out.Escaped(name);
    out.Raw('\n');
  }
  FinishReading(c, reader, out, kExitFailure);
  return kExitFailure;
}

// Shared by show and cat: the entry's bytes, or an exit status; `pastEnd`
// says why they are fewer than the index gives it, when they are.
int FindEntry(const Context& c, const std::string& path, const std::string& name,
              CEntryMap& entries, CDataBuffer& bytes, std::string& pastEnd) {
  const CStatus error = OpenArchiveEntries(path, entries);
  if (!error.IsOk()) return Fail(c, error);
  const auto found = entries.find(name);
  if (found == entries.end()) return Fail(c, path, "no entry named '" + name + "'");
  // An archive that could not be mapped is read here, this entry only.
  CStatus problem;
  bytes = entries.BufferAt(found.Position(), &problem);
  if (!bytes.HasData() && entries.WasCut()) return Fail(c, path, EntryCutWords(name));
  if (!bytes.HasData())
    return Fail(c, path, "cannot read entry '" + name + "': " + problem.GetWords());
  if (entries.ReachesPastEndAt(found.Position())) pastEnd = PastEndWords(entries, found.Position());
  return kExitOk;
}

// What show and cat end with once they wrote what there was.
int FinishEntry(const Context& c, COutput& out, const std::string& path,
                const std::string& pastEnd) {
  const int status = Finish(c, out);
  return pastEnd.empty() || status != kExitOk ? status : Fail(c, path, pastEnd);
}

int CommandShow(const Context& c, const std::string& path, const std::string& name) {
  CEntryMap entries;
  CDataBuffer bytes;
  std::string pastEnd;
  if (const int status = FindEntry(c, path, name, entries, bytes, pastEnd); status != kExitOk)
    return status;
  CRulesParser parser;
  if (!ParseRows(parser, bytes) || entries.ChangedOnDisk())
    return Fail(c, path, EntryCutWords(name));
  COutput out(c.out);
  PrintRows(out, parser);
  return FinishEntry(c, out, path, pastEnd);
}

int CommandCat(const Context& c, const std::string& path, const std::string& name) {
  CEntryMap entries;
  CDataBuffer bytes;
  std::string pastEnd;
  if (const int status = FindEntry(c, path, name, entries, bytes, pastEnd); status != kExitOk)
    return status;
  COutput out(c.out);
  // A buffer's worth at a time, each asked about before it is written out:
  // bytes the archive lost while they were copied (zeros), or that another
  // program wrote over them, never leave.
  const auto* data = reinterpret_cast<const char*>(bytes.GetData());
  for (uint32_t done = 0; done < bytes.GetSize();) {
    const auto step =
        static_cast<uint32_t>(std::min<size_t>(COutput::kBufferSize, bytes.GetSize() - done));
    out.Drain();
    out.Raw(std::string_view(data + done, step));
    if (bytes.IsCutOnDisk(done, step) || entries.ChangedOnDisk()) {
      out.Discard();
      Finish(c, out);
      return Fail(c, path, EntryCutWords(name));
    }
    done += step;
  }
  return FinishEntry(c, out, path, pastEnd);
}

// The commands that take a fixed number of arguments, with that number. The
// ones that take options or any number of names are read in RunTarn.
struct Command {
  const char* name;
  size_t arguments;
  int (*run)(const Context& c, const std::vector<std::string>& args);
};
constexpr Command kCommands[] = {
    {"rules", 1,
     [](const Context& c, const std::vector<std::string>& a) { return CommandRules(c, a[1]); }},
    {"id", 2,
     [](const Context& c, const std::vector<std::string>& a) { return CommandId(c, a[1], a[2]); }},
    {"list", 1,
     [](const Context& c, const std::vector<std::string>& a) { return CommandList(c, a[1]); }},
    {"show", 2,
     [](const Context& c, const std::vector<std::string>& a) {
       return CommandShow(c, a[1], a[2]);
     }},
    {"cat", 2,
     [](const Context& c, const std::vector<std::string>& a) { return CommandCat(c, a[1], a[2]); }},
    {"check", 1,
     [](const Context& c, const std::vector<std::string>& a) { return CommandCheck(c, a[1]); }},
};

// Where the archives in load order begin among `args` (the command first),
// for the commands that take them; 0 for the others. grep's and lint's
// options are skipped as those commands read them, so that a PATTERN or an
// option's value that starts with '@' is never taken for a load order.
size_t FirstOrderedArchive(const std::vector<std::string>& args) {
  const std::string& command = args[0];
  if (command == "overrides") return 1;
  if (command == "pack" || command == "refs") return 2;
  const bool grep = command == "grep";
  if (!grep && command != "lint") return 0;
  size_t at = 1;
  while (at < args.size() && args[at].size() > 1 && args[at][0] == '-') {
    if (args[at] == "--") {
      ++at;
      break;
    }
    at += grep ? 1 : 2;
  }
  return grep ? at + 1 : at;
}

// `args` with every "@FILE" among the archives in load order replaced, in
// place, by the archives of the load-order file FILE; false, with the
// problem reported, when one cannot be read. A file whose own name starts
// with '@' is given as "./@NAME".
bool ExpandLoadOrders(std::vector<std::string>& args, std::FILE* err) {
  const size_t first = std::min(FirstOrderedArchive(args), args.size());
  if (first == 0) return true;
  std::vector<std::string> expanded(args.begin(),
                                    args.begin() + static_cast<std::ptrdiff_t>(first));
  for (size_t a = first; a < args.size(); ++a) {
    if (args[a].size() < 2 || args[a][0] != '@') {
      expanded.push_back(std::move(args[a]));
      continue;
    }
    CResult<std::vector<std::string>> listed = ReadLoadOrderFile(args[a].substr(1));
    if (!listed) {
      Report(err, listed.GetStatus().GetPath(), listed.GetStatus().GetWords());
      return false;
    }
    for (std::string& path : *listed) expanded.push_back(std::move(path));
  }
  args = std::move(expanded);
  return true;
}

int RunCommand(std::vector<std::string> args, std::FILE* out, std::FILE* err) {
  const Context c{out, err};
  if (args.empty()) return Usage(c, "no command given");
  const std::string command = args[0];
  if (command == "help" || command == "--help" || command == "-h" || command == "--version") {
    std::fputs(command == "--version" ? "tarn " TARN_VERSION "\n" : kUsage, out);
    // The help is longer than the stream's buffer: a write that failed
    // while it was put there shows only in the stream's error flag.
    if (std::fflush(out) == 0 && !std::ferror(out)) return kExitOk;
    std::fprintf(err, "tarn: cannot write to standard output\n");
    return kExitFailure;
  }
  // A load order that cannot be read is the command's trouble: 1 for pack,
  // as for an input it cannot read, 2 for the others.
  if (!ExpandLoadOrders(args, err)) return command == "pack" ? kExitFailure : 2;
  const size_t given = args.size() - 1;
  // These take options or any number of names, and check their own.
  if (command == "extract")
    return given >= 2 ? CommandExtract(args, err)
                      : CommandUsage(c, command, "expected ARCHIVE DIR [ENTRY...]");
  if (command == "pack")
    return given >= 2 ? CommandPack(args, err)
                      : CommandUsage(c, command, "expected ARCHIVE INPUT...");
  if (command == "grep") return CommandGrep(args, out, err);
  if (command == "info")
    return given >= 1 ? CommandInfo(args, out, err)
                      : CommandUsage(c, command, "expected ARCHIVE [ENTRY...]");
  if (command == "diff") return CommandDiff(args, out, err);
  if (command == "refs") return CommandRefs(args, out, err);
  if (command == "lint") return CommandLint(args, out, err);
  if (command == "overrides")
    return given >= 1 ? CommandOverrides(args, out, err)
                      : CommandUsage(c, command, "expected ARCHIVE...");
  if (command == "rm")
    return given >= 2 ? CommandRemove(args, err)
                      : CommandUsage(c, command, "expected ARCHIVE ENTRY...");
  for (const Command& known : kCommands) {
    if (command != known.name) continue;
    if (given != known.arguments)
      return CommandUsage(c, command,
                          "expected " + std::to_string(known.arguments) + " argument" +
                              (known.arguments == 1 ? "" : "s") + ", got " + std::to_string(given));
    return known.run(c, args);
  }
  return Usage(c, "unknown command '" + command + "'");
}

// The one place where memory running out becomes an exit status. The core
// refuses what it cannot hold where it can (an archive's index, an entry
// read where it lies, one archive of grep's); this catches the rest (a huge
// entry's rows, say), which must not end in an abort either. Takes no
// memory of its own. grep, diff, overrides, refs and lint answer with their
// "trouble", 2: 1 means "no match", "differs" or "problems" for them.
template <typename Run>
int WithinMemory(std::string_view command, std::FILE* out, std::FILE* err, Run&& run) {
  try {
    return run();
  } catch (const std::bad_alloc&) {
    std::fflush(out);  // what was written before stays in front of the message
    Report(err, "out of memory");
    const bool troubleIsTwo = command == "grep" || command == "diff" || command == "overrides" ||
                              command == "refs" || command == "lint";
    return troubleIsTwo ? 2 : kExitFailure;
  }
}

}  // namespace

int RunTarn(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  return WithinMemory(args.empty() ? std::string_view() : std::string_view(args[0]), out, err,
                      [&] { return RunCommand(args, out, err); });
}

int RunTarn(int argc, char** argv, std::FILE* out, std::FILE* err) {
  return WithinMemory(argc > 1 ? std::string_view(argv[1]) : std::string_view(), out, err, [&] {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return RunCommand(args, out, err);
  });
}
