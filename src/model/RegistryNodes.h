#pragma once
// The mail client's and the browser's settings trees, each backed up whole as one container
// whose payload is the tree's serialisation; the leaves below only label what it holds.
#include <memory>
#include <optional>

#include "model/Node.h"
#include "model/RegStreams.h"

namespace v {

// A settings tree container: captures the tree when constructed, restores it value by value.
class SettingsTreeNode : public BasicNode {
  public:
    SettingsTreeNode(const char16_t* name, const char16_t* keyPath, int idValue);
    // Recreated for a restore: the payload may write only below `keyPath`.
    SettingsTreeNode(const NodeRecord& record, BasicStream* payload, const char16_t* keyPath);

    uint64_t WritePayload(BasicStream& out) override;
    uint64_t RestorePayload(BasicStream& in) override;
    ID* GetId() override { return &id_; }
    bool IsContainer() const override { return true; }
    const RegStream& Tree() const { return *tree_; }

  private:
    std::unique_ptr<RegStream> tree_;
    IDInt<int> id_;
};

class OESettingsNode : public SettingsTreeNode {
  public:
    static const tindale::Guid kTypeGuid;
    static constexpr const char16_t* kKeyPath = u"Software\\Microsoft\\Outlook Express";
    OESettingsNode();
    OESettingsNode(const NodeRecord& record, BasicStream* payload)
        : SettingsTreeNode(record, payload, kKeyPath) {}
    int32_t EnumItems(NodeList& out) override;
    // The mail programs' own settings, each program (or profile) a part of its own.
    int32_t EnumContainers(NodeList& out) override;
    bool MayHoldItems() const override { return true; }
    std::u16string GetTypeName() const override { return u"OESettingsNode"; }
    tindale::Guid GetTypeGuid() const override { return kTypeGuid; }
};

class IESettingsNode : public SettingsTreeNode {
  public:
    static const tindale::Guid kTypeGuid;
    static constexpr const char16_t* kKeyPath = u"Software\\Microsoft\\Internet Explorer";
    IESettingsNode();
    IESettingsNode(const NodeRecord& record, BasicStream* payload)
        : SettingsTreeNode(record, payload, kKeyPath) {}
    int32_t EnumItems(NodeList& out) override;
    // The browsers' own settings, each profile a part of its own.
    int32_t EnumContainers(NodeList& out) override;
    bool MayHoldItems() const override { return true; }
    std::u16string GetTypeName() const override { return u"IESettingsNode"; }
    tindale::Guid GetTypeGuid() const override { return kTypeGuid; }
};

// A payload-less leaf with a fixed or given label.
template <int IdValue>
class SettingsLabelNode : public BasicNode {
  public:
    SettingsLabelNode(const char16_t* name);
    SettingsLabelNode(const NodeRecord& record, BasicStream* payload)
        : BasicNode(record, payload) {}
    ID* GetId() override { return &id_; }
    bool IsContainer() const override { return false; }

  private:
    IDInt<int> id_{IdValue};
};

class OESettingsIdentitiesNode : public SettingsLabelNode<1003> {
  public:
    static const tindale::Guid kTypeGuid;
    OESettingsIdentitiesNode() : SettingsLabelNode(u"Outlook Express Settings - Identities") {}
    using SettingsLabelNode::SettingsLabelNode;
    std::u16string GetTypeName() const override { return u"OESettingsIdentitiesNode"; }
    tindale::Guid GetTypeGuid() const override { return kTypeGuid; }
};

class OESettingsRegistry : public SettingsLabelNode<1004> {
  public:
    static const tindale::Guid kTypeGuid;
    OESettingsRegistry() : SettingsLabelNode(u"Outlook Express Settings - Registry settings") {}
    using SettingsLabelNode::SettingsLabelNode;
    std::u16string GetTypeName() const override { return u"OESettingsRegistry"; }
    tindale::Guid GetTypeGuid() const override { return kTypeGuid; }
};

// A named leaf with an MD5 identity: a browser settings subkey, or (only ever recreated
// from an archive) an identity record, which restores nothing.
class NamedLeafNode : public BasicNode {
  public:
    explicit NamedLeafNode(std::u16string name);
    NamedLeafNode(const NodeRecord& record, BasicStream* payload) : BasicNode(record, payload) {}
    ID* GetId() override;

  protected:
    std::u16string name_;

  private:
    std::optional<MD5> id_;  // made when first asked for
};

class IESettingsSubNode : public NamedLeafNode {
  public:
    static const tindale::Guid kTypeGuid;
    using NamedLeafNode::NamedLeafNode;
    std::u16string GetTypeName() const override { return u"IESettingsSubNode"; }
    tindale::Guid GetTypeGuid() const override { return kTypeGuid; }
    bool IsContainer() const override { return false; }
};

class IdentityNode : public NamedLeafNode {
  public:
    static const tindale::Guid kTypeGuid;
    using NamedLeafNode::NamedLeafNode;
    std::u16string GetTypeName() const override { return u"IdentityNode"; }
    tindale::Guid GetTypeGuid() const override { return kTypeGuid; }
    bool IsContainer() const override { return true; }
};

}  // namespace v
