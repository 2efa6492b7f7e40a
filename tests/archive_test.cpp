// Identifiers and the name registry, the game file base, the BIG reader and
// the archive document's open operation.

#define TARN_INSIDE_ARCHIVE  // reaches the arena, internal to archive/

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "archive/big_archive.h"
#include "archive/entry_map.h"
#include "archive/game_file.h"
#include "archive/large_arena.h"
#include "archive/name_registry.h"
#include "tests/support/big_builder.h"
#include "tests/support/buffer_view.h"
#include "tests/support/process_probe.h"
#include "tests/support/run_tarn.h"

namespace {

// The reader's names as owned strings, to compare with expectations.
std::vector<std::string> Strings(const CBigArchive::Names& names) {
  return std::vector<std::string>(names.begin(), names.end());
}

uint32_t Id(int32_t type, const std::string& name) {
  return static_cast<uint32_t>(CNameRegistry::GetId(type, name));
}

// Makes a file of `size` bytes that starts with `head` and is a hole after
// it: gigabytes cost nothing on disk.
void WriteSparse(const std::string& path, std::string_view head, int64_t size) {
  ASSERT_NO_THROW(WriteSparseFile(path, head, size));
}

// ---------------------------------------------------------------------------
// Identifiers

TEST(NameId, PublishedValues) {
  CCrc32 check;
  check.Update("123456789", 9);
  EXPECT_EQ(check.GetValue(), 0xCBF43926u);
  CCrc32 chained;
  chained.Update("1234", 4);
  chained.Update("", 0);
  chained.Update("56789", 5);
  EXPECT_EQ(chained.GetValue(), 0xCBF43926u);
  EXPECT_EQ(CCrc32().GetValue(), 0u);

  for (int32_t type : {7, 8}) {
    EXPECT_EQ(Id(type, "123456789"), 0xCBF43926u);
    EXPECT_EQ(Id(type, "abc"), 0xA3830348u);
    EXPECT_EQ(Id(type, "Data\\INI\\Weapon.ini"), 0x60861326u);
  }
  for (int32_t type : {2, 5}) {
    EXPECT_EQ(Id(type, "abc"), 0x33AFF496u);      // A B C 3
    EXPECT_EQ(Id(type, "abcde"), 0x518E3366u);    // A B C D E 1 E E
    EXPECT_EQ(Id(type, "ab"), 0x421FAA6Eu);       // A B 2 A
    EXPECT_EQ(Id(type, "x"), 0x39ED9CFCu);        // X 1 X X
    EXPECT_EQ(Id(type, "foo.map"), 0x83F853B6u);  // F O O . M A P 3
    EXPECT_EQ(Id(type, "foo.pkt"), 0x48709C26u);
  }
  for (int32_t type : {2, 5, 7, 8}) EXPECT_EQ(Id(type, "abcd"), 0xDB1720A5u);
  for (int32_t type : {1, 3, 0, 4, 6, -1}) {
    EXPECT_EQ(Id(type, "abc"), 0x00434241u);
    EXPECT_EQ(Id(type, "abcde"), 0x888684C7u);
    EXPECT_EQ(Id(type, "abcdefgh"), 0xD0CDCAC7u);
  }
}

TEST(NameId, RotateAndAddRotatesAndWraps) {
  // The top bit comes round to the bottom; the sum wraps at 2^32.
  EXPECT_EQ(Id(1, std::string("\0\0\0\x80\x05", 5)), 6u);
  EXPECT_EQ(Id(1, "\xFF\xFF\xFF\xFF\x01"), 0u);
  EXPECT_EQ(Id(3, std::string("\x01\0\0\0\0\0\0\0\0", 9)), 4u);  // zero groups still rotate
}

TEST(NameId, EmptyNameIsZeroUnderEveryType) {
  for (int32_t type : {INT32_MIN, -5, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1000, INT32_MAX})
    EXPECT_EQ(CNameRegistry::GetId(type, ""), 0) << type;
}

TEST(NameId, AsciiCaseIsIgnoredAndOtherBytesAreNot) {
  for (int32_t type : {0, 1, 2, 3, 5, 7, 8, -9}) {
    SCOPED_TRACE(type);
    EXPECT_EQ(Id(type, "abc"), Id(type, "ABC"));
    EXPECT_EQ(Id(type, "Art\\Textures\\tank_a.dds"), Id(type, "ART\\TEXTURES\\TANK_A.DDS"));
    // Bytes from 0x80 up are no letters: a-umlaut in one code page is not
    // folded onto its capital.
    EXPECT_NE(Id(type, "\xE4xyz"), Id(type, "\xC4xyz"));
  }
}

// ---------------------------------------------------------------------------
// Registry

TEST(NameRegistry, FourCodesHaveMapsOfTheirOwnAndTheRestShareOne) {
  CNameRegistry::Map* shared = &CNameRegistry::MapForType(0);
  for (int32_t type : {4, 6, 7, 8, 9, -1, INT32_MIN, INT32_MAX})
    EXPECT_EQ(&CNameRegistry::MapForType(type), shared) << type;
  std::vector<CNameRegistry::Map*> own;
  for (int32_t type : {1, 2, 3, 5}) {
    CNameRegistry::Map* map = &CNameRegistry::MapForType(type);
    EXPECT_NE(map, shared);
    EXPECT_EQ(std::count(own.begin(), own.end(), map), 0);
    own.push_back(map);
  }
}

TEST(NameRegistry, LastRegistrationUnderAnIdentifierWins) {
  const CNameRegistry::Map& map = CNameRegistry::MapForType(3);
  CNameRegistry::AddName(3, "registry_case", "first");
  CNameRegistry::AddName(3, "registry_case", "second");
  const int32_t id = CNameRegistry::GetId(3, "registry_case");
  ASSERT_EQ(map.count(id), 1u);
  EXPECT_EQ(map.at(id).name, "registry_case");
  EXPECT_EQ(map.at(id).description, "second");

  // Same identifier, other name: the name is replaced too, and kept as given.
  CNameRegistry::AddName(3, "REGISTRY_CASE", "third");
  EXPECT_EQ(map.at(id).name, "REGISTRY_CASE");
  EXPECT_EQ(map.at(id).description, "third");
  // Another code's map is not touched.
  EXPECT_EQ(CNameRegistry::MapForType(1).count(CNameRegistry::GetId(1, "registry_case")), 0u);
}

TEST(NameRegistry, CodesFourAndSevenReplaceEachOtherInTheSharedMap) {
  // Find a name whose CRC has no lower-case letter among its four bytes; those
  // four bytes, as a name, then have the same rotate-and-add identifier.
  std::string crcName;
  std::string wordName;
  for (int i = 0; wordName.empty(); ++i) {
    crcName = "shared" + std::to_string(i);
    const uint32_t id = Id(7, crcName);
    std::string word;
    for (int k = 0; k < 4; ++k) word.push_back(static_cast<char>(id >> (8 * k)));
    if (std::none_of(word.begin(), word.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
      wordName = word;
  }
  const int32_t id = CNameRegistry::GetId(7, crcName);
  ASSERT_EQ(CNameRegistry::GetId(4, wordName), id);

  const CNameRegistry::Map& map = CNameRegistry::MapForType(4);
  CNameRegistry::AddName(7, crcName, "by crc");
  EXPECT_EQ(map.at(id).name, crcName);
  CNameRegistry::AddName(4, wordName, "by words");
  EXPECT_EQ(map.at(id).name, wordName);
  EXPECT_EQ(map.at(id).description, "by words");
}

// ---------------------------------------------------------------------------
// CGameFile

// A game file that records what the hook saw and answers what it is told.
class CProbeFile final : public CGameFile {
 public:
  explicit CProbeFile(bool closeAfterLoad, int32_t answer = 0)
      : CGameFile(closeAfterLoad), m_answer(answer) {}

  int32_t OnOpen() override {
    ++m_hookRuns;
    m_diskOpenInHook = IsDiskOpen();
    char head[4] = {};
    m_readInHook = Read(head, 4) == 0 ? std::string(head, 4) : "";
    for (const char* name : m_lookFor)
      m_registeredBeforeHook.push_back(
          CNameRegistry::MapForType(5).count(CNameRegistry::GetId(5, name)) == 1);
    return m_answer;
  }

  int32_t m_answer;
  int m_hookRuns = 0;
  bool m_diskOpenInHook = false;
  std::string m_readInHook;
  std::vector<const char*> m_lookFor;
  std::vector<bool> m_registeredBeforeHook;
};

class GameFileTest : public ::testing::Test {
 protected:
  CTempDir m_dir;
};

TEST_F(GameFileTest, MissingFileFailsWithoutRunningTheHook) {
  CProbeFile file(false);
  EXPECT_EQ(file.Open(m_dir.Path() + "/missing.big"), 1);
  EXPECT_EQ(file.m_hookRuns, 0);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(file.GetData().GetBlock());
  EXPECT_FALSE(file.GetOpenError().empty());
}

TEST_F(GameFileTest, EmptyFileOpensWithZeroBytesOfData) {
  CProbeFile file(false);
  ASSERT_EQ(file.Open(m_dir.Write("empty", "")), 0);
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(file.GetSize(), 0);
  EXPECT_TRUE(file.GetData().HasData());
  EXPECT_EQ(file.GetData().GetSize(), 0u);
  char byte;
  EXPECT_EQ(file.Read(&byte, 0), 0);
  EXPECT_EQ(file.Read(&byte, 1), 1);
}

TEST_F(GameFileTest, ReadStaysWithinTheFile) {
  CProbeFile file(false);
  ASSERT_EQ(file.Open(m_dir.Write("eight", "ABCDEFGH")), 0);
  EXPECT_EQ(file.m_readInHook, "ABCD");  // the hook reads from position 0
  char out[8] = {};

  file.Seek(5);
  EXPECT_EQ(file.Read(out, 4), 1);  // one byte past the end
  ASSERT_EQ(file.Read(out, 3), 0);  // position unchanged by the failure
  EXPECT_EQ(std::string(out, 3), "FGH");
  EXPECT_EQ(file.Read(out, 1), 1);
  EXPECT_EQ(file.Read(out, 0), 0);

  for (const int32_t count : {0, 1, 8}) {
    file.Seek(-1);
    EXPECT_EQ(file.Read(out, count), 1) << count;
  }
  file.Seek(INT32_MIN);
  EXPECT_EQ(file.Read(out, 4), 1);
  file.Seek(1);
  EXPECT_EQ(file.Read(out, INT32_MAX), 1);  // must not wrap into a pass
  EXPECT_EQ(file.Read(out, -1), 1);
  file.Seek(INT32_MAX);
  EXPECT_EQ(file.Read(out, INT32_MAX), 1);
  file.Seek(9);
  EXPECT_EQ(file.Read(out, 0), 1);  // past the end even for nothing
  file.Seek(0);
  ASSERT_EQ(file.Read(out, 8), 0);
  EXPECT_EQ(std::string(out, 8), "ABCDEFGH");
}

TEST_F(GameFileTest, CloseAfterLoadDecidesWhetherTheDiskFileStaysOpen) {
  const std::string path = m_dir.Write("file", "BIGF....");
  const int before = CountOpenDescriptors();
  {
    CProbeFile keep(false);
    ASSERT_EQ(keep.Open(path), 0);
    EXPECT_TRUE(keep.m_diskOpenInHook);
    EXPECT_TRUE(keep.IsDiskOpen());
    keep.Close();
    EXPECT_FALSE(keep.IsDiskOpen());
    EXPECT_FALSE(keep.IsOpen());
  }
  {
    CProbeFile early(true);
    ASSERT_EQ(early.Open(path), 0);
    EXPECT_FALSE(early.m_diskOpenInHook);
    EXPECT_EQ(early.m_readInHook, "BIGF");  // the bytes stay readable
    EXPECT_TRUE(early.IsOpen());
    EXPECT_FALSE(early.IsDiskOpen());
  }
  EXPECT_EQ(CountOpenDescriptors(), before);
}

TEST_F(GameFileTest, RefusedContentsLeaveNothingOpen) {
  const std::string path = m_dir.Write("bad", "not accepted");
  const int before = CountOpenDescriptors();
  CProbeFile file(false, 7);
  EXPECT_EQ(file.Open(path), 7);
  EXPECT_EQ(file.m_hookRuns, 1);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(file.IsDiskOpen());
  EXPECT_FALSE(file.GetData().GetBlock());
  EXPECT_EQ(CountOpenDescriptors(), before);
  EXPECT_FALSE(FindMapping(path));
}

TEST_F(GameFileTest, DataOutlivesCloseAndReopen) {
  const std::string first = m_dir.Write("one", "first file");
  const std::string second = m_dir.Write("two", "second");
  CProbeFile file(false);
  ASSERT_EQ(file.Open(first), 0);
  const CDataBuffer kept = file.GetData();
  ASSERT_EQ(file.Open(second), 0);  // starts over on an open object
  EXPECT_EQ(Bytes(file.GetData()), "second");
  EXPECT_EQ(file.GetSize(), 6);
  file.Close();
  EXPECT_FALSE(file.GetData().GetBlock());
  EXPECT_EQ(Bytes(kept), "first file");
}

TEST_F(GameFileTest, MmxFileRegistersItsCompanionsBeforeTheHook) {
  const CNameRegistry::Map& map = CNameRegistry::MapForType(5);
  CProbeFile file(false, 1);  // refused: the names stay all the same
  file.m_lookFor = {"alpine7.map", "alpine7.pkt"};
  EXPECT_EQ(file.Open(m_dir.Write("Alpine7.MMX", "x")), 1);
  EXPECT_EQ(file.m_registeredBeforeHook, (std::vector<bool>{true, true}));
  for (const char* name : {"alpine7.map", "alpine7.pkt"}) {
    const auto found = map.find(CNameRegistry::GetId(5, name));
    ASSERT_NE(found, map.end()) << name;
    EXPECT_EQ(found->second.name, name);  // lower-case, no folder
    EXPECT_EQ(found->second.description, "-");
  }

  CProbeFile mixed(false);
  ASSERT_EQ(mixed.Open(m_dir.Write("Ridge2.mMx", "x")), 0);
  EXPECT_EQ(map.at(CNameRegistry::GetId(5, "ridge2.pkt")).name, "ridge2.pkt");
}

TEST_F(GameFileTest, OnlyTheLastExtensionCounts) {
  const CNameRegistry::Map& map = CNameRegistry::MapForType(5);
  const size_t before = map.size();
  CProbeFile file(false);
  ASSERT_EQ(file.Open(m_dir.Write("delta4.mmx.big", "x")), 0);
  ASSERT_EQ(file.Open(m_dir.Write("delta4.mmxx", "x")), 0);
  EXPECT_EQ(file.Open(m_dir.Path() + "/missing5.mmx"), 1);  // never opened: nothing
  EXPECT_EQ(map.size(), before);
}

TEST_F(GameFileTest, FileOfTwoGigabytesOrMoreHasNoBytes) {
  // Only the low 32 bits of such a size would fit; it must not pass for a
  // small file (4 GiB + 16 would read as 16).
  for (const int64_t size : {int64_t{1} << 31, (int64_t{1} << 32) + 16}) {
    const std::string path = m_dir.Path() + "/huge";
    WriteSparse(path, "BIGF", size);
    CProbeFile file(false);
    ASSERT_EQ(file.Open(path), 0);
    EXPECT_EQ(file.GetSize(), -1);
    EXPECT_FALSE(file.GetData().HasData());
    EXPECT_EQ(file.m_readInHook, "");
    char out[4];
    file.Seek(0);
    EXPECT_EQ(file.Read(out, 0), 1);
  }
}

#if !defined(_WIN32)  // fork and an address-space limit
TEST_F(GameFileTest, FailedMappingFallsBackToTheDiskFile) {
  if (kAddressSanitizer || kThreadSanitizer)
    GTEST_SKIP() << "needs an address-space limit, which the sanitizer cannot run under";
  // A file too large for the address space left to a child process: the
  // mapping fails, and reads go to the disk file while it is open.
  constexpr off_t kSize = off_t{1} << 30;
  const std::string path = m_dir.Path() + "/unmappable";
  WriteSparse(path, "HEAD", kSize);
  // An archive as large, its index at the front: the reader reads the index
  // through the disk file.
  std::string archiveHead = CBigBuilder()
                                .Add("Data\\b.ini", "bee")
                                .Add("Data\\a.ini", "ay")
                                .Add("Data\\b.ini", "B")
                                .Build();
  PutLE32(archiveHead, 4, static_cast<uint32_t>(kSize));
  const std::string archivePath = m_dir.Path() + "/unmappable.big";
  WriteSparse(archivePath, archiveHead, kSize);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    long vmKilobytes = 0;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("VmSize:", 0) == 0) vmKilobytes = std::stol(line.substr(7));
    const rlim_t limit = static_cast<rlim_t>(vmKilobytes + 64 * 1024) * 1024;
    const rlimit cap{limit, limit};
    if (vmKilobytes == 0 || ::setrlimit(RLIMIT_AS, &cap) != 0) ::_exit(90);
    int failures = 0;
    {
      CProbeFile file(false);
      if (file.Open(path) != 0) ::_exit(91);
      if (file.GetData().HasData() || file.GetData().GetSize() != kSize) failures |= 1;
      if (file.m_readInHook != "HEAD") failures |= 2;
      char tail[4] = {1, 1, 1, 1};
      file.Seek(static_cast<int32_t>(kSize - 4));
      if (file.Read(tail, 4) != 0 || std::memcmp(tail, "\0\0\0\0", 4) != 0) failures |= 4;
      if (file.Read(tail, 1) != 1) failures |= 8;
    }
    {
      CBigArchive archive;
      if (archive.Open(archivePath) != 0 || archive.GetData().HasData()) failures |= 32;
      const auto& index = archive.GetIndex();
      if (index.size() != 2 || index.begin()->first != "Data\\a.ini" ||
          index.Get("Data\\b.ini")->size != 1 || archive.GetNames().size() != 3 ||
          archive.GetNames()[0] != "Data\\b.ini")
        failures |= 64;
      archive.Close();
      if (archive.GetNames()[1] != "Data\\a.ini") failures |= 128;  // names outlive Close
    }
    {
      CProbeFile closed(true);
      if (closed.Open(path) != 0) ::_exit(92);
      char head[4];
      closed.Seek(0);
      if (closed.m_readInHook != "" || closed.Read(head, 4) != 1) failures |= 16;
    }
    ::_exit(failures);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

#endif

// ---------------------------------------------------------------------------
// CBigArchive: the header

class BigArchiveTest : public ::testing::Test {
 protected:
  std::string Write(const CBigBuilder& builder, const std::string& name = "test.big") {
    return m_dir.Write(name, builder.Build());
  }
  // An archive of `records` records named by `nextName` (record i at
  // offset i), whose index must hold every name once, in byte order, with
  // its last record.
  void ExpectIndexInOrder(uint32_t records, const std::function<std::string()>& nextName) {
    CBigBuilder builder;
    std::map<std::string, uint32_t> lastRecord;
    for (uint32_t i = 0; i < records; ++i) {
      const std::string name = nextName();
      builder.AddRecord(name, i, 0);
      lastRecord[name] = i;
    }
    CBigArchive archive;
    ASSERT_EQ(archive.Open(Write(builder)), 0);
    ASSERT_EQ(archive.GetIndex().size(), lastRecord.size());
    auto expected = lastRecord.begin();
    for (const auto& [name, entry] : archive.GetIndex()) {
      ASSERT_EQ(name, expected->first);
      ASSERT_EQ(entry.offset, expected->second) << name;
      ++expected;
    }
    EXPECT_EQ(archive.GetNames().size(), records);
  }
  CTempDir m_dir;
};

struct HeaderCase {
  const char* what;
  std::string bytes;
  CStatus::Kind failure;
};

std::string WithField(std::string bytes, size_t at, uint32_t value, bool bigEndian = true) {
  if (bigEndian) PutBE32(bytes, at, value);
  else PutLE32(bytes, at, value);
  return bytes;
}

TEST_F(BigArchiveTest, HeaderTestsRefuseInOrder) {
  const std::string valid = CBigBuilder().Add("a", "xyz").Build();
  const auto size = static_cast<uint32_t>(valid.size());
  std::string bigEndianSize = CBigBuilder().Add("a", "xyz").ArchiveSizeBigEndian().Build();
  const HeaderCase cases[] = {
      {"empty file", "", CStatus::Kind::TooShort},
      {"15 bytes", std::string("BIGF\x0F\0\0\0\0\0\0\0\0\0\0", 15), CStatus::Kind::TooShort},
      {"bad magic", CBigBuilder().Magic("BIGG").Build(), CStatus::Kind::BadMagic},
      {"lower-case magic", CBigBuilder().Magic("bigf").Build(), CStatus::Kind::BadMagic},
      {"short magic", CBigBuilder().Magic("BI").Build(), CStatus::Kind::BadMagic},
      {"size one more", CBigBuilder().Add("a", "xyz").ArchiveSize(size + 1).Build(),
       CStatus::Kind::SizeMismatch},
      {"size one less", CBigBuilder().Add("a", "xyz").ArchiveSize(size - 1).Build(),
       CStatus::Kind::SizeMismatch},
      {"big-endian size", bigEndianSize, CStatus::Kind::SizeMismatch},
      {"count 2^31", CBigBuilder().Count(0x80000000u).Build(), CStatus::Kind::BadCount},
      {"count all ones", CBigBuilder().Count(0xFFFFFFFFu).Build(), CStatus::Kind::BadCount},
      {"header size 0", CBigBuilder().HeaderSize(0).Build(), CStatus::Kind::BadHeaderSize},
      {"header size 15", CBigBuilder().HeaderSize(15).Build(), CStatus::Kind::BadHeaderSize},
      {"header size past end", CBigBuilder().Add("a", "xyz").HeaderSize(size + 1).Build(),
       CStatus::Kind::IndexPastEnd},
      {"header size 2^31", CBigBuilder().HeaderSize(0x80000000u).Build(),
       CStatus::Kind::IndexPastEnd},
      {"header size all ones", CBigBuilder().HeaderSize(0xFFFFFFFFu).Build(),
       CStatus::Kind::IndexPastEnd},
      // Several faults at once: the first test in order names the reason.
      {"magic before size", CBigBuilder().Magic("XXXX").ArchiveSize(1).Build(),
       CStatus::Kind::BadMagic},
      {"size before count", CBigBuilder().ArchiveSize(1).Count(0x80000000u).Build(),
       CStatus::Kind::SizeMismatch},
      {"count before header size", CBigBuilder().Count(0x80000000u).HeaderSize(3).Build(),
       CStatus::Kind::BadCount},
  };
  const int before = CountOpenDescriptors();
  for (const HeaderCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = m_dir.Write("case.big", c.bytes);
    CBigArchive archive;
    EXPECT_EQ(archive.Open(path), 1);
    EXPECT_EQ(archive.GetFailure(), c.failure);
    EXPECT_FALSE(archive.IsOpen());
    EXPECT_FALSE(archive.IsDiskOpen());
    EXPECT_FALSE(archive.GetData().GetBlock());
    EXPECT_TRUE(archive.GetIndex().empty());
    EXPECT_TRUE(archive.GetNames().empty());
    EXPECT_EQ(CountOpenDescriptors(), before);
  }
}

TEST_F(BigArchiveTest, SixteenByteArchiveIsValidAndEmpty) {
  const std::string bytes = CBigBuilder().Build();
  ASSERT_EQ(bytes.size(), 16u);
  EXPECT_EQ(bytes, std::string("BIGF\x10\0\0\0\0\0\0\0\0\0\0\x10", 16));
  CBigArchive archive;
  ASSERT_EQ(archive.Open(m_dir.Write("empty.big", bytes)), 0);
  EXPECT_EQ(archive.GetFailure(), CStatus::Kind::Ok);
  EXPECT_TRUE(archive.GetIndex().empty());
  EXPECT_TRUE(archive.GetNames().empty());
  EXPECT_TRUE(archive.IsDiskOpen());  // the reader keeps the file until Close
  EXPECT_TRUE(archive.IsBigHeader());
  char next;
  EXPECT_EQ(archive.Read(&next, 1), 1);  // the test left the position at 16
}

TEST_F(BigArchiveTest, HeaderTestLeavesThePositionAfterTheHeader) {
  CBigArchive archive;
  ASSERT_EQ(archive.Open(Write(CBigBuilder().Add("name", "x"))), 0);
  archive.Seek(3);
  ASSERT_TRUE(archive.IsBigHeader());
  char offset[4];
  ASSERT_EQ(archive.Read(offset, 4), 0);
  EXPECT_EQ(std::string(offset, 4), std::string("\0\0\0\x1D", 4));  // first record's offset, 29
}

TEST_F(BigArchiveTest, SizeThatReadsTheSameBothWaysPasses) {
  // 0x01000001 is the same in both byte orders.
  std::string header = CBigBuilder().Build();
  PutLE32(header, 4, 0x01000001u);
  const std::string path = m_dir.Path() + "/palindrome.big";
  WriteSparse(path, header, 0x01000001);
  CBigArchive archive;
  EXPECT_EQ(archive.Open(path), 0);
}

TEST_F(BigArchiveTest, ArchiveOfTwoGigabytesOrMoreIsRefused) {
  for (const int64_t size : {int64_t{1} << 31, (int64_t{1} << 32) + 16}) {
    // Its size field holds what the low 32 bits of the size would say.
    const std::string path = m_dir.Path() + "/huge.big";
    WriteSparse(path, WithField(CBigBuilder().Build(), 4, static_cast<uint32_t>(size), false),
                size);
    CBigArchive archive;
    EXPECT_EQ(archive.Open(path), 1);
    EXPECT_EQ(archive.GetFailure(), CStatus::Kind::TooLarge);
  }
}

// ---------------------------------------------------------------------------
// CBigArchive: the index region

TEST_F(BigArchiveTest, RecordsThatDoNotFitTheIndexAreRefused) {
  const CBigBuilder two = CBigBuilder().Add("Data\\one.ini", "1").Add("Data\\two.ini", "22");
  const auto fitting = static_cast<uint32_t>(16 + 2 * (8 + 12 + 1));
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"one record more than there are", CBigBuilder(two).Count(3).Build()},
      {"last name's zero byte at the header size",
       CBigBuilder(two).HeaderSize(fitting - 1).Build()},
      {"last record's numbers cut", CBigBuilder(two).HeaderSize(16 + 21 + 7).Build()},
      {"name without a zero byte", CBigBuilder(two).UnterminatedLastName().Build()},
      {"second record only partly there",
       CBigBuilder().Add("a", "").IndexPadding(8, '\x01').Count(2).Build()},
      {"count the region cannot hold", CBigBuilder().Add("", "").Add("", "").Count(3).Build()},
      {"2^31 - 1 records in a tiny index", CBigBuilder().Add("x", "y").Count(0x7FFFFFFFu).Build()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    CBigArchive archive;
    EXPECT_EQ(archive.Open(m_dir.Write("records.big", c.bytes)), 1);
    EXPECT_EQ(archive.GetFailure(), CStatus::Kind::RecordsOverrun);
    EXPECT_TRUE(archive.GetIndex().empty());
    EXPECT_TRUE(archive.GetNames().empty());
    // Room is never reserved for a count the region cannot hold.
    EXPECT_LT(archive.GetNames().capacity(), 1000u);
    EXPECT_FALSE(archive.IsOpen());
  }
}

TEST_F(BigArchiveTest, SmallestRecordsFillTheRegionExactly) {
  // Three records of an empty name need 27 bytes.
  CBigArchive archive;
  ASSERT_EQ(archive.Open(
                Write(CBigBuilder().AddRecord("", 0, 1).AddRecord("", 1, 2).AddRecord("", 2, 3))),
            0);
  ASSERT_EQ(archive.GetIndex().size(), 1u);
  EXPECT_EQ(archive.GetIndex().Get("")->offset, 2u);
  EXPECT_EQ(archive.GetIndex().Get("")->size, 3u);
  EXPECT_EQ(Strings(archive.GetNames()), (std::vector<std::string>{"", "", ""}));
}

TEST_F(BigArchiveTest, BytesAfterTheLastRecordAreIgnored) {
  // Padding that would read as one more record if it were looked at.
  CBigArchive archive;
  ASSERT_EQ(
      archive.Open(Write(CBigBuilder().Add("only", "bytes").IndexPadding(40, 'Z').Trailer("tail"))),
      0);
  ASSERT_EQ(archive.GetIndex().size(), 1u);
  EXPECT_EQ(Strings(archive.GetNames()), std::vector<std::string>{"only"});
  EXPECT_EQ(archive.GetIndex().Get("only")->offset, 16u + 13 + 40);
}

TEST_F(BigArchiveTest, IndexIsInByteOrderAndNamesInRecordOrder) {
  const std::vector<std::string> records = {"b",    "B", "a", "abc", "ab",      "a\\b",
                                            "\xE4", "z", "",  "A",   "a\\b\\c", "\x7F"};
  CBigBuilder builder;
  for (size_t i = 0; i < records.size(); ++i) builder.Add(records[i], std::string(i, '.'));
  CBigArchive archive;
  ASSERT_EQ(archive.Open(Write(builder)), 0);
  std::vector<std::string> order;
  for (const auto& [name, entry] : archive.GetIndex()) order.emplace_back(name);
  // Upper case before lower case, a prefix before what extends it, bytes
  // compared unsigned (0xE4 last).
  EXPECT_EQ(order, (std::vector<std::string>{"", "A", "B", "a", "a\\b", "a\\b\\c", "ab", "abc", "b",
                                             "z", "\x7F", "\xE4"}));
  EXPECT_EQ(Strings(archive.GetNames()), records);
  EXPECT_EQ(archive.GetIndex().Get("")->size, 8u);  // an empty name is an entry like any other
}

TEST_F(BigArchiveTest, RepeatedNameKeepsTheLastRecord) {
  CBigArchive archive;
  ASSERT_EQ(archive.Open(Write(CBigBuilder()
                                   .AddRecord("Data\\x.ini", 100, 1)
                                   .AddRecord("Data\\y.ini", 200, 2)
                                   .AddRecord("Data\\x.ini", 300, 3)
                                   .AddRecord("Data\\y.ini", 400, 0)
                                   .AddRecord("Data\\y.ini", 500, 5))),
            0);
  ASSERT_EQ(archive.GetIndex().size(), 2u);
  EXPECT_EQ(archive.GetIndex().Get("Data\\x.ini")->offset, 300u);
  EXPECT_EQ(archive.GetIndex().Get("Data\\x.ini")->size, 3u);
  EXPECT_EQ(archive.GetIndex().Get("Data\\y.ini")->offset, 500u);
  EXPECT_EQ(archive.GetNames().size(), 5u);
}

TEST_F(BigArchiveTest, IndexMatchesAModelWhateverTheRecordOrder) {
  // Short names over a small alphabet: many repeats, prefixes and case pairs.
  std::mt19937 random(20240607);
  const std::string alphabet = std::string("aAbB\\.\x80\xFF", 8);
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) {
    std::string name(random() % 5, ' ');
    for (char& c : name) c = alphabet[random() % alphabet.size()];
    names.push_back(name);
  }
  auto byteLess = [](const std::string& a, const std::string& b) {
    const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    return c < 0 || (c == 0 && a.size() < b.size());
  };
  std::vector<std::string> sorted = names;
  std::stable_sort(sorted.begin(), sorted.end(), byteLess);
  std::vector<std::string> reversed(sorted.rbegin(), sorted.rend());

  for (const auto* order : {&names, &sorted, &reversed}) {
    CBigBuilder builder;
    std::map<std::string, std::pair<uint32_t, uint32_t>, decltype(byteLess)> model(byteLess);
    for (size_t i = 0; i < order->size(); ++i) {
      const auto offset = static_cast<uint32_t>(i * 3);
      const auto size = static_cast<uint32_t>(i % 17);
      builder.AddRecord((*order)[i], offset, size);
      model[(*order)[i]] = {offset, size};
    }
    CBigArchive archive;
    ASSERT_EQ(archive.Open(Write(builder)), 0);
    ASSERT_EQ(archive.GetIndex().size(), model.size());
    auto expected = model.begin();
    for (const auto& [name, entry] : archive.GetIndex()) {
      ASSERT_EQ(name, expected->first);
      EXPECT_EQ(entry.offset, expected->second.first) << name;
      EXPECT_EQ(entry.size, expected->second.second) << name;
      ++expected;
    }
    EXPECT_EQ(Strings(archive.GetNames()), *order);
  }
}

TEST_F(BigArchiveTest, IndexOrderHoldsForLongSharedPrefixes) {
  // Folder prefixes of 0 to 17 bytes, so names agree across one, two or
  // three eight-byte words and end on and around word edges; suffixes with
  // the bytes where signed and unsigned order differ.
  const std::vector<std::string> folders = {"",
                                            "Art\\",
                                            "Art\\Tex",
                                            "Art\\Text",
                                            "Art\\Textu",
                                            "Art\\Textures\\G",
                                            "Art\\Textures\\G1",
                                            "Art\\Textures\\G1\\"};
  const std::string alphabet = std::string("aA\\_.\x01\x7F\x80\xFF", 9);
  std::mt19937 random(7);
  std::vector<std::string> names;
  for (int i = 0; i < 6000; ++i) {
    std::string name = folders[random() % folders.size()];
    const size_t extra = random() % 19;
    for (size_t k = 0; k < extra; ++k) name.push_back(alphabet[random() % alphabet.size()]);
    names.push_back(name);
  }
  std::vector<std::string> sorted = names;
  std::stable_sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return static_cast<uint8_t>(x) < static_cast<uint8_t>(y);
    });
  });
  std::vector<std::string> reversed(sorted.rbegin(), sorted.rend());
  std::vector<std::string> nearlySorted = sorted;
  for (size_t i = 0; i + 1 < nearlySorted.size(); i += 37)
    std::swap(nearlySorted[i], nearlySorted[i + 1]);

  for (const auto* order : {&names, &sorted, &reversed, &nearlySorted}) {
    CBigBuilder builder;
    std::map<std::string, uint32_t> lastRecord;
    for (size_t i = 0; i < order->size(); ++i) {
      builder.AddRecord((*order)[i], static_cast<uint32_t>(i), 0);
      lastRecord[(*order)[i]] = static_cast<uint32_t>(i);
    }
    CBigArchive archive;
    ASSERT_EQ(archive.Open(Write(builder)), 0);
    std::vector<std::string> got;
    for (const auto& [name, entry] : archive.GetIndex()) {
      got.emplace_back(name);
      EXPECT_EQ(entry.offset, lastRecord.at(std::string(name))) << name;
    }
    std::vector<std::string> unique = sorted;
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
    ASSERT_EQ(got, unique);
    EXPECT_EQ(Strings(archive.GetNames()), *order);
  }
}

