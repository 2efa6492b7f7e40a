#include "archive/large_arena.h"

#include "storage/platform.h"

void CLargeArena::Reserve(size_t size) {
  // Large pages are 2 MiB, aligned: the block starts on such a boundary and
  // is advised in whole large pages, so none of it is left to small ones.
  constexpr size_t kLargePage = size_t{2} << 20;
  Release();
  const size_t rounded = (size + kLargePage - 1) & ~(kLargePage - 1);
  const bool large = size >= kLargePage;
  m_block.reset(new std::byte[large ? rounded + kLargePage : size]);
  m_next = m_block.get();
  if (large) {
    m_next = reinterpret_cast<std::byte*>((reinterpret_cast<uintptr_t>(m_next) + kLargePage - 1) &
                                          ~(kLargePage - 1));
    platform::AdviseLargePages(m_next, rounded);
  }
  m_end = m_next + size;
}

void CLargeArena::ForgetRest() {
  if (m_next != nullptr) platform::ForgetMemory(m_next, static_cast<size_t>(m_end - m_next));
}

void CLargeArena::Release() {
  m_block.reset();
  m_next = m_end = nullptr;
}
