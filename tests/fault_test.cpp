// Faults while an archive is open, and paths that are no archive at all.
//
// An opened archive stays mapped for as long as any entry lives, so other
// programs can change the file under us: cut it short (a read of a vanished
// page raises SIGBUS), delete it, rename it. And users point the program at
// anything: folders, FIFOs, devices, broken links, files they cannot read.
// None of it may crash, hang or leak.
//
// Everything that could block runs under a deadline, in a child process
// where a hang or a crash must not take the test runner with it.

#define TARN_INSIDE_CLI  // reaches tarn's output, internal to cli/

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "archive/big_archive.h"
#include "archive/big_writer.h"
#include "archive/entry_map.h"
#include "archive/extract.h"
#include "cli/output.h"
#include "storage/disk_file_test_helper.h"
#include "rules/rules_parser.h"
#include "rules/rules_rows.h"
#include "tests/support/big_builder.h"
#include "tests/support/buffer_view.h"
#include "tests/support/process_probe.h"
#include "tests/support/run_tarn.h"
#include "cli/tarn.h"

// Allocation failures on demand, for the out-of-memory paths: while
// g_allocationsBeforeFailure is 0 or more, it counts allocations down and the
// one that finds it at 0 throws. -1 (the default) never fails.
namespace {
long g_allocationsBeforeFailure = -1;
// Once an allocation has failed, every later one fails too while this is
// set: memory that has run out and stays out, as it does for a process.
bool g_failingStays = false;
bool g_anAllocationFailed = false;
}  // namespace

