// Shared buffers, disk files, path names and case copies.
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "storage/data_buffer.h"
#include "storage/disk_file.h"
#include "storage/handle_owner.h"
#include "storage/path_name.h"
#include "storage/status.h"
#include "tests/support/big_builder.h"
#include "tests/support/buffer_view.h"
#include "tests/support/process_probe.h"
#include "tests/support/run_tarn.h"

namespace {

// An owner that counts its own destruction, so a test can tell exactly when
// the last borrower let go.
class CProbeOwner final : public CDataOwner {
 public:
  explicit CProbeOwner(int* destroyed) : m_destroyed(destroyed) {}
  ~CProbeOwner() override { ++*m_destroyed; }

 private:
  int* m_destroyed;
};

// ---------------------------------------------------------------------------
// CDataBuffer: construction, sharing, release

TEST(DataBuffer, EmptyHandleHasNoBlockAndSlicesToEmpty) {
  const CDataBuffer empty;
  EXPECT_EQ(empty.GetData(), nullptr);
  EXPECT_EQ(empty.GetSize(), 0u);
  EXPECT_FALSE(empty.HasData());
  const CDataBuffer slice = empty.Slice(0, 10);
  EXPECT_EQ(slice.GetBlock(), nullptr);
  EXPECT_FALSE(slice.HasData());
}

TEST(DataBuffer, ConstructionFromBytesCopiesThem) {
  char source[] = "tank";
  CDataBuffer buffer(source, 4);
  source[0] = 'X';
  EXPECT_EQ(Bytes(buffer), "tank");
  EXPECT_NE(static_cast<const void*>(buffer.GetData()), static_cast<const void*>(source));
  EXPECT_EQ(buffer.GetShareCount(), 1);
  EXPECT_EQ(buffer.GetBlock()->owner, nullptr);
}

TEST(DataBuffer, ZeroBytesStillHaveData) {
  for (const void* from : {static_cast<const void*>(nullptr), static_cast<const void*>("x")}) {
    const CDataBuffer zero(from, 0);
    EXPECT_TRUE(zero.HasData());
    EXPECT_NE(zero.GetData(), nullptr);
    EXPECT_EQ(zero.GetSize(), 0u);
    // A zero-length slice of it is still a buffer with data.
    EXPECT_TRUE(zero.Slice(0, 0).HasData());
    EXPECT_EQ(zero.Slice(0, 5).GetSize(), 0u);
  }
}

TEST(DataBuffer, BorrowedBytesLiveAsLongAsTheLastBorrower) {
  static const char kText[] = "borrowed";
  int destroyed = 0;
  auto* owner = new CProbeOwner(&destroyed);
  CDataBuffer first(kText, 8, owner);
  EXPECT_EQ(owner->m_count, 1);
  EXPECT_EQ(static_cast<const void*>(first.GetData()), static_cast<const void*>(kText));
  CDataBuffer second(kText + 2, 3, owner);
  EXPECT_EQ(owner->m_count, 2);

  CDataBuffer copy = first;
  first.Reset();
  EXPECT_EQ(destroyed, 0);
  copy.Reset();  // last handle of the first block
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(owner->m_count, 1);
  EXPECT_EQ(Bytes(second), "rro");
  second.Reset();
  EXPECT_EQ(destroyed, 1);
}

TEST(DataBuffer, CopiesAndAssignmentsKeepCountsExact) {
  CDataBuffer a("abc", 3);
  {
    CDataBuffer b = a;
    EXPECT_EQ(a.GetBlock(), b.GetBlock());
    EXPECT_EQ(a.GetShareCount(), 2);
    b = a;  // already shares that block
    EXPECT_EQ(a.GetShareCount(), 2);
  }
  EXPECT_EQ(a.GetShareCount(), 1);

  CDataBuffer& alias = a;
  a = alias;
  EXPECT_EQ(a.GetShareCount(), 1);
  EXPECT_EQ(Bytes(a), "abc");
  a = std::move(alias);
  EXPECT_EQ(a.GetShareCount(), 1);
  EXPECT_EQ(Bytes(a), "abc");

  CDataBuffer moved = std::move(a);
  EXPECT_EQ(a.GetBlock(), nullptr);  // NOLINT(bugprone-use-after-move): moved-from is empty
  EXPECT_EQ(moved.GetShareCount(), 1);

  const CDataBuffer empty;
  moved = empty;
  EXPECT_FALSE(moved.HasData());
  EXPECT_EQ(empty.GetShareCount(), 0);
}

TEST(DataBuffer, AssigningAwayTheLastShareReleasesTheOwner) {
  int destroyed = 0;
  CDataBuffer borrowed("xyz", 3, new CProbeOwner(&destroyed));
  CDataBuffer keep = borrowed;
  const CDataBuffer other("other", 5);
  borrowed = other;
  EXPECT_EQ(destroyed, 0);
  keep = CDataBuffer();
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(other.GetShareCount(), 2);
}

// ---------------------------------------------------------------------------
// GetWritable

TEST(DataBufferWritable, EmptyHandleGetsAFreshBlock) {
  CDataBuffer buffer;
  uint8_t* bytes = buffer.GetWritable(16);
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(bytes, buffer.GetData());
  EXPECT_EQ(buffer.GetSize(), 16u);
  std::memset(bytes, 0xAB, 16);  // the sanitizer build checks the extent
  EXPECT_EQ(buffer.GetShareCount(), 1);
}

TEST(DataBufferWritable, NegativeSizeGivesZeroBytes) {
  CDataBuffer buffer;
  EXPECT_NE(buffer.GetWritable(-5), nullptr);
  EXPECT_EQ(buffer.GetSize(), 0u);
  EXPECT_TRUE(buffer.HasData());
}

TEST(DataBufferWritable, PrivateBufferOfTheSameSizeIsWrittenInPlace) {
  CDataBuffer buffer("rules", 5);
  const uint8_t* before = buffer.GetData();
  uint8_t* bytes = buffer.GetWritable(5);
  EXPECT_EQ(bytes, before);
  EXPECT_EQ(Bytes(buffer), "rules");
}

TEST(DataBufferWritable, SharedBufferIsCopiedAndOtherHoldersKeepTheirBytes) {
  const CDataBuffer original("weapon", 6);
  CDataBuffer mine = original;
  uint8_t* bytes = mine.GetWritable(6);
  EXPECT_NE(bytes, original.GetData());
  EXPECT_EQ(Bytes(mine), "weapon");  // same size: contents kept
  bytes[0] = 'W';
  EXPECT_EQ(Bytes(mine), "Weapon");
  EXPECT_EQ(Bytes(original), "weapon");
  EXPECT_EQ(original.GetShareCount(), 1);
  EXPECT_EQ(mine.GetShareCount(), 1);
}

TEST(DataBufferWritable, BorrowedBytesAreCopiedBeforeTheOwnerGoes) {
  static const char kText[] = "mapped";
  int destroyed = 0;
  CDataBuffer buffer(kText, 6, new CProbeOwner(&destroyed));
  uint8_t* bytes = buffer.GetWritable(6);
  EXPECT_EQ(destroyed, 1);  // the only borrower let go
  EXPECT_NE(static_cast<const void*>(bytes), static_cast<const void*>(kText));
  EXPECT_EQ(Bytes(buffer), "mapped");
  EXPECT_EQ(buffer.GetBlock()->owner, nullptr);
}

TEST(DataBufferWritable, SliceIsCopiedAndStopsSharingItsSource) {
  const CDataBuffer source("0123456789", 10);
  CDataBuffer slice = source.Slice(3, 4);
  EXPECT_EQ(source.GetShareCount(), 2);
  uint8_t* bytes = slice.GetWritable(4);
  bytes[0] = '#';
  EXPECT_EQ(Bytes(slice), "#456");
  EXPECT_EQ(Bytes(source), "0123456789");
  EXPECT_EQ(source.GetShareCount(), 1);
}

TEST(DataBufferWritable, OtherSizeDiscardsTheOldContents) {
  const CDataBuffer original("abcd", 4);
  CDataBuffer mine = original;
  mine.GetWritable(9);
  EXPECT_EQ(mine.GetSize(), 9u);
  EXPECT_NE(mine.GetBlock(), original.GetBlock());
  EXPECT_EQ(Bytes(original), "abcd");
  EXPECT_EQ(original.GetShareCount(), 1);
}

TEST(DataBufferWritable, BlockWithoutBytesIsReplaced) {
  // What a failed mapping leaves: a block of the file's size, no data.
  int destroyed = 0;
  CDataBuffer failed(nullptr, 4, new CProbeOwner(&destroyed));
  EXPECT_FALSE(failed.HasData());
  uint8_t* bytes = failed.GetWritable(4);
  ASSERT_NE(bytes, nullptr);
  std::memcpy(bytes, "ok!!", 4);
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(Bytes(failed), "ok!!");
}

// ---------------------------------------------------------------------------
// Slice

TEST(DataBufferSlice, EveryRangeStaysInsideItsSource) {
  constexpr int32_t kSize = 64;
  std::string pattern;
  for (int i = 0; i < kSize; ++i) pattern.push_back(static_cast<char>('A' + i % 26));
  const CDataBuffer source(pattern.data(), kSize);
  const uint8_t* base = source.GetData();
  const int32_t probes[] = {INT32_MIN, INT32_MIN + 1, -65,           -64,      -1, 0, 1, 31, 63, 64,
                            65,        127,           INT32_MAX - 1, INT32_MAX};
  for (const int32_t offset : probes) {
    for (const int32_t size : probes) {
      SCOPED_TRACE("offset " + std::to_string(offset) + " size " + std::to_string(size));
      const CDataBuffer slice = source.Slice(offset, size);
      const int64_t expected =
          (offset < 0 || size < 0 || offset > kSize) ? 0 : std::min<int64_t>(size, kSize - offset);
      ASSERT_EQ(slice.GetSize(), static_cast<uint32_t>(expected));
      ASSERT_TRUE(slice.HasData());
      EXPECT_GE(slice.GetData(), base);
      EXPECT_LE(slice.GetData() + slice.GetSize(), base + kSize);
      if (expected > 0) {
        EXPECT_EQ(slice.GetData(), base + offset);
        EXPECT_EQ(Bytes(slice),
                  pattern.substr(static_cast<size_t>(offset), static_cast<size_t>(expected)));
      }
    }
  }
  EXPECT_EQ(source.GetShareCount(), 1);
}

TEST(DataBufferSlice, SliceOutlivesItsSourceAndReleasesItLast) {
  int destroyed = 0;
  static const char kText[] = "Object Tank\nEnd\n";
  CDataBuffer whole(kText, 16, new CProbeOwner(&destroyed));
  CDataBuffer slice = whole.Slice(7, 4);
  CDataBuffer inner = slice.Slice(1, 2);
  whole.Reset();
  slice.Reset();
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(Bytes(inner), "an");
  // Each level holds one share of the level above, no more.
  const auto* sliceOwner = dynamic_cast<const CSliceOwner*>(inner.GetBlock()->owner);
  ASSERT_NE(sliceOwner, nullptr);
  EXPECT_EQ(sliceOwner->GetSource().GetShareCount(), 1);
  inner.Reset();
  EXPECT_EQ(destroyed, 1);
}

TEST(DataBufferSlice, EverySliceTakesOneShareOfItsSource) {
  const CDataBuffer source("abcdef", 6);
  {
    std::vector<CDataBuffer> slices;
    for (int32_t i = 0; i < 6; ++i) slices.push_back(source.Slice(i, 1));
    EXPECT_EQ(source.GetShareCount(), 7);
    const CDataBuffer copy = slices[2];
    EXPECT_EQ(source.GetShareCount(), 7);  // copying a slice shares the slice, not the source
    EXPECT_EQ(Bytes(copy), "c");
  }
  EXPECT_EQ(source.GetShareCount(), 1);
}

TEST(DataBufferSlice, BlockWithoutBytesIsSharedNotSliced) {
  int destroyed = 0;
  auto* owner = new CProbeOwner(&destroyed);
  const CDataBuffer failed(nullptr, 100, owner);
  const CDataBuffer slice = failed.Slice(10, 20);
  EXPECT_EQ(slice.GetBlock(), failed.GetBlock());
  EXPECT_EQ(failed.GetShareCount(), 2);
  EXPECT_EQ(owner->m_count, 1);  // no slice owner in between
  EXPECT_FALSE(slice.HasData());
}

// ---------------------------------------------------------------------------
// CHandleHolder

// A caller that skips the check must stop at once, in every build, not
// read a value that was never made.
TEST(Result, MisuseStopsTheProgram) {
  const CResult<std::string> failed = CStatus::Failure("a.big", "cannot read");
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.GetStatus().Describe(), "a.big: cannot read");
  EXPECT_DEATH((void)failed->size(), "value of a failed result");
  EXPECT_DEATH((void)CResult<int>(CStatus()), "ok status");
  const CResult<std::string> made = std::string("bytes");
  ASSERT_TRUE(made);
  EXPECT_EQ(*made, "bytes");
  EXPECT_TRUE(made.GetStatus().IsOk());
}

