// The format's limits: the largest archive the 32-bit fields allow and the
// first sizes past it, absurd entry counts, huge names, a million entries,
// rules text nested a million deep on a 256 KiB stack, and a 50 MB
// entry of random bytes read as rules text.
//
// Large files are sparse: only the header, the index and the bytes a test
// reads take room on disk.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>
#include <vector>

#include "archive/big_archive.h"
#include "archive/entry_map.h"
#include "rules/rules_parser.h"
#include "rules/rules_rows.h"
#include "tests/support/big_builder.h"
#include "tests/support/buffer_view.h"
#include "tests/support/process_probe.h"
#include "tests/support/run_tarn.h"

namespace {

constexpr uint64_t k2GiB = uint64_t{1} << 31;

// Writes `head` at the start of a sparse file of `size` bytes, and `tail`
// so that it ends at the file's end.
std::string WriteSparse(const CTempDir& dir, const std::string& name, const std::string& head,
                        uint64_t size, const std::string& tail = "") {
  const std::string path = dir.Write(name, head);
  if (::truncate(path.c_str(), static_cast<off_t>(size)) != 0) return "";
  if (!tail.empty()) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    const ssize_t wrote =
        ::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(size - tail.size()));
    ::close(fd);
    if (wrote != static_cast<ssize_t>(tail.size())) return "";
  }
  return path;
}

// ---------------------------------------------------------------------------
// Archive size: 2^31 - 1 bytes is the largest that opens

