#pragma once
// A tree with three-state check boxes (0 unchecked, 1 checked, 2 partly checked) kept
// consistent between parents and children. A click on an item's check box, or Space on the
// current item, toggles it; the box shown is always the stored state.
//
// An item may have items of its own besides its children (a folder's files, a mail folder's
// messages). Those follow the item: ticking or unticking the item itself includes or
// excludes them, and they count like one more child when the item's state is worked out,
// so a folder whose subfolders are all unticked but whose own files are still chosen shows
// as partly checked, and a partly checked folder says by OwnItemsIncluded whether its own
// items are chosen.
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
    // Marks an item as having items of its own (included from the start).
    void SetHasOwnItems(QTreeWidgetItem* item, bool has);
    bool HasOwnItems(QTreeWidgetItem* item) const { return m_ownIncluded.count(item) > 0; }
    // Whether an item's own items are chosen: checked, or partly checked with them left in.
    bool OwnItemsIncluded(QTreeWidgetItem* item) const;

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
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void Show(QTreeWidgetItem* item, int state);
    void ApplyDown(QTreeWidgetItem* item, int state);
    int DerivedState(QTreeWidgetItem* item) const;
    std::map<QTreeWidgetItem*, int> m_checkStates;
    std::map<QTreeWidgetItem*, bool> m_ownIncluded;  // only items that have own items
};
