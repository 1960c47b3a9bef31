#pragma once
// A tree with three-state check boxes (0 unchecked, 1 checked, 2 partly checked) kept
// consistent between parents and children. Only a click on an item's check box toggles it;
// the partly checked state is shown.
#include <QTreeWidget>
#include <map>

namespace v {
class BasicNode;
}

class CNodeTreeCtrl : public QTreeWidget {
    Q_OBJECT
  public:
    explicit CNodeTreeCtrl(QWidget* parent = nullptr);

    int GetItemState(QTreeWidgetItem* item) const;
    void SetItemState(QTreeWidgetItem* item, int state, bool apply);
    void ToggleItem(QTreeWidgetItem* item);
    void Propagate(QTreeWidgetItem* item);
    void CheckAllRoots();

    static v::BasicNode* NodeOf(QTreeWidgetItem* item) { return PointerOf<v::BasicNode>(item); }
    static void SetNode(QTreeWidgetItem* item, v::BasicNode* node) { SetPointer(item, node); }
    // Item data: what the item stands for (a node, or an archive record).
    static void SetPointer(QTreeWidgetItem* item, const void* p);
    template <typename T>
    static T* PointerOf(QTreeWidgetItem* item) {
        return item ? reinterpret_cast<T*>(item->data(0, Qt::UserRole).value<quintptr>()) : nullptr;
    }
    // Where an item's check box is drawn, in viewport coordinates.
    QRect CheckBoxRect(QTreeWidgetItem* item) const;
    // Items in pre-order.
    std::vector<QTreeWidgetItem*> PreOrder() const;

  signals:
    void itemToggled(QTreeWidgetItem* item);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    void Show(QTreeWidgetItem* item, int state);
    void ApplyDown(QTreeWidgetItem* item, int state);
    std::map<QTreeWidgetItem*, int> m_checkStates;
};