TEST(ArchiveLimits, ArchiveOfTwoGiBMinusOneByteOpens) {
  const CDeadline deadline(120);
  CTempDir dir;
  constexpr uint32_t kSize = 0x7FFFFFFFu;
  const std::string rules = "Object Far\n  Range = 2147483647\nEnd\n";
  // Records are laid out by hand: one entry right after the index, one that
  // is the file's last byte, one reaching one byte past the end, and one
  // starting at the end.
  CBigBuilder builder;
  builder.Add("first.ini", rules)
      .AddRecord("last.bin", kSize - 1, 1)
      .AddRecord("past.bin", kSize - 1, 2)
      .AddRecord("at-end.bin", kSize, 7)
      .ArchiveSize(kSize);
  const std::string path = WriteSparse(dir, "huge.big", builder.Build(), kSize, "Z");
  ASSERT_FALSE(path.empty());

  CEntryMap entries;
  CStatus error;
  ASSERT_TRUE((error = OpenArchiveEntries(path, entries)).IsOk())
      << CStatus::WordsFor(error.GetKind());
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(Bytes(*entries.Get("first.ini")), rules);
  EXPECT_EQ(Bytes(*entries.Get("last.bin")), "Z");
  EXPECT_EQ(Bytes(*entries.Get("past.bin")), "Z");
  EXPECT_EQ(entries.Get("at-end.bin")->GetSize(), 0u);
  // Every entry lies inside the one mapping of the whole file.
  const std::optional<CMappedRange> mapped = FindMapping(path);
  ASSERT_TRUE(mapped);
  EXPECT_GE(mapped->end - mapped->begin, kSize);
  for (const auto& [name, bytes] : entries)
    EXPECT_TRUE(mapped->Contains(bytes.GetData(), bytes.GetSize())) << name;
  entries.clear();
  EXPECT_FALSE(FindMapping(path));

  const CTarnResult check = RunTarnCaptured({"check", path});
  EXPECT_EQ(check.status, 1);
  EXPECT_EQ(check.out,
            "damaged: 2 of 4 entries reach past the end of the archive\nat-end.bin\npast.bin\n");
  const CTarnResult list = RunTarnCaptured({"list", path});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("2147483646\t2\tpast.bin\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("2147483647\t7\tat-end.bin\n"), std::string::npos) << list.out;
}

TEST(ArchiveLimits, ArchivesOfTwoGiBOrMoreAreRefusedAsTooLarge) {
  const CDeadline deadline(120);
  CTempDir dir;
  struct Case {
    uint64_t fileSize;
    uint32_t sizeField;
  };
  const Case cases[] = {
      {k2GiB, 0x80000000u},  // the size field holds it exactly
      {k2GiB + 1, 0x80000001u},
      {uint64_t{0xFFFFFFFF}, 0xFFFFFFFFu},
      // Only the low 32 bits of the size match the field: a reader that
      // kept just the low word would take this for a 16-byte archive.
      {(uint64_t{1} << 32) + 16, 16u},
      {(uint64_t{1} << 33) + 16, 16u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fileSize);
    const std::string head = CBigBuilder().ArchiveSize(c.sizeField).Build();
    const std::string path = WriteSparse(dir, "too-large.big", head, c.fileSize);
    ASSERT_FALSE(path.empty());
    CBigArchive reader;
    EXPECT_EQ(reader.Open(path), 1);
    EXPECT_EQ(reader.GetFailure(), CStatus::Kind::TooLarge);
    EXPECT_FALSE(reader.GetData().HasData());
    EXPECT_FALSE(FindMapping(path)) << "nothing of a refused archive stays mapped";

    CEntryMap entries;
    CStatus error;
    EXPECT_FALSE((error = OpenArchiveEntries(path, entries)).IsOk());
    EXPECT_EQ(error.GetKind(), CStatus::Kind::TooLarge);
    const CTarnResult list = RunTarnCaptured({"list", path});
    EXPECT_EQ(list.status, 1);
    EXPECT_EQ(list.out, "");
    EXPECT_EQ(list.err, "tarn: " + path + ": " + CStatus::WordsFor(CStatus::Kind::TooLarge) + "\n");
    ASSERT_EQ(::unlink(path.c_str()), 0);
  }
}

// ---------------------------------------------------------------------------
// Entry counts and names

TEST(ArchiveLimits, HugeEntryCountInATinyIndexIsRefusedBeforeAnyRoomIsMade) {
  const CDeadline deadline(60);
  CTempDir dir;
  const uint32_t counts[] = {0x7FFFFFFFu, 0x10000000u, 3};
  for (const uint32_t count : counts) {
    SCOPED_TRACE(count);
    // Two real records (2 x 10 bytes) in the index; the count claims more.
    const std::string path =
        dir.Write("claims.big", CBigBuilder().Add("a", "1").Add("b", "2").Count(count).Build());
    CBigArchive reader;
    EXPECT_EQ(reader.Open(path), 1);
    EXPECT_EQ(reader.GetFailure(), CStatus::Kind::RecordsOverrun);
    EXPECT_TRUE(reader.GetIndex().empty());
    // Room for the names is only made for a count the region can hold (at
    // most 9 bytes a record): 2^31 - 1 strings would be 64 GiB.
    EXPECT_LE(reader.GetNames().capacity(), 20u / 9u);
  }
}

TEST(ArchiveLimits, NameOfAHundredThousandBytes) {
  const CDeadline deadline(60);
  CTempDir dir;
  std::string name;
  for (int i = 0; name.size() < 100000; ++i)
    name += (i % 10 == 9) ? '\\' : static_cast<char>('a' + i % 26);
  name.resize(100000);
  const std::string path = dir.Write(
      "long-name.big", CBigBuilder().Add("short.ini", "x").Add(name, "Object Long\nEnd\n").Build());
  CEntryMap entries;
  ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries.begin()->first, name);  // 'a' sorts before 's'
  EXPECT_EQ(Bytes(entries.begin()->second), "Object Long\nEnd\n");
  const CTarnResult list = RunTarnCaptured({"list", path});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("\t16\t" + name + "\n"), std::string::npos);
  const CTarnResult show = RunTarnCaptured({"show", path, name});
  EXPECT_EQ(show.status, 0);
  EXPECT_EQ(show.out, "Long\tObject\n");

  // The same name without its zero byte runs off the end of the index.
  const std::string cut =
      dir.Write("cut-name.big", CBigBuilder().Add(name, "x").UnterminatedLastName().Build());
  CStatus error;
  EXPECT_FALSE((error = OpenArchiveEntries(cut, entries)).IsOk());
  EXPECT_EQ(error.GetKind(), CStatus::Kind::RecordsOverrun);

  // A path of that length is refused by the system, with its words.
  const CTarnResult longPath = RunTarnCaptured({"list", dir.Path() + "/" + name});
  EXPECT_EQ(longPath.status, 1);
  EXPECT_EQ(longPath.out, "");
  EXPECT_NE(longPath.err.find(": File name too long\n"), std::string::npos);
}

// A million records, written straight into one string: 30-byte names in a
// scrambled order, each entry 1 to 4 bytes of a small shared data region.
// The last 1000 records repeat earlier names with other ranges (the last
// record wins).
constexpr uint32_t kMillion = 1000000;
constexpr uint32_t kRepeats = 1000;
constexpr size_t kNameBytes = 31;  // "Data\INI\Object\unit0000000.ini"
constexpr uint32_t kMillionDataStart = 16 + (kMillion + kRepeats) * (8 + kNameBytes + 1);