// Folders of many files: names that agree on their first 16 bytes, then on
// a few words each, with repeats in no particular order, in groups large
// enough to be split by word rather than by comparison.
TEST_F(BigArchiveTest, IndexOrderHoldsForFoldersOfManyFiles) {
  const std::vector<std::string> folders = {"Data\\Art\\Meshes\\", "Data\\Art\\Sounds\\",
                                            "Data\\Art\\Sounds"};
  const std::vector<std::string> stems = {"marten__", "heron___", "kestrel_", "basalt__",
                                          "heron__"};
  std::mt19937 random(11);
  ExpectIndexInOrder(6000, [&] {
    return folders[random() % folders.size()] + stems[random() % stems.size()] +
           std::to_string(random() % 700);
  });
}

// An archive large enough that its index region is read in two halves at
// once and its folders are sorted on two threads: the names on either side
// of each split, and repeats far apart in the file, must come out as in a
// model.
TEST_F(BigArchiveTest, IndexOrderHoldsForLargeArchives) {
  const std::vector<std::string> tops = {"Art\\Textures\\", "Audio\\Voices\\",
                                         "Data\\INI\\Object\\", "Data\\INI\\"};
  const std::vector<std::string> stems = {"marten_", "heron_", "kestrel_",
                                          "basalt_", "Heron_", "\xE4rt_"};
  std::mt19937 random(23);
  ExpectIndexInOrder(120000, [&] {
    return tops[random() % tops.size()] + "G" + std::to_string(random() % 40) + "\\" +
           stems[random() % stems.size()] + std::to_string(random() % 9000) + ".dds";
  });
}