// Every form that pairs with free() is replaced, so no allocation made here
// is released by a sanitizer's own delete, or the other way round. The
// compiler cannot see that new here is malloc, hence the pragma.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(size_t size) {
  if ((g_allocationsBeforeFailure >= 0 && g_allocationsBeforeFailure-- == 0) ||
      (g_failingStays && g_anAllocationFailed)) {
    g_anAllocationFailed = true;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return ::operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept {
  return ::operator new(size, tag);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace {

constexpr unsigned kDeadlineSeconds = 20;

struct CChildResult {
  bool exited = false;
  int code = -1;
  int signal = 0;
  std::string message;  // what the child wrote to its report pipe
};

// Runs `body` in a forked child that dies by SIGALRM after `seconds`. The
// child's report is the string `body` returns; it exits 0 when that is empty.
CChildResult RunInChild(const std::function<std::string()>& body,
                        unsigned seconds = kDeadlineSeconds) {
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(report[0]);
    ::alarm(seconds);
    // An exception must not reach the test runner's copy in this child,
    // which would go on to run the other tests.
    std::string message;
    try {
      message = body();
    } catch (const std::exception& thrown) {
      message = std::string("threw ") + thrown.what();
    } catch (...) {
      message = "threw";
    }
    if (!message.empty() && ::write(report[1], message.data(), message.size()) < 0) _exit(3);
    _exit(message.empty() ? 0 : 1);
  }
  ::close(report[1]);
  CChildResult result;
  char chunk[4096];
  for (ssize_t got; (got = ::read(report[0], chunk, sizeof chunk)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    result.message.append(chunk, static_cast<size_t>(got));
  }
  ::close(report[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  result.exited = WIFEXITED(status);
  result.code = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return result;
}

std::string Describe(const CChildResult& r) {
  if (r.signal == SIGALRM) return "child overran its deadline (blocked or hung)";
  if (r.signal != 0) return "child killed by signal " + std::to_string(r.signal) + "; " + r.message;
  return "child exited " + std::to_string(r.code) + "; " + r.message;
}

struct CProgramResult {
  int status = -1;  // exit status, or -1 when killed
  int signal = 0;
  std::string out;
  std::string err;
};

std::string ReadMemoryFile(int fd) {
  std::string bytes;
  char chunk[4096];
  off_t at = 0;
  for (ssize_t got; (got = ::pread(fd, chunk, sizeof chunk, at)) > 0; at += got)
    bytes.append(chunk, static_cast<size_t>(got));
  return bytes;
}

// Runs build/bin/tarn with a deadline, output captured in memory files (no
// pipe to fill, and nothing to create on disk, so it also works after the
// caller has dropped its privileges).
// The program run is the one the build made, unless a test that drops its
// privileges has put a copy where the other user can reach it.
std::string g_tarnProgram = std::string(TARN_BIN_DIR) + "/tarn";

CProgramResult RunTarnProgram(const std::vector<std::string>& args) {
  const int out = ::memfd_create("tarn-out", MFD_CLOEXEC);
  const int err = ::memfd_create("tarn-err", MFD_CLOEXEC);
  const std::string& program = g_tarnProgram;
  std::vector<char*> argv{const_cast<char*>("tarn")};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int none = ::open("/dev/null", O_RDONLY);
    ::dup2(none, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::alarm(kDeadlineSeconds);  // survives exec
    ::execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
  CProgramResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  result.out = ReadMemoryFile(out);
  result.err = ReadMemoryFile(err);
  ::close(out);
  ::close(err);
  return result;
}

// Every entry of the archive gets bytes whose value is never 0, so a zero
// read back can only come from a vanished page.
std::string PatternedArchive(int entries, size_t entrySize, std::vector<std::string>* contents) {
  CBigBuilder builder;
  for (int e = 0; e < entries; ++e) {
    std::string bytes(entrySize, '\0');
    for (size_t i = 0; i < entrySize; ++i) bytes[i] = static_cast<char>(1 + (e * 7 + i) % 250);
    char name[32];
    std::snprintf(name, sizeof name, "Data\\INI\\part%02d.ini", e);
    builder.Add(name, bytes);
    contents->push_back(bytes);
  }
  return builder.Build();
}

// Where each entry's bytes start in the file, by name order (the builder
// lays them out in the order they were added, which is name order here).
std::vector<size_t> EntryStarts(const CEntryMap& entries) {
  std::vector<size_t> starts;
  for (const auto& [name, bytes] : entries) {
    const auto* owner = dynamic_cast<const CSliceOwner*>(bytes.GetBlock()->owner);
    starts.push_back(owner ? static_cast<size_t>(bytes.GetData() - owner->GetSource().GetData())
                           : 0);
  }
  return starts;
}

// ---------------------------------------------------------------------------
// The archive changes under an open document

TEST(OpenArchiveFaults, CutShortByAnotherProcessWhileEntriesAreReadReadsZeros) {
  const CDeadline deadline(60);
  CTempDir dir;
  std::vector<std::string> contents;
  const std::string path = dir.Write("shrinking.big", PatternedArchive(12, 40000, &contents));
  const size_t fullSize = ReadWholeFile(path).size();

  CEntryMap entries;
  ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
  ASSERT_EQ(entries.size(), contents.size());
  const std::vector<size_t> starts = EntryStarts(entries);
  const std::optional<CMappedRange> mapped = FindMapping(path);
  ASSERT_TRUE(mapped);

  // The other process cuts the file shorter and shorter, never at a page
  // boundary, while this one keeps reading every byte of every entry.
  const size_t finalSize = starts[4] + 12345;
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  const pid_t cutter = ::fork();
  if (cutter == 0) {
    char byte;
    if (::read(go[0], &byte, 1) != 1) _exit(2);
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0) _exit(3);
    for (size_t size = fullSize - 777; size > finalSize; size -= 31111) {
      if (::ftruncate(fd, static_cast<off_t>(size)) != 0) _exit(4);
      ::usleep(3000);
    }
    _exit(::ftruncate(fd, static_cast<off_t>(finalSize)) == 0 ? 0 : 5);
  }
  ASSERT_EQ(::write(go[1], "g", 1), 1);

  size_t wrongBytes = 0;
  int passes = 0;
  int status = 0;
  for (bool cutterDone = false; !cutterDone; ++passes) {
    cutterDone = ::waitpid(cutter, &status, WNOHANG) == cutter;
    size_t e = 0;
    for (const auto& [name, bytes] : entries) {
      // One read per byte: two could straddle a cut and see the original
      // byte, then zero, which is no fault of the reader.
      const volatile uint8_t* p = bytes.GetData();
      for (size_t i = 0; i < bytes.GetSize(); ++i) {
        const uint8_t byte = p[i];
        if (byte != 0 && byte != static_cast<uint8_t>(contents[e][i])) ++wrongBytes;
      }
      ++e;
    }
  }
  ::close(go[0]);
  ::close(go[1]);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the cutter failed: " << status;
  EXPECT_EQ(wrongBytes, 0u) << "bytes other than the original or zero, over " << passes
                            << " passes";

  // Now the file is finalSize long: bytes before the cut are intact, every
  // byte after it reads as zero.
  size_t e = 0;
  for (const auto& [name, bytes] : entries) {
    SCOPED_TRACE(name);
    ASSERT_EQ(bytes.GetSize(), contents[e].size());  // the slices keep their size
    size_t intact = 0, zeros = 0;
    for (size_t i = 0; i < bytes.GetSize(); ++i) {
      const bool kept = starts[e] + i < finalSize;
      if (kept && bytes.GetData()[i] == static_cast<uint8_t>(contents[e][i])) ++intact;
      if (!kept && bytes.GetData()[i] == 0) ++zeros;
    }
    const size_t keptBytes =
        std::min<size_t>(bytes.GetSize(), finalSize > starts[e] ? finalSize - starts[e] : 0);
    EXPECT_EQ(intact, keptBytes);
    EXPECT_EQ(zeros, bytes.GetSize() - keptBytes);
    ++e;
  }

  // Proof that real faults were answered: the pages past the cut are no
  // longer the file's; zero pages were mapped over them.
  const long page = ::sysconf(_SC_PAGESIZE);
  const std::optional<CMappedRange> after = FindMapping(path);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->begin, mapped->begin);
  EXPECT_EQ(after->end - after->begin, (finalSize + page - 1) / page * page);

  // Entries still parse, and the parser keeps its share of a cut entry.
  CRulesParser parser;
  parser.SetSource(std::prev(entries.end())->second);
  parser.Parse();
  entries.clear();
  EXPECT_TRUE(FindMapping(path)) << "the parser still holds an entry";
  parser.SetSource(CDataBuffer());
  EXPECT_FALSE(FindMapping(path));
}

TEST(OpenArchiveFaults, CutToNothingBeforeAnyEntryIsReadReadsAllZeros) {
  const CDeadline deadline(60);
  CTempDir dir;
  std::vector<std::string> contents;
  const std::string path = dir.Write("emptied.big", PatternedArchive(3, 9000, &contents));
  CEntryMap entries;
  ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
  ASSERT_EQ(::truncate(path.c_str(), 0), 0);
  for (const auto& [name, bytes] : entries) {
    ASSERT_EQ(bytes.GetSize(), 9000u);
    EXPECT_EQ(Bytes(bytes), std::string(9000, '\0')) << name;
  }
}

// `tarn cat` writes an entry's bytes out. The kernel does not raise SIGBUS
// when it writes from a vanished page; it fails the write with EFAULT. The
// output must copy the bytes itself, so the guard turns them into zeros.
TEST(OpenArchiveFaults, WritingOutAnEntryCutShortWritesZeros) {
  const CDeadline deadline(60);
  CTempDir dir;
  std::vector<std::string> contents;
  const std::string path = dir.Write("cat.big", PatternedArchive(1, 300000, &contents));
  CEntryMap entries;
  ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
  const CDataBuffer& entry = entries.begin()->second;
  const size_t start = EntryStarts(entries)[0];
  const size_t kept = 5000;
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(start + kept)), 0);

  std::FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  {
    COutput out(sink);
    out.Raw(Bytes(entry));
    EXPECT_TRUE(out.Flush());
  }
  std::string written(400000, '?');
  std::rewind(sink);
  written.resize(std::fread(written.data(), 1, written.size(), sink));
  std::fclose(sink);
  ASSERT_EQ(written.size(), 300000u);
  EXPECT_EQ(written.substr(0, kept), contents[0].substr(0, kept));
  EXPECT_EQ(written.substr(kept), std::string(300000 - kept, '\0'));
}

// The crash report of a child that is meant to die is noise in the log.
void QuietStandardError() {
  const int none = ::open("/dev/null", O_WRONLY);
  ::dup2(none, 2);
}

// Faults that are not in one of our views must reach the handler that was
// there before (a crash report, or the default: death). Runs in children,
// since the right outcome is a dying process.
TEST(OpenArchiveFaults, FaultsOutsideOurViewsAreNotSwallowed) {
  CTempDir dir;
  std::vector<std::string> contents;
  const std::string archive = dir.Write("guarded.big", PatternedArchive(2, 10000, &contents));
  const std::string foreign = dir.Write("foreign.bin", std::string(3 * 4096, 'f'));

  const CChildResult mapped = RunInChild([&]() -> std::string {
    QuietStandardError();
    CEntryMap entries;
    if (!OpenArchiveEntries(archive, entries).IsOk()) return "archive did not open";
    const int fd = ::open(foreign.c_str(), O_RDWR);
    void* view = ::mmap(nullptr, 3 * 4096, PROT_READ, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED || ::ftruncate(fd, 100) != 0) return "setup failed";
    const volatile uint8_t* bytes = static_cast<const uint8_t*>(view);
    if (bytes[2 * 4096 + 1] == 0) return "a foreign vanished page read as zero";
    return "a foreign vanished page did not fault";
  });
  EXPECT_FALSE(mapped.exited && mapped.code == 0) << Describe(mapped);
  EXPECT_EQ(mapped.message, "") << Describe(mapped);

  // A SIGBUS sent by kill() carries no fault address, whatever bytes happen
  // to sit where one would be.
  const CChildResult sent = RunInChild([&]() -> std::string {
    QuietStandardError();
    CEntryMap entries;
    if (!OpenArchiveEntries(archive, entries).IsOk()) return "archive did not open";
    ::raise(SIGBUS);
    return "a SIGBUS sent to the process was swallowed";
  });
  EXPECT_FALSE(sent.exited && sent.code == 0) << Describe(sent);
  EXPECT_EQ(sent.message, "") << Describe(sent);
}

// A library that installs its own SIGBUS handler after the first archive was
// opened must not take the guard away from archives opened later; it keeps
// getting the faults that are not ours.
// Where the foreign mapping lies; the later handler tells its own fault
// (exit 42) from one that should have been the guard's (exit 43).
uintptr_t g_foreignBegin = 0;
uintptr_t g_foreignEnd = 0;

void RecordForeignFault(int, siginfo_t* info, void*) {
  const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
  _exit(address >= g_foreignBegin && address < g_foreignEnd ? 42 : 43);
}

TEST(OpenArchiveFaults, GuardStaysInFrontOfAHandlerInstalledLater) {
  CTempDir dir;
  std::vector<std::string> contents;
  const std::string first = dir.Write("first.big", PatternedArchive(1, 5000, &contents));
  const std::string second = dir.Write("second.big", PatternedArchive(2, 20000, &contents));
  const std::string foreign = dir.Write("foreign.bin", std::string(3 * 4096, 'f'));

  const CChildResult r = RunInChild([&]() -> std::string {
    CEntryMap early, late;
    if (!OpenArchiveEntries(first, early).IsOk()) return "first archive did not open";
    struct sigaction theirs {};
    theirs.sa_sigaction = RecordForeignFault;
    theirs.sa_flags = SA_SIGINFO;
    sigemptyset(&theirs.sa_mask);
    ::sigaction(SIGBUS, &theirs, nullptr);
    if (!OpenArchiveEntries(second, late).IsOk()) return "second archive did not open";
    if (::truncate(second.c_str(), 16) != 0) return "truncate failed";
    for (const auto& [name, bytes] : late)
      for (size_t i = 0; i < bytes.GetSize(); ++i)
        if (bytes.GetData()[i] != 0)
          return "a vanished byte of " + std::string(name) + " is not zero";
    const int fd = ::open(foreign.c_str(), O_RDWR);
    void* view = ::mmap(nullptr, 3 * 4096, PROT_READ, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED || ::ftruncate(fd, 0) != 0) return "setup failed";
    g_foreignBegin = reinterpret_cast<uintptr_t>(view);
    g_foreignEnd = g_foreignBegin + 3 * 4096;
    (void)static_cast<const volatile uint8_t*>(view)[4096];
    return "the foreign fault never reached the later handler";
  });
  EXPECT_TRUE(r.exited && r.code == 42)
      << (r.code == 43 ? "a fault in an archive reached the later handler" : Describe(r));
}

// A handler installed later that hands the faults it does not know to the
// handler it found there (ours), as crash reporters and sanitizers do: a
// fault that is nobody's must pass through it once and end the process, not
// go round between the two until the stack runs out.
int g_forwardingEntries = 0;
struct sigaction g_foundByForwarder;

void ForwardToFoundHandler(int signal, siginfo_t* info, void* context) {
  if (++g_forwardingEntries > 10) _exit(44);
  if (g_foundByForwarder.sa_flags & SA_SIGINFO)
    g_foundByForwarder.sa_sigaction(signal, info, context);
}

TEST(OpenArchiveFaults, AHandlerThatChainsToTheGuardIsEnteredOnce) {
  CTempDir dir;
  std::vector<std::string> contents;
  const std::string first = dir.Write("first.big", PatternedArchive(1, 5000, &contents));
  const std::string second = dir.Write("second.big", PatternedArchive(1, 5000, &contents));
  const std::string foreign = dir.Write("foreign.bin", std::string(3 * 4096, 'f'));

  const CChildResult r = RunInChild([&]() -> std::string {
    QuietStandardError();
    CEntryMap early, late;
    if (!OpenArchiveEntries(first, early).IsOk()) return "first archive did not open";
    struct sigaction forwarder {};
    forwarder.sa_sigaction = ForwardToFoundHandler;
    forwarder.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&forwarder.sa_mask);
    ::sigaction(SIGBUS, &forwarder, &g_foundByForwarder);
    // The guard goes back in front of the forwarder here.
    if (!OpenArchiveEntries(second, late).IsOk()) return "second archive did not open";
    const int fd = ::open(foreign.c_str(), O_RDWR);
    void* view = ::mmap(nullptr, 3 * 4096, PROT_READ, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED || ::ftruncate(fd, 0) != 0) return "setup failed";
    (void)static_cast<const volatile uint8_t*>(view)[4096];
    return "the foreign fault was swallowed";
  });
  EXPECT_FALSE(r.exited && r.code == 44) << "the forwarder was entered more than 10 times";
  EXPECT_NE(r.signal, 0) << Describe(r);
  EXPECT_NE(r.signal, SIGSEGV) << "the handlers called each other until the stack ran out";
}

TEST(OpenArchiveFaults, DeletedRenamedOrReplacedArchiveKeepsItsEntries) {
  const CDeadline deadline(60);
  CTempDir dir;
  std::vector<std::string> contents;
  const std::string image = PatternedArchive(4, 6000, &contents);
  for (const char* how : {"deleted", "renamed", "replaced"}) {
    SCOPED_TRACE(how);
    const std::string path = dir.Write(std::string(how) + ".big", image);
    CEntryMap entries;
    ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
    if (std::string(how) == "deleted") {
      ASSERT_EQ(::unlink(path.c_str()), 0);
    } else if (std::string(how) == "renamed") {
      ASSERT_EQ(::rename(path.c_str(), (path + ".moved").c_str()), 0);
    } else {
      // Another program saves a new archive under the same name.
      const std::string fresh = dir.Write("fresh.big", CBigBuilder().Add("other", "zz").Build());
      ASSERT_EQ(::rename(fresh.c_str(), path.c_str()), 0);
    }
    size_t e = 0;
    for (const auto& [name, bytes] : entries) EXPECT_EQ(Bytes(bytes), contents[e++]) << name;
    // The document opened earlier is unchanged; a new open sees the new file.
    if (std::string(how) == "replaced") {
      CEntryMap reopened;
      ASSERT_TRUE(OpenArchiveEntries(path, reopened).IsOk());
      ASSERT_EQ(reopened.size(), 1u);
      EXPECT_EQ(Bytes(reopened.begin()->second), "zz");
    }
  }
}

// Another program cuts the archive short while its entries are copied out,
// mapped or read where they lie: the bytes it no longer holds are never
// kept as if they were its. Extraction removes the file it was writing and
// stops there; packing writes nothing and names the input.
TEST(OpenArchiveFaults, ExtractAndPackRefuseAnArchiveCutShortWhileItIsRead) {
  for (const bool mapped : {true, false}) {
    SCOPED_TRACE(mapped ? "mapped" : "read where the entries lie");
    CTempDir dir;
    std::vector<std::string> contents;
    // Entries of less than a page: the cut lands inside the page the file
    // then ends in, whose tail reads as zeros without any fault.
    const std::string path = dir.Write("cut.big", PatternedArchive(4, 1000, &contents));
    CDiskFileTestHelper::SetMappingDisabled(!mapped);
    CBigArchive reader;
    const int32_t opened = reader.Open(path);
    const std::vector<CExtractEntry> entries = EntriesToExtract(reader);
    CBigWriter writer;
    std::vector<CEntryProblem> problems;
    GatherPackInputs(dir.Path() + "/new.big", std::vector<std::string>{path}, writer, problems);
    CDiskFileTestHelper::SetMappingDisabled(false);
    ASSERT_EQ(opened, 0);
    ASSERT_TRUE(problems.empty());
    ASSERT_EQ(::truncate(path.c_str(), reader.GetIndex().EntryAt(1).offset + 100), 0);

    CExtractReport report;
    ExtractEntries(dir.Path() + "/out", entries, {}, report);
    EXPECT_TRUE(report.archiveChanged);
    EXPECT_EQ(report.written, 1u);
    EXPECT_EQ(report.left, 2u);
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_EQ(report.problems[0].name, "Data\\INI\\part01.ini");
    EXPECT_EQ(ReadWholeFile(dir.Path() + "/out/Data/INI/part00.ini"), contents[0]);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/out/Data/INI/part01.ini"));

    EXPECT_EQ(writer.Write(dir.Path() + "/new.big", nullptr).GetWords(),
              path + ": Data\\INI\\part01.ini: changed while packing");
    size_t files = 0;
    for (const auto& item : std::filesystem::directory_iterator(dir.Path()))
      files += item.is_regular_file();
    EXPECT_EQ(files, 1u) << "only the archive itself: no new one, no temporary file";
  }
}

// ---------------------------------------------------------------------------
// Every tarn command that reads an archive, cut short while it reads

// The archive the hook below cuts short, and the size it leaves: set by a
// test, read when the archive is mapped (or found unmappable), before any
// of its entries is read.
std::string g_cutPath;
off_t g_cutSize = 0;
void CutWhenMapped(const std::string& path) {
  if (path == g_cutPath && ::truncate(path.c_str(), g_cutSize) != 0) std::abort();
}

// Rules entries of a few pages each, every row of which holds "Armor".
std::string ArmorArchive() {
  CBigBuilder builder;
  for (const char* name : {"a.ini", "b.ini", "c.ini"}) {
    std::string text = std::string("Object ") + name[0] + "\n";
    for (int row = 0; row < 400; ++row) text += "  Armor = Plate" + std::to_string(row) + "\n";
    builder.Add(name, text + "End\n");
  }
  return builder.Build();
}

// The tarn commands as the program runs them, on an archive that another
// program cuts short in the middle of b.ini right after it is opened: a.ini
// is intact, b.ini and c.ini read as zeros (mapped) or cannot be read in
// full (read where they lie). No command may answer as if nothing had
// happened: each names the entry (list and check, which read only the
// index, the archive) and exits with its trouble status.
TEST(OpenArchiveFaults, EveryCommandReportsAnArchiveCutShortWhileItReads) {
  const CDeadline deadline(120);
  const std::string image = ArmorArchive();
  for (const bool mapped : {true, false}) {
    SCOPED_TRACE(mapped ? "mapped" : "read where the entries lie");
    CTempDir dir;
    const std::string path = dir.Path() + "/cut.big";
    const std::string other = dir.Write("other.big", image);
    WriteWholeFile(path, image);
    CEntryMap entries;
    ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
    g_cutPath = path;
    g_cutSize = static_cast<off_t>(entries.OffsetAt(1) + 5000);
    entries.clear();
    const std::string cut = "tarn: " + path + ": has changed on disk since it was opened\n";
    const std::string entryCut =
        "tarn: " + path + ": entry 'b.ini': the archive has changed on disk since it was opened\n";
    struct Case {
      std::vector<std::string> args;
      int status;
      std::string err;
      bool whole;  // the whole of standard error, else a part of it
    };
    const Case cases[] = {
        {{"list", path}, 1, cut, true},
        {{"check", path}, 1, cut, true},
        {{"show", path, "b.ini"}, 1, entryCut, true},
        {{"cat", path, "b.ini"}, 1, entryCut, true},
        {{"grep", "Armor", path}, 2, entryCut, true},
        // Read where they lie, c.ini cannot be read either, and is named too.
        {{"diff", other, path}, 2, entryCut, mapped},
        {{"diff", path, other}, 2, entryCut, mapped},
        {{"overrides", other, path}, 2, entryCut, mapped},
        {{"rm", path, "a.ini"}, 1, "b.ini", false},
        // Changed since it was opened, before a.ini was copied: none is trusted.
        {{"extract", path, dir.Path() + "/out"}, 1, "changed on disk since it was opened", false},
        {{"pack", dir.Path() + "/new.big", path}, 1, "b.ini", false},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.args[0] + " " + c.args[1]);
      WriteWholeFile(path, image);
      CDiskFileTestHelper::SetMappingDisabled(!mapped);
      CDiskFileTestHelper::SetAfterMapping(CutWhenMapped);
      const CTarnResult r = RunTarnCaptured(c.args);
      CDiskFileTestHelper::SetAfterMapping(nullptr);
      CDiskFileTestHelper::SetMappingDisabled(false);
      EXPECT_EQ(r.status, c.status) << r.err;
      if (c.whole) {
        EXPECT_EQ(r.err, c.err);
      } else {
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
      }
      // Zeros the archive never held are never shown as an entry's.
      if (c.args[0] == "show" || c.args[0] == "cat") {
        EXPECT_TRUE(r.out.empty())
            << r.out.size() << " bytes: " << EscapeBytes(r.out.substr(0, 200));
      }
      if (c.args[0] == "grep") {
        EXPECT_EQ(r.out.find("c.ini"), std::string::npos) << r.out.substr(0, 200);
      }
      // Nothing written: no new archive, the cut one as it was left.
      EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/new.big"));
      EXPECT_EQ(ReadWholeFile(path), image.substr(0, static_cast<size_t>(g_cutSize)));
    }
  }
  g_cutPath.clear();
}

