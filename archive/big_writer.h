// Packing: a new BIG archive made from folders of files and other archives.
//
// CPackInputs gathers the entries: every regular file under a folder input,
// named by its path below that folder with '\' between the parts, and every
// entry of an archive input; a later input replaces an entry of the same
// name. It writes nothing, and it names every input that cannot be packed
// (links, FIFOs, devices, unreadable files, names that extraction would
// refuse, damaged archives, a result of 2 GiB or more).
//
// CBigWriter lays the entries out and writes the archive:
//
//   "BIGF", archive size (LE32), entry count (BE32), header size (BE32)
//   records in byte order of names: offset (BE32), size (BE32), name, 0
//   the entries' bytes in the same order, right after the index, no gaps
//
// so the same entries always give the same bytes. The archive goes to a
// temporary file beside its path, flushed to disk and renamed over the path
// only when complete; on any failure the temporary file is removed and the
// path keeps what it had. A file replaced keeps its permissions. Entry bytes go from file to file or from a mapped
// archive to the file, never held whole in memory.
//
// Threading: none.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive/extract.h"
#include "storage/data_buffer.h"
#include "storage/platform.h"

// Where a packed entry's bytes come from.
struct CPackSource {
  int root = -1;        // a file under folder input `root`, at the entry's name
  CDataBuffer bytes;    // else these bytes (a slice of a mapped archive)
  uint64_t size = 0;
  platform::FileIdentity identity;  // of the file, to see that it is still the one found
  // Set beside `bytes` when the same bytes lie in this open file at
  // `fileOffset`: the kernel can then copy them without reading them in.
  // The file must stay open until Write returns.
  platform::Handle file = platform::kInvalidHandle;
  uint64_t fileOffset = 0;
};

class CBigWriter {
 public:
  // Folder inputs that file sources refer to; the index of the new one.
  int AddRoot(const std::string& path);
  // Adds an entry, replacing one of the same name.
  void Add(std::string name, CPackSource source);
  void AddBytes(std::string name, const CDataBuffer& bytes);
  // Adds bytes that also lie in the open `file` at `offset`.
  void AddFileRange(std::string name, const CDataBuffer& bytes, platform::Handle file, uint64_t offset);

  size_t GetCount() const { return m_entries.size(); }
  // The size of the archive the entries make; may exceed what BIG can hold.
  uint64_t GetArchiveSize() const;
  const std::map<std::string, CPackSource, std::less<>>& GetEntries() const { return m_entries; }

  // Writes the archive at `path`. False with `reason` set on failure; `path`
  // is then as it was and no temporary file is left. Lets go of the bytes of
  // archive inputs once they are written, so an archive that is replaced by
  // one made from itself is no longer open when the new one takes its name
  // (Windows refuses to rename over a file that is open or mapped); the
  // writer is spent afterwards.
  bool Write(const std::string& path, const ProgressFn& progress, std::string& reason);

 private:
  bool WriteEntries(platform::Handle out, const ProgressFn& progress, std::string& reason) const;

  std::vector<std::string> m_roots;
  std::map<std::string, CPackSource, std::less<>> m_entries;
};

// The largest archive the reader opens is one byte below 2 GiB.
inline constexpr uint64_t kMostArchiveBytes = (uint64_t{1} << 31) - 1;

// Gathers the inputs of `tarn pack` for an archive to be written at
// `archive`. Problems name the culprit by path (input path and the parts
// below it joined with '/'); when there are any, nothing should be written.
void GatherPackInputs(const std::string& archive, std::span<const std::string> inputs, CBigWriter& writer,
                      std::vector<CEntryProblem>& problems);