std::string MillionEntryArchive() {
  const uint32_t dataStart = kMillionDataStart;
  std::string out(dataStart, '\0');
  for (int i = 0; i < 256; ++i) out.push_back(static_cast<char>(i));
  size_t at = 16;
  char name[kNameBytes + 1];
  const auto put = [&](uint32_t unit, uint32_t offset, uint32_t size) {
    std::snprintf(name, sizeof name, "Data\\INI\\Object\\unit%07u.ini", unit);
    PutBE32(out, at, dataStart + offset);
    PutBE32(out, at + 4, size);
    out.replace(at + 8, kNameBytes, name);
    at += 8 + kNameBytes + 1;
  };
  // 7919 is prime, so i * 7919 mod 10^6 visits every unit once.
  for (uint32_t i = 0; i < kMillion; ++i) {
    const uint32_t unit = static_cast<uint32_t>(uint64_t{i} * 7919 % kMillion);
    put(unit, unit % 250, 1 + unit % 4);
  }
  for (uint32_t r = 0; r < kRepeats; ++r) put(r * 997, 0, 0);
  // (no bytes: a repeated name's last record is an empty entry)
  std::memcpy(out.data(), "BIGF", 4);
  PutLE32(out, 4, static_cast<uint32_t>(out.size()));
  PutBE32(out, 8, kMillion + kRepeats);
  PutBE32(out, 12, dataStart);
  return out;
}

TEST(ArchiveLimits, AMillionEntries) {
  const CDeadline deadline(240);
  CTempDir dir;
  const std::string image = MillionEntryArchive();
  const std::string path = dir.Write("million.big", image);
  const uint32_t dataStart = kMillionDataStart;

  CEntryMap entries;
  ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
  ASSERT_EQ(entries.size(), kMillion);
  uint32_t unit = 0;
  size_t wrong = 0;
  for (const auto& [name, bytes] : entries) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "Data\\INI\\Object\\unit%07u.ini", unit);
    const bool repeated = unit % 997 == 0 && unit / 997 < kRepeats;
    const uint32_t size = repeated ? 0 : 1 + unit % 4;
    const std::string_view want(image.data() + dataStart + (repeated ? 0 : unit % 250), size);
    if (name != expected || Bytes(bytes) != want) ++wrong;
    ++unit;
  }
  EXPECT_EQ(wrong, 0u);
}

// ---------------------------------------------------------------------------
// Rules text: nesting a million deep, and a 50 MB entry of random bytes

constexpr uint32_t kDeep = 1000000;

// A block whose lines each open a block in the line before, a million deep,
// all closed again, then a line back at depth 1 and a second block. Then a
// block left open a million deep when the data ends.
std::string DeepText() {
  std::string text = "Object Deep\n";
  for (uint32_t i = 0; i < kDeep; ++i) text += "Draw = d\n";
  for (uint32_t i = 0; i < kDeep; ++i) text += "End\n";
  text += "  After = yes\nEnd\nObject Open\n";
  for (uint32_t i = 0; i < kDeep; ++i) text += "Body\n";
  return text;
}

// Parses the deep text and walks its rows; returns what was wrong, if anything.
std::string ParseDeepText() {
  const std::string text = DeepText();
  CRulesParser parser;
  parser.SetSource(CDataBuffer(text.data(), static_cast<uint32_t>(text.size())));
  parser.Parse();
  const CRulesParser::Blocks& blocks = parser.GetBlocks();
  if (blocks.size() != 2) return "expected 2 blocks, got " + std::to_string(blocks.size());
  // Deep: block row, Draw at depths 1..kDeep, After at 1; then Open: block
  // row and Body at depths 1..kDeep.
  uint64_t rows = 0, wrong = 0;
  ForEachRulesRow(blocks, [&](const CRulesRow& row) {
    const uint64_t i = rows++;
    uint64_t depth = 0;
    std::string_view name;
    if (i == 0) name = "Deep";
    else if (i <= kDeep) depth = i, name = "Draw";
    else if (i == kDeep + 1) depth = 1, name = "After";
    else if (i == kDeep + 2) name = "Open";
    else depth = i - kDeep - 2, name = "Body";
    if (row.depth != depth || row.name != name) ++wrong;
  });
  if (rows != 2 * uint64_t{kDeep} + 3)
    return "expected " + std::to_string(2 * kDeep + 3) + " rows, got " + std::to_string(rows);
  if (wrong != 0) return std::to_string(wrong) + " rows at the wrong depth or with the wrong name";
  // Copying and destroying the tree must not recurse either.
  const CRulesParser::Blocks copy = blocks;
  if (copy.at("Open").m_body.m_children.size() != 1) return "the copy lost its lines";
  return "";
}

