#include "archive/game_file.h"

#include <cstring>

#include "archive/name_registry.h"
#include "storage/path_name.h"
#include "storage/file_stamp.h"
#include "storage/platform.h"

namespace {

// Companion maps of a ".mmx" file are known by name before anything reads
// them; the extension test is made on the lower-cased name, so any case works.
// The registered names carry no folder: CPathName splits at backslashes only,
// so a folder written with the platform's '/' is dropped first.
void RegisterCompanions(const std::string& name) {
  const size_t slash = name.rfind('/');
  CPathName path(ToLower(slash == std::string::npos ? name : name.substr(slash + 1)));
  if (path.GetExtension() != ".mmx") return;
  path.SetExtension(".map");
  CNameRegistry::AddName(5, path.GetName(), "-");
  path.SetExtension(".pkt");
  CNameRegistry::AddName(5, path.GetName(), "-");
}

}  // namespace

int32_t CGameFile::Open(const std::string& name) {
  const int32_t opened = m_disk.OpenRead(name);
  if (opened != 0) {
    Discard();
    return opened;
  }
  // Stamped on both sides of the reading of the index: a file that changed
  // meanwhile has an index that may not be its bytes'.
  m_held = CHeldFile::Before(m_disk.GetHandle());
  m_size = m_disk.GetSize();
  m_position = 0;
  m_open = true;
  m_data = m_disk.MapWhole();
  if (m_closeAfterLoad) m_disk.Close();
  RegisterCompanions(name);
  const int32_t accepted = OnOpen();
  if (accepted != 0) {
    Discard();
    return accepted;
  }
  m_held.Read();
  return 0;
}

void CGameFile::Close() {
  m_data.Reset();
  if (m_disk.IsOpen()) m_disk.Close();
  m_held = CHeldFile();
  m_open = false;
}

bool CGameFile::ChangedSinceOpened() const { return m_held.Changed(); }

bool CGameFile::WasCutSinceOpened() const {
  return WasCutSince(m_data, m_disk.IsOpen() ? m_disk.GetHandle().Get() : 0, m_size);
}

void CGameFile::Discard() {
  m_data.Reset();
  if (m_open) Close();
}

int32_t CGameFile::ReadUncached(void* destination, int32_t count) {
  if (!m_disk.IsOpen()) return Read(destination, count);
  if (m_position < 0 || count < 0 ||
      static_cast<int64_t>(m_position) + count > static_cast<int64_t>(m_size))
    return 1;
  m_disk.SetPosition(m_position);
  const int32_t result = m_disk.Read(destination, count);
  if (result == 0) m_position += count;
  return result;
}

int32_t CGameFile::ReadUncachedAt(int32_t position, void* destination, int32_t count) const {
  if (!m_disk.IsOpen() || position < 0 || count < 0 ||
      static_cast<int64_t>(position) + count > static_cast<int64_t>(m_size))
    return 1;
  if (count == 0) return 0;
  return platform::ReadAt(m_disk.GetHandle().Get(), position, destination,
                          static_cast<uint32_t>(count))
                 .Failed()
             ? 1
             : 0;
}

int32_t CGameFile::Read(void* destination, int32_t count) {
  // 64-bit sum: a count near 2^31 must not wrap into a passing comparison.
  if (m_position < 0 || count < 0 ||
      static_cast<int64_t>(m_position) + count > static_cast<int64_t>(m_size))
    return 1;
  if (m_data.HasData()) {
    // The mapping is sized when it is made; never trust m_size alone for it.
    if (static_cast<int64_t>(m_position) + count > static_cast<int64_t>(m_data.GetSize())) return 1;
    if (count > 0)
      std::memcpy(destination, m_data.GetData() + m_position, static_cast<size_t>(count));
    m_position += count;
    return 0;
  }
  m_disk.SetPosition(m_position);
  const int32_t result = m_disk.Read(destination, count);
  if (result == 0) m_position += count;
  return result;
}