// A stream that cuts the archive short at the first write made to it:
// `tarn cat` then finds the rest of the entry gone while it copies.
struct CCuttingSink {
  std::string path;
  off_t size;
  std::string written;
};
ssize_t WriteAndCut(void* cookie, const char* data, size_t size) {
  auto* sink = static_cast<CCuttingSink*>(cookie);
  if (sink->written.empty() && ::truncate(sink->path.c_str(), sink->size) != 0) return -1;
  sink->written.append(data, size);
  return static_cast<ssize_t>(size);
}

TEST(OpenArchiveFaults, CatWritesNoZerosWhenTheArchiveIsCutWhileItCopies) {
  const CDeadline deadline(60);
  CTempDir dir;
  std::vector<std::string> contents;
  const std::string path = dir.Write("cat.big", PatternedArchive(1, 3u << 20, &contents));
  CEntryMap entries;
  ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
  const size_t start = entries.OffsetAt(0);
  entries.clear();
  CCuttingSink sink{path, static_cast<off_t>(start + (1u << 20) + 12345), {}};
  cookie_io_functions_t calls{};
  calls.write = WriteAndCut;
  std::FILE* out = ::fopencookie(&sink, "w", calls);
  ASSERT_NE(out, nullptr);
  ::setvbuf(out, nullptr, _IONBF, 0);
  std::FILE* err = std::tmpfile();
  const int status = RunTarn({"cat", path, "Data\\INI\\part00.ini"}, out, err);
  std::fclose(out);
  std::string message(4096, '\0');
  std::rewind(err);
  message.resize(std::fread(message.data(), 1, message.size(), err));
  std::fclose(err);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(message,
            "tarn: " + path +
                ": entry 'Data\\INI\\part00.ini': the archive has changed on disk since it "
                "was opened\n");
  // What was written before the cut is the entry's; nothing after it is.
  ASSERT_LE(sink.written.size(), contents[0].size());
  EXPECT_GT(sink.written.size(), 0u);
  EXPECT_TRUE(sink.written == contents[0].substr(0, sink.written.size()))
      << "zeros written where the entry's bytes were";
}