// Orders made to defeat a quicksort pivot (organ pipe, with every name given
// twice) must still sort right, and in n log n: such ranges go to the
// fallback sort, which keeps records of one name in file order.
TEST_F(BigArchiveTest, IndexOrderHoldsForPivotDefeatingOrders) {
  std::vector<std::string> names;
  constexpr int kCount = 20000;
  for (int i = 0; i < kCount; i += 2) names.push_back(std::to_string(10000000 + i));
  for (int i = kCount - 1; i > 0; i -= 2) names.push_back(std::to_string(10000000 + i));
  const std::vector<std::string> once = names;
  names.insert(names.end(), once.begin(), once.end());
  CBigBuilder builder;
  for (size_t i = 0; i < names.size(); ++i)
    builder.AddRecord(names[i], static_cast<uint32_t>(i), 0);
  CBigArchive archive;
  ASSERT_EQ(archive.Open(Write(builder)), 0);
  std::vector<std::string> sorted = once;
  std::sort(sorted.begin(), sorted.end());
  ASSERT_EQ(archive.GetIndex().size(), sorted.size());
  size_t i = 0;
  for (const auto& [name, entry] : archive.GetIndex()) {
    ASSERT_EQ(name, sorted[i++]);
    // The second copy of each name, later in the file, wins.
    EXPECT_GE(entry.offset, once.size()) << name;
  }
}

