#include "app/NodeTreeCtrl.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <functional>

CNodeTreeCtrl::CNodeTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
}

int CNodeTreeCtrl::GetItemState(QTreeWidgetItem* item) const {
    auto it = m_checkStates.find(item);
    return it == m_checkStates.end() ? 0 : it->second;
}

void CNodeTreeCtrl::Show(QTreeWidgetItem* item, int state) {
    item->setCheckState(0, state == 1   ? Qt::Checked
                           : state == 2 ? Qt::PartiallyChecked
                                        : Qt::Unchecked);
}

void CNodeTreeCtrl::SetItemState(QTreeWidgetItem* item, int state, bool apply) {
    m_checkStates[item] = state;
    Show(item, state);
    if (apply && state >= 0 && state <= 2) Propagate(item);
    viewport()->update();
}

void CNodeTreeCtrl::ToggleItem(QTreeWidgetItem* item) {
    SetItemState(item, GetItemState(item) == 1 ? 0 : 1, true);
}

void CNodeTreeCtrl::ApplyDown(QTreeWidgetItem* item, int state) {
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem* child = item->child(i);
        m_checkStates[child] = state;
        Show(child, state);
        ApplyDown(child, state);
    }
}

void CNodeTreeCtrl::Propagate(QTreeWidgetItem* item) {
    for (QTreeWidgetItem* a = item->parent(); a; a = a->parent()) {
        bool all = true, none = true;
        for (int i = 0; i < a->childCount(); ++i) {
            int s = GetItemState(a->child(i));
            all = all && s == 1;
            none = none && s == 0;
        }
        int state = all ? 1 : none ? 0 : 2;
        m_checkStates[a] = state;
        Show(a, state);
    }
    ApplyDown(item, GetItemState(item));
}

void CNodeTreeCtrl::CheckAllRoots() {
    for (int i = 0; i < topLevelItemCount(); ++i) SetItemState(topLevelItem(i), 1, true);
}

void CNodeTreeCtrl::SetPointer(QTreeWidgetItem* item, const void* p) {
    item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(p)));
}

QRect CNodeTreeCtrl::CheckBoxRect(QTreeWidgetItem* item) const {
    QStyleOptionViewItem opt;
    initViewItemOption(&opt);
    QModelIndex index = indexFromItem(item);
    opt.rect = visualRect(index);
    opt.features |= QStyleOptionViewItem::HasCheckIndicator;
    opt.index = index;
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, this);
}

void CNodeTreeCtrl::mousePressEvent(QMouseEvent* event) {
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    if (item && event->button() == Qt::LeftButton &&
        CheckBoxRect(item).contains(event->position().toPoint())) {
        ToggleItem(item);
        setCurrentItem(item);
        emit itemToggled(item);
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void CNodeTreeCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    if (item && CheckBoxRect(item).contains(event->position().toPoint())) {
        mousePressEvent(event);  // a quick second click toggles again
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

std::vector<QTreeWidgetItem*> CNodeTreeCtrl::PreOrder() const {
    std::vector<QTreeWidgetItem*> out;
    std::function<void(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* item) {
        out.push_back(item);
        for (int i = 0; i < item->childCount(); ++i) walk(item->child(i));
    };
    for (int i = 0; i < topLevelItemCount(); ++i) walk(topLevelItem(i));
    return out;
}