// ---------------------------------------------------------------------------
// Memory running out in tarn

// Runs tarn in this process with allocation `failing` made to fail (and,
// with `stays`, every one after it too).
struct COutOfMemoryRun {
  int status = -1;
  std::string out, err;
  bool failed = false;  // an allocation was made to fail
};
COutOfMemoryRun RunTarnFailing(const std::vector<std::string>& args, long failing, bool stays) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  COutOfMemoryRun run;
  g_anAllocationFailed = false;
  g_failingStays = stays;
  g_allocationsBeforeFailure = failing;
  run.status = RunTarn(args, out, err);
  g_allocationsBeforeFailure = -1;
  g_failingStays = false;
  run.failed = g_anAllocationFailed;
  g_anAllocationFailed = false;
  for (auto [file, text] : {std::pair{out, &run.out}, std::pair{err, &run.err}}) {
    std::rewind(file);
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
      text->append(chunk, got);
    std::fclose(file);
  }
  return run;
}

// Whichever allocation fails, once or for good: no abort and no exception
// out of tarn; either the answer is the one given with memory enough, or
// the command says why and exits with its trouble status, 2 for grep, diff
// and overrides (for which 1 means "no match" or "differs") and 1 for the
// rest. Out of memory while grep searches one archive keeps the lines of
// the archives before it.
TEST(OutOfMemory, EveryFailedAllocationIsTroubleNeverAnAbortNorAnotherAnswer) {
  CTempDir dir;
  CBigBuilder first, second;
  for (int e = 0; e < 6; ++e) {
    const std::string name = "e" + std::to_string(e) + ".ini";
    first.Add(name, "Object T" + std::to_string(e) + "\n  Armor = Plate\n  Speed = 1\nEnd\n");
    second.Add(name, "Object T" + std::to_string(e) + "\n  Armor = Paper\n  Speed = 1\nEnd\n");
  }
  const std::string a = dir.Write("a.big", first.Build());
  const std::string b = dir.Write("b.big", second.Build());
  const std::vector<std::pair<std::vector<std::string>, int>> commands = {
      {{"grep", "Armor", a, b}, 2}, {{"diff", a, b}, 2}, {{"overrides", a, b}, 2},
      {{"show", a, "e1.ini"}, 1},   {{"list", a}, 1},
  };
  for (const auto& [args, trouble] : commands) {
    for (const bool stays : {false, true}) {
      SCOPED_TRACE(args[0] + (stays ? ", memory stays out" : ", one allocation fails"));
      const CChildResult r = RunInChild([&, &args = args, trouble = trouble]() -> std::string {
        const COutOfMemoryRun enough = RunTarnFailing(args, -1, false);
        for (long failing = 0; failing < 20000; ++failing) {
          const COutOfMemoryRun run = RunTarnFailing(args, failing, stays);
          const std::string at = "allocation " + std::to_string(failing) + ": ";
          if (!run.failed) {
            if (failing < 5)
              return "the command made only " + std::to_string(failing) + " allocations";
            return run.status == enough.status && run.out == enough.out ? ""
                                                                        : at + "another answer";
          }
          const bool same =
              run.status == enough.status && run.out == enough.out && run.err == enough.err;
          if (!same && (run.status != trouble || run.err.empty()))
            return at + "exit " + std::to_string(run.status) + ", stderr '" + run.err + "'";
          if (run.err.find("out of memory") != std::string::npos && run.status != trouble)
            return at + "out of memory with exit " + std::to_string(run.status);
          if (args[0] == "grep" && run.err.find(b + ": out of memory") != std::string::npos &&
              run.out.find(a + "\t") != 0)
            return at + "the first archive's lines were lost: '" + run.out + "'";
        }
        return "the command never got through";
      });
      EXPECT_TRUE(r.exited && r.code == 0) << Describe(r);
    }
  }
}