TEST_F(BigArchiveTest, OffsetsAndSizesAreKeptAsRead) {
  CBigArchive archive;
  ASSERT_EQ(archive.Open(Write(CBigBuilder()
                                   .Add("empty", "")
                                   .AddRecord("far", 0xFFFFFFF0u, 0x20)
                                   .AddRecord("huge", 16, 0x80000000u))),
            0);
  EXPECT_EQ(archive.GetIndex().Get("empty")->size, 0u);
  EXPECT_EQ(archive.GetIndex().Get("far")->offset, 0xFFFFFFF0u);
  EXPECT_EQ(archive.GetIndex().Get("far")->size, 0x20u);
  EXPECT_EQ(archive.GetIndex().Get("huge")->size, 0x80000000u);
}

// The index's names live in the reader: a copy of the index would dangle.
static_assert(!std::is_copy_constructible_v<CBigArchive::Index>);
static_assert(!std::is_copy_assignable_v<CBigArchive::Index>);

// An open made through the base class is the reader's one Open: a disk
// failure after a refused archive says so, not the old refusal.
TEST_F(BigArchiveTest, OpenThroughTheBaseKeepsTheReasonCurrent) {
  CBigArchive archive;
  CGameFile& file = archive;
  ASSERT_EQ(file.Open(m_dir.Write("bad.big", "NOPE" + std::string(20, '\0'))), 1);
  EXPECT_EQ(archive.GetFailure(), CStatus::Kind::BadMagic);
  ASSERT_EQ(file.Open(m_dir.Path() + "/missing.big"), 1);
  EXPECT_EQ(archive.GetFailure(), CStatus::Kind::CannotOpen);
  ASSERT_EQ(file.Open(Write(CBigBuilder().Add("a", "1"))), 0);
  EXPECT_EQ(archive.GetFailure(), CStatus::Kind::Ok);
}

