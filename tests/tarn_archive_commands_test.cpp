// tarn list, show, cat and check: exact output, exit statuses and messages,
// on valid and on damaged archives.

#define TARN_INSIDE_CLI  // reaches tarn's output, internal to cli/

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "archive/big_archive.h"
#include "cli/output.h"
#include "tests/support/big_builder.h"
#include "tests/support/buffer_view.h"
#include "tools/demo/sample_media.h"
#include "tests/support/run_tarn.h"
#include "tests/support/tarn_program.h"

namespace {

class TarnArchiveTest : public ::testing::Test {
 protected:
  std::string Write(const CBigBuilder& builder, const std::string& name = "a.big") {
    return m_dir.Write(name, builder.Build());
  }
  CTempDir m_dir;
};

// A failure names the path and says why on one line, and prints nothing else.
void ExpectOpenFailure(const CTarnResult& r, const std::string& path,
                       const std::string& reasonPart) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  const std::string prefix = "tarn: " + path + ": ";
  ASSERT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
  EXPECT_NE(r.err.find(reasonPart, prefix.size()), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

// ---------------------------------------------------------------------------
// info

TEST_F(TarnArchiveTest, InfoGivesEachEntryItsKindInNameOrder) {
  const std::string path =
      Write(CBigBuilder()
                .Add("sound.wav", MakeWav(22050, 33516))
                .Add("Art\\tank.tga", MakeTga(2, 2, std::vector<uint8_t>(16, 0x40)))
                .Add("Art\\sky.dds", MakeDxt5Picture(512))
                .Add("Art\\bad.dds", MakeDds(65535, 65535, "DXT5", 1, std::string(64, '\0')))
                .Add("rules.ini", "Object Tank\n  Speed = 3\nEnd\n")
                .Add("notes\x01.txt", "no blocks here\n")
                .Add("model.msh", std::string(5120, '\0'))
                .Add("float.wav", MakeFloatWav(22050, 11025)));
  const CTarnResult all = RunTarnCaptured({"info", path});
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(all.err, "");
  EXPECT_EQ(all.out,
            "Art\\bad.dds\tbinary\tdamaged dds: 65535x65535 is larger than 16384x16384\n"
            "Art\\sky.dds\timage\tdds 512x512 dxt5 mips=10\n"
            "Art\\tank.tga\timage\ttga 2x2 32bpp\n"
            "float.wav\tsound\twav float 22050Hz 1ch 32bit 0.50s\n"
            "model.msh\tbinary\tbinary 5120 bytes\n"
            "notes\\x01.txt\ttext\ttext 15 bytes\n"
            "rules.ini\trules\trules 28 bytes\n"
            "sound.wav\tsound\twav pcm 22050Hz 1ch 16bit 1.52s\n");
  // Named entries only, rules counted; a missing one is trouble, the rest still printed.
  const CTarnResult named = RunTarnCaptured({"info", path, "rules.ini", "missing", "model.msh"});
  EXPECT_EQ(named.status, 1);
  EXPECT_EQ(named.out,
            "model.msh\tbinary\tbinary 5120 bytes\nrules.ini\trules\trules 1 blocks 2 rows\n");
  EXPECT_EQ(named.err, "tarn: " + path + ": no entry named 'missing'\n");
}

// ---------------------------------------------------------------------------
// list

TEST_F(TarnArchiveTest, ListPrintsTheIndexInNameOrderWithEscapedNames) {
  // Index: 33 + 19 + 9 + 12 bytes, so entry bytes start at 16 + 73 = 89.
  const std::string path = Write(CBigBuilder()
                                     .Add("Data\\INI\\Object\\Tank.ini", "abc")
                                     .Add(std::string("a\tb\nc\x01\x7F\x80\xFF\\", 10), "z")
                                     .Add("", "")
                                     .AddRecord("far", 0xFFFFFFFFu, 0xFFFFFFFFu));
  const CTarnResult r = RunTarnCaptured({"list", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "93\t0\t\n"
            "89\t3\tData\\INI\\Object\\Tank.ini\n"
            "92\t1\ta\\x09b\\x0Ac\\x01\\x7F\x80\xFF\\\n"
            "4294967295\t4294967295\tfar\n");
}

TEST_F(TarnArchiveTest, ListShowsOneLinePerNameWithTheLastRecord) {
  const std::string path = Write(CBigBuilder()
                                     .AddRecord("b", 1, 2)
                                     .AddRecord("B", 3, 4)
                                     .AddRecord("b", 5, 6)
                                     .AddRecord("b\\c", 7, 8)
                                     .AddRecord("bc", 9, 10));
  const CTarnResult r = RunTarnCaptured({"list", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "3\t4\tB\n5\t6\tb\n7\t8\tb\\c\n9\t10\tbc\n");
}

TEST_F(TarnArchiveTest, ListOfAnEmptyArchivePrintsNothing) {
  const CTarnResult r = RunTarnCaptured({"list", Write(CBigBuilder())});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_F(TarnArchiveTest, ListPrintsNumbersAtEveryDigitCount) {
  const uint32_t values[] = {0,         9,          10,         99,       100,      999,
                             1000,      9999,       10000,      99999,    100000,   999999,
                             1000000,   1234567,    9999999,    10000000, 99999999, 100000000,
                             999999999, 1000000000, 4294967295u};
  CBigBuilder builder;
  std::string expected;
  for (size_t i = 0; i < std::size(values); ++i) {
    std::string name = "n";
    name += static_cast<char>('a' + i);  // not "n" + string: GCC 12 warns falsely there
    builder.AddRecord(name, values[i], values[std::size(values) - 1 - i]);
    expected += std::to_string(values[i]) + "\t" +
                std::to_string(values[std::size(values) - 1 - i]) + "\t" + name + "\n";
  }
  const CTarnResult r = RunTarnCaptured({"list", Write(builder)});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, expected);
}

// Every byte 0x00-0x1F and 0x7F escaped, nothing else, at every position of
// names long and short: the escaping looks at many bytes at a time.
std::string ModelEscape(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x20 || b == 0x7F) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

TEST(TarnEscaping, MatchesTheRuleAtEveryPositionAndLength) {
  const std::string probes = std::string("\0\x01\x1F\x20\x7E\x7F\x80\x9F\xA0\xFF\\a", 12);
  for (size_t length = 0; length <= 70; ++length) {
    for (size_t at = 0; at < std::max<size_t>(length, 1); ++at) {
      for (const char probe : probes) {
        std::string text(length, 'x');
        if (length > 0) text[at] = probe;
        ASSERT_EQ(EscapeBytes(text), ModelEscape(text))
            << length << " " << at << " " << int(static_cast<uint8_t>(probe));
      }
    }
  }
  std::string every;
  for (int b = 0; b < 256; ++b) every.push_back(static_cast<char>(b));
  EXPECT_EQ(EscapeBytes(every + every), ModelEscape(every + every));
}

TEST_F(TarnArchiveTest, ListEscapesLongNamesAcrossTheOutputBuffer) {
  // Enough long names with control bytes to fill the output buffer several
  // times, so escapes land on its edges.
  CBigBuilder builder;
  std::string expected;
  std::mt19937 random(3);
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) {
    std::string name = "Data\\" + std::to_string(100000 + i) + "\\";
    const size_t extra = random() % 90;
    for (size_t k = 0; k < extra; ++k) name.push_back(static_cast<char>(1 + random() % 255));
    names.push_back(name);
    builder.AddRecord(name, static_cast<uint32_t>(i), 1);
  }
  std::sort(names.begin(), names.end());
  std::map<std::string, size_t> record;
  for (size_t i = 0; i < names.size(); ++i) record[names[i]] = 0;
  const CTarnResult r = RunTarnCaptured({"list", Write(builder)});
  ASSERT_EQ(r.status, 0);
  size_t line = 0;
  for (size_t from = 0; from < r.out.size(); ++line) {
    const size_t end = r.out.find('\n', from);
    ASSERT_NE(end, std::string::npos);
    const std::string text = r.out.substr(from, end - from);
    ASSERT_LT(line, names.size());
    const std::string suffix = "\t1\t" + ModelEscape(names[line]);
    ASSERT_GE(text.size(), suffix.size());
    EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix) << line;
    from = end + 1;
  }
  EXPECT_EQ(line, names.size());
}

// An index large enough that its lines are made on two threads, block by
// block: every line once, in name order, blocks joined without a seam, and
// the escapes as everywhere else.
TEST_F(TarnArchiveTest, ListOfALargeArchiveMatchesAModel) {
  const std::vector<std::string> folders = {"Art\\Textures\\", "Data\\INI\\Object\\",
                                            "Audio\\Voices\\x\x01"};
  std::mt19937 random(5);
  CBigBuilder builder;
  std::map<std::string, std::pair<uint32_t, uint32_t>> model;
  for (uint32_t i = 0; i < 90000; ++i) {
    std::string name = folders[random() % folders.size()] + std::to_string(random() % 60000);
    if (random() % 50 == 0) name += '\x7F';
    const uint32_t offset = static_cast<uint32_t>(random());
    builder.AddRecord(name, offset, i);
    model[name] = {offset, i};
  }
  std::string expected;
  for (const auto& [name, numbers] : model)
    expected += std::to_string(numbers.first) + "\t" + std::to_string(numbers.second) + "\t" +
                ModelEscape(name) + "\n";
  const CTarnResult r = RunTarnCaptured({"list", Write(builder)});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(r.out.size(), expected.size());
  EXPECT_TRUE(r.out == expected);
}

// ---------------------------------------------------------------------------
// Archives that cannot be opened, for every command

TEST_F(TarnArchiveTest, EveryCommandRefusesABadArchiveTheSameWay) {
  const std::string good = CBigBuilder().Add("x", "yz").Build();
  const auto size = static_cast<uint32_t>(good.size());
  const struct {
    std::string path;
    std::string reason;
  } cases[] = {
      {m_dir.Path() + "/missing.big", MissingFileReason()},
      {m_dir.Path(), FolderReason()},
      {m_dir.Write("short.big", "BIGF"), "too short"},
      {Write(CBigBuilder().Magic("BIGX"), "magic.big"), "not a BIG archive"},
      {Write(CBigBuilder().Add("x", "yz").ArchiveSizeBigEndian(), "order.big"), "size field"},
      {Write(CBigBuilder().Count(0x80000000u), "count.big"), "entry count"},
      {Write(CBigBuilder().HeaderSize(8), "header.big"), "header size"},
      {Write(CBigBuilder().Add("x", "yz").HeaderSize(size + 1), "past.big"), "index"},
      {Write(CBigBuilder().Add("x", "yz").Count(2), "records.big"), "index"},
      {Write(CBigBuilder().Add("x", "yz").UnterminatedLastName(), "unterminated.big"), "index"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ExpectOpenFailure(RunTarnCaptured({"list", c.path}), c.path, c.reason);
    ExpectOpenFailure(RunTarnCaptured({"check", c.path}), c.path, c.reason);
    ExpectOpenFailure(RunTarnCaptured({"show", c.path, "x"}), c.path, c.reason);
    ExpectOpenFailure(RunTarnCaptured({"cat", c.path, "x"}), c.path, c.reason);
    ExpectOpenFailure(RunTarnCaptured({"info", c.path}), c.path, c.reason);
  }
}

TEST_F(TarnArchiveTest, FailureMessagesEscapeThePath) {
  const std::string path = m_dir.Path() + "/bad\nname\x01.big";
  const CTarnResult r = RunTarnCaptured({"list", path});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
#if defined(_WIN32)  // such a name is not even valid there
  const std::string prefix = "tarn: " + m_dir.Path() + "/bad\\x0Aname\\x01.big: ";
  EXPECT_EQ(r.err.rfind(prefix, 0), 0u) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
#else
  EXPECT_EQ(r.err, "tarn: " + m_dir.Path() + "/bad\\x0Aname\\x01.big: No such file or directory\n");
#endif
}

TEST_F(TarnArchiveTest, ReasonsDifferByTheTestThatFailed) {
  const std::vector<std::string> paths = {
      m_dir.Write("short.big", "BIG"),
      Write(CBigBuilder().Magic("FGIB"), "magic.big"),
      Write(CBigBuilder().ArchiveSize(17), "size.big"),
      Write(CBigBuilder().Count(0xFFFFFFFFu), "count.big"),
      Write(CBigBuilder().HeaderSize(15), "header.big"),
      Write(CBigBuilder().HeaderSize(17), "past.big"),
  };
  std::vector<std::string> reasons;
  for (const std::string& path : paths) {
    const CTarnResult r = RunTarnCaptured({"list", path});
    ASSERT_EQ(r.err.rfind("tarn: " + path + ": ", 0), 0u) << r.err;
    const std::string reason = r.err.substr(("tarn: " + path + ": ").size());
    EXPECT_EQ(std::count(reasons.begin(), reasons.end(), reason), 0) << reason;
    reasons.push_back(reason);
  }
}

// ---------------------------------------------------------------------------
// show

constexpr char kTankRules[] =
    "; a comment before the first block\r\n"
    "Object Tank ; trailing comment\r\n"
    "  Speed = 30\r\n"
    "  Draw = ModelDraw ModuleTag_01\r\n"
    "    Model = tank_hull\r\n"
    "  End\r\n"
    "End\r\n"
    "Weapon Gun\n"
    "  Damage = 5\x01\n"
    "End\n";

TEST_F(TarnArchiveTest, ShowPrintsTheSameRowsAsRules) {
  const std::string path = Write(CBigBuilder().Add("Data\\INI\\Object\\Tank.ini", kTankRules));
  const CTarnResult r = RunTarnCaptured({"show", path, "Data\\INI\\Object\\Tank.ini"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "Gun\tWeapon\n"
            "    Damage\t5\\x01\n"
            "Tank\tObject\n"
            "    Speed\t30\n"
            "    Draw\tModelDraw ModuleTag_01\n"
            "        Model\ttank_hull\n");
  EXPECT_EQ(r.out, RunTarnCaptured({"rules", m_dir.Write("tank.ini", kTankRules)}).out);
}

TEST_F(TarnArchiveTest, ShowOfAnEntryWithoutRowsPrintsNothing) {
  const std::string path = Write(CBigBuilder().Add("empty", "").Add("comments", "; only\n;this\n"));
  for (const char* entry : {"empty", "comments"}) {
    const CTarnResult r = RunTarnCaptured({"show", path, entry});
    EXPECT_EQ(r.status, 0) << entry;
    EXPECT_EQ(r.out, "") << entry;
    EXPECT_EQ(r.err, "") << entry;
  }
}

TEST_F(TarnArchiveTest, ShowAndCatFindEntriesByExactName) {
  const std::string path = Write(CBigBuilder()
                                     .Add("Data\\Tank.ini", "Object Tank\nEnd\n")
                                     .Add("-dash", "Object Dash\nEnd\n")
                                     .Add("", "Object Nameless\nEnd\n")
                                     .Add("line\nbreak", "Object Broken\nEnd\n"));
  EXPECT_EQ(RunTarnCaptured({"show", path, "-dash"}).out, "Dash\tObject\n");
  EXPECT_EQ(RunTarnCaptured({"show", path, ""}).out, "Nameless\tObject\n");
  EXPECT_EQ(RunTarnCaptured({"show", path, "line\nbreak"}).out, "Broken\tObject\n");
  EXPECT_EQ(RunTarnCaptured({"cat", path, ""}).out, "Object Nameless\nEnd\n");

  // Not there: another case, another separator, a prefix, the escaped form.
  for (const char* missing : {"data\\tank.ini", "Data/Tank.ini", "Data\\Tank", "line\\x0Abreak"}) {
    for (const char* command : {"show", "cat"}) {
      SCOPED_TRACE(std::string(command) + " " + missing);
      const CTarnResult r = RunTarnCaptured({command, path, missing});
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err.rfind("tarn: " + path + ": ", 0), 0u) << r.err;
    }
  }
  const CTarnResult named = RunTarnCaptured({"cat", path, "no\x01such"});
  EXPECT_NE(named.err.find("no\\x01such"), std::string::npos) << named.err;
  EXPECT_EQ(named.err.find('\x01'), std::string::npos) << named.err;
}

TEST_F(TarnArchiveTest, ShowParsesOnlyTheBytesInsideTheArchive) {
  // The entry claims 1000 bytes but the archive ends after "Object Cut\n  K".
  CBigBuilder builder;
  builder.AddRecord("cut", 0, 1000).Trailer("Object Cut\n  K");
  const uint32_t start = static_cast<uint32_t>(builder.Build().size()) - 14;
  const std::string path =
      Write(CBigBuilder().AddRecord("cut", start, 1000).Trailer("Object Cut\n  K"));
  const CTarnResult r = RunTarnCaptured({"show", path, "cut"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Cut\tObject\n    K\t\n");
  EXPECT_EQ(r.err, "tarn: " + path +
                       ": entry 'cut': cut short by the end of the archive (14 of 1000 bytes)\n");
}

// ---------------------------------------------------------------------------
// cat

TEST_F(TarnArchiveTest, CatWritesTheRawBytes) {
  std::string large(200000, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 + i / 251);
  const std::string binary("\0\x01\r\n\x7F\x80\xFF\\x00", 11);
  const std::string path =
      Write(CBigBuilder().Add("bin", binary).Add("large", large).Add("zero", ""));
  const CTarnResult r = RunTarnCaptured({"cat", path, "bin"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, binary);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(RunTarnCaptured({"cat", path, "large"}).out, large);
  const CTarnResult zero = RunTarnCaptured({"cat", path, "zero"});
  EXPECT_EQ(zero.status, 0);
  EXPECT_EQ(zero.out, "");
}

TEST_F(TarnArchiveTest, CatCutsEntriesAtTheEndOfTheArchive) {
  const std::string tail = "TAIL";
  CBigBuilder layout;
  layout.Add("dup", "first")
      .AddRecord("cut", 0, 0)
      .AddRecord("beyond", 0, 0)
      .AddRecord("high", 0, 0)
      .Add("dup", "second")
      .Trailer(tail);
  const auto total = static_cast<uint32_t>(layout.Build().size());
  const std::string path = Write(CBigBuilder()
                                     .Add("dup", "first")
                                     .AddRecord("cut", total - 3, 100)
                                     .AddRecord("beyond", total, 1)
                                     .AddRecord("high", 0x80000010u, 0x7FFFFFFFu)
                                     .Add("dup", "second")
                                     .Trailer(tail));
  // What there is of an entry cut short is written, and the command fails.
  const CTarnResult cut = RunTarnCaptured({"cat", path, "cut"});
  EXPECT_EQ(cut.out, "AIL");
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.err, "tarn: " + path +
                         ": entry 'cut': cut short by the end of the archive (3 of 100 bytes)\n");
  const CTarnResult dup = RunTarnCaptured({"cat", path, "dup"});
  EXPECT_EQ(dup.out, "second");
  EXPECT_EQ(dup.status, 0);
  for (const char* empty : {"beyond", "high"}) {
    const CTarnResult r = RunTarnCaptured({"cat", path, empty});
    EXPECT_EQ(r.status, 1) << empty;
    EXPECT_EQ(r.out, "") << empty;
  }
  // tarn info names each of them after its lines.
  const CTarnResult info = RunTarnCaptured({"info", path});
  EXPECT_EQ(info.status, 1);
  EXPECT_EQ(std::count(info.out.begin(), info.out.end(), '\n'), 4);
  EXPECT_NE(
      info.err.find("entry 'high': cut short by the end of the archive (0 of 2147483647 bytes)"),
      std::string::npos)
      << info.err;
}

// ---------------------------------------------------------------------------
// check

TEST_F(TarnArchiveTest, CheckCountsDistinctNames) {
  const std::string path =
      Write(CBigBuilder().Add("a", "1").Add("b", "22").Add("a", "333").Add("", ""));
  const CTarnResult r = RunTarnCaptured({"check", path});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "ok: 3 entries\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(RunTarnCaptured({"check", Write(CBigBuilder(), "empty.big")}).out, "ok: 0 entries\n");
}

TEST_F(TarnArchiveTest, CheckNamesTheEntriesThatReachPastTheEnd) {
  CBigBuilder layout;
  const char* names[] = {"fits",       "ends_at_end", "one_over", "empty_at_end",
                         "empty_past", "wraps",       "z\x01"};
  for (const char* name : names) layout.AddRecord(name, 0, 0);
  const auto total = static_cast<uint32_t>(layout.Build().size());
  const std::string path = Write(CBigBuilder()
                                     .AddRecord("fits", 0, total)
                                     .AddRecord("ends_at_end", total - 1, 1)
                                     .AddRecord("one_over", total - 1, 2)
                                     .AddRecord("empty_at_end", total, 0)
                                     .AddRecord("empty_past", total + 1, 0)
                                     .AddRecord("wraps", 0xFFFFFFF0u, 0x20)
                                     .AddRecord("z\x01", 0x80000000u, 0));
  const CTarnResult r = RunTarnCaptured({"check", path});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "damaged: 4 of 7 entries reach past the end of the archive\n"
            "empty_past\n"
            "one_over\n"
            "wraps\n"
            "z\\x01\n");
  EXPECT_EQ(r.err, "");
}

// ---------------------------------------------------------------------------
// The real program, as a process

struct CProcessResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the built tarn with `args`; stdout goes to `stdoutPath` when given,
// and the process gets at most `addressSpace` bytes of memory when given.
CProcessResult RunTarnProcess(const CTempDir& dir, const std::vector<std::string>& args,
                              const std::string& stdoutPath = "", uint64_t addressSpace = 0) {
  const std::string outPath = stdoutPath.empty() ? dir.Path() + "/stdout" : stdoutPath;
  CProcessResult result;
  result.status = RunTarnProgram(args, outPath, dir.Path() + "/stderr", addressSpace);
  if (stdoutPath.empty()) result.out = ReadWholeFile(outPath);
  result.err = ReadWholeFile(dir.Path() + "/stderr");
  return result;
}

TEST_F(TarnArchiveTest, ProgramWritesTheSameBytesAsTheFunction) {
  const std::string binary("\0\xFF\n\r", 4);
  const std::string path =
      Write(CBigBuilder().Add("Art\\x.dds", binary).Add("Data\\y.ini", kTankRules));
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"list", path},
                                             {"check", path},
                                             {"cat", path, "Art\\x.dds"},
                                             {"show", path, "Data\\y.ini"},
                                             {"cat", path, "nothing"}}) {
    SCOPED_TRACE(args[0]);
    const CProcessResult process = RunTarnProcess(m_dir, args);
    const CTarnResult function = RunTarnCaptured(args);
    EXPECT_EQ(process.status, function.status);
    EXPECT_EQ(process.out, function.out);
    EXPECT_EQ(process.err, function.err);
  }
  EXPECT_EQ(RunTarnProcess(m_dir, {"cat", path, "Art\\x.dds"}).out, binary);
}

#if !defined(_WIN32)  // /dev/full and address-space limits
TEST_F(TarnArchiveTest, FullOutputDeviceIsAFailure) {
  const std::string path = Write(CBigBuilder().Add("a", "1").Add("b", "2"));
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"list", path}, {"cat", path, "a"}, {"check", path}, {"help"}, {"--version"}}) {
    SCOPED_TRACE(args[0]);
    const CProcessResult r = RunTarnProcess(m_dir, args, "/dev/full");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("tarn: ", 0), 0u) << r.err;
  }
}

