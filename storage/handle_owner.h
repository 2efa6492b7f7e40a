// CHandleOwner: the one owner of a file or folder handle that nobody shares.
// Move-only and the size of the handle; closes it on every way out. Where a
// handle must outlive its opener for others (a mapped file stays open while
// views live), CHandleHolder in storage/disk_file.h counts the shares instead.
#pragma once

#include <utility>

#include "storage/platform.h"

class CHandleOwner {
 public:
  CHandleOwner() = default;
  // Takes the handle; 0 and the invalid value leave the owner empty.
  explicit CHandleOwner(platform::Handle handle) noexcept : m_handle(handle) {}
  CHandleOwner(CHandleOwner&& other) noexcept : m_handle(other.Release()) {}
  CHandleOwner& operator=(CHandleOwner&& other) noexcept {
    if (this != &other) {
      Close();
      m_handle = other.Release();
    }
    return *this;
  }
  CHandleOwner(const CHandleOwner&) = delete;
  CHandleOwner& operator=(const CHandleOwner&) = delete;
  ~CHandleOwner() { Close(); }

  explicit operator bool() const { return m_handle != 0 && m_handle != platform::kInvalidHandle; }
  platform::Handle Get() const { return m_handle; }

  // Gives the handle up without closing it.
  platform::Handle Release() noexcept { return std::exchange(m_handle, platform::kInvalidHandle); }

  void Close() noexcept {
    if (*this) platform::CloseHandle(m_handle);
    m_handle = platform::kInvalidHandle;
  }

 private:
  platform::Handle m_handle = platform::kInvalidHandle;
};
