#include "app/pages/RestorePages.h"

#include <algorithm>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QVBoxLayout>

#include "app/Icons.h"
#include "app/KeyWait.h"
#include "app/Prompts.h"
#include "app/QtText.h"
#include "app/Wizard.h"
#include "archive/ArchiveReader.h"
#include "base/Text.h"
#include "model/FileNodes.h"
#include "model/MessageNodes.h"
#include "model/NodeIconRegistry.h"
#include "model/ProgramNodes.h"
#include "platform/Identities.h"
#include "restore/IdentityMap.h"
#include "restore/RecordTree.h"
#include "restore/RestoreEngine.h"

using tindale::text::ToUtf8;

namespace {

std::function<QString(const QString&)> OpenDialog(QWidget* parent, const QStringList& filters) {
    return [parent, filters](const QString& current) {
        QFileDialog dialog(parent, QString(), current);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilters(filters);
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    };
}

}  // namespace

CPageRestoreChooseSource::CPageRestoreChooseSource() : CWizardPropPage(kRestoreChooseSource) {
    m_path = new PathChooser(this, OpenDialog(this, {QStringLiteral("Quorrel Archive(*.vqz)")}));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_path);
    layout->addStretch(1);
}

bool CPageRestoreChooseSource::validatePage() {
    QString path = m_path->Path();
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        ShowError(QStringLiteral("Please enter a valid filename before you go to next step!"));
        return false;
    }
    // Read-only and never created: an archive on read-only media opens too.
    ArchiveReader reader;
    auto status = reader.Open(path.toStdString());
    if (status == ArchiveReader::OpenStatus::CannotOpen ||
        (status != ArchiveReader::OpenStatus::Readable &&
         reader.FileSize() < ArchiveHeader::kSize)) {
        ShowError(QStringLiteral("The file is invalid, please choose a valid backup archive!"));
        return false;
    }
    if (status != ArchiveReader::OpenStatus::Readable) {
        ShowError(
            QStringLiteral("The archive file is invalid, please choose a valid backup archive!"));
        return false;
    }
    const ArchiveHeader& header = reader.Header();
    if (header.Encrypted()) {
        auto password = Prompts::Get().password(this);
        if (!password) return false;
        std::u16string wide = Wide(*password);
        auto status = UnlockWithWait(this, reader, wide);
        if (status == ArchiveReader::OpenStatus::Cancelled) return false;
        if (status == ArchiveReader::OpenStatus::DamagedHeader) {
            ShowError(
                QStringLiteral("The archive's header is damaged, so no password can open it."));
            return false;
        }
        if (status != ArchiveReader::OpenStatus::Readable) {
            ShowError(QStringLiteral("Wrong password, please try again!"));
            return false;
        }
        m_state->password = Wide(*password);
    }
    m_state->sealKey = reader.Key() ? std::optional(*reader.Key()) : std::nullopt;
    m_state->archivePath = Wide(QFileInfo(path).absoluteFilePath());
    m_state->compress = header.Compressed();
    m_state->encrypt = header.Encrypted();
    return true;
}

CPageTestChooseSource::CPageTestChooseSource() : CWizardPropPage(kTestChooseSource) {
    m_path = new PathChooser(this, OpenDialog(this, {QStringLiteral("Quorrel File(*.vqz)"),
                                                     QStringLiteral("All Files(*.*)")}));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_path);
    layout->addStretch(1);
}

