// Small helpers that several test files share.
#pragma once

#include <unistd.h>

#include <string_view>

#include "storage/data_buffer.h"

// A buffer's bytes, for comparing with EXPECT_EQ.
inline std::string_view Bytes(const CDataBuffer& buffer) {
  return {reinterpret_cast<const char*>(buffer.GetData()), buffer.GetSize()};
}

// Ends the whole process when a test overruns: a hung test fails loudly
// instead of stalling the suite.
class CDeadline {
 public:
  explicit CDeadline(unsigned seconds) { ::alarm(seconds); }
  ~CDeadline() { ::alarm(0); }
  CDeadline(const CDeadline&) = delete;
  CDeadline& operator=(const CDeadline&) = delete;
};
