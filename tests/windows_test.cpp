// What only Windows has: the share mode that keeps writers away from an open
// archive, and device names that are not files. Built for Windows only.

#define TARN_INSIDE_ARCHIVE  // reaches the name rules, internal to archive/

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/entry_map.h"
#include "archive/windows_names.h"
#include "storage/code_page.h"
#include "storage/disk_file.h"
#include "storage/replacing_file.h"
#include "tests/support/big_builder.h"
#include "tests/support/buffer_view.h"
#include "tests/support/run_tarn.h"
#include "tests/support/tarn_program.h"

namespace {

// Opens `path` the way another program would, and closes it again: 0 when it
// opened, else the system's error.
DWORD TryOpen(const std::string& path, DWORD access) {
  const HANDLE handle =
      ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return ::GetLastError();
  ::CloseHandle(handle);
  return 0;
}

class WindowsTest : public ::testing::Test {
 protected:
  CTempDir m_dir;
};

// While any entry buffer lives, the archive stays open without leave to
// write: another program may read it, and cannot write it or cut it short.
TEST_F(WindowsTest, WritersAreKeptOutUntilTheLastBufferGoes) {
  const std::string path =
      m_dir.Write("held.big", CBigBuilder().Add("a", "alpha").Add("b", "beta").Build());
  CDataBuffer survivor;
  {
    CEntryMap entries;
    ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
    survivor = *entries.Get("b");
    EXPECT_EQ(TryOpen(path, GENERIC_WRITE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  // The reader and the map are gone; one slice still holds the file.
  EXPECT_EQ(TryOpen(path, GENERIC_WRITE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(TryOpen(path, GENERIC_READ), 0u);
  EXPECT_EQ(Bytes(survivor), "beta");
  survivor.Reset();
  EXPECT_EQ(TryOpen(path, GENERIC_WRITE), 0u);

  // The same for a file only read, never mapped: Close lets go of it.
  CDiskFile file;
  ASSERT_EQ(file.OpenRead(path), 0);
  EXPECT_EQ(TryOpen(path, GENERIC_WRITE), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  file.Close();
  EXPECT_EQ(TryOpen(path, GENERIC_WRITE), 0u);
}

// Save over the archive a window shows: the window holds it open and mapped
// (or, unmapped, open), and the new archive still takes its name; what the
// window holds reads the old bytes until it lets go, and no file is left
// beside it once it has.
TEST_F(WindowsTest, AnArchiveHeldOpenIsReplacedAndTheHolderReadsTheOldBytes) {
  const std::string old = CBigBuilder().Add("a", "alpha").Add("b", "beta").Build();
  const std::string path = m_dir.Write("held.big", old);
  CEntryMap entries;
  ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
  CDataBuffer held = *entries.Get("b");
  CDiskFile unmapped;
  ASSERT_EQ(unmapped.OpenRead(path), 0);

  const std::string fresh = CBigBuilder().Add("a", "ALPHA").Build();
  const CStatus saved = WriteFileReplacing(
      path, CDataBuffer(fresh.data(), static_cast<uint32_t>(fresh.size())), std::nullopt);
  ASSERT_TRUE(saved.IsOk()) << saved.Describe();
  EXPECT_EQ(ReadWholeFile(path), fresh);
  EXPECT_EQ(Bytes(held), "beta");
  std::string first(4, '\0');
  EXPECT_EQ(unmapped.Read(first.data(), 4), 0);
  EXPECT_EQ(first, "BIGF");

  // Once more over the new one, still held by the same old handles.
  const std::string third = CBigBuilder().Add("c", "gamma").Build();
  ASSERT_TRUE(WriteFileReplacing(path,
                                 CDataBuffer(third.data(), static_cast<uint32_t>(third.size())),
                                 std::nullopt)
                  .IsOk());
  EXPECT_EQ(ReadWholeFile(path), third);
  EXPECT_EQ(Bytes(held), "beta");

  entries = CEntryMap();
  held.Reset();
  unmapped.Close();
  std::vector<std::string> left;
  WIN32_FIND_DATAA found{};
  const HANDLE listing = ::FindFirstFileA((m_dir.Path() + "\\*").c_str(), &found);
  ASSERT_NE(listing, INVALID_HANDLE_VALUE);
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") left.push_back(name);
  } while (::FindNextFileA(listing, &found));
  ::FindClose(listing);
  EXPECT_EQ(left, std::vector<std::string>{"held.big"});
}

// Device names open devices, in any folder and with any extension; none of
// them, and no folder, is ever taken for an archive.
TEST_F(WindowsTest, DevicesAndFoldersAreNotRegularFiles) {
  for (const std::string& path : {std::string("CON"), std::string("NUL"), std::string("nul.big"),
                                  m_dir.Path() + "\\con", m_dir.Path()}) {
    SCOPED_TRACE(path);
    CDiskFile file;
    EXPECT_EQ(file.OpenRead(path), 1);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetOpenError(), "not a regular file");
    const CTarnResult r = RunTarnCaptured({"list", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tarn: " + path + ": not a regular file\n");
  }
  // The real program has a console of its own to trip over.
  const std::string out = m_dir.Path() + "\\out";
  const std::string err = m_dir.Path() + "\\err";
  EXPECT_EQ(RunTarnProgram({"show", "CON", "x"}, out, err), 1);
  EXPECT_EQ(ReadWholeFile(out), "");
  EXPECT_EQ(ReadWholeFile(err), "tarn: CON: not a regular file\n");
}

// A size of 2 GiB or more does not fit the reader's 32-bit sizes; the high
// word of the size is read so that 4 GiB + 16 bytes does not pass for 16.
TEST_F(WindowsTest, ArchiveOfTwoGibibytesOrMoreIsRefusedAsTooLarge) {
  for (const int64_t size : {int64_t{1} << 31, (int64_t{1} << 32) + 16}) {
    SCOPED_TRACE(size);
    const std::string path = m_dir.Path() + "\\huge.big";
    WriteSparseFile(path, "BIGF", size);
    CDiskFile file;
    ASSERT_EQ(file.OpenRead(path), 0);
    EXPECT_EQ(file.GetSize(), -1);
    EXPECT_FALSE(file.MapWhole().GetBlock());
    file.Close();
    const CTarnResult r = RunTarnCaptured({"list", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tarn: " + path + ": too large for a BIG archive (2 GiB or more)\n");
    ASSERT_TRUE(::DeleteFileA(path.c_str()));
  }
}

// Our reading of names as Windows-1252 is the system's own, byte for byte.
TEST(WindowsNamesOnWindows, Windows1252ReadingIsTheSystems) {
  std::string all;
  for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
  std::wstring system(all.size(), L'\0');
  ASSERT_EQ(::MultiByteToWideChar(1252, 0, all.data(), static_cast<int>(all.size()), system.data(),
                                  static_cast<int>(system.size())),
            static_cast<int>(all.size()));
  const std::u16string ours = Windows1252ToUtf16(all);
  for (size_t i = 0; i < all.size(); ++i)
    EXPECT_EQ(static_cast<unsigned>(ours[i]), static_cast<unsigned>(system[i])) << "byte " << i + 1;
}

// Two one-byte names share a path on Windows exactly when their case keys
// are equal: the system's case-blind comparison of names, for every pair.
TEST(WindowsNamesOnWindows, CaseKeyAgreesWithTheSystemsComparison) {
  for (int a = 1; a < 256; ++a) {
    for (int b = a + 1; b < 256; ++b) {
      if (a == '/' && b == '\\') continue;  // the two separators: the same by the key, not by case
      const std::string first(1, static_cast<char>(a));
      const std::string second(1, static_cast<char>(b));
      const std::u16string wideFirst = Windows1252ToUtf16(first);
      const std::u16string wideSecond = Windows1252ToUtf16(second);
      const bool same =
          ::CompareStringOrdinal(reinterpret_cast<const wchar_t*>(wideFirst.c_str()), 1,
                                 reinterpret_cast<const wchar_t*>(wideSecond.c_str()), 1,
                                 TRUE) == CSTR_EQUAL;
      EXPECT_EQ(WindowsCaseKey(first) == WindowsCaseKey(second), same)
          << "bytes " << a << " and " << b;
    }
  }
}

}  // namespace