bool CPageTestChooseSource::validatePage() {
    QString path = m_path->Path();
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        ShowError(QStringLiteral(
            "The input file is invalid, please re-type the filename and try again!"));
        return false;
    }
    m_state->archivePath = Wide(QFileInfo(path).absoluteFilePath());
    m_state->password.clear();
    ArchiveReader reader;
    if (reader.Open(path.toStdString()) != ArchiveReader::OpenStatus::Readable ||
        !reader.Header().Encrypted())
        return true;  // the test itself says what is wrong with it
    // With the password every piece is decrypted and checked; without it (Cancel), only the
    // structure, and the result says so.
    auto password = Prompts::Get().password(this);
    if (!password) return true;
    auto status = UnlockWithWait(this, reader, Wide(*password));
    if (status == ArchiveReader::OpenStatus::Cancelled) return false;
    if (status == ArchiveReader::OpenStatus::WrongPassword) {
        ShowError(QStringLiteral("Wrong password, please try again!"));
        return false;
    }
    m_state->password = Wide(*password);
    return true;
}

CPageRestoreChooseDest::CPageRestoreChooseDest() : CWizardPropPage(kRestoreChooseDest) {
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("identities"));
    m_list->setColumnCount(2);
    m_list->setColumnCount(3);
    m_list->setHeaderLabels(
        {QStringLiteral("Identity"), QStringLiteral("Mail store"), QStringLiteral("Messages")});
    m_list->setRootIsDecorated(false);
    // One destination: what is restored, and what "Delete all messages" empties, is one store.
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->header()->resizeSection(0, 175);
    m_list->header()->resizeSection(1, 260);
    m_clear = new QCheckBox(QStringLiteral("Delete all messages from the selected identity"), this);
    m_pairs = new QTreeWidget(this);
    m_pairs->setObjectName(QStringLiteral("pairs"));
    m_pairs->setHeaderLabels({QStringLiteral("Archived identity"), QStringLiteral("Goes to")});
    m_pairs->setRootIsDecorated(false);
    m_pairs->header()->resizeSection(0, 175);
    m_pairs->setMaximumHeight(130);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(m_pairs);
    layout->addWidget(m_clear);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this] { ShowPairs(); });
}

void CPageRestoreChooseDest::ShowPairs() {
    auto selected = m_list->selectedItems();
    bool eachToItsOwn = !selected.isEmpty() && selected.front()->data(1, Qt::UserRole).toBool();
    m_pairs->setVisible(eachToItsOwn && m_pairs->topLevelItemCount() > 0);
    m_clear->setText(
        eachToItsOwn ? QStringLiteral("Delete all messages from the identities that receive mail")
                     : QStringLiteral("Delete all messages from the selected identity"));
}

// As far as names tell before the restore (an identity's id may match another name, and
// restored settings may register more stores): the identity of the same name, else made
// again; or any identity here the person picks instead.
void CPageRestoreChooseDest::FillPairs() {
    m_pairs->clear();
    auto here = tindale::identities::List();
    for (const auto& pair : PairIdentitiesByName(m_archivedIdentities)) {
        auto* row = new QTreeWidgetItem(m_pairs);
        row->setText(0, Narrow(pair.archived));
        auto* choice = new QComboBox(m_pairs);
        choice->addItem(pair.here ? QStringLiteral("%1 (%2 messages here now)")
                                        .arg(Narrow(pair.here->name))
                                        .arg(v::CountIdentityMessages(pair.here->id))
                                  : QStringLiteral("made again, with its store where it was"));
        for (const auto& identity : here)
            if (!pair.here || identity.id != pair.here->id)
                choice->addItem(Narrow(identity.name), Narrow(identity.id));
        m_pairs->setItemWidget(row, 1, choice);
    }
}

