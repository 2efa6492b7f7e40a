// POSIX implementation of the platform calls.
//
// Besides the calls themselves, this file keeps a table of the views it has
// mapped. When another program truncates a mapped file, touching a page past
// the new end raises SIGBUS; the handler below answers such a fault, and only
// such a fault, by mapping zero pages over the vanished range, so a truncated
// archive reads as zeros instead of killing the process. Every other SIGBUS
// goes on to whatever handler was there before.
#include "storage/platform.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace platform {
namespace {

thread_local int t_lastError = 0;
// Our own error value, beside errno's, for FIFOs, devices and sockets.
constexpr int kNotRegularFile = -1000;

int Fail(int error) {
  t_lastError = error;
  return -1;
}

// Descriptors 0-2 may be free when the process was started without standard
// streams; a file landing there would be mistaken for the console, and 0 is
// not a valid handle value to the layer above. Move such a descriptor up.
int AvoidStandardSlots(int fd) {
  if (fd > 2) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int error = errno;
  ::close(fd);
  return moved >= 0 ? moved : Fail(error);
}

// ---- mapped-view table for the SIGBUS guard ----

constexpr int kMaxViews = 4096;
// A slot being filled holds kClaimed as its base: no address lies in
// [kClaimed, kClaimed + length) for a real view, so the handler skips it.
constexpr uintptr_t kClaimed = 1;
struct ViewSlot {
  std::atomic<uintptr_t> base{0};
  std::atomic<uintptr_t> length{0};
};
void OnBus(int signal, siginfo_t* info, void* context);

ViewSlot g_views[kMaxViews];
// The handler found when the guard went in first, and the one found when it
// last went back in front (the same, unless someone installed one between).
struct sigaction g_firstPreviousBus;
struct sigaction g_previousBus;
uintptr_t g_pageSize = 4096;
// Set while this thread's OnBus hands a fault on. A handler that found our
// guard installed and passes faults to it brings the fault back here; going
// round again would never end, so the second time it goes to the handler
// that was there before the guard ever was.
thread_local bool t_passingOn = false;

bool IsGuard(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) && action.sa_sigaction == OnBus;
}

// Hands a SIGBUS that is not ours to `previous`. `fault` says whether the
// kernel raised it for an access, which repeats when the handler returns; a
// signal sent with kill() or raise() does not.
void PassOn(const struct sigaction& previous, int signal, siginfo_t* info, void* context, bool fault) {
  if (previous.sa_flags & SA_SIGINFO) {
    if (previous.sa_sigaction != nullptr && previous.sa_sigaction != OnBus) {
      previous.sa_sigaction(signal, info, context);
      return;
    }
  } else if (previous.sa_handler == SIG_IGN) {
    if (!fault) return;  // ignored before us, ignored now; a fault ends the process anyway
  } else if (previous.sa_handler != SIG_DFL) {
    previous.sa_handler(signal);
    return;
  }
  // Default action: restore it. A fault then repeats and ends the process
  // the way it would have without us; a sent signal is sent again.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(SIGBUS, IsGuard(previous) ? &fallback : &previous, nullptr);
  if (!fault) ::raise(signal);
}