// The parse runs on a 256 KiB stack: the test runner starts itself again
// with that stack limit (as `ulimit -s 256` would) and runs only this test.
// Recursion of even a few thousand levels would not fit there.
TEST(RulesLimits, NestingAMillionDeepOnA256KiBStack) {
  constexpr rlim_t kStack = 256 * 1024;
  if (std::getenv("TARN_SMALL_STACK_CHILD") != nullptr) {
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_STACK, &limit), 0);
    ASSERT_EQ(limit.rlim_cur, kStack) << "not running on the small stack";
    EXPECT_EQ(ParseDeepText(), "");
    return;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    const rlimit limit{kStack, kStack};
    ::setrlimit(RLIMIT_STACK, &limit);
    ::setenv("TARN_SMALL_STACK_CHILD", "1", 1);
    ::alarm(240);  // survives exec
    const int quiet = ::open("/dev/null", O_WRONLY);
    ::dup2(quiet, 1);
    char filter[] = "--gtest_filter=RulesLimits.NestingAMillionDeepOnA256KiBStack";
    char self[] = "core_tests";
    char* argv[] = {self, filter, nullptr};
    ::execv("/proc/self/exe", argv);
    _exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
  ASSERT_FALSE(WIFSIGNALED(status)) << "the small-stack run died of signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the small-stack run failed (its report is on stderr)";
}

TEST(RulesLimits, FiftyMegabyteEntryOfRandomBytesParsesToRows) {
  const CDeadline deadline(240);
  CTempDir dir;
  std::string noise(50u << 20, '\0');
  uint64_t state = 0x9E3779B97F4A7C15u;
  for (size_t i = 0; i < noise.size(); i += 8) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    std::memcpy(noise.data() + i, &state, 8);
  }
  const std::string path = dir.Write("noise.big", CBigBuilder().Add("noise.bin", noise).Build());
  noise.clear();
  noise.shrink_to_fit();

  CEntryMap entries;
  ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
  const CDataBuffer entry = *entries.Get("noise.bin");
  ASSERT_EQ(entry.GetSize(), 50u << 20);
  CRulesParser parser;
  parser.SetSource(entry);
  parser.Parse();
  // Rows of any input: depth-first order, and no token holding a byte that
  // ends it. Random bytes hold line ends, so there are many rows.
  uint64_t rows = 0, bad = 0, bytes = 0;
  uint32_t previous = 0;
  ForEachRulesRow(parser.GetBlocks(), [&](const CRulesRow& row) {
    if ((rows++ == 0 && row.depth != 0) || row.depth > previous + 1) ++bad;
    previous = row.depth;
    const bool header = row.depth == 0;
    if (row.name.find_first_of(header ? std::string_view("\t\n\r ;", 5)
                                      : std::string_view("\n\r ;=", 5)) != std::string_view::npos)
      ++bad;
    if (row.value.find_first_of(header ? std::string_view("\t\n\r ;", 5)
                                       : std::string_view("\n\r;", 3)) != std::string_view::npos)
      ++bad;
    bytes += row.name.size() + row.value.size();
  });
  EXPECT_GT(rows, 1000u);
  EXPECT_EQ(bad, 0u);
  EXPECT_LE(bytes, uint64_t{50} << 20);
}

// ---------------------------------------------------------------------------
// The tarn program on a small stack and in a small address space

struct CProgramRun {
  int status = -1;  // exit status, or -1 when killed
  int signal = 0;
  uint64_t outBytes = 0;
  std::string outHead;  // the first bytes of standard output
  std::string err;
};