void CPageRestoreChooseDest::OnInitDialog() {
    v::MsgStore store;
    v::NodeList identities;
    store.EnumContainers(identities);
    // By name, so that the order is the same every time.
    std::sort(identities.begin(), identities.end(), [](const auto& a, const auto& b) {
        return a->GetDisplayName() < b->GetDisplayName();
    });
    for (auto& node : identities) {
        const auto& id = static_cast<v::MsgStoreIden&>(*node).IdentityId();
        auto* row = new QTreeWidgetItem(m_list);
        row->setText(0, Narrow(node->GetDisplayName()));
        row->setIcon(0, IconForIndex(node->iconIndex));
        row->setText(1, QString::fromStdString(tindale::identities::StoreRoot(id)));
        size_t count = v::CountIdentityMessages(id);
        row->setText(2, QString::number(count));
        row->setData(0, Qt::UserRole, Narrow(id));
        row->setData(2, Qt::UserRole, static_cast<qulonglong>(count));
    }
    // Each archived identity's mail to its own identity here: the one of its id or name, else
    // the identity made again with its store where it was (on a new computer, all of them).
    auto* own = new QTreeWidgetItem(m_list);
    own->setText(0, QStringLiteral("Each identity to its own"));
    own->setIcon(0, IconForIndex(v::NodeIconRegistry::Instance().IndexForKey(u"Local")));
    own->setText(1, QStringLiteral("the same identity here, else made again where it was"));
    own->setToolTip(1, own->text(1));
    own->setData(1, Qt::UserRole, true);
    own->setSelected(true);
}

void CPageRestoreChooseDest::OnSetActive() {
    // Another archive: emptying an identity is chosen anew, never carried over.
    if (m_archive != m_state->archivePath) {
        m_clear->setChecked(false);
        m_archivedIdentities.clear();
        RecordTree::Walk(ToUtf8(m_state->archivePath),
                         [this](const v::NodeRecord& rec, uint64_t, const std::string&, uint64_t) {
                             if (rec.TypeGuid() == v::MsgStoreIden::kTypeGuid)
                                 m_archivedIdentities.push_back(rec);
                         });
        FillPairs();
    }
    m_archive = m_state->archivePath;
    ShowPairs();
}

bool CPageRestoreChooseDest::validatePage() {
    QTreeWidgetItem* chosen = nullptr;
    for (int i = 0; i < m_list->topLevelItemCount() && !chosen; ++i)
        if (m_list->topLevelItem(i)->isSelected()) chosen = m_list->topLevelItem(i);
    if (!chosen) {
        ShowError(QStringLiteral("Please select a store before you go to next step!"));
        return false;
    }
    bool eachToItsOwn = chosen->data(1, Qt::UserRole).toBool();
    m_state->restoreIdentity =
        eachToItsOwn ? std::u16string() : Wide(chosen->data(0, Qt::UserRole).toString());
    m_state->restoreIdentityName = Wide(chosen->text(0));
    m_state->restoreIdentityMessages = chosen->data(2, Qt::UserRole).toULongLong();
    m_state->clearIdentity = m_clear->isChecked();
    m_state->identityFor.clear();
    for (int i = 0; eachToItsOwn && i < m_pairs->topLevelItemCount(); ++i) {
        auto* row = m_pairs->topLevelItem(i);
        auto* choice = static_cast<QComboBox*>(m_pairs->itemWidget(row, 1));
        if (choice && choice->currentIndex() > 0)
            m_state->identityFor[Wide(row->text(0))] = Wide(choice->currentData().toString());
    }
    return true;
}

CPageRestoreChooseItems::CPageRestoreChooseItems() : CWizardPropPage(kRestoreChooseItems) {
    m_tree = new CNodeTreeCtrl(this);
    m_tree->setObjectName(QStringLiteral("records"));
    m_pane = MakeItemsPane(this);
    m_items = m_pane.items;
    auto* splitter = new QSplitter(this);
    splitter->addWidget(m_tree);
    splitter->addWidget(m_pane.widget);
    splitter->setStretchFactor(1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter);
    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { ShowItemsOf(item); });
    connect(m_tree, &CNodeTreeCtrl::itemToggled, this,
            [this] { ShowItemsOf(m_tree->currentItem()); });
}

void CPageRestoreChooseItems::OnSetActive() {
    // Another archive chosen on step 1 (after Back) gets its own tree.
    if (m_loadedPath != m_state->archivePath) Load();
}

