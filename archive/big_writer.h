// Packing: a new BIG archive made from folders of files and other archives.
//
// GatherPackInputs gathers the entries: every regular file under a folder
// input, named by its path below that folder with '\' between the parts, and
// every entry of an archive input; a later input replaces an entry of the
// same name, '/' and '\' taken as one (CBigWriter::AddInput). It writes
// nothing, and it names every input that cannot be packed (links, FIFOs,
// devices, unreadable files, names that extraction would refuse or could
// not write back, two names of one input that are one entry,
// folders nested deeper than kMostPackDepth, another name for the archive
// being written, damaged archives, a result of 2 GiB or more), and an
// ARCHIVE path where something other than a regular file stands.
//
// CBigWriter lays the entries out and writes the archive:
//
//   "BIGF", archive size (LE32), entry count (BE32), header size (BE32)
//   records in byte order of names: offset (BE32), size (BE32), name, 0
//   the entries' bytes in the same order, right after the index, no gaps
//
// so the same entries always give the same bytes. The archive is written
// by WriteFileReplacing: a new file beside its path, flushed to disk and
// renamed over the path only when complete, with the access of the file it
// replaces; on any failure nothing is left and the path keeps what it had. Entry bytes go from file
// to file or from a mapped archive to the file, never held whole in memory.
//
// Threading: none.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archive/extract.h"
#include "storage/data_buffer.h"
#include "storage/file_stamp.h"
#include "storage/platform.h"

// Where a packed entry's bytes come from.
// An archive whose entries are copied into the one written: its path, for
// messages, and its file as it was read, which must still hold those bytes
// once the copy is made.
struct CPackInput {
  std::string path;
  CHeldFile file;
};

struct CPackSource {
  int root = -1;      // a file under folder input `root`, at the entry's name
  CDataBuffer bytes;  // else these bytes (a slice of a mapped archive)
  uint64_t size = 0;
  platform::FileIdentity identity;  // of the file, to see that it is still the one found
  // Where the entry's bytes lie in an open file, when they are to be copied
  // from there by the kernel: an entry of an archive input that could not
  // be mapped, or an unchanged entry of an archive saved with changes
  // (then `bytes` is empty).
  CHandleHolder file;
  uint64_t offset = 0;
  // The archive the bytes or the file are of; none for a file of a folder
  // input or bytes in memory.
  std::shared_ptr<const CPackInput> input;
};

class CBigWriter {
 public:
  // Folder inputs that file sources refer to; the index of the new one.
  int AddRoot(const std::string& path);
  // Adds an entry, replacing one of exactly the same name.
  void Add(std::string name, CPackSource source);
  // `input`: the archive the bytes are of, if any.
  void AddBytes(std::string name, const CDataBuffer& bytes,
                std::shared_ptr<const CPackInput> input = nullptr);
  // The entries added by AddInput from now on are those of the next input.
  void BeginInput() { ++m_input; }
  // Adds an entry of a pack input. One entry with it (IsSameEntry) that an
  // earlier input gave is replaced when the two names differ at most in
  // their separators ("c/y" by "c\\y"). Otherwise another spelling of an
  // entry already here is not added: two names of one input that are one
  // entry, or, where names fold letter case, two that differ in it only;
  // the status then says why (SameEntryWords), about the name.
  CStatus AddInput(std::string name, CPackSource source);
  // Adds `size` bytes that lie in the open `file` at `offset`; entries that
  // lie back to back there are copied in one piece.
  void AddFileRange(std::string name, uint64_t size, const CHandleHolder& file, uint64_t offset,
                    std::shared_ptr<const CPackInput> input = nullptr);

  size_t GetCount() const { return m_entries.size(); }
  // The size of the archive the entries make; may exceed what BIG can hold.
  uint64_t GetArchiveSize() const;
  const std::map<std::string, CPackSource, std::less<>>& GetEntries() const { return m_entries; }
  // An entry added by AddInput, with the input it came from.
  struct CInputName {
    std::string name;
    int input;
  };
  // The entries added by AddInput, by EntryKey.
  const std::map<std::string, CInputName, std::less<>>& GetPaths() const { return m_paths; }

  // Writes the archive at `path`, saying why it could not; `path` is then
  // as it was and no temporary file is left. Lets go of the bytes of
  // archive inputs once they are written, so an archive that is replaced by
  // one made from itself is no longer open when the new one takes its name
  // (Windows refuses to rename over a file that is open or mapped); the
  // writer is spent afterwards.
  CStatus Write(const std::string& path, const ProgressFn& progress);
  // The archive is made from the file it replaces, read with this stamp:
  // Write replaces only that file (CPendingFile::Expect). Without it, an
  // input that is the file at the path when Write starts counts so.
  void Replaces(const std::optional<CFileStamp>& stamp) { m_replaced = stamp; }
  // The archives the entries are copied from, each once.
  std::vector<const CPackInput*> Inputs() const;

 private:
  CStatus WriteEntries(platform::Handle out, const std::string& path,
                       const ProgressFn& progress) const;

  std::vector<std::string> m_roots;
  std::map<std::string, CPackSource, std::less<>> m_entries;
  std::optional<CFileStamp> m_replaced;
  std::map<std::string, CInputName, std::less<>> m_paths;
  int m_input = 0;
};

// How deep `tarn pack` goes below a folder input: a folder nested deeper is
// named and nothing is written. Far beyond any real tree, and it keeps the
// folders held open on the way down well inside the process's limit.
inline constexpr size_t kMostPackDepth = 256;

// The largest archive the reader opens is one byte below 2 GiB.
inline constexpr uint64_t kMostArchiveBytes = (uint64_t{1} << 31) - 1;

// Gathers the inputs of `tarn pack` for an archive to be written at
// `archive`. Problems name the culprit by path (input path and the parts
// below it joined with '/'); when there are any, nothing should be written.
void GatherPackInputs(const std::string& archive, std::span<const std::string> inputs,
                      CBigWriter& writer, std::vector<CEntryProblem>& problems);

// Gathers what `tarn rm` writes at `archive`: every entry of the archive
// there, each as it is (name, size and bytes, whatever its name), but the
// entries named in `removed`, matched byte for byte as the index holds them
// (as `tarn list` prints them, before escaping); a name given twice is
// removed once. Problems: the archive cannot be read or replaced, a name
// it lacks (with the entries that are one entry with it, IsSameEntry), and
// an entry that stays but reaches past the archive's end, which cannot be
// written as it is.
void GatherRemoval(const std::string& archive, std::span<const std::string> removed,
                   CBigWriter& writer, std::vector<CEntryProblem>& problems);

// Gathers the files under the folder `root` (open) as pack gathers a folder
// input named `path`, with no archive to keep out of it.
void GatherPackFolder(platform::Handle root, const std::string& path, CBigWriter& writer,
                      std::vector<CEntryProblem>& problems);
