// Saving an archive with pending changes, and tarn rm: what is written, what
// a failed save leaves, and that the opened file is only ever replaced.
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "archive/big_writer.h"
#include "archive/change_set.h"
#include "archive/entry_map.h"
#include "archive/entry_path.h"
#include "archive/shown_archive.h"
#include "tests/support/big_builder.h"
#include "tests/support/run_tarn.h"

namespace fs = std::filesystem;

namespace {

CDataBuffer Bytes(std::string_view text) {
  return CDataBuffer(text.data(), static_cast<uint32_t>(text.size()));
}

class ChangeSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Large enough that the unchanged entries go by kernel copy, and in
    // pack's own layout, as an archive the editor saved before would be.
    m_big = std::string(200000, 'q') + "tail";
    WriteWholeFile(P("a.big"), CBigBuilder()
                                   .Add("a.ini", "A = 1\n")
                                   .Add("b\\big.bin", m_big)
                                   .Add("c.ini", "C = 3\n")
                                   .Build());
    ASSERT_TRUE(OpenArchiveEntries(P("a.big"), m_entries).IsOk());
  }
  std::string P(const std::string& name) const { return m_dir.Path() + "/" + name; }
  std::string Cat(const std::string& archive, const std::string& entry) const {
    return RunTarnCaptured({"cat", archive, entry}).out;
  }
  // Only the files in the folder, so a temporary file left behind shows.
  size_t FileCount() const {
    size_t count = 0;
    for ([[maybe_unused]] const auto& item : fs::directory_iterator(m_dir.Path())) ++count;
    return count;
  }

  CTempDir m_dir;
  std::string m_big;
  CEntryMap m_entries;
};

TEST_F(ChangeSetTest, SavedArchiveIsWhatPackMakesOfTheSameEntriesAndKeepsItsMode) {
  CChangeSet changes;
  changes.Put("a.ini", Bytes("A = 2\n"));
  changes.Remove("c.ini");
  changes.Put("d\\new.ini", Bytes("D = 4\n"));
  EXPECT_EQ(changes.size(), 3u);
  ASSERT_TRUE(CurrentBytes(m_entries, changes, "b\\big.bin").has_value());
  EXPECT_FALSE(CurrentBytes(m_entries, changes, "c.ini").has_value());
#ifndef _WIN32
  ASSERT_EQ(::chmod(P("a.big").c_str(), 0640), 0);
#endif

  // Windows replaces no file that is mapped, and the entries above map
  // a.big: there the save goes beside it.
#ifdef _WIN32
  const std::string saved = P("saved.big");
#else
  const std::string saved = P("a.big");
#endif
  // The same bytes whether the unchanged entries come from the file or from memory.
  CSaveSource fromFile;
  fromFile.file = CHandleHolder::Wrap(*platform::CreateFile(
      P("a.big"), platform::kGenericRead, platform::kOpenExisting, platform::kFileShareRead));
  ASSERT_TRUE(fromFile.file);
  CStatus status = WriteChangedArchive(saved, m_entries, changes, SaveScope::Whole, fromFile);
  ASSERT_TRUE(status.IsOk()) << status.Describe();
  fromFile.file.Release();
  status = WriteChangedArchive(P("memory.big"), m_entries, changes, SaveScope::Whole, {});
  ASSERT_TRUE(status.IsOk()) << status.Describe();
  CBigWriter pack;
  pack.AddBytes("a.ini", Bytes("A = 2\n"));
  pack.AddBytes("b\\big.bin", Bytes(m_big));
  pack.AddBytes("d\\new.ini", Bytes("D = 4\n"));
  status = pack.Write(P("packed.big"), {});
  ASSERT_TRUE(status.IsOk()) << status.Describe();
  EXPECT_EQ(ReadWholeFile(saved), ReadWholeFile(P("packed.big")));
  EXPECT_EQ(ReadWholeFile(P("memory.big")), ReadWholeFile(P("packed.big")));
  EXPECT_EQ(RunTarnCaptured({"check", saved}).out, "ok: 3 entries\n");
  // The entries opened before the save still read the old bytes.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(m_entries.Get("c.ini")->GetData()), 6),
            "C = 3\n");