// An archive that cannot be mapped is read instead, each entry where it
// lies; its entries are the same bytes, for the document and for every
// tarn command that reads them, as when it is mapped.
TEST(UnmappedArchive, EntriesAreTheBytesThatWereRead) {
  CTempDir dir;
  std::vector<std::string> contents;
  const std::string path = dir.Write("unmapped.big", PatternedArchive(3, 5000, &contents));
  const std::string first = "Data\\INI\\part00.ini";
  const auto run = [&](const std::string& out) {
    std::vector<CTarnResult> results;
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"list", path},
                                               {"check", path},
                                               {"show", path, first},
                                               {"cat", path, first},
                                               {"extract", path, dir.Path() + "/" + out},
                                               {"pack", dir.Path() + "/" + out + ".big", path}})
      results.push_back(RunTarnCaptured(args));
    return results;
  };
  const std::vector<CTarnResult> mapped = run("m");
  CDiskFileTestHelper::SetMappingDisabled(true);
  CEntryMap entries;
  const bool opened = OpenArchiveEntries(path, entries).IsOk();
  const std::vector<CTarnResult> unmapped = run("u");
  CDiskFileTestHelper::SetMappingDisabled(false);
  ASSERT_TRUE(opened);
  EXPECT_FALSE(FindMapping(path));
  ASSERT_EQ(entries.size(), contents.size());
  size_t e = 0;
  for (const auto& [name, bytes] : entries) EXPECT_EQ(Bytes(bytes), contents[e++]) << name;
  for (size_t i = 0; i < mapped.size(); ++i) {
    EXPECT_EQ(unmapped[i].status, 0) << i << ": " << unmapped[i].err;
    EXPECT_EQ(unmapped[i].out, mapped[i].out) << i;
    EXPECT_EQ(unmapped[i].err, "") << i;
  }
  EXPECT_EQ(unmapped[3].out, contents[0]);
  for (size_t i = 0; i < contents.size(); ++i) {
    const std::string name = "/Data/INI/part0" + std::to_string(i) + ".ini";
    EXPECT_EQ(ReadWholeFile(dir.Path() + "/u" + name), contents[i]) << name;
  }
  EXPECT_EQ(ReadWholeFile(dir.Path() + "/u.big"), ReadWholeFile(dir.Path() + "/m.big"));
}

