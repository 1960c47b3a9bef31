#pragma once
// A source node for archive tests: a payload of a chosen size made of bytes that depend only
// on their position, and a number of items below it, so that two runs write the same bytes.
#include <string>
#include <vector>

#include "base/Guid.h"
#include "base/Text.h"
#include "model/Ids.h"
#include "model/Node.h"
#include "model/Outcome.h"

// A node with a payload of a chosen size and a number of payload-less items.
class FakeNode : public v::BasicNode {
  public:
    FakeNode(std::u16string name, size_t payload, int items = 0, bool unreadable = false)
        : payload_(payload), items_(items), unreadable_(unreadable) {
        displayName = std::move(name);
    }
    int32_t EnumItems(v::NodeList& out) override {
        for (int i = 0; i < items_; ++i) {
            auto item = std::make_unique<FakeNode>(
                u"item" + tindale::text::ToUtf16(std::to_string(i)), 100 * i);
            item->parent = this;
            item->instanceGuid = instanceGuid;  // fixed, so that two runs write the same bytes
            item->instanceGuid.bytes[15] = static_cast<uint8_t>(i);
            out.push_back(std::move(item));
        }
        return items_;
    }
    uint64_t WritePayload(v::BasicStream& out) override {
        if (unreadable_) {
            v::ReportProblem("fake", "unreadable");
            return 0;
        }
        std::vector<uint8_t> data = Bytes(payload_);
        return static_cast<uint64_t>(out.Write(data.data(), static_cast<int32_t>(data.size())));
    }
    // The payload of a node of `size` bytes.
    static std::vector<uint8_t> Bytes(size_t size) {
        std::vector<uint8_t> data(size);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * 7) ^ (i >> 9));
        return data;
    }
    v::ID* GetId() override { return &id_; }
    std::u16string GetTypeName() const override { return u"FakeNode"; }
    tindale::Guid GetTypeGuid() const override {
        return tindale::Guid::FromText("{00000000-0000-0000-0000-000000000001}");
    }
    bool IsContainer() const override { return items_ > 0; }

  private:
    size_t payload_;
    int items_;
    bool unreadable_;
    v::IDInt<int> id_;
};
