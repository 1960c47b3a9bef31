#include <gtest/gtest.h>

#include "base/Text.h"
#include "model/NodeFactory.h"
#include "model/RegistryNodes.h"
#include "platform/Registry.h"
#include "support/TestHome.h"

using namespace tindale;
using namespace v;

TEST(RegistryNodes, OutlookSettingsAlwaysHaveTheirTwoItems) {
    TestHome home;
    OESettingsNode node;
    NodeList items;
    EXPECT_EQ(node.EnumItems(items), 2);
    EXPECT_EQ(items[0]->GetTypeName(), u"OESettingsIdentitiesNode");
    EXPECT_EQ(items[1]->GetTypeName(), u"OESettingsRegistry");
    MemoryStream out;
    EXPECT_EQ(node.WritePayload(out), 0u);
}

TEST(RegistryNodes, BrowserSettingsRoundTripIntoAnEmptyRegistry) {
    TestHome home;
    auto main =
        reg::Key::Create(reg::kHkeyCurrentUser, u"Software\\Microsoft\\Internet Explorer\\Main");
    main->SetString(u"Start Page", u"about:blank");
    auto zoom =
        reg::Key::Create(reg::kHkeyCurrentUser, u"Software\\Microsoft\\Internet Explorer\\Zoom");
    uint8_t level[4] = {100, 0, 0, 0};
    zoom->Set(u"ZoomFactor", reg::kRegDword, level);
    IESettingsNode node;
    NodeList items;
    EXPECT_EQ(node.EnumItems(items), 2);
    EXPECT_EQ(items[0]->GetDisplayName(), u"Main");
    EXPECT_EQ(items[1]->GetDisplayName(), u"Zoom");
    MemoryStream payload;
    node.WritePayload(payload);

    TestHome other;
    NodeRecord rec;
    rec.SetTypeGuid(IESettingsNode::kTypeGuid);
    std::unique_ptr<BasicNode> restored(
        NodeFactoryRegistry::Instance().FindFactoryAndCreate(rec, &payload));
    ASSERT_TRUE(restored);
    restored->RestorePayload(payload);
    auto back =
        reg::Key::Open(reg::kHkeyCurrentUser, u"Software\\Microsoft\\Internet Explorer\\Main");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->QueryString(u"Start Page"), u"about:blank");
    auto z = reg::Key::Open(reg::kHkeyCurrentUser, u"Software\\Microsoft\\Internet Explorer\\Zoom");
    EXPECT_EQ(z->Query(u"ZoomFactor")->data, std::vector<uint8_t>(level, level + 4));
}

TEST(RegistryNodes, IdentityRecordRestoresNothing) {
    TestHome home;
    NodeRecord rec;
    rec.SetTypeGuid(IdentityNode::kTypeGuid);
    MemoryStream payload(std::vector<uint8_t>(100, 7));
    std::unique_ptr<BasicNode> node(
        NodeFactoryRegistry::Instance().FindFactoryAndCreate(rec, &payload));
    ASSERT_TRUE(node);
    EXPECT_EQ(node->RestorePayload(payload), 0u);
    EXPECT_FALSE(reg::Key::Open(reg::kHkeyCurrentUser, u"Software"));
}