void CPageRestoreChooseItems::Load() {
    m_tree->clear();
    m_items->clear();
    m_pane.note->clear();
    // Records only: payloads are passed over without being read into memory.
    m_records = RecordTree::Load(ToUtf8(m_state->archivePath));
    m_loadedPath = m_state->archivePath;
    AddChildren(m_records.roots, nullptr);
}

void CPageRestoreChooseItems::AddChildren(const std::vector<RecordTree::Entry*>& entries,
                                          QTreeWidgetItem* parent) {
    // Without recursion and without propagating each tick: everything starts ticked, and an
    // archive's tree may be thousands of levels deep.
    std::vector<std::pair<RecordTree::Entry*, QTreeWidgetItem*>> pending;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) pending.emplace_back(*it, parent);
    while (!pending.empty()) {
        auto [e, under] = pending.back();
        pending.pop_back();
        if (!e->record.IsContainer()) continue;
        std::u16string key = e->record.IconKey();
        auto* item = under ? new QTreeWidgetItem(under) : new QTreeWidgetItem(m_tree);
        item->setText(0, Narrow(e->record.DisplayName()));
        item->setIcon(0, IconForKey(key.empty() ? u"Folder" : key));
        CNodeTreeCtrl::SetPointer(item, e);
        m_tree->SetItemState(item, 1, false);
        bool ownItems = std::any_of(e->children.begin(), e->children.end(),
                                    [](const auto* c) { return !c->record.IsContainer(); });
        m_tree->SetHasOwnItems(item, ownItems);
        for (auto it = e->children.rbegin(); it != e->children.rend(); ++it)
            pending.emplace_back(*it, item);
    }
}

void CPageRestoreChooseItems::ShowItemsOf(QTreeWidgetItem* item) {
    m_items->clear();
    m_pane.note->clear();
    auto* entry = CNodeTreeCtrl::PointerOf<RecordTree::Entry>(item);
    if (!entry) return;
    bool included = m_tree->OwnItemsIncluded(item);
    for (const RecordTree::Entry* child : entry->children) {
        if (child->record.IsContainer()) continue;
        QString name = Narrow(child->record.DisplayName());
        std::u16string key = child->record.IconKey();
        QIcon icon;
        if (!key.empty())
            icon = IconForKey(key);
        else if (child->record.TypeGuid() == v::FileFolderNode::kTypeGuid)
            icon = IconForFileName(name, false);
        new QListWidgetItem(icon, name, m_items);
    }
    ShowItemsNote(m_pane, included, QStringLiteral("restored"));
}

bool CPageRestoreChooseItems::validatePage() {
    // Exactly what the tree shows: every container whose own items are chosen (ticked, or
    // partly ticked with its own items left in), with those items; each record once.
    m_state->restoreItems.clear();
    for (QTreeWidgetItem* item : m_tree->PreOrder()) {
        if (!m_tree->OwnItemsIncluded(item)) continue;
        const auto* entry = CNodeTreeCtrl::PointerOf<RecordTree::Entry>(item);
        m_state->restoreItems.push_back(entry->record);
        for (const auto* child : entry->children)
            if (!child->record.IsContainer()) m_state->restoreItems.push_back(child->record);
    }
    return true;
}

CPageRestoreReady::CPageRestoreReady() : CSummaryPage(kRestoreReady) {
    m_keepNewer = new QCheckBox(QStringLiteral("Keep my newer files"), this);
    m_keepNewer->setObjectName(QStringLiteral("keepNewer"));
    m_keepNewer->setToolTip(QStringLiteral(
        "Files changed since the backup stay as they are; the others are replaced by their "
        "archived copies."));
    layout()->addWidget(m_keepNewer);
}

void CPageRestoreReady::OnSetActive() {
    m_plan = {};
    RestoreRequest request = m_state->ForRestore();
    request.clearIdentity = false;
    request.plan = &m_plan;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    v::NullReport report;
    RestoreWorker(request, report, {});
    QApplication::restoreOverrideCursor();
    m_keepNewer->setEnabled(!m_plan.newer.empty());
    if (m_plan.newer.empty()) m_keepNewer->setChecked(false);
    CSummaryPage::OnSetActive();
}

