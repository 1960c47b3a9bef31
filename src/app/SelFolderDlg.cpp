#include "app/SelFolderDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Icons.h"
#include "app/NodeTreeCtrl.h"
#include "app/Prompts.h"
#include "app/QtText.h"
#include "model/MessageNodes.h"
#include "model/NodeIconRegistry.h"
#include "platform/MailStore.h"

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
    m_newFolder =
        buttons->addButton(QStringLiteral("&New folder..."), QDialogButtonBox::ActionRole);
    m_newFolder->setEnabled(false);
    connect(m_newFolder, &QPushButton::clicked, this, [this] { MakeFolder(); });
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

namespace {
constexpr int kIdentityRole = Qt::UserRole + 1;  // of a folder made in this dialog
constexpr int kFolderRole = Qt::UserRole + 2;
}  // namespace

void CSelFolderDlg::OnSelectionChanged(QTreeWidgetItem* item) {
    auto* node = CNodeTreeCtrl::NodeOf(item);
    auto* folder = dynamic_cast<v::MsgFolder*>(node);
    bool made = item && item->data(0, kIdentityRole).isValid();
    m_ok->setEnabled(folder != nullptr || made);
    m_newFolder->setEnabled(folder || made || dynamic_cast<v::MsgStoreIden*>(node));
    if (made) {
        m_identityId = Wide(item->data(0, kIdentityRole).toString());
        m_folderId = item->data(0, kFolderRole).toUInt();
    } else if (folder) {
        m_identityId = folder->IdentityId();
        m_folderId = folder->Props().folderId;
    }
}

void CSelFolderDlg::MakeFolder() {
    QTreeWidgetItem* parentItem = m_tree->currentItem();
    if (!parentItem) return;
    auto* node = CNodeTreeCtrl::NodeOf(parentItem);
    std::u16string identity;
    uint32_t parent = tindale::store::kRootFolderId;
    if (auto* folder = dynamic_cast<v::MsgFolder*>(node)) {
        identity = folder->IdentityId();
        parent = folder->Props().folderId;
    } else if (auto* store = dynamic_cast<v::MsgStoreIden*>(node)) {
        identity = store->IdentityId();
    } else if (parentItem->data(0, kIdentityRole).isValid()) {
        identity = Wide(parentItem->data(0, kIdentityRole).toString());
        parent = parentItem->data(0, kFolderRole).toUInt();
    } else {
        return;
    }
    auto name = Prompts::Get().text(this, QStringLiteral("Name of the new folder:"));
    if (!name || name->trimmed().isEmpty()) return;
    auto ns = v::OpenStoreFor(identity);
    uint32_t made = 0;
    if (!ns ||
        ns->CreateFolder(parent, name->trimmed().toStdString(), made) != tindale::store::S_OK) {
        Prompts::Get().error(
            this,
            QStringLiteral("The folder \"%1\" could not be made there.").arg(name->trimmed()));
        return;
    }
    auto* item = new QTreeWidgetItem(parentItem);
    item->setText(0, name->trimmed());
    item->setIcon(0, IconForIndex(v::NodeIconRegistry::Instance().IndexForKey(u"Folder")));
    item->setData(0, kIdentityRole, Narrow(identity));
    item->setData(0, kFolderRole, made);
    parentItem->setExpanded(true);
    m_tree->setCurrentItem(item);
}