// Runs build/bin/tarn with standard output read here as it comes (counted,
// its first 64 KiB kept: some commands print gigabytes), standard error in
// a file of `dir`, and, when given, at most `addressSpace` bytes of memory
// and `stack` bytes of stack (as `ulimit -v` and `ulimit -s` set them).
CProgramRun RunTarnLimited(const CTempDir& dir, const std::vector<std::string>& args,
                           rlim_t addressSpace, rlim_t stack) {
  const std::string program = std::string(TARN_BIN_DIR) + "/tarn";
  const std::string errPath = dir.Path() + "/stderr";
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int pipe[2];
  if (::pipe(pipe) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err < 0 || ::dup2(pipe[1], 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
    ::close(pipe[0]);
    const rlimit memory{addressSpace, addressSpace};
    if (addressSpace != 0 && ::setrlimit(RLIMIT_AS, &memory) != 0) ::_exit(125);
    const rlimit frames{stack, stack};
    if (stack != 0 && ::setrlimit(RLIMIT_STACK, &frames) != 0) ::_exit(125);
    ::alarm(240);  // survives exec
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipe[1]);
  CProgramRun run;
  std::vector<char> chunk(1 << 20);
  for (ssize_t got; (got = ::read(pipe[0], chunk.data(), chunk.size())) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    if (run.outHead.size() < 65536)
      run.outHead.append(chunk.data(),
                         std::min<size_t>(static_cast<size_t>(got), 65536 - run.outHead.size()));
    run.outBytes += static_cast<uint64_t>(got);
  }
  ::close(pipe[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  run.err = ReadWholeFile(errPath);
  return run;
}

// A row's line holds its indentation, four spaces a level, so the lines of
// 40,000 nested rows (an entry of 360 KB) are 3.2 GB: tarn grep writes them
// out as it makes them, holding memory in proportion to the entry, where it
// used to hold every line (4.2 GB) and, out of memory, abort while
// unwinding, losing the lines of the archive searched before.
TEST(GrepLimits, RowsNestedFortyThousandDeepTakeMemoryInProportionToTheEntry) {
  if (kAddressSanitizer || kThreadSanitizer)
    GTEST_SKIP() << "needs an address-space limit, which the sanitizer cannot run under";
  const CDeadline deadline(240);
  CTempDir dir;
  constexpr uint64_t kDepth = 40000;
  std::string text = "Object Deep\n";
  for (uint64_t i = 0; i < kDepth; ++i) text += "Draw = x\n";
  for (uint64_t i = 0; i < kDepth; ++i) text += "End\n";
  const std::string first =
      dir.Write("first.big", CBigBuilder().Add("s.ini", "Object S\n  Draw = y\nEnd\n").Build());
  const std::string deep = dir.Write("deep.big", CBigBuilder().Add("deep.ini", text).Build());
  const CProgramRun run = RunTarnLimited(dir, {"grep", "Draw", first, deep}, rlim_t{512} << 20, 0);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::string firstLine = first + "\ts.ini\tS\t    Draw\ty\n";
  EXPECT_EQ(run.outHead.rfind(firstLine + deep + "\tdeep.ini\tDeep\t    Draw\tx\n", 0), 0u)
      << run.outHead.substr(0, 200);
  // Each deep line: the archive, the entry, the block, 4 x depth spaces, the row.
  const uint64_t fixed = (deep + "\tdeep.ini\tDeep\t" + "Draw\tx\n").size();
  EXPECT_EQ(run.outBytes, firstLine.size() + kDepth * fixed + 4 * kDepth * (kDepth + 1) / 2);
}

// The commands that write files copy through buffers of their own: none
// lies on the stack, which `ulimit -s 72` leaves 72 KiB.
TEST(StackLimits, ExtractPackAndRmRunOnASeventyTwoKiBStack) {
  if (kAddressSanitizer || kThreadSanitizer)
    GTEST_SKIP() << "the sanitizer's runtime needs more stack than that";
  const CDeadline deadline(60);
  CTempDir dir;
  CBigBuilder builder;
  builder.Add("Data\\INI\\a.ini", "Object A\nEnd\n").Add("b.bin", std::string(300000, 'b'));
  const std::string path = dir.Write("a.big", builder.Build());
  constexpr rlim_t kStack = 72 * 1024;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"extract", path, dir.Path() + "/out"},
           {"pack", dir.Path() + "/packed.big", path},
           {"pack", dir.Path() + "/tree.big", dir.Path() + "/out"},
           {"rm", path, "b.bin"},
           {"list", path}}) {
    SCOPED_TRACE(args[0]);
    const CProgramRun run = RunTarnLimited(dir, args, 0, kStack);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 0) << run.err;
  }
  EXPECT_EQ(ReadWholeFile(dir.Path() + "/out/b.bin"), std::string(300000, 'b'));
  EXPECT_EQ(RunTarnCaptured({"list", path}).out, "39\t13\tData\\INI\\a.ini\n");
}

}  // namespace
