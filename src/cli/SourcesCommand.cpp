#include "cli/Commands.h"

#include <functional>
#include <iostream>

#include "backup/SourceTree.h"
#include "base/Text.h"

using namespace tindale;

int RunSources(const Output& out) {
    SourceTree tree;
    if (out.AsJson()) {
        std::function<Json(const SourceTree::Item&)> node = [&](const SourceTree::Item& item) {
            Json children = Json::array();
            for (const auto& child : item.children) children.push_back(node(*child));
            return Json{{"name", text::ToUtf8(item.node->GetDisplayName())},
                        {"path", SourceTree::PathOf(item)},
                        {"chosen", item.state != SourceTree::kUnchecked},
                        {"children", children}};
        };
        Json roots = Json::array();
        for (const auto& root : tree.Roots()) roots.push_back(node(*root));
        out.Print(roots);
        return kExitOk;
    }
    std::function<void(const SourceTree::Item&)> print = [&](const SourceTree::Item& item) {
        std::cout << SourceTree::PathOf(item)
                  << (item.state == SourceTree::kUnchecked ? "  (left out unless chosen)" : "")
                  << "\n";
        for (const auto& child : item.children) print(*child);
    };
    for (const auto& root : tree.Roots()) print(*root);
    return kExitOk;
}