TEST_F(BigArchiveTest, CloseKeepsTheIndexAndTheNextOpenReplacesIt) {
  const std::string good = Write(CBigBuilder().Add("kept", "1"), "good.big");
  const int before = CountOpenDescriptors();
  CBigArchive archive;
  ASSERT_EQ(archive.Open(good), 0);
  archive.Close();
  EXPECT_FALSE(archive.IsOpen());
  EXPECT_EQ(CountOpenDescriptors(), before);
  EXPECT_EQ(archive.GetIndex().count("kept"), 1u);
  EXPECT_EQ(archive.GetNames().size(), 1u);

  // A file that never opened leaves them as they were...
  EXPECT_EQ(archive.Open(m_dir.Path() + "/missing.big"), 1);
  EXPECT_EQ(archive.GetFailure(), CStatus::Kind::CannotOpen);
  EXPECT_EQ(archive.GetIndex().count("kept"), 1u);
  // ...one that opened and was refused empties them.
  EXPECT_EQ(archive.Open(m_dir.Write("bad.big", "BIGF but nothing else")), 1);
  EXPECT_TRUE(archive.GetIndex().empty());
  EXPECT_TRUE(archive.GetNames().empty());

  ASSERT_EQ(archive.Open(Write(CBigBuilder().Add("other", "2"), "other.big")), 0);
  EXPECT_EQ(archive.GetFailure(), CStatus::Kind::Ok);
  ASSERT_EQ(archive.GetIndex().size(), 1u);
  EXPECT_EQ(archive.GetIndex().begin()->first, "other");
}

