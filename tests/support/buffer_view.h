// Small helpers that several test files share.
#pragma once

#if defined(_WIN32)
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#else
#include <unistd.h>
#endif

#include <string_view>

#include "storage/data_buffer.h"

// A buffer's bytes, for comparing with EXPECT_EQ.
inline std::string_view Bytes(const CDataBuffer& buffer) {
  return {reinterpret_cast<const char*>(buffer.GetData()), buffer.GetSize()};
}

// Whether this build runs under AddressSanitizer, which cannot start under
// an address-space limit: tests that need one skip there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif
// ThreadSanitizer cannot start under one either.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif
#else
inline constexpr bool kThreadSanitizer = false;
#endif

// Ends the whole process when a test overruns: a hung test fails loudly
// instead of stalling the suite.
#if defined(_WIN32)
// Windows has no alarm(): a watchdog thread ends the process instead.
class CDeadline {
 public:
  explicit CDeadline(unsigned seconds)
      : m_watchdog([this, seconds] {
          std::unique_lock lock(m_mutex);
          if (m_done.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_finished; }))
            return;
          std::fputs("test overran its deadline\n", stderr);
          std::_Exit(124);
        }) {}
  ~CDeadline() {
    {
      std::lock_guard lock(m_mutex);
      m_finished = true;
    }
    m_done.notify_one();
    m_watchdog.join();
  }
  CDeadline(const CDeadline&) = delete;
  CDeadline& operator=(const CDeadline&) = delete;

 private:
  std::mutex m_mutex;
  std::condition_variable m_done;
  bool m_finished = false;
  std::thread m_watchdog;
};
#else
class CDeadline {
 public:
  explicit CDeadline(unsigned seconds) { ::alarm(seconds); }
  ~CDeadline() { ::alarm(0); }
  CDeadline(const CDeadline&) = delete;
  CDeadline& operator=(const CDeadline&) = delete;
};
#endif
