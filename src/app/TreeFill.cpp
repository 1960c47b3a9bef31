#include "app/TreeFill.h"

#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "app/Icons.h"
#include "app/QtText.h"

namespace {
void Insert(QTreeWidgetItem* parent, CNodeTreeCtrl& tree, const SourceTree::Item& item) {
    auto* widgetItem = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(&tree);
    widgetItem->setText(0, Narrow(item.node->GetDisplayName()));
    widgetItem->setIcon(0, IconForIndex(item.node->iconIndex));
    CNodeTreeCtrl::SetNode(widgetItem, item.node);
    tree.SetHasOwnItems(widgetItem, item.node->MayHoldItems());
    for (const auto& child : item.children) Insert(widgetItem, tree, *child);
}
}  // namespace

void FillTree(CNodeTreeCtrl& tree, const SourceTree& sources) {
    tree.clear();
    for (const auto& root : sources.Roots()) Insert(nullptr, tree, *root);
    if (tree.topLevelItemCount() > 0) tree.topLevelItem(0)->setExpanded(true);
}

ItemsPane MakeItemsPane(QWidget* parent) {
    ItemsPane pane{new QWidget(parent), nullptr, nullptr};
    pane.items = new QListWidget(pane.widget);
    pane.items->setObjectName(QStringLiteral("items"));
    pane.note = new QLabel(pane.widget);
    pane.note->setObjectName(QStringLiteral("itemsNote"));
    pane.note->setWordWrap(true);
    auto* layout = new QVBoxLayout(pane.widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pane.items, 1);
    layout->addWidget(pane.note);
    return pane;
}

void ShowItemsNote(const ItemsPane& pane, bool included, const QString& verb) {
    for (int i = 0; i < pane.items->count(); ++i) {
        auto* row = pane.items->item(i);
        row->setFlags(included ? row->flags() | Qt::ItemIsEnabled
                               : row->flags() & ~Qt::ItemIsEnabled);
    }
    if (pane.items->count() == 0)
        pane.note->clear();
    else if (included)
        pane.note->setText(QStringLiteral("These items will be %1.").arg(verb));
    else
        pane.note->setText(
            QStringLiteral("These items will not be %1: tick the folder itself to include them.")
                .arg(verb));
}

void ShowItems(const ItemsPane& pane, v::BasicNode* container, bool included) {
    pane.items->clear();
    if (container) {
        v::NodeList items;
        container->EnumItems(items);
        for (auto& node : items)
            new QListWidgetItem(IconForIndex(node->iconIndex), Narrow(node->GetDisplayName()),
                                pane.items);
    }
    ShowItemsNote(pane, included, QStringLiteral("backed up"));
}
