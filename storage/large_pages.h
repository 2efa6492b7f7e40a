// Arrays of many megabytes that are filled once and read often: a load
// order's names and copies at a million names. Each large one is allocated
// on a large-page boundary and advised for large pages, so filling it costs
// a page fault per 2 MiB rather than one per 4 KiB: in a virtual machine a
// fault can cost more than filling the page it maps.
//
// Threading: as std::allocator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "storage/platform.h"

inline constexpr size_t kLargePageBytes = size_t{2} << 20;

template <typename T>
struct CLargePageAllocator {
  using value_type = T;

  CLargePageAllocator() = default;
  template <typename U>
  CLargePageAllocator(const CLargePageAllocator<U>&) noexcept {}

  T* allocate(size_t count) {
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    const size_t bytes = count * sizeof(T);
    if (bytes < kLargePageBytes) return static_cast<T*>(::operator new(bytes));
    void* block = ::operator new (bytes, std::align_val_t{kLargePageBytes});
    platform::AdviseLargePages(block, bytes);
    return static_cast<T*>(block);
  }
  void deallocate(T* block, size_t count) noexcept {
    if (count * sizeof(T) < kLargePageBytes) ::operator delete(block);
    else ::operator delete (block, std::align_val_t{kLargePageBytes});
  }

  template <typename U>
  bool operator==(const CLargePageAllocator<U>&) const noexcept {
    return true;
  }
};

template <typename T>
using CLargeVector = std::vector<T, CLargePageAllocator<T>>;
