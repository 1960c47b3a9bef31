#include "model/NodeIconRegistry.h"

#include <algorithm>

namespace v {

const std::vector<std::u16string>& NodeIconRegistry::NamedKeys() {
    static const std::vector<std::u16string> keys = {
        u"Inbox",        u"Outbox",       u"Draft",  u"Sent",     u"Deleted",
        u"Nospec",       u"Message",      u"Local",  u"OE",       u"Registry",
        u"RegistryItem", u"FavoriteItem", u"Folder", u"Favorites"};
    return keys;
}

NodeIconRegistry& NodeIconRegistry::Instance() {
    static NodeIconRegistry registry;
    return registry;
}

NodeIconRegistry::NodeIconRegistry() {
    for (const auto& key : NamedKeys()) {
        byKey_[key] = static_cast<int32_t>(images_.size());
        images_.push_back({key, {}});
    }
}

int32_t NodeIconRegistry::IndexForKey(const std::u16string& key) {
    std::lock_guard lock(mutex_);
    auto [it, inserted] = byKey_.emplace(key, 0);
    return it->second;
}

int32_t NodeIconRegistry::IndexForSystemIcon(const std::string& systemKey) {
    std::lock_guard lock(mutex_);
    auto it = bySystemKey_.find(systemKey);
    if (it != bySystemKey_.end()) return it->second;
    int32_t index = static_cast<int32_t>(images_.size());
    images_.push_back({{}, systemKey});
    bySystemKey_[systemKey] = index;
    return index;
}

std::u16string NodeIconRegistry::KeyForIndex(int32_t index) {
    std::lock_guard lock(mutex_);
    for (const auto& [key, i] : byKey_)
        if (i == index) return key;
    return {};
}

std::vector<NodeIconRegistry::Entry> NodeIconRegistry::Entries() {
    std::lock_guard lock(mutex_);
    return images_;
}

std::string SystemIconKeyForPath(const std::string& path, bool isFolder) {
    if (isFolder) return "folder";
    auto slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    auto dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return "*";
    std::string ext = name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return "*" + ext;
}

}  // namespace v
