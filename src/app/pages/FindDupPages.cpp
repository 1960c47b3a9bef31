#include "app/pages/FindDupPages.h"

#include <QDateTime>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/CommonPages.h"
#include "app/Prompts.h"
#include "app/TreeFill.h"
#include "app/Wizard.h"
#include "base/Text.h"
#include "dupfinder/DuplicateHandling.h"
#include "dupfinder/DuplicateSearch.h"
#include "model/MessageNodes.h"
#include "platform/StoreProps.h"

void CPageFindDupInProgress::OnSetActive() {
    if (WorkerRunning()) return;
    // A new search (after Back) waits again under the waiting text.
    if (m_waiting.isEmpty()) m_waiting = subTitle();
    setSubTitle(m_waiting);
    Bar()->setRange(0, 100);
    Bar()->setValue(0);
    StartJob([](WizardState& state, v::WorkerReport& report, std::stop_token stop) {
        return SearchDuplicates(state.duplicates, report, stop);
    });
}

void CPageFindDupInProgress::OnWorkerDone() {
    SetWizardButtons(kButtonsBackNext);
    ShowEnd(Result());
    setSubTitle(Result().cancelled
                    ? QStringLiteral("The search was cancelled. Press Next button to continue ...")
                    : QStringLiteral("The search has finished. Press Next button to choose what "
                                     "to do with the copies ..."));
    Details()->setText(
        Result().cancelled
            ? QStringLiteral("The search was cancelled: %1 duplicated messages found so far.")
                  .arg(m_state->duplicates.size())
            : QStringLiteral("%1 messages searched, %2 duplicated messages found.")
                  .arg(Result().itemsDone)
                  .arg(m_state->duplicates.size()));
}

CPageFindDupOptions::CPageFindDupOptions() : CWizardPropPage(kFindDupOptions) {
    m_tree = new CNodeTreeCtrl(this);
    m_tree->setObjectName(QStringLiteral("folders"));
    auto* group = new QGroupBox(QStringLiteral("Options for duplicated messages:"), this);
    m_delete = new QRadioButton(QStringLiteral("Delete duplicated messages"), group);
    m_move = new QRadioButton(QStringLiteral("Move duplicated messages to special folder"), group);
    auto* options = new QVBoxLayout(group);
    options->addWidget(m_delete);
    options->addWidget(m_move);
    m_review = new QListWidget(this);
    m_review->setObjectName(QStringLiteral("review"));
    m_review->setWordWrap(true);  // subjects and senders in full, never cut at the edge
    auto* right = new QVBoxLayout;
    right->addWidget(group);
    right->addWidget(new QLabel(QStringLiteral("Copies in the selected folder:"), this));
    right->addWidget(m_review, 1);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_tree, 1);
    layout->addLayout(right, 1);
    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { ShowCopiesOf(item); });
}

namespace {

// A copy's state in words, from its Maildir flags ("read, flagged"), or "unread".
QString StateInWords(const std::string& flags) {
    QStringList words;
    if (flags.find('S') != std::string::npos) words << QStringLiteral("read");
    if (flags.find('R') != std::string::npos) words << QStringLiteral("replied to");
    if (flags.find('P') != std::string::npos) words << QStringLiteral("forwarded");
    if (flags.find('F') != std::string::npos) words << QStringLiteral("flagged");
    if (flags.find('D') != std::string::npos) words << QStringLiteral("a draft");
    return words.isEmpty() ? QStringLiteral("unread") : words.join(QStringLiteral(", "));
}

// The flags a copy's file name carries after ":2,".
std::string FlagsOfFile(const std::string& file) {
    auto at = file.rfind(":2,");
    return at == std::string::npos ? std::string() : file.substr(at + 3);
}

}  // namespace

void CPageFindDupOptions::ShowCopiesOf(QTreeWidgetItem* item) {
    m_review->clear();
    if (m_state->duplicates.empty()) {
        new QListWidgetItem(QStringLiteral("No duplicated messages were found."), m_review);
        return;
    }
    auto* folder = item ? dynamic_cast<v::MsgFolder*>(CNodeTreeCtrl::NodeOf(item)) : nullptr;
    if (!folder) return;
    uint32_t lastKept = 0;
    for (const auto& d : m_state->duplicates) {
        if (d.identityId != folder->IdentityId() || d.folderId != folder->Props().folderId)
            continue;
        if (d.keptId != lastKept) {
            auto when = QDateTime::fromSecsSinceEpoch(
                d.received ? tindale::store::UnixFromFileTime(d.received) : 0, Qt::UTC);
            auto* header = new QListWidgetItem(
                QStringLiteral("\"%1\"\nfrom %2, %3")
                    .arg(QString::fromStdString(d.subject), QString::fromStdString(d.from),
                         when.toString(QStringLiteral("yyyy-MM-dd hh:mm"))),
                m_review);
            QFont bold = header->font();
            bold.setBold(true);
            header->setFont(bold);
            auto* kept = new QListWidgetItem(
                QStringLiteral("    stays: the copy that is %1 (the one you read, replied to or "
                               "flagged is kept; it takes the others' flags)")
                    .arg(StateInWords(d.keptFlags)),
                m_review);
            kept->setToolTip(QString::fromStdString(d.keptFile));
            lastKept = d.keptId;
        }
        auto* goes = new QListWidgetItem(
            QStringLiteral("    goes: a copy that is %1").arg(StateInWords(FlagsOfFile(d.file))),
            m_review);
        goes->setToolTip(QString::fromStdString(d.file));
    }
}