#ifndef _WIN32
  struct stat info {};
  ASSERT_EQ(::stat(saved.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
#endif

  // Only what was added or changed, for loading over the original.
  status = WriteChangedArchive(P("mod.big"), m_entries, changes, SaveScope::ChangesOnly, {});
  ASSERT_TRUE(status.IsOk()) << status.Describe();
  EXPECT_EQ(RunTarnCaptured({"list", P("mod.big")}).out, "48\t6\ta.ini\n54\t6\td\\new.ini\n");
  EXPECT_EQ(FileCount(), saved == P("a.big") ? 4u : 5u);

  // Undoing every change leaves the archive as it was opened.
  changes.Restore("a.ini", std::nullopt);
  changes.Restore("c.ini", std::nullopt);
  changes.Restore("d\\new.ini", std::nullopt);
  EXPECT_TRUE(changes.empty());
}

TEST_F(ChangeSetTest, RmRemovesTheNamedEntriesOrWritesNothing) {
  m_entries.clear();  // Windows replaces no file another program holds open
  const std::string before = ReadWholeFile(P("a.big"));
  const CTarnResult missing = RunTarnCaptured({"rm", P("a.big"), "a.ini", "nope"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("nope: no such entry"), std::string::npos) << missing.err;
  EXPECT_EQ(ReadWholeFile(P("a.big")), before);

  const CTarnResult removed = RunTarnCaptured({"rm", P("a.big"), "a.ini", "c.ini"});
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(RunTarnCaptured({"list", P("a.big")}).out, "34\t200004\tb\\big.bin\n");
  EXPECT_EQ(Cat(P("a.big"), "b\\big.bin"), m_big);
  EXPECT_EQ(RunTarnCaptured({"rm", P("a.big")}).status, 2);
  EXPECT_EQ(RunTarnCaptured({"rm", P("missing.big"), "x"}).status, 1);
  EXPECT_EQ(FileCount(), 1u);
}

// tarn rm removes exactly the entries named, as tarn list prints them, and
// keeps every other one as it is: two spellings of one file, names that
// extract would refuse, all byte for byte. It removes a damaged or unsafe
// entry (the way to repair an archive), takes a name given twice, and
// refuses only what it would write badly: an entry it lacks, or one that
// stays and reaches past the archive's end.
TEST_F(ChangeSetTest, RmRemovesExactlyTheNamedEntriesAndKeepsTheRestAsTheyAre) {
  m_entries.clear();  // Windows replaces no file another program holds open
  const std::string twins = P("twins.big");
  WriteWholeFile(twins, CBigBuilder()
                            .Add("a/b", "slash")
                            .Add("a\\b", "backslash")
                            .Add("c", "see")
                            .Add("d", m_big)
                            .Build());
  const CTarnResult removed = RunTarnCaptured({"rm", twins, "c"});
  EXPECT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(removed.err, "");
  EXPECT_EQ(RunTarnCaptured({"list", twins}).out, "50\t5\ta/b\n55\t9\ta\\b\n64\t200004\td\n");
  EXPECT_EQ(Cat(twins, "a/b"), "slash");
  EXPECT_EQ(Cat(twins, "a\\b"), "backslash");
  EXPECT_EQ(Cat(twins, "d"), m_big);

  // Another spelling is another entry: named, never taken for the one.
  const std::string kept = ReadWholeFile(twins);
  const CTarnResult spelled = RunTarnCaptured({"rm", twins, "A/B", "c"});
  EXPECT_EQ(spelled.status, 1);
  EXPECT_EQ(spelled.err.find("tarn: A/B: no such entry"), 0u) << spelled.err;
  EXPECT_NE(spelled.err.find("tarn: c: no such entry\n"), std::string::npos) << spelled.err;
  EXPECT_EQ(ReadWholeFile(twins), kept);
#ifndef _WIN32
  const CTarnResult slash = RunTarnCaptured({"rm", P("a.big"), "b/big.bin"});
  EXPECT_EQ(slash.err,
            "tarn: b/big.bin: no such entry (the archive holds 'b\\big.bin')\n"
            "tarn: " +
                P("a.big") + ": not written\n");
#endif

  // Damaged and unsafe entries go when named, with a name given twice.
  const std::string hurt = P("hurt.big");
  CBigBuilder layout;
  layout.Add("..\\evil", "up").Add("", "nameless").Add("keep\x01", "kept").AddRecord("far", 0, 0);
  const auto total = static_cast<uint32_t>(layout.Build().size());
  WriteWholeFile(hurt, CBigBuilder()
                           .Add("..\\evil", "up")
                           .Add("", "nameless")
                           .Add("keep\x01", "kept")
                           .AddRecord("far", total - 2, 50)
                           .Build());
  const std::string before = ReadWholeFile(hurt);
  // A damaged entry that stays cannot be written as it is: nothing is.
  const CTarnResult damaged = RunTarnCaptured({"rm", hurt, "..\\evil"});
  EXPECT_EQ(damaged.status, 1);
  EXPECT_NE(
      damaged.err.find("tarn: " + hurt +
                       ": entry 'far': reaches past the end of the archive (remove it too)\n"),
      std::string::npos)
      << damaged.err;
  EXPECT_EQ(ReadWholeFile(hurt), before);
  const CTarnResult repaired = RunTarnCaptured({"rm", hurt, "far", "..\\evil", "far"});
  EXPECT_EQ(repaired.status, 0) << repaired.err;
  EXPECT_EQ(RunTarnCaptured({"list", hurt}).out, "39\t8\t\n47\t4\tkeep\\x01\n");
  EXPECT_EQ(Cat(hurt, ""), "nameless");
  EXPECT_EQ(Cat(hurt, "keep\x01"), "kept");
  EXPECT_EQ(RunTarnCaptured({"check", hurt}).out, "ok: 2 entries\n");
  EXPECT_EQ(FileCount(), 3u);
}

// The names a new or renamed entry may take are those `tarn pack` and
// `tarn extract` accept beside the others: one function (IsSameEntry)
// judges whether two names are one entry, for both separators and, where
// names fold letter case, for that too.
TEST_F(ChangeSetTest, NameConflictRefusesAnotherSpellingOfAnEntry) {
  WriteWholeFile(
      P("names.big"),
      CBigBuilder().Add("a\\b", "1").Add("Data\\INI\\Armor.ini", "2").Add("gone/x", "3").Build());
  CEntryMap entries;
  ASSERT_TRUE(OpenArchiveEntries(P("names.big"), entries).IsOk());
  CChangeSet changes;
  changes.Put("new/Added.ini", Bytes("4"));
  changes.Remove("gone/x");
  const struct {
    const char* name;
    const char* exact;   // the words where only separators are one
    const char* folded;  // and where letter case is folded too, as on Windows
  } cases[] = {
      {"a/b", "names the same file as 'a\\b'", "names the same file as 'a\\b'"},
      {"a/b/c", "'a\\b' is an entry, not a folder", "'a\\b' is an entry, not a folder"},
      {"a\\b\\c", "'a\\b' is an entry, not a folder", "'a\\b' is an entry, not a folder"},
      {"a", "a folder of that name exists", "a folder of that name exists"},
      {"a\\b", "an entry of that name exists", "an entry of that name exists"},
      {"A\\B", "", "differs only in letter case from 'a\\b'"},
      {"A/b/x", "", "'a\\b' is an entry, not a folder"},
      {"data/ini", "", "a folder of that name exists"},
      {"DATA/INI/ARMOR.INI", "", "differs only in letter case from 'Data\\INI\\Armor.ini'"},
      {"data\\ini\\Armor.ini\\x", "", "'Data\\INI\\Armor.ini' is an entry, not a folder"},
      {"new\\added.INI", "", "differs only in letter case from 'new/Added.ini'"},
      {"new\\Added.ini", "names the same file as 'new/Added.ini'",
       "names the same file as 'new/Added.ini'"},
      {"NEW", "", "a folder of that name exists"},
      {"gone\\x", "", ""},  // removed: the name is free
      {"gone\\x\\y", "", ""},
      {"Data\\INI\\Weapon.ini", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(NameConflict(entries, changes, c.name, false, false).GetWords(), c.exact);
    EXPECT_EQ(NameConflict(entries, changes, c.name, false, true).GetWords(), c.folded);
  }
  // Replacing an entry under its own name is fine; under another spelling not.
  EXPECT_EQ(NameConflict(entries, changes, "a\\b", true, true).GetWords(), "");
  EXPECT_EQ(NameConflict(entries, changes, "a/b", true, false).GetWords(),
            "names the same file as 'a\\b'");
  // The platform's own rule is the default, as pack and extract have it.
  EXPECT_EQ(NameConflict(entries, changes, "A\\B").GetWords(),
            kEntryNamesFoldCase ? "differs only in letter case from 'a\\b'" : "");
}

#ifndef _WIN32
// Another program writes to the archive while Save copies from it: the copy
// may hold some of each file, and takes the place of neither.
TEST_F(ChangeSetTest, ASaveThatAnotherProgramWroteUnderIsNotPutInPlace) {
  CShownArchive shown;
  ASSERT_TRUE(shown.Open(P("a.big")).IsOk());
  shown.Restore("a.ini", CChangeSet::CChange{false, Bytes("A = 2\n")});
  std::string theirs = ReadWholeFile(P("a.big"));
  theirs.replace(theirs.find("tail"), 4, "TAIL");
  bool written = false;
  const CStatus saved = shown.Write(P("a.big"), SaveScope::Whole, [&](const CProgress&) {
    if (!written) {
      // In place, as a copy over it writes, its time moved on.
      std::FILE* file = std::fopen(P("a.big").c_str(), "r+b");
      std::fwrite(theirs.data(), 1, theirs.size(), file);
      std::fclose(file);
      fs::last_write_time(P("a.big"), fs::last_write_time(P("a.big")) + std::chrono::seconds(2));
      written = true;
    }
    return true;
  });
  ASSERT_TRUE(written);
  EXPECT_NE(saved.GetWords().find("changed on disk"), std::string::npos) << saved.GetWords();
  EXPECT_EQ(ReadWholeFile(P("a.big")), theirs);
  EXPECT_EQ(FileCount(), 1u);
}

TEST_F(ChangeSetTest, AFailedSaveLeavesTheArchiveAndTheChangesAsTheyWere) {
  const std::string before = ReadWholeFile(P("a.big"));
  CChangeSet changes;
  changes.Put("a.ini", Bytes("A = 2\n"));

  // A file-size limit (as a full disk would): the write fails part way.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit cap{64 * 1024, 64 * 1024};
    if (::setrlimit(RLIMIT_FSIZE, &cap) != 0) ::_exit(90);
    const CStatus saved = WriteChangedArchive(P("a.big"), m_entries, changes, SaveScope::Whole, {});
    ::_exit(!saved.IsOk() && saved.GetWords().find("File too large") != std::string::npos ? 0 : 91);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadWholeFile(P("a.big")), before);
  EXPECT_EQ(FileCount(), 1u);

  // The folder gone, then (for anyone but the superuser) no permission.
  CStatus written = WriteChangedArchive(P("gone/a.big"), m_entries, changes, SaveScope::Whole, {});
  EXPECT_NE(written.GetWords().find("No such file"), std::string::npos) << written.GetWords();
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0555), 0);
    written = WriteChangedArchive(P("a.big"), m_entries, changes, SaveScope::Whole, {});
    ::chmod(m_dir.Path().c_str(), 0755);
    EXPECT_NE(written.GetWords().find("Permission denied"), std::string::npos)
        << written.GetWords();
  }
  EXPECT_EQ(ReadWholeFile(P("a.big")), before);
  EXPECT_EQ(changes.size(), 1u);
  EXPECT_EQ(FileCount(), 1u);
}
#endif

}  // namespace
