#include "storage/data_buffer.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>

CDataBlock* CDataBuffer::NewOwningBlock(const void* bytes, uint32_t size) {
  // operator new of 0 bytes still returns a unique non-null pointer, which is
  // what makes a 0-byte buffer "have data".
  auto* data = static_cast<uint8_t*>(::operator new(size));
  if (bytes != nullptr && size != 0) std::memcpy(data, bytes, size);
  return new CDataBlock{data, size, 1, nullptr};
}

CDataBuffer::CDataBuffer(const void* bytes, uint32_t size) : m_block(NewOwningBlock(bytes, size)) {}

CDataBuffer::CDataBuffer(const void* bytes, uint32_t size, CDataOwner* owner) {
  try {
    m_block = new CDataBlock{static_cast<const uint8_t*>(bytes), size, 1, owner};
  } catch (...) {
    // An owner nothing borrows from yet was handed over with the bytes; it
    // goes now, or nothing ever would release what it holds (a mapping, a
    // share of another buffer).
    if (owner != nullptr && owner->m_count == 0) delete owner;
    throw;
  }
  if (owner != nullptr) ++owner->m_count;
}

CDataBuffer CDataBuffer::TryAllocate(uint32_t size) noexcept {
  auto* data = static_cast<uint8_t*>(::operator new(size, std::nothrow));
  if (data == nullptr) return {};
  CDataBuffer made;
  made.m_block = new (std::nothrow) CDataBlock{data, size, 1, nullptr};
  if (made.m_block == nullptr) ::operator delete(data);
  return made;
}

CDataBuffer::CDataBuffer(const CDataBuffer& other) noexcept : m_block(other.m_block) {
  if (m_block != nullptr) ++m_block->count;
}

CDataBuffer::CDataBuffer(CDataBuffer&& other) noexcept : m_block(other.m_block) {
  other.m_block = nullptr;
}

CDataBuffer& CDataBuffer::operator=(const CDataBuffer& other) noexcept {
  if (m_block == other.m_block) return *this;
  if (other.m_block != nullptr) ++other.m_block->count;
  Release(m_block);
  m_block = other.m_block;
  return *this;
}

CDataBuffer& CDataBuffer::operator=(CDataBuffer&& other) noexcept {
  if (this == &other) return *this;
  Release(m_block);
  m_block = other.m_block;
  other.m_block = nullptr;
  return *this;
}

CDataBuffer::~CDataBuffer() { Release(m_block); }

void CDataBuffer::Reset() {
  Release(m_block);
  m_block = nullptr;
}

void CDataBuffer::Release(CDataBlock* block) noexcept {
  if (block == nullptr || --block->count > 0) return;
  if (block->owner != nullptr) {
    if (--block->owner->m_count == 0) delete block->owner;
  } else {
    ::operator delete(const_cast<uint8_t*>(block->data));
  }
  delete block;
}

// REQUIRES: a block, with bytes.
void CDataBuffer::MakeUnique() {
  assert(m_block != nullptr && m_block->data != nullptr);
  if (m_block->count == 1 && m_block->owner == nullptr) return;
  // Copy before releasing: the old bytes may go with the old block.
  CDataBlock* copy = NewOwningBlock(m_block->data, m_block->size);
  Release(m_block);
  m_block = copy;
}

uint8_t* CDataBuffer::GetWritable(int32_t size) {
  const uint32_t wanted = size > 0 ? static_cast<uint32_t>(size) : 0;
  if (m_block != nullptr && m_block->data != nullptr && m_block->size == wanted) {
    MakeUnique();
  } else {
    CDataBlock* fresh = NewOwningBlock(nullptr, wanted);
    Release(m_block);
    m_block = fresh;
  }
  return const_cast<uint8_t*>(m_block->data);
}

CDataBuffer CDataBuffer::Slice(int32_t offset, int32_t size) const {
  if (!HasData()) return *this;
  const int64_t total = m_block->size;
  int64_t begin = offset;
  int64_t length = size;
  if (begin < 0 || begin > total || length < 0) {
    begin = std::clamp<int64_t>(begin, 0, total);
    length = 0;
  }
  length = std::min(length, total - begin);
  auto* owner = new CSliceOwner(*this);
  return CDataBuffer(m_block->data + begin, static_cast<uint32_t>(length), owner);
}