std::vector<DuplicateEntry> CPageFindDupOptions::Chosen() const {
    // Only the folders that the person left checked themselves are handled.
    std::set<FolderKey> chosen;
    for (QTreeWidgetItem* item : m_tree->PreOrder()) {
        auto* folder = dynamic_cast<v::MsgFolder*>(CNodeTreeCtrl::NodeOf(item));
        if (folder && m_tree->OwnItemsIncluded(item))
            chosen.insert({folder->IdentityId(), folder->Props().folderId});
    }
    return KeepInFolders(m_state->duplicates, chosen);
}

void CPageFindDupOptions::OnInitDialog() {
    m_delete->setChecked(true);
    m_sources = std::make_unique<SourceTree>(true);
    // A folder's own messages follow the folder: unticking Work and then ticking
    // Work/Projects leaves Work's own duplicates alone.
    FillTree(*m_tree, *m_sources);
    m_tree->CheckAllRoots();
}

void CPageFindDupOptions::OnSetActive() {
    // Nothing found: nothing to delete or move is offered.
    bool found = !m_state->duplicates.empty();
    m_delete->parentWidget()->setEnabled(found);
    ShowCopiesOf(m_tree->currentItem());
    // Labels are rebuilt on every visit: a folder with no duplicates shows its plain name.
    for (QTreeWidgetItem* item : m_tree->PreOrder()) {
        auto* folder = dynamic_cast<v::MsgFolder*>(CNodeTreeCtrl::NodeOf(item));
        if (!folder) continue;
        int count = 0;
        for (const auto& d : m_state->duplicates)
            count += d.folderId == folder->Props().folderId && d.identityId == folder->IdentityId();
        QString name = QString::fromStdString(folder->Props().name);
        item->setText(0, count ? QStringLiteral("%1 (%2)").arg(name).arg(count) : name);
    }
}

bool CPageFindDupOptions::validatePage() {
    std::vector<DuplicateEntry> chosen = Chosen();
    std::set<FolderKey> folders;
    for (const auto& d : chosen) folders.insert({d.identityId, d.folderId});
    if (m_move->isChecked()) {
        auto target = Prompts::Get().selectFolder(this);
        if (!target) return false;
        if (folders.count({target->first, target->second})) {
            ShowError(QString::fromUtf8(kMoveIntoSearchedFolder));
            return false;
        }
        m_state->moveTargetIdentity = target->first;
        m_state->moveTargetFolder = target->second;
    } else if (!chosen.empty() &&
               !Prompts::Get().confirm(this,
                                       QStringLiteral("Delete %1 duplicated messages from %2 %3?")
                                           .arg(chosen.size())
                                           .arg(folders.size())
                                           .arg(folders.size() == 1 ? QStringLiteral("folder")
                                                                    : QStringLiteral("folders")))) {
        return false;
    }
    m_state->duplicateAction =
        m_delete->isChecked() ? DuplicateAction::Delete : DuplicateAction::Move;
    m_state->duplicates = std::move(chosen);
    return true;
}

void CPageFindDupProcessing::OnInitDialog() {
    StartJob([](WizardState& state, v::WorkerReport& report, std::stop_token stop) {
        return ProcessDuplicates(state.ForDuplicates(), report, stop);
    });
}

void CPageFindDupProcessing::OnWorkerDone() {
    SetWizardButtons(kButtonsNext);
    ShowEnd(Result());
    Details()->setText(DescribeProblems(Result()));
}

CPageFindDupFinished::CPageFindDupFinished() : CWizardPropPage(kFindDupFinished) {
    m_report = new QLabel(this);
    m_report->setObjectName(QStringLiteral("report"));
    m_report->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_report);
    layout->addStretch(1);
}

void CPageFindDupFinished::OnInitDialog() {
    SetWizardButtons(kButtonsFinish);
    const auto& o =
        static_cast<CPageFindDupProcessing*>(m_sheet->Page(kFindDupProcessing))->Result();
    QString done = m_state->duplicateAction == DuplicateAction::Move ? QStringLiteral("moved")
                                                                     : QStringLiteral("deleted");
    QString text = QStringLiteral("%1 duplicated messages were %2; %3 could not be.")
                       .arg(o.itemsDone)
                       .arg(done)
                       .arg(o.LeftOut());
    if (o.cancelled) text += QStringLiteral(" The processing was cancelled.");
    if (!o.problems.empty()) text += QStringLiteral("\n\n") + DescribeProblems(o);
    m_report->setText(text);
}
