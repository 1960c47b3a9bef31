#pragma once
// Fills a CNodeTreeCtrl from a SourceTree: one item per container, its node as item data.
#include "app/NodeTreeCtrl.h"
#include "backup/SourceTree.h"

void FillTree(CNodeTreeCtrl& tree, const SourceTree& sources);
// Lists a container's items (text and icon only) in a list widget.
class QListWidget;
void ShowItems(QListWidget& list, v::BasicNode* container);
