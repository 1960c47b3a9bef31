#include <gtest/gtest.h>

#include <filesystem>
#include "platform/Registry.h"
#include "support/TestHome.h"

using namespace tindale;
using namespace tindale::reg;

TEST(Registry, OnlyCurrentUserRootOpens) {
    TestHome home;
    EXPECT_TRUE(Key::Open(kHkeyCurrentUser, u"").has_value());
    EXPECT_FALSE(Key::Open(0x80000002, u"").has_value());
    EXPECT_FALSE(Key::Create(0x80000002, u"Software").has_value());
}

TEST(Registry, CreateMakesIntermediateKeysAndLookupIgnoresCase) {
    TestHome home;
    EXPECT_FALSE(Key::Open(kHkeyCurrentUser, u"Software\\Vendor").has_value());
    auto key = Key::Create(kHkeyCurrentUser, u"Software\\Vendor\\App");
    ASSERT_TRUE(key);
    EXPECT_TRUE(Key::Open(kHkeyCurrentUser, u"SOFTWARE\\vendor").has_value());
    ASSERT_TRUE(key->SetString(u"Name", u"value"));
    auto again = Key::Open(kHkeyCurrentUser, u"software\\VENDOR\\app");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->QueryString(u"NAME"), u"value");
    // The spelling of the first creation is kept.
    EXPECT_EQ(Key::Open(kHkeyCurrentUser, u"Software")->SubkeyName(0), u"Vendor");
}

TEST(Registry, SubkeysEnumerateByFoldedNameValuesByCreation) {
    TestHome home;
    for (auto name : {u"beta", u"Alpha", u"gamma"})
        Key::Create(kHkeyCurrentUser, std::u16string(u"K\\") + name);
    auto key = Key::Open(kHkeyCurrentUser, u"K");
    EXPECT_EQ(key->SubkeyName(0), u"Alpha");
    EXPECT_EQ(key->SubkeyName(1), u"beta");
    EXPECT_EQ(key->SubkeyName(2), u"gamma");
    EXPECT_FALSE(key->SubkeyName(3));
    uint8_t b = 1;
    key->Set(u"z", kRegBinary, {&b, 1});
    key->Set(u"a", kRegBinary, {&b, 1});
    key->Set(u"Z", kRegDword, {&b, 1});  // updates "z" in place
    EXPECT_EQ(key->ValueAt(0)->name, u"z");
    EXPECT_EQ(key->ValueAt(0)->type, kRegDword);
    EXPECT_EQ(key->ValueAt(1)->name, u"a");
    EXPECT_FALSE(key->ValueAt(2));
}

TEST(Registry, LengthLimitsAndStringRules) {
    TestHome home;
    EXPECT_FALSE(Key::Create(kHkeyCurrentUser, std::u16string(256, u'k')));
    EXPECT_TRUE(Key::Create(kHkeyCurrentUser, std::u16string(255, u'k')));
    auto key = Key::Create(kHkeyCurrentUser, u"S");
    uint8_t odd[3] = {'a', 0, 0};
    key->Set(u"odd", kRegSz, odd);
    uint8_t unterminated[2] = {'a', 0};
    key->Set(u"open", kRegSz, unterminated);
    EXPECT_FALSE(key->QueryString(u"odd"));
    EXPECT_FALSE(key->QueryString(u"open"));
}

TEST(Registry, FollowsTheEnvironment) {
    TestHome home;
    Key::Create(kHkeyCurrentUser, u"OnlyInFirst");
    TestHome other;
    EXPECT_FALSE(Key::Open(kHkeyCurrentUser, u"OnlyInFirst"));
}
