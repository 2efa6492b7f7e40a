// tarn extract and tarn pack: round trips, hostile names and planted links,
// refusals that must leave nothing behind, and a full disk.
#ifndef _WIN32
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "archive/big_archive.h"
#include "archive/big_writer.h"
#include "archive/entry_path.h"
#include "archive/extract.h"
#include "tests/support/big_builder.h"
#include "tests/support/run_tarn.h"

namespace fs = std::filesystem;

namespace {

// Every file under `root` by its path below it, with its bytes; folders as
// "path/" with no bytes, links as "path@".
std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(item.path(), root).generic_string();
    if (item.is_symlink()) tree[relative + "@"] = "";
    else if (item.is_directory()) tree[relative + "/"] = "";
    else tree[relative] = ReadWholeFile(item.path().string());
  }
  return tree;
}

void MakeFile(const std::string& path, std::string_view bytes) {
  fs::create_directories(fs::path(path).parent_path());
  WriteWholeFile(path, bytes);
}

// The lines of tarn's standard error.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

class ExtractPackTest : public ::testing::Test {
 protected:
  std::string P(const std::string& relative) const { return m_dir.Path() + "/" + relative; }
  CTempDir m_dir;
};

TEST_F(ExtractPackTest, PackThenExtractGivesBackTheTreeAndPackingIsDeterministic) {
  const std::map<std::string, std::string> files = {
      {"top.ini", "Object Tank\nEnd\n"},
      {"empty.bin", ""},
      {"Data/INI/Object/deep one.ini", std::string(70000, 'x') + "end"},
      {"Data/INI/b.ini", "b"},
      {"Data/caf\xC3\xA9 \xFF.txt", std::string("\0\1\2\xFF", 4)},
      {"Data/empty/inside", ""},
  };
  for (const auto& [name, bytes] : files) MakeFile(P("in/" + name), bytes);

  ASSERT_EQ(RunTarnCaptured({"pack", P("a.big"), P("in")}).status, 0);
  ASSERT_EQ(RunTarnCaptured({"pack", P("b.big"), P("in/")}).status, 0);
  EXPECT_EQ(ReadWholeFile(P("a.big")), ReadWholeFile(P("b.big")));

  // The layout: index in name order, bytes in the same order without gaps.
  CBigArchive reader;
  ASSERT_EQ(reader.Open(P("a.big")), 0);
  std::vector<std::string> names;
  uint64_t next = 0;
  for (const auto& [name, entry] : reader.GetIndex()) {
    names.emplace_back(name);
    if (next != 0) {
      EXPECT_EQ(entry.offset, next) << name;
    }
    next = uint64_t{entry.offset} + entry.size;
  }
  EXPECT_EQ(next, static_cast<uint64_t>(reader.GetSize()));
  EXPECT_EQ(names, (std::vector<std::string>{"Data\\INI\\Object\\deep one.ini", "Data\\INI\\b.ini",
                                             "Data\\caf\xC3\xA9 \xFF.txt", "Data\\empty\\inside",
                                             "empty.bin", "top.ini"}));
  const std::vector<std::string> names2(reader.GetNames().begin(), reader.GetNames().end());
  EXPECT_EQ(names2, names);  // records written in name order
  EXPECT_EQ(RunTarnCaptured({"check", P("a.big")}).out, "ok: 6 entries\n");

  const CTarnResult extracted = RunTarnCaptured({"extract", P("a.big"), P("out/new/deeper")});
  EXPECT_EQ(extracted.status, 0);
  EXPECT_EQ(extracted.out + extracted.err, "");
  EXPECT_EQ(Tree(P("out/new/deeper")), Tree(P("in")));

  // Extracting again replaces every file with the same bytes.
  MakeFile(P("out/new/deeper/top.ini"), "changed");
  EXPECT_EQ(RunTarnCaptured({"extract", P("a.big"), P("out/new/deeper"), "top.ini"}).status, 0);
  EXPECT_EQ(Tree(P("out/new/deeper")), Tree(P("in")));
}

TEST_F(ExtractPackTest, LaterInputsReplaceEarlierOnesAndAnArchiveIsPatchedInPlace) {
  WriteWholeFile(
      P("old.big"),
      CBigBuilder().Add("a.ini", "old a").Add("b\\c.ini", "old c").Add("keep", "k").Build());
  MakeFile(P("changes/b/c.ini"), "new c");
  MakeFile(P("changes/d.ini"), "new d");
  const std::string before = ReadWholeFile(P("old.big"));

  ASSERT_EQ(RunTarnCaptured({"pack", P("new.big"), P("old.big"), P("changes")}).status, 0);
  EXPECT_EQ(ReadWholeFile(P("old.big")), before);
  ASSERT_EQ(RunTarnCaptured({"pack", P("old.big"), P("old.big"), P("changes")}).status, 0);
  EXPECT_EQ(ReadWholeFile(P("old.big")), ReadWholeFile(P("new.big")));
  EXPECT_EQ(RunTarnCaptured({"list", P("old.big")}).out.size(),
            RunTarnCaptured({"list", P("new.big")}).out.size());
  EXPECT_EQ(RunTarnCaptured({"cat", P("old.big"), "b\\c.ini"}).out, "new c");
  EXPECT_EQ(RunTarnCaptured({"cat", P("old.big"), "a.ini"}).out, "old a");
  EXPECT_EQ(RunTarnCaptured({"cat", P("old.big"), "d.ini"}).out, "new d");

  // A folder that holds the archive being replaced never packs it into itself.
  MakeFile(P("self/x.ini"), "x");
  ASSERT_EQ(RunTarnCaptured({"pack", P("self/s.big"), P("self")}).status, 0);
  ASSERT_EQ(RunTarnCaptured({"pack", P("self/s.big"), P("self")}).status, 0);
  EXPECT_EQ(RunTarnCaptured({"list", P("self/s.big")}).out, "30\t1\tx.ini\n");
  EXPECT_EQ(Tree(P("self")).size(), 2u);  // no temporary file left
}