TEST(HandleHolder, InvalidValuesGiveNoRecord) {
  EXPECT_FALSE(CHandleHolder::Wrap(0));
  EXPECT_FALSE(CHandleHolder::Wrap(platform::kInvalidHandle));
  EXPECT_EQ(CHandleHolder::Wrap(0).Get(), 0);
}

#if !defined(_WIN32)  // descriptors; windows_test.cpp has the handles' side
bool DescriptorIsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

TEST(HandleHolder, LastHolderClosesTheHandle) {
  const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GT(fd, 2);
  CHandleHolder holder = CHandleHolder::Wrap(fd);
  {
    CHandleHolder copy = holder;
    CHandleHolder assigned;
    assigned = copy;
    EXPECT_EQ(holder.GetShareCount(), 3);
    holder.Release();
    EXPECT_FALSE(holder);
    EXPECT_EQ(copy.GetShareCount(), 2);
    EXPECT_TRUE(DescriptorIsOpen(fd));
  }
  EXPECT_FALSE(DescriptorIsOpen(fd));
}

// A move hands the handle on: only its last owner closes it, and an owner
// given another handle closes the one it had.
TEST(HandleOwner, ClosesEachHandleOnceWhereverItWasMoved) {
  const int first = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int second = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GT(first, 2);
  ASSERT_GT(second, 2);
  {
    std::vector<CHandleOwner> owners;
    CHandleOwner owner(first);
    owners.push_back(std::move(owner));
    owners.emplace_back(second);
    owners.reserve(owners.capacity() + 1);  // the owners move again
    EXPECT_FALSE(owner);
    EXPECT_TRUE(DescriptorIsOpen(first));
    owners[1] = std::move(owners[0]);
    EXPECT_FALSE(DescriptorIsOpen(second));
    EXPECT_TRUE(DescriptorIsOpen(first));
    EXPECT_EQ(owners[1].Get(), first);
  }
  EXPECT_FALSE(DescriptorIsOpen(first));
  EXPECT_FALSE(CHandleOwner(platform::kInvalidHandle));
}