QString CPageRestoreReady::SummaryText() const {
    QString text =
        QStringLiteral(
            "Restore archive file: %1\nArchive compressed: %2\nArchive encrypted: %3\nItems to "
            "restore: %4\nMessages go to: %5\n")
            .arg(Narrow(m_state->archivePath), YesNo(m_state->compress), YesNo(m_state->encrypt))
            .arg(m_state->restoreItems.size())
            .arg(Narrow(m_state->restoreIdentityName));
    // Each to its own: where each archived identity's mail goes, as far as names tell before
    // the restore (settings restored first may register more stores, and an identity's id
    // may match another name).
    if (m_state->restoreIdentity.empty())
        for (const auto& pair : PairIdentitiesByName(m_state->restoreItems, m_state->identityFor))
            text += QStringLiteral("    %1 -> %2\n")
                        .arg(Narrow(pair.archived),
                             pair.here ? Narrow(pair.here->name)
                                       : QStringLiteral("made again, with its store where it was"));
    for (const auto& [name, count] : Emptied())
        text += QStringLiteral("\nAll %1 messages of %2 will be deleted before the restore\n")
                    .arg(count)
                    .arg(name);
    QStringList programs;
    for (const auto& rec : m_state->restoreItems)
        if (rec.TypeGuid() == v::ProgramNode::kTypeGuid) programs << Narrow(rec.DisplayName());
    if (!programs.isEmpty())
        text += QStringLiteral("\nPrograms' files restored (each only while it is closed):\n    ") +
                programs.join(QStringLiteral("\n    ")) + QStringLiteral("\n");
    text += QStringLiteral("\nExisting files replaced by their archived copies: %1\n")
                .arg(m_plan.replaced.size());
    if (!m_plan.newer.empty()) {
        text += QStringLiteral(
                    "Of these, changed since the backup (tick \"Keep my newer files\" to keep "
                    "them): %1\n")
                    .arg(m_plan.newer.size());
        for (const auto& path : m_plan.newer)
            text += QStringLiteral("    ") + QString::fromStdString(path) + QStringLiteral("\n");
    }
    return text;
}

bool CPageRestoreReady::validatePage() {
    m_state->keepNewer = m_keepNewer->isChecked();
    // Emptying an identity cannot be undone: asked once more, with what it costs.
    auto emptied = Emptied();
    if (emptied.empty()) return true;
    if (emptied.size() == 1)
        return Prompts::Get().confirm(
            this, QStringLiteral("Delete all %1 messages of %2, then restore the archive into it?")
                      .arg(emptied.front().second)
                      .arg(emptied.front().first));
    QStringList named;
    for (const auto& [name, count] : emptied)
        named << QStringLiteral("%1 (%2 messages)").arg(name).arg(count);
    return Prompts::Get().confirm(
        this, QStringLiteral("Delete all messages of %1, then restore the archive into them?")
                  .arg(named.join(QStringLiteral(", "))));
}

// The identities "Delete all messages" empties, with how many messages each holds now: the
// one chosen, or with each identity to its own, those that receive the archive's mail.
std::vector<std::pair<QString, uint64_t>> CPageRestoreReady::Emptied() const {
    std::vector<std::pair<QString, uint64_t>> out;
    if (!m_state->clearIdentity) return out;
    if (!m_state->restoreIdentity.empty()) {
        out.emplace_back(Narrow(m_state->restoreIdentityName), m_state->restoreIdentityMessages);
        return out;
    }
    for (const auto& identity : ReceivingIdentities(m_state->restoreItems, m_state->identityFor))
        out.emplace_back(Narrow(identity.name), v::CountIdentityMessages(identity.id));
    return out;
}

void CPageRestoreInProgress::OnInitDialog() {
    StartJob([](WizardState& state, v::WorkerReport& report, std::stop_token stop) {
        return RestoreWorker(state.ForRestore(), report, stop);
    });
}

