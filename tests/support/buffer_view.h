// Small helpers that several test files share.
#pragma once

#include <unistd.h>

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

// Ends the whole process when a test overruns: a hung test fails loudly
// instead of stalling the suite.
class CDeadline {
 public:
  explicit CDeadline(unsigned seconds) { ::alarm(seconds); }
  ~CDeadline() { ::alarm(0); }
  CDeadline(const CDeadline&) = delete;
  CDeadline& operator=(const CDeadline&) = delete;
};