// tarn grep and tarn diff read an unmapped archive's entries one by one
// where they lie (their threads take mapped bytes only) and find what they
// find mapped.
TEST(UnmappedArchive, GrepAndDiffFindTheSameRows) {
  CTempDir dir;
  CBigBuilder builder;
  builder.Add("a.ini", "Object Tank\r\n  Armor = HeavyPlate\r\nEnd\r\n");
  builder.Add("b.ini", "Weapon Gun\n  Damage = 10 ; heavy\nEnd\n");
  builder.Add("c.ini", "Object Jeep\n  Armor = Light\nEnd\n");
  const std::string path = dir.Write("rules.big", builder.Build());
  const std::string other = dir.Write(
      "other.big", CBigBuilder().Add("a.ini", "Object Tank\n  Armor = Paper\nEnd\n").Build());
  const auto run = [&] {
    return std::vector<CTarnResult>{RunTarnCaptured({"grep", "-i", "heavy", path}),
                                    RunTarnCaptured({"diff", path, other})};
  };
  const std::vector<CTarnResult> mapped = run();
  CDiskFileTestHelper::SetMappingDisabled(true);
  const std::vector<CTarnResult> unmapped = run();
  CDiskFileTestHelper::SetMappingDisabled(false);
  EXPECT_EQ(mapped[0].status, 0) << mapped[0].err;
  EXPECT_EQ(mapped[0].out, "a.ini\tTank\t    Armor\tHeavyPlate\n");
  EXPECT_EQ(mapped[1].status, 1) << mapped[1].err;
  EXPECT_NE(mapped[1].out.find("Paper"), std::string::npos) << mapped[1].out;
  for (size_t i = 0; i < mapped.size(); ++i) {
    EXPECT_EQ(unmapped[i].status, mapped[i].status) << i << ": " << unmapped[i].err;
    EXPECT_EQ(unmapped[i].out, mapped[i].out) << i;
  }
}

