#pragma once
// Recreates nodes from archive records, keyed by the record's type GUID.
#include <memory>
#include <vector>

#include "model/Node.h"

namespace v {

class BasicNodeFactory {
  public:
    virtual ~BasicNodeFactory() = default;
    virtual std::unique_ptr<BasicNode> CreateNode(const NodeRecord& record,
                                                  BasicStream* payload) = 0;
    virtual tindale::Guid GetTypeGuid() = 0;
};

template <typename T>
class NodeFactory : public BasicNodeFactory {
  public:
    std::unique_ptr<BasicNode> CreateNode(const NodeRecord& record, BasicStream* payload) override {
        return std::make_unique<T>(record, payload);
    }
    tindale::Guid GetTypeGuid() override { return T::kTypeGuid; }
};

class NodeFactoryRegistry {
  public:
    static NodeFactoryRegistry& Instance();
    // The node made by the first factory whose type GUID equals the record's; null if none.
    std::unique_ptr<BasicNode> FindFactoryAndCreate(const NodeRecord& record, BasicStream* payload);
    const std::vector<std::unique_ptr<BasicNodeFactory>>& Factories() const { return factories_; }

  private:
    NodeFactoryRegistry();
    std::vector<std::unique_ptr<BasicNodeFactory>> factories_;
};

}  // namespace v
