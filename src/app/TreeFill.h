#pragma once
// Fills a CNodeTreeCtrl from a SourceTree: one item per container, its node as item data;
// a container that may hold items of its own has them counted as one more child.
#include "app/NodeTreeCtrl.h"
#include "backup/SourceTree.h"

class QLabel;
class QListWidget;

void FillTree(CNodeTreeCtrl& tree, const SourceTree& sources);

// The pane beside a tree: the current container's own items, and a line saying whether
// they are chosen.
struct ItemsPane {
    QWidget* widget;
    QListWidget* items;
    QLabel* note;
};
ItemsPane MakeItemsPane(QWidget* parent);
// Rows of items that are left out are greyed; `verb` is "backed up" or "restored".
void ShowItemsNote(const ItemsPane& pane, bool included, const QString& verb);

// Lists a container's items (text and icon only), greyed when they are left out.
void ShowItems(const ItemsPane& pane, v::BasicNode* container, bool included);
