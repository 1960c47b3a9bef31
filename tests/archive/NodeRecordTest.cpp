#include <gtest/gtest.h>

#include "backup/BackupEngine.h"
#include "base/Text.h"
#include "model/FileNodes.h"
#include "model/NodeFactory.h"
#include "model/NodeIconRegistry.h"
#include "model/RegistryNodes.h"
#include "support/TestHome.h"

using namespace tindale;
using namespace v;

// The offsets are written out here on purpose: this test pins the record's layout
// independently of the named constants the code uses.
TEST(NodeRecord, FieldsSitAtTheirOffsets) {
    TestHome home;
    OESettingsNode parent;
    OESettingsIdentitiesNode child;
    child.parent = &parent;
    NodeRecord rec = BuildNodeRecord(child, true, false);
    auto& b = rec.bytes;
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + 16, parent.instanceGuid.bytes.begin()));
    EXPECT_TRUE(std::equal(b.begin() + 16, b.begin() + 32,
                           OESettingsIdentitiesNode::kTypeGuid.bytes.begin()));
    EXPECT_TRUE(std::equal(b.begin() + 32, b.begin() + 48, child.instanceGuid.bytes.begin()));
    EXPECT_EQ(b[56], 1);
    EXPECT_EQ(b[57], 0);
    EXPECT_EQ(text::GetFixedUtf16(std::span(b).subspan(58, 512)),
              u"Outlook Express Settings - Identities");
    EXPECT_EQ(b[570], 0);
    EXPECT_EQ(b[571], 0);
    EXPECT_EQ(text::GetFixedUtf16(std::span(b).subspan(572, 132)), u"RegistryItem");
    rec.SetPayloadLength(0x01020304);
    EXPECT_EQ(b[48], 4);
    EXPECT_EQ(b[51], 1);
    EXPECT_EQ(b[52], 0);

    NodeRecord root = BuildNodeRecord(parent, false, true);
    EXPECT_TRUE(
        std::all_of(root.bytes.begin(), root.bytes.begin() + 16, [](uint8_t x) { return x == 0; }));
    EXPECT_EQ(root.bytes[570], 1);
    EXPECT_EQ(root.bytes[57], 1);
    EXPECT_EQ(root.IconKey(), u"Registry");
}

TEST(NodeRecord, LongNamesAreCutToFit) {
    TestHome home;
    IESettingsSubNode node(std::u16string(400, u'x'));
    NodeRecord rec = BuildNodeRecord(node, false, false);
    EXPECT_EQ(rec.DisplayName().size(), 255u);
    EXPECT_EQ(rec.bytes[570], 0);
}

TEST(Ids, EqualityNeedsTheSameClassAndValue) {
    MD5 a(std::vector<uint8_t>{1, 2, 3});
    MD5 b(std::vector<uint8_t>{1, 2, 3});
    MD5 c(std::vector<uint8_t>{1, 2, 4});
    IDInt<int> i(1), j(1), k(2);
    EXPECT_TRUE(a.Equals(b));
    EXPECT_FALSE(a.Equals(c));
    EXPECT_TRUE(i.Equals(j));
    EXPECT_FALSE(i.Equals(k));
    EXPECT_FALSE(a.Equals(i));
    EXPECT_FALSE(MD5().Equals(IDInt<int>(0)));
}

TEST(IconRegistry, NamedKeysComeFirstAndUnknownKeysMapToZero) {
    auto& icons = NodeIconRegistry::Instance();
    EXPECT_EQ(icons.IndexForKey(u"Inbox"), 0);
    EXPECT_EQ(icons.IndexForKey(u"Message"), 6);
    EXPECT_EQ(icons.IndexForKey(u"Favorites"), 13);
    EXPECT_EQ(icons.IndexForKey(u"none"), 0);
    EXPECT_EQ(icons.KeyForIndex(0), u"Inbox");
    int32_t txt = icons.IndexForSystemIcon("*.txt");
    EXPECT_EQ(icons.IndexForSystemIcon("*.txt"), txt);
    EXPECT_GE(txt, 14);
    EXPECT_EQ(icons.KeyForIndex(txt), u"");
    EXPECT_EQ(SystemIconKeyForPath("/a/B.TXT", false), "*.txt");
    EXPECT_EQ(SystemIconKeyForPath("/a/.hidden", false), "*");
    EXPECT_EQ(SystemIconKeyForPath("/a/dir.d", true), "folder");
}

TEST(Factories, RecreateByTypeGuidInRegistryOrder) {
    auto& registry = NodeFactoryRegistry::Instance();
    NodeRecord rec;
    rec.SetTypeGuid(FileFolderNode::kTypeGuid);
    std::unique_ptr<BasicNode> node(registry.FindFactoryAndCreate(rec, nullptr));
    ASSERT_TRUE(node);
    EXPECT_EQ(node->GetTypeName(), u"FileFolderNode");
    EXPECT_EQ(node->iconIndex, -1);
    EXPECT_TRUE(node->instanceGuid.IsZero());
    rec.SetTypeGuid(Guid::FromText("{D2B37072-40B4-4F44-B652-3DB8458CDC5D}"));  // abstract MsgBase
    EXPECT_EQ(registry.FindFactoryAndCreate(rec, nullptr), nullptr);
    EXPECT_EQ(registry.Factories().front()->GetTypeGuid(), FavoritesNode::kTypeGuid);
}
