#include <gtest/gtest.h>
#include "storage/data_buffer.h"
TEST(DataBuffer, Placeholder) { CDataBuffer b("abc", 3); EXPECT_EQ(b.GetSize(), 3u); }
