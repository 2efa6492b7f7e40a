// POSIX implementation of the platform calls.
//
// Besides the calls themselves, this file keeps a table of the views it has
// mapped. When another program truncates a mapped file, touching a page past
// the new end raises SIGBUS; the handler below answers such a fault, and only
// such a fault, by mapping zero pages over the vanished range, so a truncated
// archive reads as zeros instead of killing the process, and remembers where
// in the view it did, so that whoever copies bytes out can tell (WasCut).
// Every other SIGBUS goes on to whatever handler was there before.
#include "storage/platform.h"
#include "storage/temp_name.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <span>

namespace platform {
namespace {

// Our own error values, beside errno's: FIFOs, devices and sockets; names
// taken by what we would not write through; a file that ended early.
constexpr int kNotRegularFile = -1000;
constexpr int kLinkInTheWay = -1001;
constexpr int kFileInTheWay = -1002;
constexpr int kUnexpectedEnd = -1003;

Error Fail(int error) { return Error(error); }

// Where temporary names start: the clock and the process, so processes
// started at the same moment draw different names.
uint64_t TempSeed() {
  return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
         (static_cast<uint64_t>(::getpid()) << 32);
}

// Descriptors 0-2 may be free when the process was started without standard
// streams; a file landing there would be mistaken for the console, and 0 is
// not a valid handle value to the layer above. Move such a descriptor up.
Result<Handle> AvoidStandardSlots(int fd) {
  if (fd > 2) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int error = errno;
  ::close(fd);
  if (moved < 0) return Fail(error);
  return moved;
}

// ---- mapped-view table for the SIGBUS guard ----

constexpr int kMaxViews = 4096;
// A slot being filled holds kClaimed as its base: no address lies in
// [kClaimed, kClaimed + length) for a real view, so the handler skips it.
constexpr uintptr_t kClaimed = 1;
struct ViewSlot {
  std::atomic<uintptr_t> base{0};
  std::atomic<uintptr_t> length{0};
  // The lowest address from which the handler put zero pages in place of
  // the file's; kNotCut while the file has not been found cut short.
  std::atomic<uintptr_t> cutFrom{0};
};
constexpr uintptr_t kNotCut = UINTPTR_MAX;
void OnBus(int signal, siginfo_t* info, void* context);

ViewSlot g_views[kMaxViews];
// Slots ever taken are all below this: the lookups, one or two per entry
// copied out, pass over a few slots rather than the whole table.
std::atomic<int> g_viewsUsed{0};
// The slots that may be in use.
std::span<ViewSlot> UsedViews() {
  return std::span(g_views, static_cast<size_t>(g_viewsUsed.load(std::memory_order_acquire)));
}
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
void PassOn(const struct sigaction& previous, int signal, siginfo_t* info, void* context,
            bool fault) {
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
  for (ViewSlot& slot : UsedViews()) {
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
    if (zero != MAP_FAILED) {
      // Remembered, so whoever copies these bytes out can tell zeros the
      // file never held from its own.
      if (from < slot.cutFrom.load(std::memory_order_relaxed))
        slot.cutFrom.store(from, std::memory_order_release);
      return;
    }
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
    // Counted in before the slot is filled, so no lookup can miss it.
    const int index = static_cast<int>(&slot - g_views) + 1;
    for (int used = g_viewsUsed.load();
         used < index && !g_viewsUsed.compare_exchange_weak(used, index);) {}
    slot.cutFrom.store(kNotCut, std::memory_order_relaxed);
    slot.length.store(size, std::memory_order_release);
    slot.base.store(reinterpret_cast<uintptr_t>(view), std::memory_order_release);
    return;
  }
  // Table full: the view works, it is only unguarded.
}

void Untrack(const void* view) {
  for (ViewSlot& slot : UsedViews()) {
    if (slot.base.load(std::memory_order_relaxed) != reinterpret_cast<uintptr_t>(view)) continue;
    // Length first: a slot with its base and no length covers nothing, and
    // only a free base lets a Track take the slot. The other order would let
    // a Track fill the slot between the two stores and then lose its length.
    slot.length.store(0, std::memory_order_release);
    slot.base.store(0, std::memory_order_release);
    return;
  }
}

}  // namespace

Result<Handle> CreateFile(const std::string& path, uint32_t access, uint32_t disposition,
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
  const Result<Handle> moved = AvoidStandardSlots(fd);
  if (!moved) return moved;
  fd = static_cast<int>(*moved);
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

Result<int64_t> GetFileSize(Handle handle) {
  struct stat info {};
  if (handle <= 0 || ::fstat(static_cast<int>(handle), &info) != 0)
    return Fail(errno ? errno : EBADF);
  return info.st_size;
}

Error ReadAt(Handle handle, int64_t offset, void* destination, uint32_t count) {
  if (handle <= 0 || offset < 0) return Fail(EINVAL);
  auto* out = static_cast<char*>(destination);
  while (count > 0) {
    const ssize_t got = ::pread(static_cast<int>(handle), out, count, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail(errno);
    if (got == 0) return Fail(kUnexpectedEnd);  // end of file before `count` bytes
    out += got;
    offset += got;
    count -= static_cast<uint32_t>(got);
  }
  return {};
}

Result<Handle> CreateFileMapping(Handle file) {
  // POSIX has no mapping object; a second descriptor stands for one, so the
  // view's lifetime rules are the same on both platforms.
  if (file <= 0) return Fail(EBADF);
  const int fd = ::fcntl(static_cast<int>(file), F_DUPFD_CLOEXEC, 3);
  if (fd < 0) return Fail(errno);
  return fd;
}

Result<const void*> MapView(Handle mapping, uint32_t size) {
  if (mapping <= 0 || size == 0) return Fail(EINVAL);
  void* view = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, static_cast<int>(mapping), 0);
  if (view == MAP_FAILED) return Fail(errno);
  Track(view, size);
  return view;
}

void UnmapView(const void* view, uint32_t size) {
  if (view == nullptr) return;
  Untrack(view);
  ::munmap(const_cast<void*>(view), size);
}

std::string Error::Text() const {
  if (m_code == kUnexpectedEnd) return "unexpected end of file";
  if (m_code == kNotRegularFile) return "not a regular file";
  if (m_code == kLinkInTheWay) return "symbolic link in the way";
  if (m_code == kFileInTheWay) return "file in the way";
  return std::strerror(static_cast<int>(m_code));
}

Error Error::OutOfMemory() { return Error(ENOMEM); }

bool Error::IsLasting() const { return m_code == ENOSPC || m_code == EDQUOT || m_code == EROFS; }

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

void ForgetMemory(void* data, size_t size) {
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto first = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
  const auto last = (reinterpret_cast<uintptr_t>(data) + size) & ~(page - 1);
  // Private anonymous pages: dropped, and zeros if ever touched again.
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

// ---- writing under a folder ----

namespace {

int Fd(Handle handle) { return static_cast<int>(handle); }

NodeKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return NodeKind::File;
  if (S_ISDIR(mode)) return NodeKind::Folder;
  if (S_ISLNK(mode)) return NodeKind::Link;
  return NodeKind::Other;
}

void Describe(const struct stat& st, NodeInfo& info) {
  info.kind = KindOf(st.st_mode);
  info.identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  info.size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
  info.mode = static_cast<uint32_t>(st.st_mode & 07777);
  info.owner = static_cast<uint32_t>(st.st_uid);
  info.group = static_cast<uint32_t>(st.st_gid);
  info.modified = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  info.changed = int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
}

// A name handed to an *at call must be one name, never a path: a '/' would
// walk further, and an empty name or a zero byte would name something else.
bool IsOneName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// After openat failed: when something other than what was asked for stands
// at the name, say what it is rather than the system's words for the flags.
Error FailInTheWay(int folder, const std::string& name, int error) {
  struct stat st {};
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) return Fail(kLinkInTheWay);
    if (error == ENOTDIR && !S_ISDIR(st.st_mode)) return Fail(kFileInTheWay);
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) return Fail(kNotRegularFile);
  }
  return Fail(error);
}