// Every reason, the first to the last, tells the user something of its own.
TEST(StatusWords, EveryReasonHasItsOwnWords) {
  std::vector<std::string> words;
  for (int value = static_cast<int>(CStatus::Kind::Ok);
       value <= static_cast<int>(CStatus::Kind::SourceChanged); ++value) {
    const std::string text = CStatus::WordsFor(static_cast<CStatus::Kind>(value));
    EXPECT_NE(text, CStatus::WordsFor(static_cast<CStatus::Kind>(UINT8_MAX)))
        << value;  // the words for no reason
    EXPECT_EQ(std::count(words.begin(), words.end(), text), 0) << text;
    words.push_back(text);
  }
}

// ---------------------------------------------------------------------------
// OpenArchiveEntries

class ArchiveEntriesTest : public ::testing::Test {
 protected:
  CTempDir m_dir;
};

TEST_F(ArchiveEntriesTest, EntriesAreSlicesOfTheMappingInNameOrder) {
  const std::string path =
      m_dir.Write("units.big", CBigBuilder()
                                   .Add("Data\\INI\\Weapon.ini", "Weapon Gun\nEnd\n")
                                   .Add("Art\\Textures\\hull.dds", std::string("DDS \0\1\2", 7))
                                   .Add("Audio\\boom.wav", "RIFF....")
                                   .Build());
  CEntryMap entries;
  ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
  std::vector<std::string> names;
  for (const auto& [name, bytes] : entries) names.emplace_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"Art\\Textures\\hull.dds", "Audio\\boom.wav",
                                             "Data\\INI\\Weapon.ini"}));
  EXPECT_EQ(Bytes(*entries.Get("Data\\INI\\Weapon.ini")), "Weapon Gun\nEnd\n");
  EXPECT_EQ(Bytes(*entries.Get("Art\\Textures\\hull.dds")), std::string("DDS \0\1\2", 7));

  // No copies: every entry's bytes lie inside the archive's one mapping.
  const auto mapping = FindMapping(path);
  ASSERT_TRUE(mapping);
  for (const auto& [name, bytes] : entries)
    EXPECT_TRUE(mapping->Contains(bytes.GetData(), bytes.GetSize())) << name;
}