#ifndef _WIN32  // Windows lets no other program write or rename over a file held open
// Another program writes to an archive while tarn works from it: nothing
// is made of bytes that may be the new file's, and a file that is no
// longer the one read is not replaced by what was made of the old one.
TEST_F(ExtractPackTest, AnArchiveWrittenToMeanwhileIsNeitherCopiedNorReplaced) {
  const std::string old = CBigBuilder().Add("a.ini", "old a").Add("b.ini", "old b").Build();
  const std::string rewritten = CBigBuilder().Add("a.ini", "new a").Add("b.ini", "new b").Build();
  // In place, as a copy over it writes: the same size, its time moved on.
  const auto rewrite = [&](const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    std::fwrite(rewritten.data(), 1, rewritten.size(), file);
    std::fclose(file);
    fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(2));
  };
  const std::string path = P("a.big");
  for (const bool renamedOver : {false, true}) {
    SCOPED_TRACE(renamedOver ? "another file renamed over it" : "rewritten in place");
    WriteWholeFile(path, old);
    CBigWriter writer;
    std::vector<CEntryProblem> problems;
    const std::string removed[] = {"a.ini"};
    GatherRemoval(path, removed, writer, problems);
    ASSERT_TRUE(problems.empty());
    if (renamedOver) {
      WriteWholeFile(P("other"), rewritten);
      fs::rename(P("other"), path);
    } else {
      rewrite(path);
    }
    const CStatus written = writer.Write(path, nullptr);
    EXPECT_NE(written.GetWords().find("changed on disk"), std::string::npos) << written.GetWords();
    EXPECT_EQ(ReadWholeFile(path), rewritten);
  }

  WriteWholeFile(path, old);
  CBigArchive reader;
  ASSERT_EQ(reader.Open(path), 0);
  rewrite(path);
  CExtractOptions options;
  options.archiveChanged = [&reader] { return reader.ChangedSinceOpened(); };
  CExtractReport report;
  ExtractEntries(P("out"), EntriesToExtract(reader), options, report);
  EXPECT_TRUE(report.archiveChanged);
  EXPECT_EQ(report.written, 0u);
  EXPECT_EQ(Tree(P("out")).size(), 0u);
}
#endif