// A file of 1 GiB claims 119 million records (all zero bytes: offset 0,
// size 0, the empty name). With 512 MiB the archive cannot even be mapped
// and its index buffer not made; with 1.5 GiB it maps but the names do not
// fit. Either way the archive is refused with the reason, and a rules file
// too large to read ends in a message that says so, never in an abort.
TEST_F(TarnArchiveTest, RunningOutOfMemoryIsAnErrorNotACrash) {
  if (kAddressSanitizer || kThreadSanitizer)
    GTEST_SKIP() << "needs an address-space limit, which the sanitizer cannot run under";
  const CDeadline deadline(120);
  constexpr uint32_t kSize = uint32_t{1} << 30;
  const std::string path =
      Write(CBigBuilder().Count((kSize - 16) / 9).HeaderSize(kSize).ArchiveSize(kSize));
  ASSERT_EQ(::truncate(path.c_str(), kSize), 0);
  for (const uint64_t limit : {uint64_t{512} << 20, uint64_t{1536} << 20}) {
    SCOPED_TRACE(limit);
    const CProcessResult r = RunTarnProcess(m_dir, {"list", path}, "", limit);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tarn: " + path + ": not enough memory for its index\n");
  }
  const CProcessResult rules = RunTarnProcess(m_dir, {"rules", path}, "", uint64_t{512} << 20);
  EXPECT_EQ(rules.status, 1);
  EXPECT_EQ(rules.out, "");
  EXPECT_EQ(rules.err, "tarn: " + path + ": not enough memory to read its " +
                           std::to_string(kSize) + " bytes\n");
}