// Whichever allocation of an open fails, what was taken before it (the
// mapping, the descriptor) is given back.
TEST(OpenCloseCycles, AFailedAllocationLeavesNoMappingAndNoDescriptor) {
  CTempDir dir;
  std::vector<std::string> contents;
  const std::string path = dir.Write("starved.big", PatternedArchive(4, 3000, &contents));
  const CChildResult r = RunInChild([&]() -> std::string {
    for (long failing = 0; failing < 10000; ++failing) {
      bool threw = false;
      g_allocationsBeforeFailure = failing;
      try {
        CEntryMap entries;
        OpenArchiveEntries(path, entries).IsOk();
      } catch (const std::bad_alloc&) {
        threw = true;
      }
      const bool allocationFailed = g_allocationsBeforeFailure < 0;
      g_allocationsBeforeFailure = -1;
      if (FindMapping(path) || CountDescriptorsOn(path) != 0)
        return "allocation " + std::to_string(failing) + " failed" + (threw ? " (thrown)" : "") +
               " and the archive stayed open";
      if (!allocationFailed) return "";
    }
    return "the open never got through";
  });
  EXPECT_TRUE(r.exited && r.code == 0) << Describe(r);
}

// Why a file could not be read is said in the system's words. A file of
// the kernel's claims a size of a page, holds a few bytes and cannot be
// mapped: the read that replaces the mapping comes up short.
TEST(UnmappedArchive, AFailedReadSaysWhy) {
  const std::string attribute = "/sys/kernel/mm/transparent_hugepage/enabled";
  if (!std::filesystem::exists(attribute)) GTEST_SKIP() << "no " << attribute;
  CDiskFile file;
  ASSERT_EQ(file.OpenRead(attribute), 0);
  CDataBuffer bytes;
  CStatus error;
  EXPECT_EQ(file.LoadWhole(bytes, &error), 1);
  EXPECT_EQ(error.Describe(), attribute + ": unexpected end of file");
  // The reason stays the file's: another file failing later changes nothing.
  CDiskFile missing;
  EXPECT_EQ(missing.OpenRead(attribute + ".missing"), 1);
  EXPECT_EQ(file.GetLastError().Describe(), attribute + ": unexpected end of file");
  const CTarnResult rules = RunTarnCaptured({"rules", attribute});
  EXPECT_EQ(rules.status, 1);
  EXPECT_EQ(rules.err, "tarn: " + attribute + ": unexpected end of file\n");
}

// ---------------------------------------------------------------------------
// Paths that are not archives: refused at once, by the open and by tarn

// What is wrong with how `path` was refused; empty when it was refused
// properly: OnOpen's caller gets false and the system's words, and every
// tarn command exits 1 with "tarn: PATH: REASON" and nothing on stdout.
std::string CheckRefused(const std::string& path, const std::string& reason) {
  std::string problems;
  CEntryMap entries;
  CStatus error;
  if ((error = OpenArchiveEntries(path, entries)).IsOk()) problems += "the open succeeded; ";
  else if (error.GetKind() != CStatus::Kind::CannotOpen || error.GetWords() != reason)
    problems += "open refused with '" + std::string(CStatus::WordsFor(error.GetKind())) + "', '" +
                error.GetWords() + "'; ";
  const std::vector<std::vector<std::string>> commands = {{"list", path},
                                                          {"check", path},
                                                          {"show", path, "x.ini"},
                                                          {"cat", path, "x.ini"},
                                                          {"rules", path}};
  for (const auto& args : commands) {
    const CProgramResult r = RunTarnProgram(args);
    const std::string expected = "tarn: " + path + ": " + reason + "\n";
    if (r.status != 1 || !r.out.empty() || r.err != expected)
      problems += "tarn " + args[0] + " gave status " + std::to_string(r.status) + " signal " +
                  std::to_string(r.signal) + ", stdout '" + r.out + "', stderr '" + r.err + "'; ";
  }
  return problems;
}

class RefusedPathTest : public ::testing::Test {
 protected:
  void ExpectRefused(const std::string& path, const std::string& reason) {
    SCOPED_TRACE(path);
    const CChildResult r = RunInChild([&] { return CheckRefused(path, reason); });
    EXPECT_TRUE(r.exited && r.code == 0) << Describe(r);
  }
  CTempDir m_dir;
};