#endif

// ---------------------------------------------------------------------------
// CDiskFile

class DiskFileTest : public ::testing::Test {
 protected:
  CTempDir m_dir;
};

TEST_F(DiskFileTest, NewAndFailedFilesAreClosed) {
  CDiskFile file;
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.GetSize(), -1);
  char byte;
  EXPECT_EQ(file.Read(&byte, 1), 1);
  EXPECT_FALSE(file.MapWhole().GetBlock());

  EXPECT_EQ(file.OpenRead(m_dir.Path() + "/missing.big"), 1);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.GetOpenError(), MissingFileReason());
  EXPECT_EQ(file.OpenRead(""), 1);
  EXPECT_FALSE(file.IsOpen());
}

#if !defined(_WIN32)  // FIFOs and /dev; windows_test.cpp has CON, NUL and folders
TEST_F(DiskFileTest, OnlyRegularFilesOpenAndNothingBlocks) {
  const int before = CountOpenDescriptors();
  CDiskFile file;
  EXPECT_EQ(file.OpenRead(m_dir.Path()), 1);  // a folder
  const std::string fifo = m_dir.Path() + "/pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(file.OpenRead(fifo), 1);  // would wait forever for a writer if it tried
  EXPECT_EQ(file.OpenRead("/dev/null"), 1);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(CountOpenDescriptors(), before);
}

