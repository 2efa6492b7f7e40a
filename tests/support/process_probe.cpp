#include "tests/support/process_probe.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// The names /proc gives the file at `path`: its resolved path, and the same
// with " (deleted)" once it is gone from the folder.
struct CProcNames {
  std::string live;
  std::string deleted;
  bool Match(const std::string& name) const { return name == live || name == deleted; }
};

CProcNames ProcNames(const std::string& path) {
  std::error_code ignored;
  const std::string resolved = std::filesystem::weakly_canonical(path, ignored).string();
  return {resolved, resolved + " (deleted)"};
}

// Each descriptor with what /proc/self/fd says it refers to.
template <typename Visit>
void ForEachDescriptor(Visit&& visit) {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return;
  const int own = ::dirfd(dir);
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own) continue;
    char target[PATH_MAX];
    const ssize_t length = ::readlinkat(own, entry->d_name, target, sizeof target - 1);
    visit(entry->d_name, std::string(target, length > 0 ? static_cast<size_t>(length) : 0));
  }
  ::closedir(dir);
}

// Each mapping's range and the file it maps ("" for anonymous memory).
template <typename Visit>
void ForEachMapping(Visit&& visit) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    // begin-end perms offset dev inode path
    std::istringstream fields(line);
    std::string range, perms, offset, device, inode;
    fields >> range >> perms >> offset >> device >> inode;
    std::string mapped;
    std::getline(fields >> std::ws, mapped);
    const size_t dash = range.find('-');
    const CMappedRange at{std::stoull(range.substr(0, dash), nullptr, 16),
                          std::stoull(range.substr(dash + 1), nullptr, 16)};
    if (visit(at, mapped)) return;
  }
}

}  // namespace

int CountOpenDescriptors() {
  int count = 0;
  ForEachDescriptor([&count](const char*, const std::string&) { ++count; });
  return count;
}

std::vector<std::string> ListOpenDescriptors() {
  std::vector<std::string> lines;
  ForEachDescriptor([&lines](const char* fd, const std::string& target) {
    lines.push_back(std::string(fd) + " -> " + target);
  });
  return lines;
}

std::optional<CMappedRange> FindMapping(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return std::nullopt;
  const std::string wanted = resolved;
  std::optional<CMappedRange> found;
  ForEachMapping([&](const CMappedRange& range, const std::string& mapped) {
    if (mapped == wanted) found = range;
    return found.has_value();
  });
  return found;
}

int CountDescriptorsOn(const std::string& path) {
  const CProcNames names = ProcNames(path);
  int count = 0;
  ForEachDescriptor([&](const char*, const std::string& target) { count += names.Match(target); });
  return count;
}

bool IsMapped(const std::string& path) {
  const CProcNames names = ProcNames(path);
  bool found = false;
  ForEachMapping([&](const CMappedRange&, const std::string& mapped) {
    found = names.Match(mapped);
    return found;
  });
  return found;
}

int ListenAtPath(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 1) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}
