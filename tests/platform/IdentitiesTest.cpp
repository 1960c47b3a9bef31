#include <gtest/gtest.h>

#include <filesystem>
#include "base/Text.h"
#include "platform/Identities.h"
#include "platform/Registry.h"
#include "support/TestHome.h"

using namespace tindale;

TEST(IdentitiesTest, AddListFindAndMakeCurrent) {
    TestHome home;
    EXPECT_TRUE(identities::List().empty());
    EXPECT_FALSE(identities::MakeIdentityCurrent(u"{none}"));  // no "Identities" key yet
    auto work = identities::Add(u"Work", home / "Mail/work");
    auto play = identities::Add(u"Play", home / "Mail/play");
    ASSERT_TRUE(work && play);
    EXPECT_EQ(identities::List().size(), 2u);
    EXPECT_EQ(identities::Current(), work);  // the first becomes the default
    EXPECT_EQ(identities::StoreRoot(*play), home / "Mail/play");
    EXPECT_EQ(identities::Find(u"Play")->id, *play);
    auto key = reg::Key::Open(reg::kHkeyCurrentUser, u"Identities");
    key->DeleteValue(u"Default User ID");  // so that creation order shows the order of writes
    ASSERT_TRUE(identities::MakeIdentityCurrent(*play));
    std::vector<std::u16string> order;
    for (uint32_t i = 0; i < 4; ++i) order.push_back(key->ValueAt(i)->name);
    EXPECT_EQ(order, (std::vector<std::u16string>{u"Start As", u"Last User ID", u"Last Username",
                                                  u"Default User ID"}));
    EXPECT_EQ(key->QueryString(u"Last Username"), u"Play");
    EXPECT_EQ(identities::Current(), play);
    // An identity that is not registered is never made current.
    EXPECT_FALSE(identities::MakeIdentityCurrent(u"{00000000-0000-0000-0000-000000000000}"));
    EXPECT_EQ(identities::Current(), play);
}

TEST(IdentitiesTest, ExistingMaildirGetsAMainIdentity) {
    TestHome home;
    identities::EnsureDefaultIdentity();
    EXPECT_TRUE(identities::List().empty());
    std::filesystem::create_directories(home / "Maildir/cur");
    identities::EnsureDefaultIdentity();
    auto all = identities::List();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].name, u"Main Identity");
    EXPECT_EQ(identities::StoreRoot(all[0].id), home / "Maildir");
    identities::EnsureDefaultIdentity();
    EXPECT_EQ(identities::List().size(), 1u);
}