#endif

TEST_F(DiskFileTest, PathWithAZeroByteNeverOpensAShorterName) {
  const std::string path = m_dir.Write("a", "bytes");
  CDiskFile file;
  EXPECT_EQ(file.OpenRead(path + std::string("\0.big", 5)), 1);
  EXPECT_FALSE(file.IsOpen());
}

TEST_F(DiskFileTest, OpenOverAnOpenFileClosesTheOldOneFirst) {
  const std::string first = m_dir.Write("first", "11111");
  const std::string second = m_dir.Write("second", "22");
  const int before = CountOpenDescriptors();
  CDiskFile file;
  ASSERT_EQ(file.OpenRead(first), 0);
  EXPECT_EQ(CountOpenDescriptors(), before + 1);
  ASSERT_EQ(file.OpenRead(second), 0);
  EXPECT_EQ(CountOpenDescriptors(), before + 1);
  EXPECT_EQ(file.GetSize(), 2);
  char bytes[2];
  ASSERT_EQ(file.Read(bytes, 2), 0);
  EXPECT_EQ(std::string(bytes, 2), "22");

  EXPECT_EQ(file.OpenRead(m_dir.Path() + "/gone"), 1);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(CountOpenDescriptors(), before);
  file.Close();  // closing a closed file is harmless
  EXPECT_FALSE(file.IsOpen());
}

