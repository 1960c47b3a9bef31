#include "app/TreeFill.h"

#include <QListWidget>

#include "app/Icons.h"
#include "app/QtText.h"

namespace {
void Insert(QTreeWidgetItem* parent, CNodeTreeCtrl& tree, const SourceTree::Item& item) {
    auto* widgetItem = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(&tree);
    widgetItem->setText(0, Narrow(item.node->GetDisplayName()));
    widgetItem->setIcon(0, IconForIndex(item.node->iconIndex));
    CNodeTreeCtrl::SetNode(widgetItem, item.node);
    for (const auto& child : item.children) Insert(widgetItem, tree, *child);
}
}  // namespace

void FillTree(CNodeTreeCtrl& tree, const SourceTree& sources) {
    tree.clear();
    for (const auto& root : sources.Roots()) Insert(nullptr, tree, *root);
    if (tree.topLevelItemCount() > 0) tree.topLevelItem(0)->setExpanded(true);
}

void ShowItems(QListWidget& list, v::BasicNode* container) {
    list.clear();
    if (!container) return;
    v::NodeList items;
    container->EnumItems(items);
    for (auto& node : items)
        new QListWidgetItem(IconForIndex(node->iconIndex), Narrow(node->GetDisplayName()), &list);
}
