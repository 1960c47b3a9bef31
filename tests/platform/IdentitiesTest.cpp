#include <gtest/gtest.h>

#include <filesystem>

#include "platform/FolderNames.h"
#include "platform/Identities.h"
#include "platform/Registry.h"
#include "support/TestHome.h"

using namespace tindale;

TEST(FolderNamesTest, EveryNameRoundTrips) {
    for (std::u16string name : {u"Inbox", u"Sent Items", u"a.b", u"x/y", u"R&D", u"Entwürfe",
                                u"日本語", u"mixed ü.&/ end", u"\U0001F4E7 mail"}) {
        std::string encoded = foldernames::Encode(name);
        EXPECT_EQ(encoded.find('.'), std::string::npos) << encoded;
        EXPECT_EQ(encoded.find('/'), std::string::npos) << encoded;
        EXPECT_EQ(foldernames::Decode(encoded), name) << encoded;
    }
    EXPECT_EQ(foldernames::Encode(u"R&D"), "R&-D");
    EXPECT_EQ(foldernames::Encode(u"Entwürfe"), "Entw&APw-rfe");  // as Courier writes it
}

TEST(FolderNamesTest, DirectoriesMapToPaths) {
    std::vector<std::u16string> path{u"Work", u"v1.2"};
    std::string dir = foldernames::DirectoryFor(path);
    EXPECT_EQ(dir, ".Work.v1&AC4-2");
    EXPECT_EQ(foldernames::PathFor(dir), path);
    EXPECT_FALSE(foldernames::PathFor("cur"));
    EXPECT_FALSE(foldernames::PathFor(".."));
    EXPECT_FALSE(foldernames::PathFor(".a..b"));
}

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
    ASSERT_TRUE(identities::MakeIdentityCurrent(*play));
    auto key = reg::Key::Open(reg::kHkeyCurrentUser, u"Identities");
    EXPECT_EQ(key->ValueAt(1)->name, u"Start As");
    EXPECT_EQ(key->QueryString(u"Last Username"), u"Play");
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