TEST_F(DiskFileTest, ReadIsExactAndNeverMovesOnFailure) {
  CDiskFile file;
  ASSERT_EQ(file.OpenRead(m_dir.Write("ten", "0123456789")), 0);
  EXPECT_EQ(file.GetSize(), 10);
  char out[16] = {};

  EXPECT_EQ(file.Read(out, 0), 0);
  EXPECT_EQ(file.GetPosition(), 0);
  ASSERT_EQ(file.Read(out, 4), 0);
  EXPECT_EQ(std::string(out, 4), "0123");
  EXPECT_EQ(file.GetPosition(), 4);

  EXPECT_EQ(file.Read(out, 7), 1);  // one byte too many
  EXPECT_EQ(file.GetPosition(), 4);
  ASSERT_EQ(file.Read(out, 6), 0);  // exactly to the end
  EXPECT_EQ(std::string(out, 6), "456789");
  EXPECT_EQ(file.GetPosition(), 10);

  EXPECT_EQ(file.Read(out, 1), 1);  // at the end
  EXPECT_EQ(file.Read(out, 0), 0);
  EXPECT_EQ(file.GetPosition(), 10);
  file.SetPosition(500);  // past the end
  EXPECT_EQ(file.Read(out, 1), 1);
  EXPECT_EQ(file.Read(out, 0), 0);
  EXPECT_EQ(file.GetPosition(), 500);

  file.SetPosition(-1);
  EXPECT_EQ(file.Read(out, 1), 1);
  file.SetPosition(2);
  EXPECT_EQ(file.Read(out, -1), 1);
  EXPECT_EQ(file.GetPosition(), 2);
}

