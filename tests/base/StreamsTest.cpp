#include <gtest/gtest.h>

#include "base/Streams.h"

using namespace v;

TEST(MemoryStream, ReadsEverythingWrittenInOrder) {
    MemoryStream m;
    const uint8_t a[3] = {1, 2, 3}, b[4] = {4, 5, 6, 7};
    m.Write(a, 3);
    uint8_t buf[10];
    EXPECT_EQ(m.Read(buf, 2), 2);
    m.Write(b, 4);
    EXPECT_EQ(m.GetSize(), 7u);
    EXPECT_EQ(m.Read(buf, 10), 5);
    EXPECT_EQ(buf[0], 3);
    EXPECT_EQ(buf[4], 7);
    EXPECT_EQ(m.GetSize(), 7u);
    EXPECT_EQ(m.Read(buf, 10), 0);
}