TEST_F(ExtractPackTest, HostileNamesAreReportedAndNothingLandsOutsideTheFolder) {
  const std::vector<std::string> hostile = {"..\\..\\x",   "\\abs",   "/abs",    "a\\\\b",
                                            "C:\\x",       "a\\.\\b", "trail\\", "..",
                                            "ctl\x01name", "del\x7F", ""};
  CBigBuilder builder;
  for (const std::string& name : hostile) builder.Add(name, "evil");
  builder.Add("good\\one.ini", "fine")
      .Add("file", "f")
      .Add("file\\below", "b")
      .AddRecord("short", 0, 1000);
  WriteWholeFile(P("h.big"), builder.Build());

  const CTarnResult r = RunTarnCaptured({
      "extract",
      P("h.big"),
      P("dir"),
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  const std::vector<std::string> lines = Lines(r.err);
  EXPECT_EQ(lines.size(), hostile.size() + 2) << r.err;
  for (const std::string& line : lines) EXPECT_EQ(line.rfind("tarn: ", 0), 0u) << line;
  EXPECT_NE(r.err.find("tarn: ctl\\x01name: name holds a colon or a control byte\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("tarn: file\\below: file in the way\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("tarn: short: cut short by the end of the archive"), std::string::npos)
      << r.err;

  // Outside the folder: only the archive. Inside: the good entries and the
  // bytes of the one cut short.
  EXPECT_EQ(Tree(m_dir.Path()).count("x"), 0u);
  std::map<std::string, std::string> inside = Tree(P("dir"));
  ASSERT_EQ(inside.count("short"), 1u);
  inside.erase("short");
  EXPECT_EQ(inside, (std::map<std::string, std::string>{
                        {"good/", ""}, {"good/one.ini", "fine"}, {"file", "f"}}));
  EXPECT_EQ(fs::directory_iterator(m_dir.Path()) == fs::directory_iterator(), false);
  size_t outside = 0;
  for (const auto& item : fs::directory_iterator(m_dir.Path()))
    outside += item.path().filename() != "dir" ? 1 : 0;
  EXPECT_EQ(outside, 1u);

  // Named entries: only those, and a name not in the archive is said so.
  const CTarnResult some =
      RunTarnCaptured({"extract", P("h.big"), P("two"), "good\\one.ini", "nope\x02"});
  EXPECT_EQ(some.status, 1);
  EXPECT_EQ(some.err, "tarn: nope\\x02: no such entry\n");
  EXPECT_EQ(Tree(P("two")).size(), 2u);

  // The archive itself is never replaced, under any name.
  MakeFile(P("self/s.big"), CBigBuilder().Add("s.big", "would overwrite").Build());
  const std::string self = ReadWholeFile(P("self/s.big"));
  fs::create_hard_link(P("self/s.big"), P("self/hard"));
  const CTarnResult itself = RunTarnCaptured({"extract", P("self/hard"), P("self")});
  EXPECT_EQ(itself.status, 1);
  EXPECT_EQ(itself.err, "tarn: s.big: would replace the archive itself\n");
  EXPECT_EQ(ReadWholeFile(P("self/s.big")), self);

  // A folder argument that is a file is refused before anything is written.
  const CTarnResult notFolder = RunTarnCaptured({"extract", P("h.big"), P("h.big")});
  EXPECT_EQ(notFolder.status, 1);
  EXPECT_EQ(ReadWholeFile(P("h.big")), builder.Build());
}

// Links, FIFOs, permissions, resource limits and signals as POSIX has them.
// '/' and '\\' are one separator for both commands: a folder's "c\\y"
// replaces an archive's "c/y", and names that would clash once extracted
// are refused whichever separator they use.
TEST_F(ExtractPackTest, BothSeparatorsNameOneFileWhenPackingAndExtracting) {
  WriteWholeFile(P("old.big"), CBigBuilder().Add("c/y", "old").Add("keep", "k").Build());
  MakeFile(P("changes/c/y"), "new");
  ASSERT_EQ(RunTarnCaptured({"pack", P("old.big"), P("old.big"), P("changes")}).status, 0);
  EXPECT_EQ(RunTarnCaptured({"list", P("old.big")}).out, "41\t3\tc\\y\n44\t1\tkeep\n");
  EXPECT_EQ(RunTarnCaptured({"cat", P("old.big"), "c\\y"}).out, "new");

  WriteWholeFile(P("x.big"), CBigBuilder().Add("x/y", "file").Build());
  MakeFile(P("deeper/x/y/z"), "below");
  const CTarnResult clash = RunTarnCaptured({"pack", P("p.big"), P("x.big"), P("deeper")});
  EXPECT_EQ(clash.status, 1);
  EXPECT_NE(clash.err.find("tarn: entry 'x/y': is both a file and a folder ('x\\y\\z')\n"),
            std::string::npos)
      << clash.err;
  EXPECT_FALSE(fs::exists(P("p.big")));

#ifndef _WIN32  // on Windows the letter-case rule reports the same pair
  WriteWholeFile(P("two.big"), CBigBuilder().Add("a/b", "first").Add("a\\b", "second").Build());
  const CTarnResult twice = RunTarnCaptured({"extract", P("two.big"), P("out")});
  EXPECT_EQ(twice.status, 1);
  EXPECT_EQ(twice.err, "tarn: a\\b: names the same file as 'a/b'\n");
  EXPECT_EQ(Tree(P("out")), (std::map<std::string, std::string>{{"a/", ""}, {"a/b", "first"}}));
#endif
}

// Two names of one input that are one entry ("a/b" and "a\\b" in one
// archive) are not for pack to choose between: it names them and writes
// nothing, as it does for names extract would refuse. (It used to keep the
// second alone, dropping the first without a word.)
TEST_F(ExtractPackTest, PackRefusesTwoNamesOfOneInputThatAreOneEntry) {
  WriteWholeFile(P("two.big"),
                 CBigBuilder().Add("a/b", "first").Add("a\\b", "second").Add("c", "c").Build());
  const CTarnResult packed = RunTarnCaptured({"pack", P("p.big"), P("two.big")});
  EXPECT_EQ(packed.status, 1);
  EXPECT_EQ(packed.err, "tarn: " + P("two.big") +
                            ": entry 'a\\b': names the same file as 'a/b'\ntarn: " + P("p.big") +
                            ": not written\n");
  EXPECT_FALSE(fs::exists(P("p.big")));
  // The same pair from two inputs: the later one's spelling replaces.
  WriteWholeFile(P("one.big"), CBigBuilder().Add("a/b", "first").Build());
  MakeFile(P("later/a/b"), "later");
  ASSERT_EQ(RunTarnCaptured({"pack", P("p.big"), P("one.big"), P("later")}).status, 0);
  EXPECT_EQ(RunTarnCaptured({"list", P("p.big")}).out, "28\t5\ta\\b\n");
#ifdef _WIN32
  // Where names fold letter case, "A" and "a\\b" are a file and a folder of
  // one another, which extraction there could not write.
  WriteWholeFile(P("case.big"), CBigBuilder().Add("A", "file").Add("a\\b", "below").Build());
  const CTarnResult folded = RunTarnCaptured({"pack", P("q.big"), P("case.big")});
  EXPECT_EQ(folded.status, 1);
  EXPECT_NE(folded.err.find("tarn: entry 'A': is both a file and a folder ('a\\b')\n"),
            std::string::npos)
      << folded.err;
  EXPECT_FALSE(fs::exists(P("q.big")));
#endif
}

#ifndef _WIN32
TEST_F(ExtractPackTest, PlantedLinksAreNeverWrittenThrough) {
  MakeFile(P("outside/secret"), "untouched");
  fs::create_directories(P("dir"));
  fs::create_directory_symlink(P("outside"), P("dir/sub"));
  fs::create_symlink(P("outside/secret"), P("dir/target"));
  fs::create_symlink(P("outside/none"), P("dir/dangling"));
  WriteWholeFile(P("l.big"), CBigBuilder()
                                 .Add("sub\\secret", "through folder link")
                                 .Add("sub\\new", "new file through folder link")
                                 .Add("target", "through file link")
                                 .Add("dangling", "through a dangling link")
                                 .Add("fine", "ok")
                                 .Build());
  const CTarnResult r = RunTarnCaptured({"extract", P("l.big"), P("dir")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tarn: dangling: symbolic link in the way\n"
            "tarn: sub\\new: symbolic link in the way\n"
            "tarn: sub\\secret: symbolic link in the way\n"
            "tarn: target: symbolic link in the way\n");
  EXPECT_EQ(Tree(P("outside")), (std::map<std::string, std::string>{{"secret", "untouched"}}));
  EXPECT_EQ(ReadWholeFile(P("dir/fine")), "ok");
}

TEST_F(ExtractPackTest, PackRefusesWhatItCannotPackAndLeavesNothingBehind) {
  const auto expectRefused = [this](const std::vector<std::string>& inputs,
                                    const std::string& culprit) {
    std::vector<std::string> args = {"pack", P("out/p.big")};
    args.insert(args.end(), inputs.begin(), inputs.end());
    const CTarnResult r = RunTarnCaptured(args);
    EXPECT_EQ(r.status, 1) << culprit;
    EXPECT_NE(r.err.find("tarn: " + culprit + ": "), std::string::npos) << r.err;
    EXPECT_EQ(Tree(P("out")), (std::map<std::string, std::string>{})) << culprit;
  };
  fs::create_directories(P("out"));
  MakeFile(P("link/a.ini"), "a");
  fs::create_symlink(P("link/a.ini"), P("link/b.ini"));
  expectRefused({P("link")}, P("link") + "/b.ini");
  MakeFile(P("fifo/a.ini"), "a");
  ASSERT_EQ(::mkfifo(P("fifo/pipe").c_str(), 0600), 0);
  expectRefused({P("fifo")}, P("fifo") + "/pipe");
  MakeFile(P("back/a\\b.ini"), "a");
  expectRefused({P("back")}, P("back") + "/a\\b.ini");
  MakeFile(P("colon/sub:x/a.ini"), "a");
  expectRefused({P("colon")}, P("colon") + "/sub:x");
  WriteWholeFile(P("damaged.big"), CBigBuilder().Add("a", "a").AddRecord("far", 1000, 10).Build());
  expectRefused({P("damaged.big")}, P("damaged.big") + ": entry 'far'");
  WriteWholeFile(P("notbig.big"), "not an archive at all");
  expectRefused({P("notbig.big")}, P("notbig.big"));
  expectRefused({P("missing")}, P("missing"));
  WriteWholeFile(P("both.big"), CBigBuilder().Add("a", "file").Build());
  MakeFile(P("both/a/b"), "folder");
  expectRefused({P("both.big"), P("both")}, "entry 'a'");
  if (::geteuid() != 0) {  // permissions do not stop the superuser
    MakeFile(P("locked/a.ini"), "a");
    fs::permissions(P("locked/a.ini"), fs::perms::none);
    expectRefused({P("locked")}, P("locked") + "/a.ini");
  }
  // Two sparse files whose sizes add up past what an archive can hold.
  for (const char* name : {"big/one", "big/two"}) {
    MakeFile(P(name), "");
    fs::resize_file(P(name), uint64_t{1} << 30);
  }
  expectRefused({P("big")}, P("out/p.big"));
  // Every culprit is named, not only the first.
  const CTarnResult all = RunTarnCaptured({"pack", P("out/p.big"), P("link"), P("fifo")});
  EXPECT_EQ(Lines(all.err).size(), 3u) << all.err;
  // No input at all is a usage error.
  EXPECT_EQ(RunTarnCaptured({"pack", P("out/p.big")}).status, 2);
  EXPECT_EQ(RunTarnCaptured({"extract", P("out/p.big")}).status, 2);
}

TEST_F(ExtractPackTest, AFullDiskLeavesTheArchiveAsItWasAndNoTemporaryFile) {
  MakeFile(P("in/big.bin"), std::string(1 << 20, 'z'));
  MakeFile(P("out/p.big"), "the old archive");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The write past the limit then fails with EFBIG instead of ending the process.
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit cap{256 * 1024, 256 * 1024};
    if (::setrlimit(RLIMIT_FSIZE, &cap) != 0) ::_exit(90);
    const CTarnResult r = RunTarnCaptured({"pack", P("out/p.big"), P("in")});
    ::_exit(r.status == 1 && r.err.find("File too large") != std::string::npos ? 0 : 91);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(Tree(P("out")), (std::map<std::string, std::string>{{"p.big", "the old archive"}}));
}

// A disk that fills up fails every later entry the same way: extraction
// stops at the first, removes what it wrote of it and says how many are
// left. The small disk is a tmpfs of 64 KiB in a mount namespace of the
// child's own, where the system allows one.
// Runs `tarn extract ARCHIVE FOLDER` in a child whose FOLDER is a 64 KB
// disk of its own; what the child saw: its exit status, its standard error,
// and the names in FOLDER after it, each followed by a space. Empty when no
// mount namespace can be made here.
std::string ExtractToASmallDisk(const std::string& archive, const std::string& folder) {
  fs::create_directories(folder);
  int report[2];
  if (::pipe(report) != 0) return {};
  const pid_t child = ::fork();
  if (child < 0) return {};
  if (child == 0) {
    ::close(report[0]);
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWNS) != 0) {
      // Not root: a user namespace gives the right to mount in it.
      if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) ::_exit(77);
      WriteWholeFile("/proc/self/setgroups", "deny");
      WriteWholeFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1");
      WriteWholeFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0)
      ::_exit(77);
    const CTarnResult r = RunTarnCaptured({"extract", archive, folder});
    std::string seen = std::to_string(r.status) + "\n" + r.err;
    for (const auto& item : fs::directory_iterator(folder))
      seen += item.path().filename().string() + " ";
    if (::write(report[1], seen.data(), seen.size()) < 0) ::_exit(90);
    ::_exit(0);
  }
  ::close(report[1]);
  std::string seen;
  char chunk[4096];
  for (ssize_t got; (got = ::read(report[0], chunk, sizeof chunk)) > 0;)
    seen.append(chunk, static_cast<size_t>(got));
  ::close(report[0]);
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return {};
  return seen;
}

// The names in the last line ExtractToASmallDisk saw, sorted.
std::vector<std::string> NamesSeen(const std::string& line) {
  std::vector<std::string> names;
  for (size_t at = 0; at < line.size();) {
    const size_t space = line.find(' ', at);
    names.push_back(line.substr(at, space - at));
    at = space + 1;
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(ExtractPackTest, ExtractionStopsAtAFullDiskAndSaysHowManyWereLeft) {
  CBigBuilder builder;
  for (const char* name : {"a", "b", "c", "d", "e"}) builder.Add(name, std::string(30000, *name));
  WriteWholeFile(P("five.big"), builder.Build());
  const std::string seen = ExtractToASmallDisk(P("five.big"), P("out"));
  if (seen.empty()) GTEST_SKIP() << "no mount namespace to make a small disk in";
  const std::vector<std::string> lines = Lines(seen);
  ASSERT_EQ(lines.size(), 4u) << seen;
  EXPECT_EQ(lines[0], "1");
  EXPECT_EQ(lines[1], "tarn: c: " + std::string(std::strerror(ENOSPC)));
  EXPECT_EQ(lines[2], "tarn: " + P("out") + ": stopped; 2 more entries not extracted");
  // What fitted is there whole; nothing of the entry that did not fit.
  EXPECT_EQ(NamesSeen(lines[3]), (std::vector<std::string>{"a", "b"}));
}

// Two threads write many small entries at once; when the disk fills, every
// entry before the one that stopped the extraction is there, and the count
// of those left is right.
TEST_F(ExtractPackTest, ManyEntriesStopAtAFullDiskWithEveryEarlierOneWritten) {
  CBigBuilder large;
  for (int i = 0; i < 200; ++i) large.Add("n" + std::to_string(1000 + i), std::string(3000, 'n'));
  WriteWholeFile(P("full.big"), large.Build());
  const std::string seen = ExtractToASmallDisk(P("full.big"), P("small"));
  if (seen.empty()) GTEST_SKIP() << "no mount namespace to make a small disk in";
  const std::vector<std::string> lines = Lines(seen);
  ASSERT_EQ(lines.size(), 4u) << seen;
  const size_t colon = lines[1].find(": ", 6);
  ASSERT_NE(colon, std::string::npos) << lines[1];
  const std::string stopped = lines[1].substr(6, colon - 6);
  EXPECT_EQ(lines[1].substr(colon + 2), std::strerror(ENOSPC));
  const std::vector<std::string> names = NamesSeen(lines[3]);
  const size_t left = std::stoul(lines[2].substr(lines[2].find("stopped; ") + 9));
  EXPECT_EQ(names.size() + 1 + left, 200u) << seen;
  for (int i = 1000; "n" + std::to_string(i) < stopped; ++i)
    EXPECT_TRUE(std::binary_search(names.begin(), names.end(), "n" + std::to_string(i))) << i;
  EXPECT_FALSE(std::binary_search(names.begin(), names.end(), stopped));
}

TEST_F(ExtractPackTest, AnInterruptedWriteTakesItsTemporaryFileAlong) {
  fs::create_directories(P("out"));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const platform::Handle folder = *platform::OpenFolder(P("out"), false);
    const platform::Handle file = *platform::CreateFileAt(folder, "half.tmp");
    if (folder == platform::kInvalidHandle || file == platform::kInvalidHandle) ::_exit(90);
    platform::RemoveOnInterrupt(folder, "half.tmp");
    ::raise(SIGINT);
    ::_exit(91);  // not reached: the interrupt ends the process
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  EXPECT_EQ(Tree(P("out")), (std::map<std::string, std::string>{}));
}

// What stands at ARCHIVE must be a regular file or nothing: a FIFO, a
// device or a link is named and left as it was, and nothing is written.
TEST_F(ExtractPackTest, PackRefusesToReplaceAnythingButARegularFile) {
  MakeFile(P("in/a"), "a");
  MakeFile(P("target"), "the link's target");
  ASSERT_EQ(::mkfifo(P("fifo.big").c_str(), 0600), 0);
  fs::create_symlink(P("target"), P("link.big"));
  const CTarnResult fifo = RunTarnCaptured({"pack", P("fifo.big"), P("in")});
  EXPECT_EQ(fifo.status, 1);
  EXPECT_EQ(fifo.err, "tarn: " + P("fifo.big") + ": is not a regular file (not replaced)\ntarn: " +
                          P("fifo.big") + ": not written\n");
  EXPECT_TRUE(fs::is_fifo(P("fifo.big")));
  const CTarnResult link = RunTarnCaptured({"pack", P("link.big"), P("in")});
  EXPECT_EQ(link.status, 1);
  EXPECT_NE(link.err.find("tarn: " + P("link.big") + ": is a symbolic link (not replaced)\n"),
            std::string::npos)
      << link.err;
  EXPECT_TRUE(fs::is_symlink(P("link.big")));
  EXPECT_EQ(ReadWholeFile(P("target")), "the link's target");
  // in, target, the FIFO and the link: no temporary file left.
  EXPECT_EQ(std::distance(fs::directory_iterator(m_dir.Path()), {}), 4);
}

// A replaced file keeps its permission bits, and its owner and group where
// this process may give them, whether pack or extract replaces it.
TEST_F(ExtractPackTest, AReplacedFileKeepsItsModeAndOwner) {
  MakeFile(P("in/a.ini"), "new");
  WriteWholeFile(P("private.big"), CBigBuilder().Add("a.ini", "old").Build());
  MakeFile(P("out/a.ini"), "old");
  const bool root = ::geteuid() == 0;
  for (const std::string& file : {P("private.big"), P("out/a.ini")}) {
    ASSERT_EQ(::chmod(file.c_str(), 0604), 0);
    if (root) {
      ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
    }
  }
  ASSERT_EQ(RunTarnCaptured({"pack", P("private.big"), P("private.big"), P("in")}).status, 0);
  ASSERT_EQ(RunTarnCaptured({"extract", P("private.big"), P("out")}).status, 0);
  EXPECT_EQ(ReadWholeFile(P("out/a.ini")), "new");
  for (const std::string& file : {P("private.big"), P("out/a.ini")}) {
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u) << file;
    if (root) {
      EXPECT_EQ(info.st_uid, 65534u) << file;
      EXPECT_EQ(info.st_gid, 65534u) << file;
    }
  }
}

// A process killed while it writes an entry leaves nothing under the
// entry's name that a later pack of the folder would take for real.
TEST_F(ExtractPackTest, AKilledExtractionLeavesNoHalfWrittenFile) {
  const platform::Handle folder = *platform::OpenFolder(m_dir.Path(), false);
  const platform::Handle probe = *platform::CreateUnnamedFileAt(folder);
  platform::CloseHandle(probe);
  platform::CloseHandle(folder);
  if (probe == platform::kInvalidHandle) GTEST_SKIP() << "no unnamed files on this file system";
  const std::string big(9 << 20, 'b');
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::vector<CExtractEntry> entries = {
        {"big.bin",
         CDataBuffer(big.data(), static_cast<uint32_t>(big.size())),
         big.size(),
         big.size(),
         {},
         0}};
    CExtractOptions options;
    // The first piece of the entry is written: end as SIGKILL would.
    options.progress = [](const CProgress& progress) {
      if (progress.bytesDone > 0) ::raise(SIGKILL);
      return true;
    };
    CExtractReport report;
    ExtractEntries(P("out"), entries, options, report);
    ::_exit(90);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  EXPECT_EQ(Tree(P("out")), (std::map<std::string, std::string>{}));
}

// The folder walk keeps one path and no stack per level, and stops at a
// documented depth with a message rather than crash or crawl.
TEST_F(ExtractPackTest, PackNamesAFolderNestedTooDeep) {
  std::string path = P("deep");
  for (size_t level = 0; level < kMostPackDepth; ++level) path += "/d";
  MakeFile(path + "/f", "at the bottom");
  ASSERT_EQ(RunTarnCaptured({"pack", P("ok.big"), P("deep")}).status, 0);
  MakeFile(path + "/d/f", "one too deep");
  const CTarnResult r = RunTarnCaptured({"pack", P("no.big"), P("deep")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tarn: " + path + "/d: folders nested more than " +
                       std::to_string(kMostPackDepth) + " deep\ntarn: " + P("no.big") +
                       ": not written\n");
  EXPECT_FALSE(fs::exists(P("no.big")));
}

// Another name for the archive being written, inside an input folder, is
// named; bytes a terminal takes for control codes are escaped in messages
// and only there.
TEST_F(ExtractPackTest, AHardLinkOfTheArchiveIsNamedAndMessagesEscapeC1Bytes) {
  MakeFile(P("in/a"), "a");
  WriteWholeFile(P("in/self.big"), CBigBuilder().Add("a", "old").Build());
  fs::create_hard_link(P("in/self.big"), P("in/other.big"));
  const CTarnResult linked = RunTarnCaptured({"pack", P("in/self.big"), P("in")});
  EXPECT_EQ(linked.status, 1);
  EXPECT_EQ(linked.err, "tarn: " + P("in") +
                            "/other.big: is a hard link of the archive being written\ntarn: " +
                            P("in/self.big") + ": not written\n");
  fs::remove(P("in/other.big"));
  EXPECT_EQ(RunTarnCaptured({"pack", P("in/self.big"), P("in")}).status,
            0);  // itself: silently left out

  WriteWholeFile(P("c1.big"), CBigBuilder()
                                  .Add("x\x9B"
                                       "2J\x85",
                                       "bytes")
                                  .Build());
  EXPECT_EQ(RunTarnCaptured({"list", P("c1.big")}).out,
            "30\t5\tx\x9B"
            "2J\x85\n");
  const CTarnResult missing = RunTarnCaptured({"extract", P("c1.big"), P("out"),
                                               "y\x9B"
                                               "2J"});
  EXPECT_EQ(missing.err, "tarn: y\\x9B2J: no such entry\n");
  const CTarnResult cat = RunTarnCaptured({"cat", P("c1.big"), "\x9F\xA0"});
  EXPECT_EQ(cat.err, "tarn: " + P("c1.big") + ": no entry named '\\x9F\xA0'\n");
}

#endif  // !_WIN32

#ifdef _WIN32
// Names Windows cannot hold, and names that are one file to it, are
// reported; everything else is written, and nothing is overwritten.
TEST_F(ExtractPackTest, WindowsNamesAndCaseConflictsAreReportedNotWritten) {
  WriteWholeFile(P("w.big"), CBigBuilder()
                                 .Add("A.ini", "upper")
                                 .Add("Dir\\aux.txt", "device")
                                 .Add("a.ini", "lower")
                                 .Add("con", "device")
                                 .Add("ends.", "dot")
                                 .Add("ok\\what?.ini", "question")
                                 .Add("ok\\fine.ini", "fine")
                                 .Build());
  const CTarnResult r = RunTarnCaptured({"extract", P("w.big"), P("out")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "tarn: Dir\\aux.txt: name is reserved by Windows for a device\n"
            "tarn: a.ini: differs only in letter case from 'A.ini'\n"
            "tarn: con: name is reserved by Windows for a device\n"
            "tarn: ends.: name has a part ending in a dot or a space\n"
            "tarn: ok\\what?.ini: name holds a character Windows forbids (< > \" | ? *)\n");
  EXPECT_EQ(Tree(P("out")), (std::map<std::string, std::string>{
                                {"A.ini", "upper"}, {"ok/", ""}, {"ok/fine.ini", "fine"}}));

  // Pack refuses to make an archive with two such names, and writes nothing.
  MakeFile(P("in/readme.TXT"), "folder");
  WriteWholeFile(P("other.big"), CBigBuilder().Add("README.txt", "archive").Build());
  const CTarnResult packed = RunTarnCaptured({"pack", P("p.big"), P("other.big"), P("in")});
  EXPECT_EQ(packed.status, 1);
  EXPECT_NE(
      packed.err.find("tarn: entry 'readme.TXT': differs only in letter case from 'README.txt'\n"),
      std::string::npos)
      << packed.err;
  EXPECT_FALSE(fs::exists(P("p.big")));
}

// Paths typed on Windows take either separator, and a drive letter before
// one means the drive's root, not its current folder.
TEST_F(ExtractPackTest, WindowsPathsTakeEitherSeparatorAndADrive) {
  std::string base = m_dir.Path();
  std::replace(base.begin(), base.end(), '/', '\\');
  MakeFile(P("in/a.ini"), "a");
  fs::create_directories(P("out"));
  const std::string in = base + "\\in";
  ASSERT_EQ(RunTarnCaptured({"pack", base + "\\out\\new.big", in}).status, 0);
  EXPECT_EQ(RunTarnCaptured({"list", base + "\\out\\new.big"}).out, "30\t1\ta.ini\n");
  ASSERT_EQ(RunTarnCaptured({"extract", base + "\\out\\new.big", base + "\\x\\y"}).status, 0);
  EXPECT_EQ(ReadWholeFile(P("x/y/a.ini")), "a");

  const fs::path before = fs::current_path();
  fs::current_path(m_dir.Path());
  EXPECT_EQ(RunTarnCaptured({"pack", "out\\rel.big", "in"}).status, 0);
  EXPECT_TRUE(fs::exists(P("out/rel.big")));
  const std::string drive = base.substr(0, 2);
  const std::string unique = "tarn-drive-root-" + std::to_string(::GetCurrentProcessId());
  for (const char* separator : {"\\", "/"}) {
    const CTarnResult packed = RunTarnCaptured({"pack", drive + separator + unique + ".big", in});
    EXPECT_EQ(packed.status, 0) << packed.err;
    EXPECT_TRUE(fs::exists(drive + "\\" + unique + ".big")) << separator;
    EXPECT_FALSE(fs::exists(P(unique + ".big"))) << separator;
    fs::remove(drive + "\\" + unique + ".big");
  }
  WriteWholeFile(P("root.big"), CBigBuilder().Add(unique, "at the root").Build());
  EXPECT_EQ(RunTarnCaptured({"extract", "root.big", drive + "\\"}).status, 0);
  EXPECT_EQ(ReadWholeFile(drive + "\\" + unique), "at the root");
  EXPECT_FALSE(fs::exists(P(unique)));
  fs::remove(drive + "\\" + unique);
  fs::current_path(before);
}

// Junctions and symbolic links are reparse points on Windows; none is
// ever opened through, by extract or by pack.
TEST_F(ExtractPackTest, WindowsReparsePointsAreNeverWrittenThrough) {
  MakeFile(P("outside/secret"), "untouched");
  fs::create_directories(P("dir"));
  std::error_code error;
  fs::create_directory_symlink(P("outside"), P("dir/sub"), error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  WriteWholeFile(
      P("l.big"),
      CBigBuilder().Add("sub\\secret", "through").Add("sub\\new", "new").Add("fine", "ok").Build());
  const CTarnResult r = RunTarnCaptured({"extract", P("l.big"), P("dir")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.err,
      "tarn: sub\\new: symbolic link in the way\ntarn: sub\\secret: symbolic link in the way\n");
  EXPECT_EQ(Tree(P("outside")), (std::map<std::string, std::string>{{"secret", "untouched"}}));
  EXPECT_EQ(ReadWholeFile(P("dir/fine")), "ok");
  const CTarnResult packed = RunTarnCaptured({"pack", P("p.big"), P("dir")});
  EXPECT_EQ(packed.status, 1);
  EXPECT_NE(packed.err.find("/sub: symbolic link (not followed)\n"), std::string::npos)
      << packed.err;
}
#endif  // _WIN32

// The writer's output is read back by the reader: every byte of every
// entry, and the same index, also for names the command would refuse.
TEST(BigWriterTest, WhatIsWrittenReadsBackExactly) {
  CTempDir dir;
  CBigWriter writer;
  const std::string big(300000, '\xAB');
  writer.AddBytes("z", CDataBuffer("last", 4));
  writer.AddBytes("", CDataBuffer("", 0));
  writer.AddBytes("A\\b", CDataBuffer(big.data(), static_cast<uint32_t>(big.size())));
  writer.AddBytes("a", CDataBuffer("first", 5));
  writer.AddBytes("a", CDataBuffer("again", 5));
  const CStatus status = writer.Write(dir.Path() + "/w.big", nullptr);
  ASSERT_TRUE(status.IsOk()) << status.Describe();
  CBigArchive reader;
  ASSERT_EQ(reader.Open(dir.Path() + "/w.big"), 0);
  std::map<std::string, std::string> got;
  for (const auto& [name, entry] : reader.GetIndex())
    got[std::string(name)] = std::string(
        reinterpret_cast<const char*>(reader.GetData().GetData()) + entry.offset, entry.size);
  EXPECT_EQ(got, (std::map<std::string, std::string>{
                     {"", ""}, {"A\\b", big}, {"a", "again"}, {"z", "last"}}));
  const std::string bytes = ReadWholeFile(dir.Path() + "/w.big");
  EXPECT_EQ(bytes.substr(0, 16), std::string("BIGF", 4) + std::string("\x22\x94\x04\x00", 4) +
                                     std::string("\0\0\0\4", 4) + std::string("\0\0\0\x39", 4));
}

// Names that clash as file and folder, in random order: two threads write
// them as one would, one at a time.
TEST_F(ExtractPackTest, ManyEntriesWithClashingNamesComeOutAsOneAtATime) {
  std::mt19937 random(7);
  for (int round = 0; round < 12; ++round) {
    std::vector<std::string> names;
    std::set<std::string> seen;
    while (names.size() < 300) {
      std::string name(1, "abcd"[random() % 4]);
      for (size_t depth = random() % 4; depth > 0; --depth)
        name += std::string("\\") + "abcd"[random() % 4];
      if (seen.insert(name).second) names.push_back(name);
    }
    // Also as the index would give them: many neighbours in one folder.
    if (round % 2 == 1) std::sort(names.begin(), names.end());
    std::vector<CExtractEntry> entries;
    for (const std::string& name : names) {
      CExtractEntry& entry = entries.emplace_back();
      entry.name = name;
      entry.bytes = CDataBuffer(name.data(), static_cast<uint32_t>(name.size()));
      entry.size = entry.claimed = name.size();
    }
    const std::string both = P("both" + std::to_string(round));
    const std::string one = P("one" + std::to_string(round));
    CExtractReport report;
    ExtractEntries(both, entries, {}, report);
    std::vector<CEntryProblem> oneByOne;
    for (const CExtractEntry& entry : entries) {
      CExtractReport single;
      ExtractEntries(one, std::span(&entry, 1), {}, single);
      oneByOne.insert(oneByOne.end(), single.problems.begin(), single.problems.end());
    }
    ASSERT_EQ(Tree(both), Tree(one)) << round;
    ASSERT_EQ(report.problems.size(), oneByOne.size()) << round;
    for (size_t i = 0; i < oneByOne.size(); ++i) {
      EXPECT_EQ(report.problems[i].name, oneByOne[i].name) << round;
      EXPECT_EQ(report.problems[i].reason, oneByOne[i].reason) << round;
    }
    EXPECT_EQ(report.written + report.problems.size(), names.size());
  }
}

// The one judgement of whether two names are one entry, which extract,
// pack, rm and the editor share: one key for both separators, and, where
// names fold letter case (Windows), for the letters' two cases too.
TEST(EntryNameTest, TwoNamesAreOneEntryWhenTheirKeysAreEqual) {
  EXPECT_TRUE(IsSameEntry("a/b\\c", "a\\b/c", false));
  EXPECT_FALSE(IsSameEntry("A/b", "a\\b", false));
  EXPECT_TRUE(IsSameEntry("A/b", "a\\B", true));
  EXPECT_TRUE(IsSameEntry("caf\xE9", "CAF\xC9", true));
  EXPECT_FALSE(IsSameEntry("ab", "a/b", true));
  EXPECT_FALSE(IsSameEntry("a", "a/", true));
  EXPECT_EQ(IsSameEntry("x.INI", "x.ini"), kEntryNamesFoldCase);
  EXPECT_EQ(SameEntryWords("a/b", "a\\b"), "names the same file as 'a/b'");
  EXPECT_EQ(SameEntryWords("A.ini", "a.ini"), "differs only in letter case from 'A.ini'");
  EXPECT_EQ(EntryKeyPeers('/', false), "/\\");
  EXPECT_EQ(EntryKeyPeers('\\', true), "\\/");
  EXPECT_EQ(EntryKeyPeers('a', false), "a");
  EXPECT_EQ(EntryKeyPeers('a', true), "aA");
  EXPECT_EQ(EntryKeyPeers('\xE9', true), "\xE9\xC9");
  // The peers and key bytes are the key's own, for every pair of bytes.
  for (const bool fold : {false, true}) {
    for (int a = 0; a < 256; ++a) {
      const std::string first(1, static_cast<char>(a));
      EXPECT_EQ(EntryKeyByte(first[0], fold), EntryKey(first, fold)[0]) << a;
      for (int b = 0; b < 256; ++b) {
        const std::string second(1, static_cast<char>(b));
        EXPECT_EQ(IsSameEntry(first, second, fold),
                  EntryKeyPeers(first[0], fold).find(second[0]) != std::string_view::npos)
            << a << " " << b << " " << fold;
      }
    }
  }
}

TEST(EntryNameTest, OnlyNamesThatStayInsideTheFolderPass) {
  for (const char* safe : {"a", "a\\b/c", "x.ini", "..a", "a..", "caf\xC3\xA9 x", "a b\\.hidden"})
    EXPECT_EQ(CheckEntryName(safe).GetKind(), CStatus::Kind::Ok) << safe;
  EXPECT_EQ(CheckEntryName("").GetKind(), CStatus::Kind::EmptyName);
  EXPECT_EQ(CheckEntryName("\\a").GetKind(), CStatus::Kind::AbsoluteName);
  EXPECT_EQ(CheckEntryName("/a").GetKind(), CStatus::Kind::AbsoluteName);
  EXPECT_EQ(CheckEntryName("a\\/b").GetKind(), CStatus::Kind::EmptySegment);
  EXPECT_EQ(CheckEntryName("a/").GetKind(), CStatus::Kind::EmptySegment);
  EXPECT_EQ(CheckEntryName("a/../b").GetKind(), CStatus::Kind::DotSegment);
  EXPECT_EQ(CheckEntryName("a\\.").GetKind(), CStatus::Kind::DotSegment);
  EXPECT_EQ(CheckEntryName("C:x").GetKind(), CStatus::Kind::ForbiddenByte);
  EXPECT_EQ(CheckEntryName("a\x1F").GetKind(), CStatus::Kind::ForbiddenByte);
}

}  // namespace
