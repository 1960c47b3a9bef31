#include "model/NodeFactory.h"

#include "model/FileNodes.h"
#include "model/MessageNodes.h"
#include "model/ProgramNodes.h"
#include "model/RegistryNodes.h"

namespace v {

NodeFactoryRegistry& NodeFactoryRegistry::Instance() {
    static NodeFactoryRegistry registry;
    return registry;
}

NodeFactoryRegistry::NodeFactoryRegistry() {
    // Registry order decides which factory answers first; keep it as archives expect.
    factories_.push_back(std::make_unique<NodeFactory<FavoritesNode>>());
    factories_.push_back(std::make_unique<NodeFactory<FileFolderNode>>());
    factories_.push_back(std::make_unique<NodeFactory<IdentityNode>>());
    factories_.push_back(std::make_unique<NodeFactory<IESettingsNode>>());
    factories_.push_back(std::make_unique<NodeFactory<IESettingsSubNode>>());
    factories_.push_back(std::make_unique<NodeFactory<MsgFolder>>());
    factories_.push_back(std::make_unique<NodeFactory<MsgNode>>());
    factories_.push_back(std::make_unique<NodeFactory<MsgStore>>());
    factories_.push_back(std::make_unique<NodeFactory<MsgStoreIden>>());
    factories_.push_back(std::make_unique<NodeFactory<OESettingsIdentitiesNode>>());
    factories_.push_back(std::make_unique<NodeFactory<OESettingsNode>>());
    factories_.push_back(std::make_unique<NodeFactory<OESettingsRegistry>>());
    factories_.push_back(std::make_unique<NodeFactory<ProgramNode>>());
}

std::unique_ptr<BasicNode> NodeFactoryRegistry::FindFactoryAndCreate(const NodeRecord& record,
                                                                     BasicStream* payload) {
    tindale::Guid type = record.TypeGuid();
    for (auto& factory : factories_)
        if (factory->GetTypeGuid() == type) return factory->CreateNode(record, payload);
    return nullptr;
}

}  // namespace v
