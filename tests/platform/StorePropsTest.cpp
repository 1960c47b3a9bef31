#include <gtest/gtest.h>

#include <algorithm>
#include "base/Text.h"
#include "platform/StoreProps.h"

using namespace tindale;

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
