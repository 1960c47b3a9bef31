#include <gtest/gtest.h>

#include <algorithm>
#include "base/Guid.h"

using namespace tindale;

TEST(Guid, TextFormUsesStandardByteOrder) {
    auto g = Guid::FromText("{1D0B07C9-4726-4696-A8C8-6BAB15C32918}");
    const uint8_t expected[16] = {0xC9, 0x07, 0x0B, 0x1D, 0x26, 0x47, 0x96, 0x46,
                                  0xA8, 0xC8, 0x6B, 0xAB, 0x15, 0xC3, 0x29, 0x18};
    EXPECT_TRUE(std::equal(g.bytes.begin(), g.bytes.end(), expected));
    EXPECT_EQ(g.ToString(), "{1D0B07C9-4726-4696-A8C8-6BAB15C32918}");
    auto r = Guid::NewRandom();
    EXPECT_EQ(Guid::Parse(r.ToString()), r);
    EXPECT_NE(Guid::NewRandom(), r);
    EXPECT_FALSE(Guid::Parse("{not-a-guid}"));
}