void CPageRestoreInProgress::OnWorkerDone() {
    CancelButton()->setEnabled(false);
    SetWizardButtons(kButtonsNext);
    const v::Outcome& o = Result();
    if (o.cancelled)
        setSubTitle(
            QStringLiteral("The restore was cancelled; what was restored before stays. Press Next "
                           "button to continue ..."));
    else if (o.failed)
        // The reason, which may name a long path, goes below where it has room.
        setSubTitle(QStringLiteral(
            "The restore failed (the reason is below). Press Next button to continue ..."));
    else
        setSubTitle(QStringLiteral(
            "Restore process has finished, please click Next button to continue ..."));
    ShowEnd(o);
    Details()->setText(DescribeProblems(o));
}

void CPageRestoreFinished::OnInitDialog() {
    const auto& o =
        static_cast<CPageRestoreInProgress*>(m_sheet->Page(kRestoreInProgress))->Result();
    QString counts = QString::fromStdString(v::DescribeCounts(o.counts));
    // Messages and files that were there already are counted apart, not as restored.
    uint64_t skipped = o.alreadyThere + o.filesAlreadyThere;
    uint64_t restored = o.itemsDone > skipped ? o.itemsDone - skipped : 0;
    QString summary = QStringLiteral("%1 items were restored").arg(restored) +
                      (counts.isEmpty() ? QStringLiteral(".")
                                        : QStringLiteral(": ") + counts + QStringLiteral("."));
    if (o.alreadyThere)
        summary += QStringLiteral(
                       " %1 messages were already in their folder and were not added "
                       "again.")
                       .arg(o.alreadyThere);
    if (o.filesAlreadyThere)
        summary += QStringLiteral(
                       " %1 files already held their archived copy and were not "
                       "written again.")
                       .arg(o.filesAlreadyThere);
    ShowOutcome(o, QStringLiteral("The restore was cancelled."),
                QStringLiteral("The restore failed."),
                QStringLiteral("The restore has finished, but not everything was restored as it "
                               "was (see below)."),
                o.failed ? QString() : summary);
}

CPageTestInProgress::CPageTestInProgress() : CProgressPage(kTestInProgress) {}

void CPageTestInProgress::OnInitDialog() {
    auto result = m_result;
    StartWorker([result, path = m_state->archivePath, password = m_state->password](
                    v::WorkerReport& report, std::stop_token stop) {
        *result = TestArchiveWorker(path, password, report, stop);
    });
}

void CPageTestInProgress::OnWorkerDone() {
    CancelButton()->setEnabled(false);
    SetWizardButtons(kButtonsFinish);
    // Full only when the whole archive was read and found sound.
    if (m_result->verdict == ArchiveTestResult::Verdict::Sound) Bar()->setValue(Bar()->maximum());
    if (m_result->verdict == ArchiveTestResult::Verdict::Sound && !m_result->contentsChecked)
        setSubTitle(
            QStringLiteral("Test process has finished: structure sound; contents not "
                           "checked without the password. Press Finish button to exit."));
    else if (m_result->verdict == ArchiveTestResult::Verdict::Sound)
        setSubTitle(QStringLiteral(
            "Test process has finished, your archive has no error, press Finish button to exit!"));
    else
        setSubTitle(QStringLiteral("Test process has finished: %1. Press Finish button to exit.")
                        .arg(ShortVerdict()));
    Details()->setText(QString::fromStdString(m_result->Describe()));
}

// The verdict as the header can hold it: one that names an item or a long reason is told in
// full below the bar.
QString CPageTestInProgress::ShortVerdict() const {
    QString verdict = QString::fromStdString(m_result->Describe());
    if (verdict.size() <= 60) return verdict;
    return m_result->verdict == ArchiveTestResult::Verdict::Damaged
               ? QStringLiteral("the archive is damaged (see below)")
               : QStringLiteral("see below");
}
