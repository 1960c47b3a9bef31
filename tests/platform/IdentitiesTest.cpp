#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/FolderNames.h"
#include "platform/Identities.h"
#include "platform/Registry.h"
#include "platform/StoreProps.h"
#include "base/Text.h"
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

TEST(StorePropsTest, BlocksHaveTheirWireLayout) {
    store::FolderProps f;
    f.folderId = 7;
    f.subFolders = 2;
    f.type = store::kSentItems;
    f.messages = 42;
    f.name = "Sent Items";
    auto fb = f.ToBytes();
    EXPECT_EQ(text::GetU32(fb.data()), 280u);
    EXPECT_EQ(text::GetU32(fb.data() + 12), 2u);
    EXPECT_EQ(text::GetU32(fb.data() + 20), 42u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(fb.data() + 24)), "Sent Items");
    EXPECT_EQ(store::FolderProps::FromBytes(fb.data()).name, "Sent Items");

    store::MessageProps m;
    m.messageId = 0x01020304;
    m.received = store::FileTimeFromUnix(0);
    m.subject = "not on the wire";
    auto mb = m.ToBytes();
    EXPECT_EQ(text::GetU32(mb.data()), 68u);
    EXPECT_EQ(text::GetU32(mb.data() + 8), 0x01020304u);
    EXPECT_EQ(text::GetU64(mb.data() + 28), 116444736000000000ull);
    EXPECT_TRUE(std::all_of(mb.begin() + 44, mb.begin() + 60, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(store::UnixFromFileTime(store::FileTimeFromUnix(1700000000)), 1700000000);
    EXPECT_EQ(store::MessageProps::FromBytes(mb.data()).messageId, 0x01020304u);
}
