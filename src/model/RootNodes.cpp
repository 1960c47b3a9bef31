#include "model/RootNodes.h"

#include <filesystem>

#include "model/FileNodes.h"
#include "model/MessageNodes.h"
#include "model/RegistryNodes.h"
#include "platform/ShellFolders.h"

namespace v {

NodeList CreateRootNodes(bool messageStoreOnly) {
    NodeList roots;
    if (!messageStoreOnly) {
        roots.push_back(std::make_unique<IESettingsNode>());
        roots.push_back(std::make_unique<OESettingsNode>());
        roots.push_back(std::make_unique<FavoritesNode>());
        roots.push_back(std::make_unique<MyDocsNode>());
        std::error_code ec;
        if (ContactNode::Offered()) roots.push_back(std::make_unique<ContactNode>());
        std::string wab = WABNode::AddressBookFolder();
        if (!wab.empty() && std::filesystem::is_directory(wab, ec))
            roots.push_back(std::make_unique<WABNode>(wab));
    }
    roots.push_back(std::make_unique<MsgStore>());
    return roots;
}

}  // namespace v
