#include "model/RegistryNodes.h"

#include "base/Text.h"
#include "model/FileNodes.h"
#include "model/NodeIconRegistry.h"
#include "model/Outcome.h"
#include "model/ProgramNodes.h"
#include "platform/Registry.h"

namespace v {

using namespace tindale;

const Guid OESettingsNode::kTypeGuid = Guid::FromText("{572AB249-0685-46D5-881D-CCEBF4A94B9F}");
const Guid OESettingsIdentitiesNode::kTypeGuid =
    Guid::FromText("{038C47A4-9AD4-4D1C-BB12-751C4BBA96E6}");
const Guid OESettingsRegistry::kTypeGuid = Guid::FromText("{D43E4A88-4D0B-4886-8FA4-2233B1347009}");
const Guid IESettingsNode::kTypeGuid = Guid::FromText("{888DE18D-683F-47FC-AB20-170731FE1F97}");
const Guid IESettingsSubNode::kTypeGuid = Guid::FromText("{28BA5A51-E781-415E-82A5-45F4F15E1977}");
const Guid IdentityNode::kTypeGuid = Guid::FromText("{DA54C0D6-538C-4454-A1F8-05E84BAC8389}");

SettingsTreeNode::SettingsTreeNode(const char16_t* name, const char16_t* keyPath, int idValue)
    : tree_(std::make_unique<RegStream>(reg::kHkeyCurrentUser, keyPath)), id_(idValue) {
    displayName = name;
    iconIndex = NodeIconRegistry::Instance().IndexForKey(u"Registry");
}

SettingsTreeNode::SettingsTreeNode(const NodeRecord& rec, BasicStream* payload,
                                   const char16_t* keyPath)
    : BasicNode(rec, payload), tree_(std::make_unique<RegStream>(keyPath)) {}

uint64_t SettingsTreeNode::WritePayload(BasicStream& out) {
    for (const auto& name : tree_->SkippedNames())
        ReportProblem(text::ToUtf8(name), "its name is too long for an archive record", false);
    return CopyStream(*tree_, out);
}

uint64_t SettingsTreeNode::RestorePayload(BasicStream& in) {
    reg::Transaction batch;
    uint64_t copied = CopyStream(in, *tree_);
    if (tree_->Damaged() || in.Damaged())
        ReportProblem(text::ToUtf8(record.DisplayName()),
                      "its settings in the archive are damaged; only the values before the "
                      "damage were restored");
    if (tree_->RefusedCount() > 0)
        ReportProblem(text::ToUtf8(record.DisplayName()),
                      std::to_string(tree_->RefusedCount()) +
                          " settings named a place outside this settings tree; they were skipped");
    return copied;
}

OESettingsNode::OESettingsNode() : SettingsTreeNode(u"Outlook Express Settings", kKeyPath, 1002) {}

int32_t OESettingsNode::EnumContainers(NodeList& out) {
    return AppendPrograms(this, tindale::programs::Shelf::MailSettings, out);
}

int32_t IESettingsNode::EnumContainers(NodeList& out) {
    return AppendPrograms(this, tindale::programs::Shelf::BrowserSettings, out);
}

int32_t OESettingsNode::EnumItems(NodeList& out) {
    out.push_back(std::make_unique<OESettingsIdentitiesNode>());
    out.back()->parent = this;
    out.push_back(std::make_unique<OESettingsRegistry>());
    out.back()->parent = this;
    return 2;
}

IESettingsNode::IESettingsNode() : SettingsTreeNode(u"IE Settings", kKeyPath, 1005) {}

int32_t IESettingsNode::EnumItems(NodeList& out) {
    auto key = reg::Key::Open(reg::kHkeyCurrentUser, kKeyPath);
    if (!key) return 0;
    int32_t added = 0;
    for (uint32_t i = 0;; ++i) {
        auto name = key->SubkeyName(i);
        if (!name) break;
        auto item = std::make_unique<IESettingsSubNode>(*name);
        item->parent = this;
        out.push_back(std::move(item));
        ++added;
    }
    return added;
}

template <int IdValue>
SettingsLabelNode<IdValue>::SettingsLabelNode(const char16_t* name) {
    displayName = name;
    iconIndex = NodeIconRegistry::Instance().IndexForKey(u"RegistryItem");
}

template class SettingsLabelNode<1003>;
template class SettingsLabelNode<1004>;

NamedLeafNode::NamedLeafNode(std::u16string name) : name_(std::move(name)) {
    displayName = name_;
    iconIndex = NodeIconRegistry::Instance().IndexForKey(u"RegistryItem");
}

ID* NamedLeafNode::GetId() {
    if (!id_) id_ = NameDigest(name_);
    return &*id_;
}

}  // namespace v
