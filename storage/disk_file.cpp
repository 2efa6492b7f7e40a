#include "storage/disk_file.h"

#include <cassert>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "storage/handle_owner.h"

bool CDiskFile::s_mappingDisabled = false;
void (*CDiskFile::s_afterMapping)(const std::string& path) = nullptr;

CHandleHolder CHandleHolder::Wrap(platform::Handle handle) {
  CHandleOwner owned(handle);  // closed should the record's allocation throw
  CHandleHolder holder;
  if (!owned) return holder;
  holder.m_record = new CSharedHandle{handle, 1};
  owned.Release();
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

// REQUIRES: `view` is a live view with at least one share.
CMappingOwner::CMappingOwner(CMappedView* view) : m_view(view) {
  assert(view != nullptr && view->count > 0);
  ++m_view->count;
}

CMappingOwner::~CMappingOwner() { ReleaseView(m_view); }

bool CMappingOwner::WasCut(const uint8_t* data, uint32_t size) const {
  if (m_view->view == nullptr || size == 0) return false;
  if (platform::WasCut(data, size)) return true;
  // The guard sees only whole pages past the new end: the rest of the page
  // the file now ends in reads as zeros without a fault. The file's size
  // tells those apart.
  const auto end = static_cast<int64_t>(data - static_cast<const uint8_t*>(m_view->view)) + size;
  const platform::Result<int64_t> now = platform::GetFileSize(m_view->file.Get());
  return now && *now < end;
}

int32_t CDiskFile::Open(const std::string& path, uint32_t access, uint32_t disposition,
                        uint32_t share) {
  Close();
  const platform::Result<platform::Handle> opened =
      platform::CreateFile(path, access, disposition, share);
  m_file = CHandleHolder::Wrap(*opened);
  m_position = 0;
  m_path = path;
  m_lastError = opened ? CStatus() : CStatus::FromSystem(path, opened.GetError());
  m_openError = m_lastError.GetWords();
  return IsOpen() ? 0 : 1;
}

int32_t CDiskFile::OpenRead(const std::string& path) {
  return Open(path, platform::kGenericRead, platform::kOpenExisting, platform::kFileShareRead);
}

void CDiskFile::Close() { m_file.Release(); }

int32_t CDiskFile::GetSize() const {
  const platform::Result<int64_t> size = platform::GetFileSize(m_file.Get());
  // The platform gives the whole size, this call a signed 32-bit one: a file
  // of 2 GiB or more must not pass for a small one, so it reads as failure.
  if (!size || *size > INT32_MAX) return -1;
  return static_cast<int32_t>(*size);
}

int32_t CDiskFile::Read(void* destination, int32_t count) {
  if (!IsOpen() || count < 0 || m_position < 0) return 1;
  if (count == 0) return 0;
  // The position is 32-bit; a file of 2 GiB or more must not carry it over.
  if (int64_t{m_position} + count > INT32_MAX) return 1;
  const platform::Error error =
      platform::ReadAt(m_file.Get(), m_position, destination, static_cast<uint32_t>(count));
  if (error.Failed()) {
    m_lastError = CStatus::FromSystem(m_path, error);
    return 1;
  }
  m_position += count;
  return 0;
}

CDataBuffer CDiskFile::MapWhole() {
  const int32_t size = GetSize();
  if (size == 0) return CDataBuffer(nullptr, 0);
  if (size < 0) return CDataBuffer();
  // Each step that allocates comes before the one that takes a resource, or
  // hands it to an owner that gives it back when a later step throws.
  auto* view = new CMappedView{m_file, {}, nullptr, static_cast<uint32_t>(size), 1};
  std::unique_ptr<CMappedView, void (*)(CMappedView*)> share(view, ReleaseView);
  std::unique_ptr<CMappingOwner> owner(new CMappingOwner(view));
  view->mapping = CHandleHolder::Wrap(*platform::CreateFileMapping(m_file.Get()));
  // The test switch fails the view where the system would: the buffer is
  // the same as under an address space too small for the file.
  if (view->mapping && !s_mappingDisabled)
    view->view = *platform::MapView(view->mapping.Get(), view->size);
  // The buffer takes the owner even when it throws (see CDataBuffer).
  CDataBuffer whole(view->view, view->size, owner.release());
  if (s_afterMapping != nullptr) s_afterMapping(m_path);
  return whole;  // `share` goes: the owner now holds the only share
}

int32_t CDiskFile::LoadWhole(CDataBuffer& bytes, CStatus* error) {
  const int32_t size = GetSize();
  if (!IsOpen() || size < 0) {
    m_lastError =
        CStatus::Failure(m_path, IsOpen() ? "file too large (2 GiB or more)" : "file is not open");
  } else {
    CDataBuffer loaded = MapWhole();
    if (!loaded.HasData()) {
      // Not mappable (no address space left, a file system without
      // mappings): the same bytes, read, when there is room for them.
      loaded = CDataBuffer::TryAllocate(static_cast<uint32_t>(size));
      if (!loaded.HasData()) {
        m_lastError = CStatus::Failure(
            m_path, "not enough memory to read its " + std::to_string(size) + " bytes");
      } else {
        m_position = 0;
        if (Read(loaded.GetWritable(size), size) != 0) loaded.Reset();
      }
    }
    if (loaded.HasData()) {
      bytes = std::move(loaded);
      return 0;
    }
  }
  if (error != nullptr) *error = m_lastError;
  return 1;
}

CResult<CHandleHolder> CHandleHolder::OpenRead(const std::string& path) {
  const platform::Result<platform::Handle> opened = platform::CreateFile(
      path, platform::kGenericRead, platform::kOpenExisting, platform::kFileShareRead);
  if (!opened) return CStatus::FromSystem(path, opened.GetError());
  return Wrap(*opened);
}

CResult<uint64_t> CHandleHolder::Size() const {
  const platform::Result<int64_t> size = platform::GetFileSize(Get());
  if (!size) return CStatus::FromSystem({}, size.GetError());
  return static_cast<uint64_t>(*size);
}

CResult<uint64_t> CHandleHolder::CopyTo(platform::Handle to, uint64_t size) const {
  const platform::Result<int64_t> copied =
      platform::CopyRange(Get(), 0, to, static_cast<int64_t>(size));
  if (!copied) return CStatus::FromSystem({}, copied.GetError());
  return static_cast<uint64_t>(*copied);
}

CStatus CHandleHolder::ReadAt(uint64_t offset, void* into, uint32_t count) const {
  if (count == 0) return {};
  const platform::Error error = platform::ReadAt(Get(), static_cast<int64_t>(offset), into, count);
  return error.Failed() ? CStatus::FromSystem({}, error) : CStatus();
}

CResult<CDataBuffer> ReadFileCopy(const std::string& path, uint64_t most,
                                  std::string_view tooLarge) {
  const CResult<CHandleHolder> file = CHandleHolder::OpenRead(path);
  if (!file) return file.GetStatus();
  const CResult<uint64_t> size = file->Size();
  if (!size) return size.GetStatus().WithPath(path);
  if (*size >= most) return CStatus::Failure(path, std::string(tooLarge));
  CDataBuffer bytes = CDataBuffer::TryAllocate(static_cast<uint32_t>(*size));
  if (*size > 0 && !bytes.HasData()) return CStatus::Of(CStatus::Kind::OutOfMemory, path);
  if (*size > 0) {
    uint8_t* into = bytes.GetWritable(static_cast<int32_t>(*size));
    const CStatus read = file->ReadAt(0, into, static_cast<uint32_t>(*size));
    if (!read.IsOk()) return read.WithPath(path);
  }
  return bytes;
}
