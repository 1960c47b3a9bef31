#include "app/SelFolderDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Icons.h"
#include "app/NodeTreeCtrl.h"
#include "app/QtText.h"
#include "model/MessageNodes.h"

namespace {
void Insert(QTreeWidget* tree, QTreeWidgetItem* parent, const SourceTree::Item& item) {
    auto* widgetItem = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
    widgetItem->setText(0, Narrow(item.node->GetDisplayName()));
    widgetItem->setIcon(0, IconForIndex(item.node->iconIndex));
    CNodeTreeCtrl::SetNode(widgetItem, item.node);
    for (const auto& child : item.children) Insert(tree, widgetItem, *child);
}
}  // namespace

CSelFolderDlg::CSelFolderDlg(QWidget* parent)
    : QDialog(parent),
      m_sources(std::make_unique<SourceTree>(true)),
      m_tree(new QTreeWidget(this)) {
    setWindowTitle(QStringLiteral("Select folder"));
    m_tree->setHeaderHidden(true);
    m_tree->setObjectName(QStringLiteral("folders"));
    for (const auto& root : m_sources->Roots()) Insert(m_tree, nullptr, *root);
    m_tree->expandAll();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { OnSelectionChanged(item); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Please select a folder to continue ..."), this));
    layout->addWidget(m_tree);
    layout->addWidget(buttons);
    resize(360, 420);
}

void CSelFolderDlg::OnSelectionChanged(QTreeWidgetItem* item) {
    auto* folder = dynamic_cast<v::MsgFolder*>(CNodeTreeCtrl::NodeOf(item));
    m_ok->setEnabled(folder != nullptr);
    if (!folder) return;
    m_identityId = folder->IdentityId();
    m_folderId = folder->Props().folderId;
}