void OnBus(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  // Only a fault raised by the kernel for an access has a meaningful
  // address; a SIGBUS sent with kill() or raise() is never ours to answer.
  const bool fault = info != nullptr && info->si_code > 0;
  const auto address = fault ? reinterpret_cast<uintptr_t>(info->si_addr) : 0;
  for (ViewSlot& slot : g_views) {
    if (!fault) break;
    const uintptr_t base = slot.base.load(std::memory_order_acquire);
    const uintptr_t length = slot.length.load(std::memory_order_acquire);
    if (base <= kClaimed || address < base || address - base >= length) continue;
    const uintptr_t from = address & ~(g_pageSize - 1);
    // Cover the rest of the view in one go: the file is shorter now, and every
    // later page would fault the same way.
    const uintptr_t to = (base + length + g_pageSize - 1) & ~(g_pageSize - 1);
    void* zero = ::mmap(reinterpret_cast<void*>(from), to - from, PROT_READ,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    errno = savedErrno;
    if (zero != MAP_FAILED) return;
    break;
  }
  errno = savedErrno;
  if (t_passingOn) {
    // Back from a handler that chains to us: the chain is a loop.
    PassOn(g_firstPreviousBus, signal, info, context, fault);
    return;
  }
  t_passingOn = true;
  PassOn(g_previousBus, signal, info, context, fault);
  t_passingOn = false;
}

// Puts OnBus in front of whatever SIGBUS handler is there now. Checked at
// every new view, not only the first: a runtime that installs its own
// handler later (a sanitizer, a fuzzing engine, a GUI toolkit's crash
// reporter) would otherwise silently take the guard away. The handler found
// there is kept and gets every fault that is not ours; it is never the
// guard itself, so OnBus never hands a fault to itself.
void InstallGuard() {
  struct sigaction current {};
  if (::sigaction(SIGBUS, nullptr, &current) != 0) return;
  if (IsGuard(current)) return;
  static bool installedBefore = false;
  g_pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  struct sigaction action {};
  action.sa_sigaction = OnBus;
  // SA_ONSTACK: answer on the alternate stack when one is set up, so a fault
  // near the end of a thread's stack is still handled.
  action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  if (!installedBefore) g_firstPreviousBus = current;
  installedBefore = true;
  g_previousBus = current;
  ::sigaction(SIGBUS, &action, nullptr);
}

void Track(const void* view, uint32_t size) {
  InstallGuard();
  for (ViewSlot& slot : g_views) {
    uintptr_t empty = 0;
    if (slot.base.load(std::memory_order_relaxed) != 0) continue;
    if (!slot.base.compare_exchange_strong(empty, kClaimed)) continue;
    slot.length.store(size, std::memory_order_release);
    slot.base.store(reinterpret_cast<uintptr_t>(view), std::memory_order_release);
    return;
  }
  // Table full: the view works, it is only unguarded.
}

void Untrack(const void* view) {
  for (ViewSlot& slot : g_views) {
    if (slot.base.load(std::memory_order_relaxed) != reinterpret_cast<uintptr_t>(view)) continue;
    slot.base.store(0, std::memory_order_release);
    slot.length.store(0, std::memory_order_release);
    return;
  }
}

}  // namespace

Handle CreateFile(const std::string& path, uint32_t access, uint32_t disposition,
                  uint32_t /*share: other readers are always allowed here*/) {
  if (access != kGenericRead || disposition != kOpenExisting) return Fail(EINVAL);
  // open() would stop at a zero byte and open a different, shorter name.
  if (path.find('\0') != std::string::npos) return Fail(EINVAL);
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    // A socket cannot be opened at all, and "No such device or address"
    // would puzzle someone looking at an existing name: say what it is.
    struct stat info {};
    if (error == ENXIO && ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
      return Fail(kNotRegularFile);
    return Fail(error);
  }
  fd = AvoidStandardSlots(fd);
  if (fd < 0) return kInvalidHandle;
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    return Fail(error);
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return Fail(S_ISDIR(info.st_mode) ? EISDIR : kNotRegularFile);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

void CloseHandle(Handle handle) {
  if (handle > 0) ::close(static_cast<int>(handle));
}

int64_t GetFileSize(Handle handle) {
  struct stat info {};
  if (handle <= 0 || ::fstat(static_cast<int>(handle), &info) != 0) return Fail(errno ? errno : EBADF);
  return info.st_size;
}

bool ReadAt(Handle handle, int64_t offset, void* destination, uint32_t count) {
  if (handle <= 0 || offset < 0) return Fail(EINVAL), false;
  auto* out = static_cast<char*>(destination);
  while (count > 0) {
    const ssize_t got = ::pread(static_cast<int>(handle), out, count, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail(errno), false;
    if (got == 0) return Fail(0), false;  // end of file before `count` bytes
    out += got;
    offset += got;
    count -= static_cast<uint32_t>(got);
  }
  return true;
}

Handle CreateFileMapping(Handle file) {
  // POSIX has no mapping object; a second descriptor stands for one, so the
  // view's lifetime rules are the same on both platforms.
  if (file <= 0) return Fail(EBADF);
  const int fd = ::fcntl(static_cast<int>(file), F_DUPFD_CLOEXEC, 3);
  return fd >= 0 ? fd : Fail(errno);
}

const void* MapView(Handle mapping, uint32_t size) {
  if (mapping <= 0 || size == 0) return nullptr;
  void* view = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, static_cast<int>(mapping), 0);
  if (view == MAP_FAILED) return Fail(errno), nullptr;
  Track(view, size);
  return view;
}

void UnmapView(const void* view, uint32_t size) {
  if (view == nullptr) return;
  Untrack(view);
  ::munmap(const_cast<void*>(view), size);
}

std::string LastErrorText() {
  if (t_lastError == 0) return "unexpected end of file";
  if (t_lastError == kNotRegularFile) return "not a regular file";
  return std::strerror(t_lastError);
}

void AdviseLargePages(void* data, size_t size) {
#if defined(MADV_HUGEPAGE)
  // Only whole pages can be advised; the partial pages at either end keep
  // the default.
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto first = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
  const auto last = (reinterpret_cast<uintptr_t>(data) + size) & ~(page - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

}  // namespace platform
