// list-floor ARCHIVE: the least a listing can do, as a yardstick for
// `tarn list` in bench/archive_bench.sh. Maps the archive, walks its
// records in file order and prints OFFSET<TAB>SIZE<TAB>NAME for each through
// one large buffer: no sorting, no removal of repeated names, no escaping,
// and only the checks that keep it inside the file.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

uint32_t BE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: list-floor ARCHIVE\n");
    return 2;
  }
  const int fd = ::open(argv[1], O_RDONLY);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || info.st_size < 16) return 1;
  const auto size = static_cast<size_t>(info.st_size);
  void* view = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (view == MAP_FAILED) return 1;
  const auto* bytes = static_cast<const uint8_t*>(view);
  const uint32_t count = BE32(bytes + 8);
  const size_t end = std::min<size_t>(BE32(bytes + 12), size);

  std::vector<char> buffer(size_t{1} << 20);
  size_t used = 0;
  size_t at = 16;
  for (uint32_t i = 0; i < count && at + 9 <= end; ++i) {
    const auto* name = bytes + at + 8;
    const auto* zero = static_cast<const uint8_t*>(std::memchr(name, 0, end - (at + 8)));
    if (zero == nullptr) break;
    const auto length = static_cast<size_t>(zero - name);
    if (buffer.size() - used < length + 32) {
      if (::write(1, buffer.data(), used) != static_cast<ssize_t>(used)) return 1;
      used = 0;
      if (buffer.size() < length + 32) buffer.resize(length + 32);
    }
    char* out = buffer.data() + used;
    out = std::to_chars(out, out + 10, BE32(bytes + at)).ptr;
    *out++ = '\t';
    out = std::to_chars(out, out + 10, BE32(bytes + at + 4)).ptr;
    *out++ = '\t';
    std::memcpy(out, name, length);
    out += length;
    *out++ = '\n';
    used = static_cast<size_t>(out - buffer.data());
    at += 8 + length + 1;
  }
  if (used > 0 && ::write(1, buffer.data(), used) != static_cast<ssize_t>(used)) return 1;
  return 0;
}
