#include "backup/SourceTree.h"

#include <functional>

#include "base/Text.h"
#include "model/RootNodes.h"

SourceTree::SourceTree(bool messageStoreOnly) {
    for (auto& root : v::CreateRootNodes(messageStoreOnly)) {
        auto item = std::make_unique<Item>();
        item->node = root.get();
        owned_.push_back(std::move(root));
        Fill(*item);
        roots_.push_back(std::move(item));
    }
    // History and saved passwords wait to be ticked.
    std::function<void(Item&)> leaveOut = [&](Item& item) {
        if (!item.node->CheckedByDefault()) return SetState(item, kUnchecked);
        for (auto& child : item.children) leaveOut(*child);
    };
    for (auto& root : roots_) leaveOut(*root);
}

SourceTree::~SourceTree() {
    roots_.clear();
    // Children before parents, the reverse of the order they were made in.
    while (!owned_.empty()) owned_.pop_back();
}

void SourceTree::Fill(Item& item) {
    v::NodeList children;
    item.node->EnumContainers(children);
    for (auto& child : children) {
        auto sub = std::make_unique<Item>();
        sub->node = child.get();
        owned_.push_back(std::move(child));
        sub->parent = &item;
        Fill(*sub);
        item.children.push_back(std::move(sub));
    }
}

std::string SourceTree::PathOf(const Item& item) {
    std::string path = tindale::text::ToUtf8(item.node->GetDisplayName());
    for (const Item* p = item.parent; p; p = p->parent)
        path = tindale::text::ToUtf8(p->node->GetDisplayName()) + "/" + path;
    return path;
}

SourceTree::Item* SourceTree::Find(const std::string& path) const {
    std::function<Item*(const std::vector<std::unique_ptr<Item>>&)> search =
        [&](const std::vector<std::unique_ptr<Item>>& items) -> Item* {
        for (const auto& item : items) {
            if (PathOf(*item) == path) return item.get();
            if (path.rfind(PathOf(*item) + "/", 0) == 0)
                if (Item* found = search(item->children)) return found;
        }
        return nullptr;
    };
    return search(roots_);
}

void SourceTree::SetDown(Item& item, State state) {
    item.state = state;
    item.ownItems = state == kChecked;
    for (auto& child : item.children) SetDown(*child, state);
}

void SourceTree::UpdateUp(Item* item) {
    for (; item; item = item->parent) {
        bool all = true, none = true;
        auto count = [&](bool checked, bool unchecked) {
            all = all && checked;
            none = none && unchecked;
        };
        for (const auto& child : item->children)
            count(child->state == kChecked, child->state == kUnchecked);
        bool holdsItems = item->node->MayHoldItems();
        if (holdsItems) count(item->ownItems, !item->ownItems);
        if (item->children.empty() && !holdsItems) continue;
        item->state = all ? kChecked : none ? kUnchecked : kPartly;
    }
}

void SourceTree::SetState(Item& item, State state) {
    SetDown(item, state);
    UpdateUp(item.parent);
}

void SourceTree::SetAll(State state) {
    for (auto& root : roots_) SetDown(*root, state);
}

std::vector<v::BasicNode*> SourceTree::Selected() const {
    std::vector<v::BasicNode*> out;
    std::function<void(const Item&)> walk = [&](const Item& item) {
        if (item.state != kUnchecked) out.push_back(item.node);
        for (const auto& child : item.children) walk(*child);
    };
    for (const auto& root : roots_) walk(*root);
    return out;
}

std::set<const v::BasicNode*> SourceTree::WithoutOwnItems() const {
    std::set<const v::BasicNode*> out;
    std::function<void(const Item&)> walk = [&](const Item& item) {
        if (item.state != kUnchecked && !item.ownItems) out.insert(item.node);
        for (const auto& child : item.children) walk(*child);
    };
    for (const auto& root : roots_) walk(*root);
    return out;
}