// Large enough that the reader sorts with scratch memory of many pages,
// which goes back to the system once the map keeps the index: what the map
// shows afterwards must still be every name, in order, with its own bytes.
TEST_F(ArchiveEntriesTest, ALargeShuffledArchiveKeepsEveryNameAndItsBytes) {
  std::mt19937 random(5);
  std::vector<std::string> names;
  for (int i = 0; i < 30000; ++i)
    names.push_back("Data\\" + std::to_string(random()) + "\\entry" + std::to_string(i));
  CBigBuilder builder;
  for (const std::string& name : names) builder.Add(name, name.substr(name.size() - 4));
  CEntryMap entries;
  ASSERT_TRUE(OpenArchiveEntries(m_dir.Write("large.big", builder.Build()), entries).IsOk());
  std::sort(names.begin(), names.end());
  ASSERT_EQ(entries.size(), names.size());
  auto want = names.begin();
  for (const auto& [name, bytes] : entries) {
    ASSERT_EQ(name, *want);
    ASSERT_EQ(Bytes(bytes), want->substr(want->size() - 4));
    ++want;
  }
  // A buffer is cut once: later visits hand out the same one.
  EXPECT_EQ(&(*entries.find(names[123])).second, &entries.begin()[123].second);
}

TEST_F(ArchiveEntriesTest, EntriesAloneKeepTheArchiveOpen) {
  const std::string path =
      m_dir.Write("keep.big", CBigBuilder().Add("a", "alpha").Add("b", "beta").Build());
  const int before = CountOpenDescriptors();
  CDataBuffer survivor;
  {
    CEntryMap entries;
    ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
    EXPECT_GT(CountOpenDescriptors(), before);  // the reader is gone; the slices hold the view
    survivor = *entries.Get("b");
  }
  EXPECT_TRUE(FindMapping(path));
  EXPECT_EQ(Bytes(survivor), "beta");
  survivor.Reset();
  EXPECT_EQ(CountOpenDescriptors(), before);
  EXPECT_FALSE(FindMapping(path));
}