TEST_F(DiskFileTest, FileOfTwoGigabytesOrMoreReportsNoSizeAndNoBytes) {
  // A hole: four gigabytes that cost nothing on disk.
  const std::string path = m_dir.Path() + "/huge";
  WriteSparseFile(path, "", (int64_t{1} << 32) + 16);  // the low word alone would say 16
  CDiskFile file;
  ASSERT_EQ(file.OpenRead(path), 0);
  EXPECT_EQ(file.GetSize(), -1);
  EXPECT_FALSE(file.MapWhole().GetBlock());
  // Reads near the end of the 32-bit position range stop there.
  char out[8];
  file.SetPosition(INT32_MAX - 3);
  EXPECT_EQ(file.Read(out, 8), 1);
  EXPECT_EQ(file.GetPosition(), INT32_MAX - 3);
  ASSERT_EQ(file.Read(out, 3), 0);
  EXPECT_EQ(file.GetPosition(), INT32_MAX);
}

TEST_F(DiskFileTest, EmptyFileMapsToZeroBytesWithoutAMapping) {
  const std::string path = m_dir.Write("empty", "");
  CDiskFile file;
  ASSERT_EQ(file.OpenRead(path), 0);
  const int open = CountOpenDescriptors();
  const CDataBuffer whole = file.MapWhole();
  EXPECT_TRUE(whole.HasData());
  EXPECT_NE(whole.GetData(), nullptr);
  EXPECT_EQ(whole.GetSize(), 0u);
  EXPECT_EQ(whole.GetBlock()->owner, nullptr);
  EXPECT_EQ(CountOpenDescriptors(), open);
  EXPECT_FALSE(FindMapping(path));
}

TEST_F(DiskFileTest, MappedBytesKeepTheFileOpenAfterClose) {
  std::string content(3 * 4096 + 17, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i / 4096);
  const std::string path = m_dir.Write("pages", content);
  const int before = CountOpenDescriptors();

  CDataBuffer whole;
  {
    CDiskFile file;
    ASSERT_EQ(file.OpenRead(path), 0);
    whole = file.MapWhole();
    file.Close();
    EXPECT_FALSE(file.IsOpen());
  }
  ASSERT_TRUE(whole.HasData());
  EXPECT_EQ(Bytes(whole), content);
  EXPECT_GT(CountOpenDescriptors(), before);
  const auto mapping = FindMapping(path);
  ASSERT_TRUE(mapping);
  EXPECT_TRUE(mapping->Contains(whole.GetData(), whole.GetSize()));

  // Bytes on both sides of every page edge, through slices of slices.
  EXPECT_EQ(Bytes(whole.Slice(4095, 2)), "ab");
  EXPECT_EQ(Bytes(whole.Slice(2 * 4096 - 1, 2)), "bc");
  EXPECT_EQ(Bytes(whole.Slice(3 * 4096 - 1, 2)), "cd");
  EXPECT_EQ(Bytes(whole.Slice(3 * 4096 + 15, 100)), "dd");  // cut at the end
  const CDataBuffer middle = whole.Slice(4000, 5000);
  EXPECT_EQ(Bytes(middle.Slice(95, 2)), "ab");
  CDataBuffer last = middle.Slice(4999, 10);
  EXPECT_EQ(Bytes(last), "c");

  whole.Reset();
  EXPECT_GT(CountOpenDescriptors(), before);  // `middle` and `last` hold the view
  EXPECT_EQ(Bytes(last), "c");
}

TEST_F(DiskFileTest, LastSliceReleasedClosesAndUnmapsTheFile) {
  const std::string path = m_dir.Write("archive", std::string(10000, 'x'));
  const int before = CountOpenDescriptors();
  CDataBuffer slice;
  {
    CDiskFile file;
    ASSERT_EQ(file.OpenRead(path), 0);
    slice = file.MapWhole().Slice(9000, 50);
  }
  EXPECT_TRUE(FindMapping(path));
  EXPECT_GT(CountOpenDescriptors(), before);
  EXPECT_EQ(Bytes(slice), std::string(50, 'x'));
  slice.Reset();
  EXPECT_EQ(CountOpenDescriptors(), before);
  EXPECT_FALSE(FindMapping(path));
}