TEST_F(RefusedPathTest, FolderIsRefused) {
  const std::string folder = m_dir.Path() + "/Data.big";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  ExpectRefused(folder, "Is a directory");
}

TEST_F(RefusedPathTest, FifoIsRefusedWithoutWaitingForAWriter) {
  const std::string fifo = m_dir.Path() + "/pipe.big";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  ExpectRefused(fifo, "not a regular file");
  // A writer that is there and sends a valid archive changes nothing.
  const std::string valid = CBigBuilder().Add("a.ini", "Object A\nEnd\n").Build();
  const pid_t writer = ::fork();
  if (writer == 0) {
    ::alarm(kDeadlineSeconds);
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    while (fd >= 0 && ::write(fd, valid.data(), valid.size()) > 0) {}
    _exit(0);
  }
  ExpectRefused(fifo, "not a regular file");
  ::kill(writer, SIGKILL);
  ::waitpid(writer, nullptr, 0);
  // A link to a FIFO is a FIFO.
  const std::string link = m_dir.Path() + "/link-to-pipe.big";
  ASSERT_EQ(::symlink(fifo.c_str(), link.c_str()), 0);
  ExpectRefused(link, "not a regular file");
}

TEST_F(RefusedPathTest, DevicesAreRefused) {
  ExpectRefused("/dev/null", "not a regular file");
  ExpectRefused("/dev/zero", "not a regular file");
}

TEST_F(RefusedPathTest, SocketIsRefused) {
  const std::string path = m_dir.Path() + "/socket.big";
  const int fd = ListenAtPath(path);
  ASSERT_GE(fd, 0);
  ExpectRefused(path, "not a regular file");
  ::close(fd);
}

TEST_F(RefusedPathTest, DanglingLinkIsRefused) {
  const std::string link = m_dir.Path() + "/gone.big";
  ASSERT_EQ(::symlink((m_dir.Path() + "/never-there.big").c_str(), link.c_str()), 0);
  ExpectRefused(link, "No such file or directory");
  // A link that points at itself.
  const std::string loop = m_dir.Path() + "/loop.big";
  ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
  ExpectRefused(loop, "Too many levels of symbolic links");
}

TEST_F(RefusedPathTest, FileWithoutReadPermissionIsRefused) {
  // Root reads every file whatever its bits, so the check runs as an
  // ordinary user: "nobody" when the suite runs as root. That user may not
  // be able to enter the build tree (a clone in a private home folder), so
  // everything it touches, tarn included, lies in a folder of the system's
  // temporary folder opened to it.
  constexpr uid_t kNobody = 65534;
  ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0755), 0);
  const std::string program = m_dir.Path() + "/tarn";
  std::filesystem::copy_file(g_tarnProgram, program);
  ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
  const std::string archive = CBigBuilder().Add("a.ini", "Object A\nEnd\n").Build();
  const std::string locked = m_dir.Write("locked.big", archive);
  const std::string open = m_dir.Write("open.big", archive);
  ASSERT_EQ(::chmod(locked.c_str(), 0200), 0);
  ASSERT_EQ(::chmod(open.c_str(), 0644), 0);
  const bool root = ::geteuid() == 0;
  const CChildResult r = RunInChild([&]() -> std::string {
    if (root && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
      return "skip";
    g_tarnProgram = program;
    // The same folder's readable archive opens: the refusal below is about
    // the file's own bits, not the way to it.
    CEntryMap entries;
    if (!OpenArchiveEntries(open, entries).IsOk()) return "the readable archive did not open";
    if (RunTarnProgram({"check", open}).status != 0)
      return "tarn check on the readable archive failed";
    return CheckRefused(locked, "Permission denied");
  });
  if (r.exited && r.code == 1 && r.message == "skip")
    GTEST_SKIP() << "cannot become uid " << kNobody;
  EXPECT_TRUE(r.exited && r.code == 0) << Describe(r);
}

// ---------------------------------------------------------------------------
// No mapping and no descriptor outlives the last buffer

TEST(OpenCloseCycles, TwoHundredCyclesLeaveNoMappingAndNoDescriptor) {
  const CDeadline deadline(60);
  CTempDir dir;
  std::vector<std::string> contents;
  const std::string path = dir.Write("cycled.big", PatternedArchive(20, 3000, &contents));
  const std::string refused =
      dir.Write("refused.big", CBigBuilder().Add("a", "b").HeaderSize(999).Build());
  const int descriptorsBefore = CountOpenDescriptors();
  ASSERT_FALSE(FindMapping(path));

  CRulesParser parser;
  for (int cycle = 0; cycle < 200; ++cycle) {
    SCOPED_TRACE(cycle);
    CDataBuffer kept;
    {
      CEntryMap entries;
      ASSERT_TRUE(OpenArchiveEntries(path, entries).IsOk());
      ASSERT_TRUE(FindMapping(path));
      ASSERT_GE(CountDescriptorsOn(path), 1);
      auto chosen = entries.begin();
      std::advance(chosen, cycle % entries.size());
      parser.SetSource(chosen->second);  // the list view's share
      parser.Parse();
      kept = chosen->second.Slice(100, 50);  // a slice of a slice
      ASSERT_FALSE(OpenArchiveEntries(refused, entries).IsOk());
    }
    // The document is gone; the parser and `kept` still hold the archive.
    ASSERT_TRUE(FindMapping(path));
    parser.SetSource(CDataBuffer());
    ASSERT_TRUE(FindMapping(path));
    ASSERT_EQ(Bytes(kept), contents[cycle % contents.size()].substr(100, 50));
    kept.Reset();
    ASSERT_FALSE(FindMapping(path));
    ASSERT_EQ(CountDescriptorsOn(path), 0);
    ASSERT_FALSE(FindMapping(refused));
    ASSERT_EQ(CountDescriptorsOn(refused), 0);
  }
  EXPECT_EQ(CountOpenDescriptors(), descriptorsBefore);
}

}  // namespace