// An archive of 1 GiB holding one small entry cannot be mapped in 512 MiB:
// every command that reads entries reads it where it lies instead, with the
// same output as when it is mapped.
TEST_F(TarnArchiveTest, AnArchiveTooLargeToMapIsReadWhereItsEntriesLie) {
  if (kAddressSanitizer || kThreadSanitizer)
    GTEST_SKIP() << "needs an address-space limit, which the sanitizer cannot run under";
  const CDeadline deadline(120);
  constexpr uint32_t kSize = uint32_t{1} << 30;
  const std::string path =
      Write(CBigBuilder()
                .Add("Data\\tank.ini", kTankRules)
                .Add("Data\\tank.dds", std::string("Weapon Gun\n\0", 12))  // no rules text
                .ArchiveSize(kSize));
  ASSERT_EQ(::truncate(path.c_str(), kSize), 0);
  constexpr uint64_t kLimit = uint64_t{512} << 20;
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"list", path},
                                             {"check", path},
                                             {"show", path, "Data\\tank.ini"},
                                             {"cat", path, "Data\\tank.ini"},
                                             {"refs", "Gun", path},
                                             {"lint", path}}) {
    SCOPED_TRACE(args[0]);
    const CProcessResult capped = RunTarnProcess(m_dir, args, "", kLimit);
    const CProcessResult mapped = RunTarnProcess(m_dir, args);
    EXPECT_EQ(capped.status, 0) << capped.err;
    EXPECT_EQ(capped.out, mapped.out);
    EXPECT_EQ(capped.err, "");
  }
  const CProcessResult extract =
      RunTarnProcess(m_dir, {"extract", path, m_dir.Path() + "/out"}, "", kLimit);
  EXPECT_EQ(extract.status, 0) << extract.err;
  EXPECT_EQ(ReadWholeFile(m_dir.Path() + "/out/Data/tank.ini"), kTankRules);
  const CProcessResult pack =
      RunTarnProcess(m_dir, {"pack", m_dir.Path() + "/small.big", path}, "", kLimit);
  EXPECT_EQ(pack.status, 0) << pack.err;
  EXPECT_EQ(RunTarnCaptured({"cat", m_dir.Path() + "/small.big", "Data\\tank.ini"}).out,
            kTankRules);
  // Where even that fails, the reason is the entry's, not the index's.
  constexpr uint32_t kHuge = kSize - 4096;
  const std::string hugePath =
      Write(CBigBuilder().AddRecord("huge", 4096, kHuge).ArchiveSize(kSize), "huge.big");
  ASSERT_EQ(::truncate(hugePath.c_str(), kSize), 0);
  const CProcessResult huge = RunTarnProcess(m_dir, {"cat", hugePath, "huge"}, "", kLimit);
  EXPECT_EQ(huge.status, 1);
  EXPECT_EQ(huge.err, "tarn: " + hugePath +
                          ": cannot read entry 'huge': not enough memory for its " +
                          std::to_string(kHuge) + " bytes\n");
}

#endif

}  // namespace