#if !defined(_WIN32)  // file times through stat(), and truncation, which the share
// mode forbids on Windows (windows_test.cpp)
TEST_F(DiskFileTest, ReadingNeverChangesTheFile) {
  const std::string content = "BIGF and more bytes";
  const std::string path = m_dir.Write("readonly", content);
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  {
    CDiskFile file;
    ASSERT_EQ(file.OpenRead(path), 0);
    CDataBuffer whole = file.MapWhole();
    whole.GetWritable(static_cast<int32_t>(whole.GetSize()))[0] = 'X';  // a private copy
    char bytes[4];
    ASSERT_EQ(file.Read(bytes, 4), 0);
  }
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(ReadWholeFile(path), content);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST_F(DiskFileTest, FileTruncatedUnderTheMappingReadsAsZeros) {
  std::string content(4 * 4096, 'z');
  const std::string path = m_dir.Write("shrinking", content);
  CDiskFile file;
  ASSERT_EQ(file.OpenRead(path), 0);
  const CDataBuffer whole = file.MapWhole();
  ASSERT_TRUE(whole.HasData());
  ASSERT_EQ(::truncate(path.c_str(), 4096), 0);  // another program cuts it short
  EXPECT_EQ(whole.GetData()[100], 'z');
  EXPECT_EQ(whole.GetData()[3 * 4096 + 5], 0);
  EXPECT_EQ(whole.GetData()[4 * 4096 - 1], 0);
}

#endif

// ---------------------------------------------------------------------------
// CPathName

struct SplitCase {
  const char* path;
  const char* folder;
  const char* title;
  const char* extension;
};

TEST(PathName, SplitsAtTheLastBackslashAndTheLastDotAfterIt) {
  const SplitCase cases[] = {
      {"", "", "", ""},
      {"file", "", "file", ""},
      {"file.txt", "", "file", ".txt"},
      {"archive.mmx.big", "", "archive.mmx", ".big"},
      {".hidden", "", "", ".hidden"},
      {"file.", "", "file", "."},
      {"dir\\", "dir\\", "", ""},
      {"\\", "\\", "", ""},
      {"dir.x\\readme", "dir.x\\", "readme", ""},
      {"a.b\\c.d\\e", "a.b\\c.d\\", "e", ""},
      {"dir\\.x", "dir\\", "", ".x"},
      {"C:\\Games\\Data\\Rules.ini", "C:\\Games\\Data\\", "Rules", ".ini"},
      {"C:file.txt", "", "C:file", ".txt"},
      {"C:", "", "C:", ""},
      {"\\\\server\\share\\maps\\Alpine.MMX", "\\\\server\\share\\maps\\", "Alpine", ".MMX"},
      {"\\\\?\\C:\\long\\name.big", "\\\\?\\C:\\long\\", "name", ".big"},
      {"Data\\INI\\Object\\", "Data\\INI\\Object\\", "", ""},
      {"a/b/c.txt", "", "a/b/c", ".txt"},
      {"a/b.d/c", "", "a/b", ".d/c"},
      {"mixed/dir\\file.ini", "mixed/dir\\", "file", ".ini"},
      {"..\\up.ini", "..\\", "up", ".ini"},
      {"..", "", ".", "."},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.path);
    const CPathName name(c.path);
    EXPECT_EQ(name.GetFolder(), c.folder);
    EXPECT_EQ(name.GetTitle(), c.title);
    EXPECT_EQ(name.GetExtension(), c.extension);
    EXPECT_EQ(name.GetName(), std::string(c.title) + c.extension);
    EXPECT_EQ(name.GetFullPath(), c.path);
  }
}

