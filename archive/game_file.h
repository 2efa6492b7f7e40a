// Base of every game data file opened by name.
//
// Open() opens the file, loads its whole bytes as one shared buffer over a
// read-only mapping, registers the companion names of a ".mmx" file, and
// then lets the derived class validate the contents through OnOpen().
// Read() serves positioned reads from the loaded bytes, or from the disk file
// when no bytes could be mapped.
//
// Threading: none; one object, one caller.
#pragma once

#include <cstdint>
#include <string>

#include "storage/data_buffer.h"
#include "storage/disk_file.h"
#include "storage/file_stamp.h"

class CGameFile {
 public:
  explicit CGameFile(bool closeAfterLoad) : m_closeAfterLoad(closeAfterLoad) {}
  CGameFile(const CGameFile&) = delete;
  CGameFile& operator=(const CGameFile&) = delete;
  // Releases the handle and data shares without calling the virtual Close.
  // Virtual: a derived reader deleted through a pointer to its base must
  // destroy its own members too.
  virtual ~CGameFile() = default;

  // 0 on success, else the failure code (1 when the file cannot be opened,
  // or whatever OnOpen returned).
  int32_t Open(const std::string& name);
  virtual void Close();
  virtual int32_t OnOpen() { return 0; }

  // Copies `count` bytes at the position and advances it. 0 or 1; on failure
  // nothing is copied and the position stays.
  int32_t Read(void* destination, int32_t count);
  // Read, but from the disk file while it is open, even when the bytes are
  // loaded: a copy that does not bring the loaded pages into memory too.
  int32_t ReadUncached(void* destination, int32_t count);
  // `count` bytes at `position` from the disk file, which must be open; the
  // position stays. Changes nothing in the object, so two may run at once.
  int32_t ReadUncachedAt(int32_t position, void* destination, int32_t count) const;
  void Seek(int32_t position) { m_position = position; }
  int32_t GetSize() const { return m_size; }
  CDataBuffer GetData() const { return m_data; }
  bool IsOpen() const { return m_open; }

  // Why the disk open failed, in words; empty when it did not.
  const std::string& GetOpenError() const { return m_disk.GetOpenError(); }
  // The name the file was opened by.
  const std::string& GetPath() const { return m_disk.GetPath(); }
  // The open disk file, for reading bytes where they lie when the file
  // could not be mapped; empty once it is closed.
  const CHandleHolder& GetFileHandle() const { return m_disk.GetHandle(); }
  // Whether the disk file is still open: the reader reads where the bytes
  // lie only then, and tests see that Close lets it go.
  bool IsDiskOpen() const { return m_disk.IsOpen(); }
  // Whether another program has cut the file short since it was opened:
  // bytes read from it now (mapped ones read as zeros) are no longer the
  // ones it held. The same test as CDataBuffer::IsCutOnDisk, for a file
  // that was mapped; for one that was not, its size now against then.
  bool WasCutSinceOpened() const;
  // Whether another program has written to the file since it was opened,
  // as far as the system can tell (its size and time of writing): bytes
  // read from it may then be half the old file's and half the new one's.
  // Also true when it changed while it was being opened. Ask after the
  // bytes are read; false once closed.
  bool ChangedSinceOpened() const;
  // The file as it was opened, held until Close, and its stamp then.
  const CHeldFile& GetHeldFile() const { return m_held; }

 private:
  void Discard();

  CDataBuffer m_data;
  CDiskFile m_disk;
  bool m_open = false;
  int32_t m_position = 0;
  bool m_closeAfterLoad;
  int32_t m_size = 0;
  CHeldFile m_held;
};
