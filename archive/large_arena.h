// Memory for the reader's large arrays; internal to archive/.
//
// One block, aligned and advised for large pages as a whole, handed out in
// order and given back all at once: filling 50 MB of index arrays then costs
// a page fault per 2 MiB instead of one per 4 KiB, and page faults, not
// instructions, decide how long a listing of a large archive takes.
#pragma once

#ifndef TARN_INSIDE_ARCHIVE
#error "archive/large_arena.h is internal to the archive library"
#endif

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

class CLargeArena {
 public:
  CLargeArena() = default;
  CLargeArena(const CLargeArena&) = delete;
  CLargeArena& operator=(const CLargeArena&) = delete;

  // Room for `size` bytes in all, uninitialised; what was taken before is
  // gone. Takes need a few bytes each for alignment on top.
  void Reserve(size_t size);
  void Release();

  // `count` uninitialised Ts. Throws std::bad_alloc, as an allocation that
  // fails would, when fewer are left than Reserve promised: a reservation
  // sized wrong must refuse an archive, never write past the block.
  template <typename T>
  T* Take(size_t count) {
    const auto at =
        (reinterpret_cast<uintptr_t>(m_next) + alignof(T) - 1) & ~uintptr_t{alignof(T) - 1};
    const auto end = reinterpret_cast<uintptr_t>(m_end);
    if (at > end || count > (end - at) / sizeof(T)) throw std::bad_alloc();
    m_next = reinterpret_cast<std::byte*>(at + count * sizeof(T));
    return reinterpret_cast<T*>(at);
  }
  // Has the system fill the pages of the next `most` bytes not yet taken
  // now, on the calling thread, rather than when each is first written.
  void Prefault(size_t most) {
    std::byte* const end = static_cast<size_t>(m_end - m_next) > most ? m_next + most : m_end;
    for (std::byte* page = m_next; page < end; page += 4096) *page = std::byte{0};
  }
  // Gives back everything taken since `mark` (a value of Mark()).
  std::byte* Mark() const { return m_next; }
  void Rewind(std::byte* mark) { m_next = mark; }
  // Lets the system take back the pages not taken (yet, or any more): for
  // an arena that will not grow again, kept for what it holds.
  void ForgetRest();

 private:
  std::unique_ptr<std::byte[]> m_block;
  std::byte* m_next = nullptr;
  std::byte* m_end = nullptr;
};
