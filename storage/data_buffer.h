// Shared, reference-counted byte buffers.
//
// A CDataBuffer is a one-pointer handle to a CDataBlock. Copies share the
// block; Slice() makes a sub-range that borrows the bytes and keeps its
// source alive through a CSliceOwner. A block either owns its bytes or
// borrows them from a CDataOwner (a slice owner, or a mapped file view).
//
// Threading: none. Counts are plain integers; every buffer of one chain must
// be created, copied and released on one thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>

class CDataOwner {
 public:
  CDataOwner() = default;
  CDataOwner(const CDataOwner&) = delete;
  CDataOwner& operator=(const CDataOwner&) = delete;
  virtual ~CDataOwner() = default;

  // Whether the `size` bytes at `data`, which this owner keeps, read in part
  // as zeros because the file they are a view of was cut short under them.
  virtual bool WasCut(const uint8_t* /*data*/, uint32_t /*size*/) const { return false; }

  // Number of blocks that borrow bytes from this owner. The block that drops
  // it to 0 destroys the owner.
  int32_t m_count = 0;
};

struct CDataBlock {
  const uint8_t* data;  // may be null when an owner had no bytes to give
  uint32_t size;
  int32_t count;      // handles that point here; starts at 1
  CDataOwner* owner;  // null: the block allocated data itself
};

class CDataBuffer {
 public:
  CDataBuffer() noexcept = default;
  // Owning block of `size` bytes, copied from `bytes` unless it is null
  // (then left uninitialised). Size 0 still allocates, so HasData() is true.
  CDataBuffer(const void* bytes, uint32_t size);
  // Borrowing block over `bytes`; raises owner's count. Nothing is copied.
  // An owner that no block borrows from yet is this buffer's from the call
  // on, even when the call throws: then it is destroyed before the throw.
  CDataBuffer(const void* bytes, uint32_t size, CDataOwner* owner);
  // An owning block of `size` uninitialised bytes, or an empty buffer
  // (HasData() false) when the memory cannot be had: for sizes that a file
  // claims, where running out is an answer rather than a fault.
  static CDataBuffer TryAllocate(uint32_t size) noexcept;
  CDataBuffer(const CDataBuffer& other) noexcept;
  CDataBuffer(CDataBuffer&& other) noexcept;
  CDataBuffer& operator=(const CDataBuffer& other) noexcept;
  CDataBuffer& operator=(CDataBuffer&& other) noexcept;
  ~CDataBuffer();

  const uint8_t* GetData() const { return m_block ? m_block->data : nullptr; }
  uint32_t GetSize() const { return m_block ? m_block->size : 0; }
  bool HasData() const { return m_block != nullptr && m_block->data != nullptr; }
  // The bytes as text to read, valid while the buffer lives; empty when
  // there are none (HasData() false), whatever the size.
  std::string_view View() const {
    return HasData() ? std::string_view(reinterpret_cast<const char*>(m_block->data), m_block->size)
                     : std::string_view();
  }
  // Bytes [offset, offset + size) of View(), cut at its end like Slice.
  std::string_view View(uint64_t offset, uint64_t size) const {
    const std::string_view all = View();
    return all.substr(static_cast<size_t>(std::min<uint64_t>(offset, all.size())),
                      static_cast<size_t>(size));
  }
  void Reset();

  // Pointer to `size` bytes that only this handle may write. Keeps the bytes
  // when the size matches (copying them first if they are shared or
  // borrowed); otherwise starts a fresh, uninitialised block.
  // A negative size is taken as 0.
  uint8_t* GetWritable(int32_t size);

  // The bytes [offset, offset + size) without copying. The range is clamped
  // to this buffer: a range reaching past the end is cut at the end, and a
  // negative offset or size, or an offset past the end, gives 0 bytes. No
  // byte outside the source is ever exposed.
  CDataBuffer Slice(int32_t offset, int32_t size) const;

  // Whether some of these bytes read as zeros that the file never held: the
  // file they are a view of was cut short by another program since it was
  // mapped. Bytes copied out of such a buffer are not the file's; ask after
  // copying, since the cut may come at any time before.
  bool IsCutOnDisk() const { return IsCutOnDisk(0, GetSize()); }
  // The same for the bytes [offset, offset + size) of this buffer, cut at
  // its end: one entry of a whole archive's bytes.
  bool IsCutOnDisk(uint32_t offset, uint32_t size) const {
    if (m_block == nullptr || m_block->owner == nullptr || m_block->data == nullptr ||
        offset >= m_block->size)
      return false;
    const uint32_t inside = m_block->size - offset < size ? m_block->size - offset : size;
    return m_block->owner->WasCut(m_block->data + offset, inside);
  }

  // For tests and diagnostics: the number of handles sharing the block.
  int32_t GetShareCount() const { return m_block ? m_block->count : 0; }
  const CDataBlock* GetBlock() const { return m_block; }

 private:
  explicit CDataBuffer(CDataBlock* block) noexcept : m_block(block) {}
  static CDataBlock* NewOwningBlock(const void* bytes, uint32_t size);
  static void Release(CDataBlock* block) noexcept;
  void MakeUnique();

  CDataBlock* m_block = nullptr;
};

// Keeps a share of the buffer a slice was cut from.
class CSliceOwner final : public CDataOwner {
 public:
  explicit CSliceOwner(const CDataBuffer& source) : m_source(source) {}
  const CDataBuffer& GetSource() const { return m_source; }
  // A slice lies inside its source: the source's owner knows.
  bool WasCut(const uint8_t* data, uint32_t size) const override {
    const CDataBlock* source = m_source.GetBlock();
    return source != nullptr && source->owner != nullptr && source->owner->WasCut(data, size);
  }

 private:
  CDataBuffer m_source;
};
