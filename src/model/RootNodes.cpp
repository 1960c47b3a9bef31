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
        roots.push_back(new IESettingsNode());
        roots.push_back(new OESettingsNode());
        roots.push_back(new FavoritesNode());
        roots.push_back(new MyDocsNode());
        std::error_code ec;
        if (std::filesystem::is_directory(tindale::shell::ContactsFolder(), ec))
            roots.push_back(new ContactNode());
        std::string wab = WABNode::AddressBookFolder();
        if (!wab.empty() && std::filesystem::is_directory(wab, ec))
            roots.push_back(new WABNode(wab));
    }
    roots.push_back(new MsgStore());
    return roots;
}

}  // namespace v
