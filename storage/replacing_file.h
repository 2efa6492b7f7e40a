// Files written whole, replacing what had their name: what pack, rm, the
// extraction of entries and the editor's Save all write through.
//
// A file that is there already is replaced whole: the new bytes go to a new
// file in the same folder, which takes the old one's mode (and owner and
// group where this process may give them), is flushed to disk and renamed
// over the old one, so a reader of the old file never sees half of the new
// one and a crash leaves the old file or the whole new one. On Linux a new
// file has no name until it is complete, so a killed process leaves none
// half-written; elsewhere it is written under a temporary name, removed on
// any failure and on an interrupt. A folder, FIFO, device or socket at the
// name is never replaced, nor a file that must be protected (the archive
// being read), whatever name it has.
//
// Every failure comes back as a CStatus about the path the caller shows.
//
// Threading: a CPendingFile belongs to the thread that writes it; `lane`
// names that thread's slot for the interrupt clean-up (platform.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "storage/data_buffer.h"
#include "storage/file_stamp.h"
#include "storage/handle_owner.h"
#include "storage/platform.h"
#include "storage/status.h"

// Large enough that a write costs little per byte, small enough that the
// pages of one piece are let go before the next is read.
inline constexpr size_t kWritePiece = size_t{8} << 20;
// What every temporary name begins with, so a person who finds one left by
// a crash knows whose it is.
inline constexpr char kTempFilePrefix[] = ".tarn-";

// What stands at a name where a file is to go, in words, when it must not
// be replaced; null when it may be. A link is replaced (never written
// through) when `replaceLink`, refused when not.
const char* InTheWay(const platform::NodeInfo& there,
                     const std::optional<platform::FileIdentity>& protect, bool replaceLink);

// A file being written in a folder that takes its name only once it is
// complete, replacing whatever file had the name then. Where the system has
// unnamed files it is one until then; elsewhere it is written under a
// temporary name (the prefix and eight letters), or, when `direct` and
// nothing stands at the name, under the name itself. Destroyed before
// Commit, it leaves nothing behind. A failure keeps its status, about `shown`.
class CPendingFile {
 public:
  // `lane`: the interrupt lane of the thread that writes it.
  CPendingFile(platform::Handle folder, std::string name, std::string tempPrefix, bool direct,
               std::string shown, int lane = 0)
      : m_folder(folder),
        m_name(std::move(name)),
        m_prefix(std::move(tempPrefix)),
        m_direct(direct),
        m_lane(lane),
        m_shown(std::move(shown)) {}
  ~CPendingFile() { Discard(); }
  CPendingFile(const CPendingFile&) = delete;
  CPendingFile& operator=(const CPendingFile&) = delete;

  // `replacing`: a file stands at the name now.
  bool Open(bool replacing) { return OpenUnnamed(replacing) || OpenNamed(replacing); }
  // A file without a name, where the system has such files; false, and no
  // status, where it has not.
  bool OpenUnnamed(bool replacing = false);
  bool OpenNamed(bool replacing);
  platform::Handle Get() const { return m_file.Get(); }
  // Why Open or Commit last failed.
  const CStatus& GetStatus() const { return m_status; }

  // Puts the complete file at its name. What stands there is looked at
  // again now: the replaced file's access passes to the new one, and
  // something that must not be replaced, put there since the caller
  // looked, is left alone. The bytes are on the disk before they take the
  // place of a file (or of anything, unless `direct`).
  bool Commit(const std::optional<platform::FileIdentity>& protect, bool replaceLink);
  // A file at the name when Commit comes must be this one, as it was
  // stamped when it was read: the bytes written were made from it, and
  // whatever another program put there since is not replaced unseen.
  void Expect(const std::optional<CFileStamp>& stamp) { m_expect = stamp; }

 private:
  bool Finish();
  bool Fail(CStatus status);
  void Discard();

  platform::Handle m_folder;
  std::string m_name;
  std::string m_prefix;
  bool m_direct;
  int m_lane;
  bool m_replacing = false;
  std::string m_shown;
  CHandleOwner m_file;
  std::string m_written;  // the name it has now; empty while it has none
  CStatus m_status;
  std::optional<CFileStamp> m_expect;
};

// What WriteFileReplacing may replace.
struct CReplaceOptions {
  // A file that must never be replaced, under any name: the archive itself.
  std::optional<platform::FileIdentity> protect;
  // A symbolic link at the path is replaced by the file (never written
  // through) when set, refused when not. A folder, FIFO, device or socket
  // is always refused.
  bool replaceLink = false;
  // The file the new one is made from, when it replaces it (CPendingFile::
  // Expect).
  std::optional<CFileStamp> expect;
};
// Writes the new file's bytes, saying why it could not.
using FillFn = std::function<CStatus(platform::Handle file)>;

// Writes a file at `path`, a path the user chose, through `fill`, as a file
// beside it that takes the path only once complete and on the disk, with
// the access of the file it replaces. On failure the status says why,
// mostly in the system's words; the old file is then as it was and nothing
// is left behind.
CStatus WriteFileReplacing(const std::string& path, const FillFn& fill,
                           const CReplaceOptions& options);
// The same for `bytes`, replacing a link there; refuses to replace `protect`,
// and bytes found cut short on disk (IsCutOnDisk) while they were copied,
// or, when `changed` says so after the copy, written over by another
// program (the words are then kArchiveChangedWords's, about `path`).
CStatus WriteFileReplacing(const std::string& path, const CDataBuffer& bytes,
                           const std::optional<platform::FileIdentity>& protect,
                           const std::function<bool()>& changed = {});

// The identity of the file at `path`, links followed; nothing when it
// cannot be opened. What a writer is told to protect.
std::optional<platform::FileIdentity> IdentityOfFile(const std::string& path);

// Writes `size` bytes at `data` to the end of `file`, a large piece at a
// time, calling `onPiece` with the bytes written so far after each. Stops
// with Kind::Cancelled when it returns false, and with the system's words
// (no path) when a write fails. Pages of a mapped archive are let go once
// written, so a long copy does not grow the process.
CStatus WriteBytesTo(platform::Handle file, const uint8_t* data, size_t size,
                     const std::function<bool(uint64_t)>& onPiece);

// The folder and last part of a path the user gave: "a/b/c" gives "a/b" and
// "c", "c" gives "." and "c", "/c" gives "/" and "c". On Windows '\' works
// as '/' does and a drive may lead: "C:\x" and "C:/x" give "C:\" (or
// "C:/") and "x", "C:x" gives "C:" and "x".
void SplitUserPath(const std::string& path, std::string& folder, std::string& name);