TEST(PathName, KeepsEveryByteAndAnyLength) {
  const std::string folder = std::string(300, 'F') + "\\";
  const std::string title = std::string("t\0\x80\xFF", 4) + std::string(700, 'T');
  const std::string path = folder + title + ".\xE4xt";
  const CPathName name(path);
  EXPECT_EQ(name.GetFolder(), folder);
  EXPECT_EQ(name.GetTitle(), title);
  EXPECT_EQ(name.GetExtension(), ".\xE4xt");
  EXPECT_EQ(name.GetFullPath(), path);
}

TEST(PathName, SplitReturnsTheNewPartsAndSetExtensionSwapsOnlyTheExtension) {
  CPathName name;
  const CPathName copy = name.Split("maps\\Alpine.mmx");
  EXPECT_EQ(copy.GetFullPath(), "maps\\Alpine.mmx");
  name.SetExtension(".map");
  EXPECT_EQ(name.GetName(), "Alpine.map");
  EXPECT_EQ(name.GetFullPath(), "maps\\Alpine.map");
  EXPECT_EQ(copy.GetExtension(), ".mmx");  // copies are independent
  name.SetExtension("");
  EXPECT_EQ(name.GetFullPath(), "maps\\Alpine");
}

TEST(CaseCopies, OnlyAsciiLettersChange) {
  std::string every;
  for (int b = 0; b < 256; ++b) every.push_back(static_cast<char>(b));
  const std::string lower = ToLower(every);
  const std::string upper = ToUpper(every);
  ASSERT_EQ(lower.size(), 256u);
  ASSERT_EQ(upper.size(), 256u);
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const bool isUpper = b >= 'A' && b <= 'Z';
    const bool isLower = b >= 'a' && b <= 'z';
    EXPECT_EQ(static_cast<uint8_t>(lower[b]), isUpper ? b + 32 : b);
    EXPECT_EQ(static_cast<uint8_t>(upper[b]), isLower ? b - 32 : b);
  }
  EXPECT_EQ(ToUpper(""), "");
  EXPECT_EQ(ToLower("Data\\INI\\Object\\Tank.INI"), "data\\ini\\object\\tank.ini");
}

// An extraction copies from the archive's handle while a search reads the
// same handle on another thread: each copy must come from the offset it
// names, whatever the other reads do to the handle's file position.
TEST(PlatformFiles, CopyRangeReadsWhereItIsToldWhileAnotherThreadReads) {
  CTempDir dir;
  std::string bytes(size_t{6} << 20, '\0');
  for (size_t i = 0; i < bytes.size(); i += 4) {
    const auto word = static_cast<uint32_t>(i);
    std::memcpy(&bytes[i], &word, 4);
  }
  const std::string path = dir.Write("source", bytes);
  const CHandleOwner source(*platform::CreateFile(
      path, platform::kGenericRead, platform::kOpenExisting, platform::kFileShareRead));
  ASSERT_TRUE(source);
  const CHandleOwner folder(*platform::OpenFolder(dir.Path(), false));
  ASSERT_TRUE(folder);
  std::atomic<bool> copying{true};
  std::thread reader([&] {
    char small[64];
    for (int64_t at = 0; copying.load(); at = (at + 4096 * 7 + 4) % (int64_t{5} << 20))
      (void)platform::ReadAt(source.Get(), at, small, sizeof small);
  });
  bool same = true;
  for (int round = 0; round < 4 && same; ++round) {
    std::string name;
    const platform::Result<platform::Handle> made =
        platform::CreateTempFileAt(folder.Get(), "copy", name);
    CHandleOwner out(*made);
    if (!made) break;
    const int64_t offset = 4 + round * 4096;
    const int64_t size = int64_t{5} << 20;
    const platform::Result<int64_t> copied =
        platform::CopyRange(source.Get(), offset, out.Get(), size);
    out.Close();
    same = copied && *copied == size &&
           ReadWholeFile(dir.Path() + "/" + name) == bytes.substr(size_t(offset), size_t(size));
  }
  copying = false;
  reader.join();
  EXPECT_TRUE(same) << "a copy holds bytes from another offset";
}

}  // namespace
