#include "tests/support/process_probe.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

int CountOpenDescriptors() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = ::readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  ::closedir(dir);
  return count - 1;  // the descriptor of the listing itself
}

std::optional<CMappedRange> FindMapping(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return std::nullopt;
  const std::string wanted = resolved;
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    // begin-end perms offset dev inode path
    std::istringstream fields(line);
    std::string range, perms, offset, device, inode;
    fields >> range >> perms >> offset >> device >> inode;
    std::string mapped;
    std::getline(fields >> std::ws, mapped);
    if (mapped != wanted) continue;
    const size_t dash = range.find('-');
    return CMappedRange{std::stoull(range.substr(0, dash), nullptr, 16),
                        std::stoull(range.substr(dash + 1), nullptr, 16)};
  }
  return std::nullopt;
}
