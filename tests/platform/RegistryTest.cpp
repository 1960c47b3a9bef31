#include <gtest/gtest.h>

#include "platform/Registry.h"
#include "support/TestHome.h"

using namespace tindale::reg;

TEST(Registry, OnlyCurrentUserRootOpens) {
    TestHome home;
    EXPECT_TRUE(Key::Open(kHkeyCurrentUser, u"").has_value());
    EXPECT_FALSE(Key::Open(0x80000002, u"").has_value());
    EXPECT_FALSE(Key::Create(0x80000002, u"Software").has_value());
}
