#include "storage/disk_file.h"

CHandleHolder CHandleHolder::Wrap(platform::Handle handle) {
  CHandleHolder holder;
  if (handle != 0 && handle != platform::kInvalidHandle) holder.m_record = new CSharedHandle{handle, 1};
  return holder;
}

CHandleHolder::CHandleHolder(const CHandleHolder& other) noexcept : m_record(other.m_record) {
  if (m_record != nullptr) ++m_record->count;
}

CHandleHolder& CHandleHolder::operator=(const CHandleHolder& other) noexcept {
  if (m_record == other.m_record) return *this;
  if (other.m_record != nullptr) ++other.m_record->count;
  Release();
  m_record = other.m_record;
  return *this;
}

void CHandleHolder::Release() noexcept {
  if (m_record == nullptr) return;
  if (--m_record->count == 0) {
    platform::CloseHandle(m_record->handle);
    delete m_record;
  }
  m_record = nullptr;
}

static void ReleaseView(CMappedView* view) {
  if (--view->count > 0) return;
  platform::UnmapView(view->view, view->size);
  view->mapping.Release();
  view->file.Release();
  delete view;
}

CMappingOwner::CMappingOwner(CMappedView* view) : m_view(view) { ++m_view->count; }

CMappingOwner::~CMappingOwner() { ReleaseView(m_view); }

int32_t CDiskFile::Open(const std::string& path, uint32_t access, uint32_t disposition,
                        uint32_t share) {
  Close();
  m_file = CHandleHolder::Wrap(platform::CreateFile(path, access, disposition, share));
  m_position = 0;
  m_openError = IsOpen() ? std::string() : platform::LastErrorText();
  return IsOpen() ? 0 : 1;
}

int32_t CDiskFile::OpenRead(const std::string& path) {
  return Open(path, platform::kGenericRead, platform::kOpenExisting, platform::kFileShareRead);
}

void CDiskFile::Close() { m_file.Release(); }

int32_t CDiskFile::GetSize() const {
  const int64_t size = platform::GetFileSize(m_file.Get());
  // Only the low word of the size is reported by the classic call; a file
  // of 2 GiB or more must not pass for a small one, so it reads as failure.
  if (size < 0 || size > INT32_MAX) return -1;
  return static_cast<int32_t>(size);
}

int32_t CDiskFile::Read(void* destination, int32_t count) {
  if (!IsOpen() || count < 0 || m_position < 0) return 1;
  if (count == 0) return 0;
  // The position is 32-bit; a file of 2 GiB or more must not carry it over.
  if (int64_t{m_position} + count > INT32_MAX) return 1;
  if (!platform::ReadAt(m_file.Get(), m_position, destination, static_cast<uint32_t>(count)))
    return 1;
  m_position += count;
  return 0;
}

CDataBuffer CDiskFile::MapWhole() {
  const int32_t size = GetSize();
  if (size == 0) return CDataBuffer(nullptr, 0);
  if (size < 0) return CDataBuffer();
  auto* view = new CMappedView{m_file, {}, nullptr, static_cast<uint32_t>(size), 1};
  view->mapping = CHandleHolder::Wrap(platform::CreateFileMapping(m_file.Get()));
  if (view->mapping) view->view = platform::MapView(view->mapping.Get(), view->size);
  CDataBuffer whole(view->view, view->size, new CMappingOwner(view));
  ReleaseView(view);  // the owner now holds the only share
  return whole;
}
