// Files on disk: open for reading, size, read at a position, and a read-only
// mapping of the whole file handed out as a CDataBuffer.
//
// Handles are shared through CSharedHandle records so that a mapped view keeps
// its file open after the CDiskFile that made it has closed: the file stays
// open until the last buffer borrowing from the view is released.
//
// Threading: none; counts are plain integers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "storage/data_buffer.h"
#include "storage/platform.h"
#include "storage/status.h"

struct CSharedHandle {
  platform::Handle handle;
  int32_t count;
};

// A pointer-sized holder of one share of a CSharedHandle; null when empty.
class CHandleHolder {
 public:
  CHandleHolder() = default;
  // Takes ownership of a fresh handle; 0 and the invalid value give an empty holder.
  static CHandleHolder Wrap(platform::Handle handle);
  // Opens the file at `path` to read, others free to read it too; why
  // not, with the path, when it cannot.
  static CResult<CHandleHolder> OpenRead(const std::string& path);
  CHandleHolder(const CHandleHolder& other) noexcept;
  CHandleHolder& operator=(const CHandleHolder& other) noexcept;
  ~CHandleHolder() { Release(); }

  void Release() noexcept;
  explicit operator bool() const { return m_record != nullptr; }
  platform::Handle Get() const { return m_record ? m_record->handle : 0; }
  int32_t GetShareCount() const { return m_record ? m_record->count : 0; }
  // Reads `count` bytes at `offset` of the file into `into`, all or none:
  // the system's words (no path) when it cannot. Nothing to read is no
  // failure.
  CStatus ReadAt(uint64_t offset, void* into, uint32_t count) const;
  // The file's size now: the system's words (no path) when it cannot say.
  CResult<uint64_t> Size() const;
  // Copies the first `size` bytes of the file to the end of `to`, by the
  // kernel where it can; how many it copied (fewer when the file ended
  // first), or the system's words (no path).
  CResult<uint64_t> CopyTo(platform::Handle to, uint64_t size) const;

 private:
  CSharedHandle* m_record = nullptr;
};

struct CMappedView {
  CHandleHolder file;
  CHandleHolder mapping;
  const void* view;
  uint32_t size;
  int32_t count;
};

// Holds one share of a mapped view for the blocks that borrow its bytes.
class CMappingOwner final : public CDataOwner {
 public:
  explicit CMappingOwner(CMappedView* view);
  ~CMappingOwner() override;
  bool WasCut(const uint8_t* data, uint32_t size) const override;

 private:
  CMappedView* m_view;
};

class CDiskFile {
 public:
  CDiskFile() = default;
  CDiskFile(const CDiskFile&) = delete;
  CDiskFile& operator=(const CDiskFile&) = delete;
  ~CDiskFile() = default;

  // 0 on success, 1 on failure. Closes any open handle first.
  int32_t Open(const std::string& path, uint32_t access, uint32_t disposition, uint32_t share);
  int32_t OpenRead(const std::string& path);
  bool IsOpen() const { return m_file && m_file.Get() != 0; }
  void Close();

  // The size in bytes; -1 when it cannot be queried or does not fit in 31 bits.
  int32_t GetSize() const;
  // Reads exactly `count` bytes at the position and advances it. 0 or 1.
  int32_t Read(void* destination, int32_t count);
  // The whole file over a read-only mapped view (see MapWhole in the .cpp).
  CDataBuffer MapWhole();
  // The whole file: mapped when it can be, else read into memory. 0 on
  // success; 1 on failure (too little memory to read it included), with
  // `error` (when given) saying why.
  int32_t LoadWhole(CDataBuffer& bytes, CStatus* error);

  int32_t GetPosition() const { return m_position; }
  void SetPosition(int32_t position) { m_position = position; }
  // Words for why the last Open failed; empty after a successful one.
  const std::string& GetOpenError() const { return m_openError; }
  // The last failure of Open, Read or LoadWhole, with the file's name.
  const CStatus& GetLastError() const { return m_lastError; }
  // The path of the last Open.
  const std::string& GetPath() const { return m_path; }
  const CHandleHolder& GetHandle() const { return m_file; }

 private:
  friend class CDiskFileTestHelper;
  // For tests of the paths taken when a file cannot be mapped.
  static bool s_mappingDisabled;
  static void (*s_afterMapping)(const std::string& path);

  CHandleHolder m_file;
  int32_t m_position = 0;
  std::string m_path;
  std::string m_openError;
  CStatus m_lastError;
};

// The whole file at `path` copied into memory of its own, not mapped: kept
// bytes stay the same when the file changes or goes afterwards. Refused,
// with the path, when it cannot be read whole, or with `tooLarge` for
// words when it holds `most` bytes or more.
CResult<CDataBuffer> ReadFileCopy(const std::string& path, uint64_t most,
                                  std::string_view tooLarge);
