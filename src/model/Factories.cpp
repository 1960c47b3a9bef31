#include "model/NodeFactory.h"

namespace v {

NodeFactoryRegistry& NodeFactoryRegistry::Instance() {
    static NodeFactoryRegistry registry;
    return registry;
}

NodeFactoryRegistry::NodeFactoryRegistry() {}

BasicNode* NodeFactoryRegistry::FindFactoryAndCreate(const NodeRecord& record,
                                                     BasicStream* payload) {
    tindale::Guid type = record.TypeGuid();
    for (auto& factory : factories_)
        if (factory->GetTypeGuid() == type) return factory->CreateNode(record, payload);
    return nullptr;
}

}  // namespace v