TEST_F(ArchiveEntriesTest, RangesAreCutAtTheEndOfTheArchive) {
  // Lay out the archive first to know its size, then point records at it.
  CBigBuilder builder;
  builder.Add("inside", "0123456789");
  const std::vector<std::pair<std::string, std::pair<uint32_t, uint32_t>>> records = {
      {"cut", {0, 0}},       // filled in below: three bytes before the end, ten long
      {"at_end", {0, 5}},    // starts at the end
      {"past_end", {0, 0}},  // one past the end, nothing asked
      {"offset_2^31", {0x80000000u, 4}},
      {"all_ones", {0xFFFFFFFFu, 0xFFFFFFFFu}},
      {"wraps_32_bits", {0xFFFFFFF0u, 0x20}},
      {"size_2^31", {16, 0x80000000u}},
      {"zero_size", {20, 0}},
  };
  for (const auto& [name, range] : records) builder.AddRecord(name, range.first, range.second);
  const uint32_t total = static_cast<uint32_t>(builder.Build().size());
  CBigBuilder laidOut;
  laidOut.Add("inside", "0123456789")
      .AddRecord("cut", total - 3, 10)
      .AddRecord("at_end", total, 5)
      .AddRecord("past_end", total + 1, 0);
  for (size_t i = 3; i < records.size(); ++i)
    laidOut.AddRecord(records[i].first, records[i].second.first, records[i].second.second);
  const std::string bytes = laidOut.Build();
  ASSERT_EQ(bytes.size(), total);
  const std::string path = m_dir.Write("ranges.big", bytes);

  CEntryMap entries;
  ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
  EXPECT_EQ(Bytes(*entries.Get("inside")), "0123456789");
  EXPECT_EQ(Bytes(*entries.Get("cut")), bytes.substr(total - 3));
  EXPECT_EQ(Bytes(*entries.Get("size_2^31")), bytes.substr(16));
  for (const char* empty :
       {"at_end", "past_end", "offset_2^31", "all_ones", "wraps_32_bits", "zero_size"}) {
    EXPECT_EQ(entries.Get(empty)->GetSize(), 0u) << empty;
    EXPECT_TRUE(entries.Get(empty)->HasData()) << empty;
  }
  const auto mapping = FindMapping(path);
  ASSERT_TRUE(mapping);
  for (const auto& [name, slice] : entries)
    EXPECT_TRUE(mapping->Contains(slice.GetData(), slice.GetSize())) << name;
}

TEST_F(ArchiveEntriesTest, RepeatedNameGivesTheLaterBytes) {
  const std::string path = m_dir.Write("dup.big", CBigBuilder()
                                                      .Add("Data\\INI\\Armor.ini", "old")
                                                      .Add("Data\\INI\\armor.ini", "lower")
                                                      .Add("Data\\INI\\Armor.ini", "new!")
                                                      .Build());
  CEntryMap entries;
  ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries.begin()->first, "Data\\INI\\Armor.ini");  // upper case first
  EXPECT_EQ(Bytes(*entries.Get("Data\\INI\\Armor.ini")), "new!");
  EXPECT_EQ(Bytes(*entries.Get("Data\\INI\\armor.ini")), "lower");
}

TEST_F(ArchiveEntriesTest, SuccessReplacesTheMapAndFailureLeavesIt) {
  CEntryMap entries;
  ASSERT_TRUE(
      OpenArchiveEntries(m_dir.Write("stale.big", CBigBuilder().Add("stale", "x").Build()), entries)
          .IsOk());
  ASSERT_TRUE(OpenArchiveEntries(m_dir.Write("empty.big", CBigBuilder().Build()), entries).IsOk());
  EXPECT_TRUE(entries.empty());

  ASSERT_TRUE(
      OpenArchiveEntries(m_dir.Write("kept.big", CBigBuilder().Add("kept", "y").Build()), entries)
          .IsOk());
  CStatus error;
  EXPECT_FALSE((error = OpenArchiveEntries(
                    m_dir.Write("bad.big", CBigBuilder().Magic("BIGX").Build()), entries))
                   .IsOk());
  EXPECT_EQ(error.GetKind(), CStatus::Kind::BadMagic);
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries.count("kept"), 1u);

  EXPECT_FALSE((error = OpenArchiveEntries(m_dir.Path() + "/nowhere.big", entries)).IsOk());
  EXPECT_EQ(error.GetKind(), CStatus::Kind::CannotOpen);
  EXPECT_EQ(error.GetWords(), MissingFileReason());
  EXPECT_FALSE((error = OpenArchiveEntries(m_dir.Path(), entries)).IsOk());  // a folder
  EXPECT_EQ(error.GetKind(), CStatus::Kind::CannotOpen);
  EXPECT_EQ(entries.count("kept"), 1u);

  ASSERT_TRUE((error = OpenArchiveEntries(
                   m_dir.Write("one.big", CBigBuilder().Add("new", "").Build()), entries))
                  .IsOk());
  EXPECT_EQ(error.GetKind(), CStatus::Kind::Ok);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries.Get("new")->GetSize(), 0u);
  EXPECT_TRUE(entries.Get("new")->HasData());
}

TEST_F(ArchiveEntriesTest, OpeningNeverWritesTheArchive) {
  const std::string bytes = CBigBuilder().Add("a", "1").Add("b", "2").Trailer("junk").Build();
  const std::string path = m_dir.Write("ro.big", bytes);
  {
    CEntryMap entries;
    ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
    CDataBuffer a = *entries.Get("a");
    a.GetWritable(1)[0] = '9';  // a private copy, never the mapping
    EXPECT_EQ(Bytes(*entries.Get("a")), "1");
  }
  EXPECT_EQ(ReadWholeFile(path), bytes);
}

// The reader sizes its arena before it fills it; a take beyond that size
// must fail as an allocation would, in release builds too, and never hand
// out memory past the block.
TEST(LargeArena, ATakePastTheReservationFailsInEveryBuild) {
  CLargeArena arena;
  arena.Reserve(64);
  EXPECT_NE(arena.Take<uint32_t>(16), nullptr);
  EXPECT_THROW(arena.Take<uint8_t>(1), std::bad_alloc);
  arena.Reserve(64);
  EXPECT_THROW(arena.Take<uint64_t>(SIZE_MAX / 4), std::bad_alloc);  // count * size wraps
}

}  // namespace
