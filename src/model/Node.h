#pragma once
// Everything the program can back up is a node: a folder or file, a registry settings group,
// the message store, an identity's store, a mail folder, a message.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/NodeRecord.h"
#include "base/Guid.h"
#include "base/Streams.h"
#include "model/Ids.h"

namespace v {

class BasicNode;
// Nodes an enumeration returns; the list owns them.
using NodeList = std::vector<std::unique_ptr<BasicNode>>;

class BasicNode {
  public:
    BasicNode();
    // A node recreated from an archive record, fit only for RestorePayload and SkipPayload.
    BasicNode(const NodeRecord& record, BasicStream* payload);
    virtual ~BasicNode() = default;
    BasicNode(const BasicNode&) = delete;
    BasicNode& operator=(const BasicNode&) = delete;

    virtual std::u16string GetDisplayName() const { return displayName; }
    // Append newly created children (owned by the caller) and return how many.
    virtual int32_t EnumContainers(NodeList&) { return 0; }
    virtual int32_t EnumItems(NodeList&) { return 0; }
    // Whether the container can hold items besides its subfolders (files, messages, values),
    // which a selection then takes or leaves as one more part of it. Asked without listing.
    virtual bool MayHoldItems() const { return false; }
    // Whether a new selection includes it (history and saved passwords wait to be ticked).
    virtual bool CheckedByDefault() const { return true; }
    // Hands the items to `take` one at a time, so that a folder of a million messages is
    // never held whole; stops when `take` returns false. By default, those of EnumItems.
    virtual void ForEachItem(const std::function<bool(std::unique_ptr<BasicNode>)>& take) {
        NodeList items;
        EnumItems(items);
        for (auto& item : items)
            if (!take(std::move(item))) return;
    }
    virtual uint64_t WritePayload(BasicStream&) { return 0; }
    virtual uint64_t RestorePayload(BasicStream&) { return 0; }
    virtual uint64_t SkipPayload(BasicStream&, BasicStream&) { return 0; }
    virtual ID* GetId() = 0;
    virtual std::u16string GetTypeName() const = 0;
    virtual tindale::Guid GetTypeGuid() const = 0;
    virtual bool IsContainer() const = 0;

    std::u16string displayName;
    int32_t iconIndex = -1;
    BasicNode* parent = nullptr;
    tindale::Guid instanceGuid;
    NodeRecord record;
    BasicStream* payloadStream = nullptr;
};

}  // namespace v
