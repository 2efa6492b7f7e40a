// Save of a large archive with one entry changed, against `cp` of the same
// file, in the same run:
//
//   an archive of 1 GiB (TARN_BENCH_SAVE_MB) in 10 KiB entries is written
//   in each folder given (default: /dev/shm and the system's temporary
//   folder, which is on disk here), read once so both start from a warm
//   cache, then `cp` and a save with one 10 KiB entry changed take turns.
//   The save is the editor's: the entry map of the opened archive plus a
//   change set, written beside the archive and renamed over it.
//
// Each figure is the median of several runs (TARN_BENCH_RUNS).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/big_writer.h"
#include "archive/change_set.h"
#include "archive/entry_map.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }
double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}
int EnvInt(const char* name, int fallback) {
  const char* given = std::getenv(name);
  return given != nullptr && *given != '\0' ? std::max(1, std::atoi(given)) : fallback;
}

double RunTool(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const Clock::time_point start = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) std::exit(1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::exit(1);
  return Millis(Clock::now() - start);
}

constexpr uint32_t kEntryBytes = 10 * 1024;

// The editor's Save: open, one entry changed, written over the path.
double Save(const std::string& path, uint32_t round) {
  const Clock::time_point start = Clock::now();
  CEntryMap entries;
  if (!OpenArchiveEntries(path, entries).IsOk()) std::exit(1);
  CChangeSet changes;
  std::string bytes(kEntryBytes, static_cast<char>('a' + round % 26));
  changes.Put(entries.NameAt(entries.size() / 2), CDataBuffer(bytes.data(), kEntryBytes));
  CSaveSource source;
  source.file = CHandleHolder::Wrap(*platform::CreateFile(
      path, platform::kGenericRead, platform::kOpenExisting, platform::kFileShareRead));
  const CStatus saved = WriteChangedArchive(path, entries, changes, SaveScope::Whole, source);
  if (!saved.IsOk()) {
    std::fprintf(stderr, "save failed: %s\n", saved.GetWords().c_str());
    std::exit(1);
  }
  return Millis(Clock::now() - start);
}

void Measure(const std::string& folder, uint32_t megabytes, int runs) {
  const std::string path = folder + "/tarn-save-bench.big";
  const std::string copy = folder + "/tarn-save-bench-copy.big";
  {
    std::string pattern(kEntryBytes, '\0');
    for (uint32_t k = 0; k < kEntryBytes; ++k) pattern[k] = static_cast<char>((k * 131) ^ (k >> 7));
    const CDataBuffer bytes(pattern.data(), kEntryBytes);
    CBigWriter writer;
    const uint32_t count = megabytes * 1024 * 1024 / kEntryBytes;
    for (uint32_t k = 0; k < count; ++k) {
      char name[48];
      std::snprintf(name, sizeof name, "Data\\Folder%03u\\entry%06u.bin", k / 1000, k);
      writer.AddBytes(name, bytes);
    }
    if (const CStatus written = writer.Write(path, {}); !written.IsOk()) {
      std::fprintf(stderr, "%s: %s\n", path.c_str(), written.GetWords().c_str());
      std::exit(1);
    }
  }
  // Read once, so cp and the save both start from a warm cache.
  {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::vector<char> chunk(1 << 20);
    while (file != nullptr && std::fread(chunk.data(), 1, chunk.size(), file) == chunk.size()) {}
    if (file != nullptr) std::fclose(file);
  }
  // The save flushes the new archive to the disk before it takes the old
  // one's name; cp does not, so it is also timed with the same flush.
  std::vector<double> cp, cpSynced, save;
  for (int run = 0; run < runs; ++run) {
    cp.push_back(RunTool({"cp", path, copy}));
    cpSynced.push_back(RunTool({"sh", "-c", "cp \"$0\" \"$1\" && sync \"$1\"", path, copy}));
    save.push_back(Save(path, static_cast<uint32_t>(run)));
  }
  const double size = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
  std::printf("%s: %.0f MiB\n", folder.c_str(), size);
  std::printf("  cp                         %8.1f ms\n", Median(cp));
  std::printf("  cp, then sync of the copy  %8.1f ms\n", Median(cpSynced));
  std::printf("  save, one entry changed    %8.1f ms   (synced, renamed over)\n", Median(save));
  std::printf("  ratio to cp                %8.2fx\n", Median(save) / Median(cp));
  std::printf("  ratio to cp + sync         %8.2fx\n", Median(save) / Median(cpSynced));
  std::filesystem::remove(path);
  std::filesystem::remove(copy);
}

}  // namespace

int main(int argc, char** argv) {
  const auto megabytes = static_cast<uint32_t>(EnvInt("TARN_BENCH_SAVE_MB", 1024));
  const int runs = EnvInt("TARN_BENCH_RUNS", 5);
  std::vector<std::string> folders(argv + 1, argv + argc);
  if (folders.empty()) folders = {"/dev/shm", std::filesystem::temp_directory_path().string()};
  for (const std::string& folder : folders) Measure(folder, megabytes, runs);
  return 0;
}