// The file, if any, to remove when the process is interrupted, one for each
// lane (thread) that writes files. Two slots a lane: a new name goes into
// the one the handler is not reading, and then one store makes it the one
// to read, so the handler never sees half a name and no signal needs
// holding off (this runs once per extracted file).
struct InterruptSlot {
  int folder;
  char name[NAME_MAX + 1];
};
InterruptSlot g_interruptSlots[kInterruptLanes][2];
std::atomic<int> g_interruptSlot[kInterruptLanes] = {-1, -1};
static_assert(std::atomic<int>::is_always_lock_free, "read in a signal handler");

void OnInterrupt(int signal) {
  const int saved = errno;
  for (int lane = 0; lane < kInterruptLanes; ++lane) {
    const int slot = g_interruptSlot[lane].load();
    if (slot >= 0)
      ::unlinkat(g_interruptSlots[lane][slot].folder, g_interruptSlots[lane][slot].name, 0);
  }
  errno = saved;
  // Then end the way the signal would have ended the process.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void InstallInterruptHandlersOnce() {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    struct sigaction current {};
    // A signal that was ignored stays ignored; one someone else handles stays theirs.
    if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  }
  // Past the file-size limit a write fails with EFBIG instead of ending the
  // process, so the temporary file is removed like on any failed write.
  struct sigaction current {};
  if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
    ::signal(SIGXFSZ, SIG_IGN);
}

