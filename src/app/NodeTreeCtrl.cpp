#include "app/NodeTreeCtrl.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>

CNodeTreeCtrl::CNodeTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
}

int CNodeTreeCtrl::GetItemState(QTreeWidgetItem* item) const {
    auto it = m_checkStates.find(item);
    return it == m_checkStates.end() ? 0 : it->second;
}

void CNodeTreeCtrl::Show(QTreeWidgetItem* item, int state) {
    // Qt must never flip a box on its own (a click it handles, Space): that would show a
    // state the jobs do not use. The box is drawn from the data alone.
    item->setFlags(item->flags() & ~Qt::ItemIsUserCheckable);
    item->setCheckState(0, state == 1   ? Qt::Checked
                           : state == 2 ? Qt::PartiallyChecked
                                        : Qt::Unchecked);
}

void CNodeTreeCtrl::SetItemState(QTreeWidgetItem* item, int state, bool apply) {
    m_checkStates[item] = state;
    if (auto own = m_ownIncluded.find(item); own != m_ownIncluded.end() && state != 2)
        own->second = state == 1;
    Show(item, state);
    if (apply && state >= 0 && state <= 2) Propagate(item);
    viewport()->update();
}

void CNodeTreeCtrl::ToggleItem(QTreeWidgetItem* item) {
    SetItemState(item, GetItemState(item) == 1 ? 0 : 1, true);
}

// Iterative, like every walk of the tree: an archive's tree can be thousands of levels deep.
void CNodeTreeCtrl::ApplyDown(QTreeWidgetItem* item, int state) {
    std::vector<QTreeWidgetItem*> pending{item};
    while (!pending.empty()) {
        QTreeWidgetItem* at = pending.back();
        pending.pop_back();
        for (int i = 0; i < at->childCount(); ++i) {
            QTreeWidgetItem* child = at->child(i);
            m_checkStates[child] = state;
            if (auto own = m_ownIncluded.find(child); own != m_ownIncluded.end())
                own->second = state == 1;
            Show(child, state);
            pending.push_back(child);
        }
    }
}

int CNodeTreeCtrl::DerivedState(QTreeWidgetItem* item) const {
    bool all = true, none = true;
    auto count = [&](int s) {
        all = all && s == 1;
        none = none && s == 0;
    };
    for (int i = 0; i < item->childCount(); ++i) count(GetItemState(item->child(i)));
    if (auto own = m_ownIncluded.find(item); own != m_ownIncluded.end()) count(own->second ? 1 : 0);
    return all ? 1 : none ? 0 : 2;
}

void CNodeTreeCtrl::Propagate(QTreeWidgetItem* item) {
    ApplyDown(item, GetItemState(item));
    for (QTreeWidgetItem* a = item->parent(); a; a = a->parent()) {
        int state = DerivedState(a);
        m_checkStates[a] = state;
        Show(a, state);
    }
}

void CNodeTreeCtrl::SetHasOwnItems(QTreeWidgetItem* item, bool has) {
    if (has)
        m_ownIncluded[item] = GetItemState(item) != 0;
    else
        m_ownIncluded.erase(item);
}

bool CNodeTreeCtrl::OwnItemsIncluded(QTreeWidgetItem* item) const {
    int state = GetItemState(item);
    if (state != 2) return state == 1;
    auto own = m_ownIncluded.find(item);
    return own != m_ownIncluded.end() && own->second;
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

void CNodeTreeCtrl::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && currentItem() && event->modifiers() == Qt::NoModifier) {
        ToggleItem(currentItem());
        emit itemToggled(currentItem());
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

std::vector<QTreeWidgetItem*> CNodeTreeCtrl::PreOrder() const {
    std::vector<QTreeWidgetItem*> out, pending;
    for (int i = topLevelItemCount() - 1; i >= 0; --i) pending.push_back(topLevelItem(i));
    while (!pending.empty()) {
        QTreeWidgetItem* item = pending.back();
        pending.pop_back();
        out.push_back(item);
        for (int i = item->childCount() - 1; i >= 0; --i) pending.push_back(item->child(i));
    }
    return out;
}