void InstallInterruptHandlers() {
  static std::once_flag installed;
  std::call_once(installed, InstallInterruptHandlersOnce);
}

}  // namespace

Result<Handle> OpenFolder(const std::string& path, bool create) {
  if (path.empty() || path.find('\0') != std::string::npos) return Fail(EINVAL);
  if (create) {
    // Each missing folder on the way, from the top; an existing one is fine.
    for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
      const std::string prefix = path.substr(0, at);
      if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return Fail(errno);
      if (at == std::string::npos) break;
    }
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(errno);
  return AvoidStandardSlots(fd);
}

Result<Handle> OpenFolderAt(Handle folder, const std::string& name, bool create) {
  if (!IsOneName(name)) return Fail(EINVAL);
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(Fd(folder), name.c_str(), kFlags);
  if (fd < 0 && errno == ENOENT && create) {
    if (::mkdirat(Fd(folder), name.c_str(), 0777) != 0 && errno != EEXIST) return Fail(errno);
    fd = ::openat(Fd(folder), name.c_str(), kFlags);
  }
  if (fd < 0) return FailInTheWay(Fd(folder), name, errno);
  return AvoidStandardSlots(fd);
}

Error InspectAt(Handle folder, const std::string& name, NodeInfo& info) {
  if (!IsOneName(name)) return Fail(EINVAL);
  struct stat st {};
  if (::fstatat(Fd(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return Fail(errno);
    info = NodeInfo{};
    return {};
  }
  Describe(st, info);
  return {};
}

Error InspectFile(Handle file, NodeInfo& info) {
  struct stat st {};
  if (::fstat(Fd(file), &st) != 0) return Fail(errno);
  Describe(st, info);
  return {};
}

Error ListFolder(Handle folder, std::vector<FolderItem>& items) {
  // fdopendir takes its descriptor over; the folder handle stays the caller's.
  const int copy = ::fcntl(Fd(folder), F_DUPFD_CLOEXEC, 3);
  if (copy < 0) return Fail(errno);
  DIR* listing = ::fdopendir(copy);
  if (listing == nullptr) {
    const int error = errno;
    ::close(copy);
    return Fail(error);
  }
  ::rewinddir(listing);
  items.clear();
  Error failure;
  for (;;) {
    errno = 0;
    const dirent* item = ::readdir(listing);
    if (item == nullptr) {
      if (errno != 0) failure = Fail(errno);
      break;
    }
    const std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::fstatat(Fd(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone since it was listed
      failure = Fail(errno);
      break;
    }
    FolderItem entry{name, {}};
    Describe(st, entry.info);
    items.push_back(std::move(entry));
  }
  ::closedir(listing);
  return failure;
}

Result<Handle> OpenFileAt(Handle folder, const std::string& name, NodeInfo* info) {
  if (!IsOneName(name)) return Fail(EINVAL);
  // O_NONBLOCK: a FIFO put there since it was listed must not wait for a writer.
  const int fd =
      ::openat(Fd(folder), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return FailInTheWay(Fd(folder), name, errno);
  const Result<Handle> moved = AvoidStandardSlots(fd);
  if (!moved) return moved;
  struct stat st {};
  if (::fstat(Fd(*moved), &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(Fd(*moved));
    return Fail(kNotRegularFile);
  }
  if (info != nullptr) Describe(st, *info);
  // O_NONBLOCK stays: it changes nothing for a regular file.
  return moved;
}

Error CanReadAt(Handle folder, const std::string& name) {
  if (!IsOneName(name)) return Fail(EINVAL);
  // The effective ids, as open() would use them.
  if (::faccessat(Fd(folder), name.c_str(), R_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
    return Fail(errno);
  return {};
}

Result<Handle> CreateFileAt(Handle folder, const std::string& name) {
  if (!IsOneName(name)) return Fail(EINVAL);
  // O_EXCL fails on anything that stands there, a dangling link included,
  // so nothing planted at the name is ever written through.
  const int fd = ::openat(Fd(folder), name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return FailInTheWay(Fd(folder), name, errno);
  return AvoidStandardSlots(fd);
}

Result<Handle> CreateTempFileAt(Handle folder, const std::string& prefix, std::string& name) {
  Result<Handle> file = Fail(EEXIST);
  const bool done = DrawTempNames(prefix, TempSeed(), [&](std::string candidate) {
    file = CreateFileAt(folder, candidate);
    if (file) name = std::move(candidate);
    const int64_t error = file.GetError().Code();
    return file || (error != EEXIST && error != kLinkInTheWay && error != kFileInTheWay);
  });
  return done ? file : Fail(EEXIST);
}

namespace {

// Writes `size` bytes at `from`, which the kernel can read.
Error WriteReadable(int fd, const char* from, size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, from, size);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return Fail(errno);
    if (put == 0) return Fail(ENOSPC);
    from += put;
    size -= static_cast<size_t>(put);
  }
  return {};
}

}  // namespace

Error WriteAll(Handle file, const void* data, size_t size) {
  const auto* from = static_cast<const char*>(data);
  // Taken from the heap the first time it is needed, never from the stack:
  // a frame this large would not fit a small stack (`ulimit -s 72`), and
  // every call would pay for it whether it copies or not.
  std::unique_ptr<char[]> bounce;
  constexpr size_t kBounce = 65536;
  while (size > 0) {
    const ssize_t put = ::write(Fd(file), from, size);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno == EFAULT) {
      // The bytes are a view of a file cut short since it was mapped: the
      // kernel will not write from vanished pages, but a copy made here
      // reads them as zeros (the SIGBUS guard).
      if (!bounce) bounce.reset(new (std::nothrow) char[kBounce]);
      if (!bounce) return Fail(ENOMEM);
      const size_t step = std::min(size, kBounce);
      std::memcpy(bounce.get(), from, step);
      if (const Error error = WriteReadable(Fd(file), bounce.get(), step); error.Failed())
        return error;
      from += step;
      size -= step;
      continue;
    }
    if (put < 0) return Fail(errno);
    if (put == 0) return Fail(ENOSPC);
    from += put;
    size -= static_cast<size_t>(put);
  }
  return {};
}

Result<int64_t> CopyRange(Handle from, int64_t offset, Handle to, int64_t size) {
  int64_t copied = 0;
  bool kernelCopy = true;
  std::unique_ptr<char[]> buffer;
  constexpr size_t kChunk = size_t{1} << 20;
  while (copied < size) {
    const auto want = static_cast<size_t>(std::min<int64_t>(size - copied, int64_t{1} << 30));
    if (kernelCopy) {
      off_t at = offset + copied;
      const ssize_t got = ::copy_file_range(Fd(from), &at, Fd(to), nullptr, want, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                      errno == EBADF || errno == ETXTBSY)) {
        kernelCopy = false;  // not between these two files: copy through memory
        continue;
      }
      if (got < 0) return Fail(errno);
      if (got == 0) break;  // end of `from`
      copied += got;
      continue;
    }
    if (!buffer) buffer.reset(new char[kChunk]);
    const ssize_t got = ::pread(Fd(from), buffer.get(), std::min(want, kChunk), offset + copied);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail(errno);
    if (got == 0) break;
    if (const Error error = WriteAll(to, buffer.get(), static_cast<size_t>(got)); error.Failed())
      return error;
    copied += got;
  }
  return copied;
}

Error TakeAccessOf(Handle file, const NodeInfo& old) {
  // Owner and group first: a change of owner clears the set-id bits, and
  // the bits set after it are the old file's own. Only the superuser may
  // give a file away, and others only to a group of their own; where that
  // is refused, the file stays ours and the permission bits below still
  // keep it from anyone the old one was closed to.
  if (::fchown(Fd(file), old.owner, old.group) != 0)
    (void)::fchown(Fd(file), static_cast<uid_t>(-1), old.group);
  struct stat now {};
  if (::fstat(Fd(file), &now) != 0) return Fail(errno);
  // Set-id bits only where the owner is still the old one's: never a
  // program of someone else's running as us.
  mode_t mode = old.mode & 0777;
  if (now.st_uid == old.owner) mode |= old.mode & S_ISUID;
  if (now.st_gid == old.group) mode |= old.mode & S_ISGID;
  mode |= old.mode & S_ISVTX;
  if (::fchmod(Fd(file), mode) != 0) return Fail(errno);
  return {};
}

Result<Handle> CreateUnnamedFileAt(Handle folder) {
#ifdef O_TMPFILE
  // Kernels or file systems without such files refuse in several ways
  // (EOPNOTSUPP, EISDIR, EINVAL); every failure sends the caller back to
  // named files, which then says what is really wrong.
  const int fd = ::openat(Fd(folder), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return Fail(errno);
  return AvoidStandardSlots(fd);
#else
  (void)folder;
  return Fail(EOPNOTSUPP);
#endif
}

Error LinkUnnamedAt(Handle folder, Handle file, const std::string& name) {
  if (!IsOneName(name)) return Fail(EINVAL);
#ifdef AT_EMPTY_PATH
  // Straight from the descriptor where the process may (it takes a
  // capability); else through the descriptor's entry under /proc.
  if (::linkat(Fd(file), "", Fd(folder), name.c_str(), AT_EMPTY_PATH) == 0) return {};
  if (errno != ENOENT && errno != EPERM) return Fail(errno);
#endif
  const std::string self = "/proc/self/fd/" + std::to_string(Fd(file));
  if (::linkat(AT_FDCWD, self.c_str(), Fd(folder), name.c_str(), AT_SYMLINK_FOLLOW) != 0)
    return Fail(errno);
  return {};
}

Error LinkUnnamedAsTempAt(Handle folder, Handle file, const std::string& prefix,
                          std::string& name) {
  Error error;
  const bool done = DrawTempNames(prefix, TempSeed(), [&](std::string candidate) {
    error = LinkUnnamedAt(folder, file, candidate);
    if (!error.Failed()) name = std::move(candidate);
    return !error.Failed() || error.Code() != EEXIST;
  });
  return done ? error : Fail(EEXIST);
}

Error SyncFile(Handle file) {
  while (::fsync(Fd(file)) != 0) {
    if (errno != EINTR) return Fail(errno);
  }
  return {};
}

Error RenameAt(Handle folder, const std::string& from, const std::string& to) {
  if (!IsOneName(from) || !IsOneName(to)) return Fail(EINVAL);
  if (::renameat(Fd(folder), from.c_str(), Fd(folder), to.c_str()) != 0) return Fail(errno);
  return {};
}

Error RemoveAt(Handle folder, const std::string& name) {
  if (!IsOneName(name)) return Fail(EINVAL);
  if (::unlinkat(Fd(folder), name.c_str(), 0) != 0) return Fail(errno);
  return {};
}

void RemoveOnInterrupt(Handle folder, const std::string& name, int lane) {
  InstallInterruptHandlers();
  if (lane < 0 || lane >= kInterruptLanes) return;
  std::atomic<int>& current = g_interruptSlot[lane];
  if (folder <= 0 || !IsOneName(name) || name.size() > NAME_MAX) {
    current.store(-1);
    return;
  }
  const int next = current.load() == 0 ? 1 : 0;
  g_interruptSlots[lane][next].folder = Fd(folder);
  std::memcpy(g_interruptSlots[lane][next].name, name.c_str(), name.size() + 1);
  current.store(next);  // the slot is whole before it is named
}

void AdviseReadingAll(const void* data, size_t size) {
  if (data == nullptr || size == 0) return;
  const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const uintptr_t first = reinterpret_cast<uintptr_t>(data) & ~(page - 1);
  const uintptr_t end = reinterpret_cast<uintptr_t>(data) + size;
  void* const start = reinterpret_cast<void*>(first);
#if defined(MADV_POPULATE_READ)
  // The pages already in the cache are mapped here and now: a page fault
  // costs more than the mapping it makes, and one fault maps only a few
  // pages around it. Kernels before 5.14 refuse the advice.
  if (::madvise(start, end - first, MADV_POPULATE_READ) == 0) return;
#endif
  ::posix_madvise(start, end - first, POSIX_MADV_WILLNEED);
}

void PutThreadBehind() {
#if defined(__linux__)
  // A thread's nice value is its own here; elsewhere it is the whole
  // process's, and is left alone.
  const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
  errno = 0;
  const int now = ::getpriority(PRIO_PROCESS, thread);
  if (now == -1 && errno != 0) return;
  (void)::setpriority(PRIO_PROCESS, thread, std::min(now + 10, 19));
#endif
}

bool WasCut(const void* data, size_t size) {
  const auto begin = reinterpret_cast<uintptr_t>(data);
  if (size == 0) return false;
  for (const ViewSlot& slot : UsedViews()) {
    const uintptr_t base = slot.base.load(std::memory_order_acquire);
    const uintptr_t length = slot.length.load(std::memory_order_acquire);
    if (base <= kClaimed || begin < base || begin - base >= length) continue;
    return begin + size > slot.cutFrom.load(std::memory_order_acquire);
  }
  return false;
}

void ForgetPages(const void* data, size_t size) {
  // Only pages of a view this file mapped: on any other memory, dropping
  // pages would lose their contents.
  const auto begin = reinterpret_cast<uintptr_t>(data);
  for (const ViewSlot& slot : UsedViews()) {
    const uintptr_t base = slot.base.load(std::memory_order_acquire);
    const uintptr_t length = slot.length.load(std::memory_order_acquire);
    if (base <= kClaimed || begin < base || begin - base > length || size > length - (begin - base))
      continue;
    const auto page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t first = (begin + page - 1) & ~(page - 1);
    const uintptr_t last = (begin + size) & ~(page - 1);
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
    return;
  }
}

}  // namespace platform
