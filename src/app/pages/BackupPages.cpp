#include "app/pages/BackupPages.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QSplitter>
#include <QVBoxLayout>

#include "app/Prompts.h"
#include "app/QtText.h"
#include "app/TreeFill.h"
#include "app/Wizard.h"
#include "archive/ArchiveHeader.h"
#include "archive/Processors.h"
#include "backup/BackupEngine.h"
#include "base/Text.h"
#include "model/ProgramNodes.h"

CPageBackupChooseOutput::CPageBackupChooseOutput() : CWizardPropPage(kBackupChooseOutput) {
    m_path = new PathChooser(this, [this](const QString& current) {
        QFileDialog dialog(this, QString(), current);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("vqz"));
        dialog.setNameFilters(
            {QStringLiteral("Quorrel File(*.vqz)"), QStringLiteral("All Files(*.*)")});
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_path);
    layout->addStretch(1);
}

bool CPageBackupChooseOutput::validatePage() {
    QString path = m_path->Path();
    if (path.isEmpty()) {
        ShowError(QStringLiteral("Please enter a filename before you go to next step"));
        return false;
    }
    bool fromDialog = m_path->ChosenInDialog();
    path = PathChooser::ResolveInHome(path);
    if (!path.endsWith(QStringLiteral(".vqz"), Qt::CaseInsensitive)) path += QStringLiteral(".vqz");
    m_path->SetPath(path);  // the person sees where the archive will be written
    if (Wide(path).size() > ArchiveHeader::kMaxPathUnits) {
        ShowError(QStringLiteral(
            "The archive path is too long for the archive header: use at most 2047 characters."));
        return false;
    }
    QFileInfo target(path);
    QFileInfo folder(target.absolutePath());
    if (target.isDir()) {
        ShowError(QStringLiteral("%1 is a folder: give a file name for the archive.").arg(path));
        return false;
    }
    if (!folder.isDir() || !folder.isWritable()) {
        ShowError(QStringLiteral("The archive cannot be created in %1: the folder %2. Choose "
                                 "another place.")
                      .arg(folder.filePath(), folder.exists()
                                                  ? QStringLiteral("cannot be written to")
                                                  : QStringLiteral("does not exist")));
        return false;
    }
    if (target.exists() && !fromDialog &&
        !Prompts::Get().confirm(
            this, QStringLiteral("%1 exists already. Replace it with the new archive?").arg(path)))
        return false;
    m_state->archivePath = Wide(path);
    return true;
}

CPageBackupChooseSource::CPageBackupChooseSource() : CWizardPropPage(kBackupChooseSource) {
    m_tree = new CNodeTreeCtrl(this);
    m_tree->setObjectName(QStringLiteral("sources"));
    m_pane = MakeItemsPane(this);
    auto* splitter = new QSplitter(this);
    splitter->addWidget(m_tree);
    splitter->addWidget(m_pane.widget);
    splitter->setStretchFactor(1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter);
    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { ShowItemsOf(item); });
    connect(m_tree, &CNodeTreeCtrl::itemToggled, this, [this] {
        if (auto* item = m_tree->currentItem())
            ShowItemsNote(m_pane, m_tree->OwnItemsIncluded(item), QStringLiteral("backed up"));
    });
}

void CPageBackupChooseSource::ShowItemsOf(QTreeWidgetItem* item) {
    if (m_initialised && item)
        ShowItems(m_pane, CNodeTreeCtrl::NodeOf(item), m_tree->OwnItemsIncluded(item));
}

void CPageBackupChooseSource::OnInitDialog() {
    m_sources = std::make_unique<SourceTree>(false);
    FillTree(*m_tree, *m_sources);
    m_tree->CheckAllRoots();
    // History and saved passwords wait to be ticked.
    for (QTreeWidgetItem* item : m_tree->PreOrder())
        if (auto* node = CNodeTreeCtrl::NodeOf(item); node && !node->CheckedByDefault())
            m_tree->SetItemState(item, 0, true);
    m_initialised = true;
}

bool CPageBackupChooseSource::validatePage() {
    // Exactly what the tree shows: a partly ticked folder whose own items are left out is
    // written for its subfolders' sake, without its items.
    std::vector<v::BasicNode*> chosen;
    std::set<const v::BasicNode*> withoutOwnItems;
    for (QTreeWidgetItem* item : m_tree->PreOrder()) {
        if (m_tree->GetItemState(item) == 0) continue;
        chosen.push_back(CNodeTreeCtrl::NodeOf(item));
        if (m_tree->HasOwnItems(item) && !m_tree->OwnItemsIncluded(item))
            withoutOwnItems.insert(chosen.back());
    }
    if (chosen.empty()) {
        ShowError(
            QStringLiteral("You havn't choose any source item to backup, please check one or more "
                           "items before you go next step!\n"));
        return false;
    }
    m_state->backupSources = std::move(chosen);
    m_state->backupWithoutOwnItems = std::move(withoutOwnItems);
    return true;
}

CPageBackupOptions::CPageBackupOptions() : CWizardPropPage(kBackupOptions) {
    m_compress = new QCheckBox(QStringLiteral("Compress output archive"), this);
    m_quick =
        new QCheckBox(QStringLiteral("Quicker compression (a slightly larger archive)"), this);
    m_quick->setObjectName(QStringLiteral("quick"));
    m_encrypt = new QCheckBox(QStringLiteral("Encrypt output archive with password"), this);
    m_passwordLabel = new QLabel(QStringLiteral("Password:"), this);
    m_againLabel = new QLabel(QStringLiteral("Again:"), this);
    m_password = new QLineEdit(this);
    m_again = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    m_again->setEchoMode(QLineEdit::Password);
    // Sealed is the default; the original format's scheme stays for older readers, named for
    // what it is.
    m_sealed = new QRadioButton(
        QStringLiteral("Sealed: only the password opens it, and any change is detected"), this);
    m_legacy =
        new QRadioButton(QStringLiteral("Compatible with older readers (weak protection)"), this);
    m_sealed->setObjectName(QStringLiteral("sealed"));
    m_legacy->setObjectName(QStringLiteral("legacy"));
    m_sealed->setChecked(true);
    m_costNote = new QLabel(this);
    m_costNote->setObjectName(QStringLiteral("costNote"));
    m_costNote->setWordWrap(true);
    m_costNote->setForegroundRole(QPalette::PlaceholderText);
    m_secretsNote = new QLabel(this);
    m_secretsNote->setObjectName(QStringLiteral("secretsNote"));
    m_secretsNote->setWordWrap(true);
    auto* grid = new QGridLayout(this);
    grid->addWidget(m_compress, 0, 0, 1, 3);
    grid->addWidget(m_quick, 1, 1, 1, 3);
    grid->addWidget(m_encrypt, 2, 0, 1, 3);
    grid->addWidget(m_passwordLabel, 3, 1);
    grid->addWidget(m_password, 3, 2);
    grid->addWidget(m_againLabel, 4, 1);
    grid->addWidget(m_again, 4, 2);
    grid->addWidget(m_sealed, 5, 1, 1, 3);
    grid->addWidget(m_legacy, 6, 1, 1, 3);
    grid->addWidget(m_costNote, 7, 0, 1, 4);
    grid->addWidget(m_secretsNote, 8, 0, 1, 4);
    grid->setColumnMinimumWidth(0, 16);
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(9, 1);
    connect(m_encrypt, &QCheckBox::toggled, this, [this] { UpdatePasswordControls(); });
    for (QAbstractButton* b :
         {static_cast<QAbstractButton*>(m_compress), static_cast<QAbstractButton*>(m_quick),
          static_cast<QAbstractButton*>(m_encrypt), static_cast<QAbstractButton*>(m_sealed),
          static_cast<QAbstractButton*>(m_legacy)})
        connect(b, &QAbstractButton::toggled, this, [this] { UpdateCostNote(); });
    UpdatePasswordControls();
    UpdateCostNote();
}

// Sealed archives compress with zstd, which nothing but Tindale reads anyway; every other
// archive compresses with LZMA so that any reader of the format opens it.
void CPageBackupOptions::UpdateCostNote() {
    bool sealed = m_encrypt->isChecked() && m_sealed->isChecked();
    // The quicker setting is LZMA's: shown only where LZMA is used (a sealed archive's zstd is
    // quick already).
    m_quick->setHidden(!m_compress->isChecked() || sealed);
    QString note;
    if (!m_compress->isChecked())
        note = QStringLiteral("Not compressed: the quickest to write, as large as your data.");
    else if (sealed)
        note = QStringLiteral(
            "Compressed with zstd inside the seal: about as quick as not compressing; text and "
            "mail shrink to a third of their size or less, photos and archives stay as they "
            "are.");
    else if (m_quick->isChecked())
        note = QStringLiteral(
            "Compressed with LZMA's quicker setting, which every reader of the format opens: "
            "about four times quicker than the usual setting, about 5% larger.");
    else
        note = QStringLiteral(
            "Compressed with LZMA, which every reader of the format opens: about ten times "
            "slower than a sealed archive's compression, and a few percent smaller.");
    if (m_encrypt->isChecked() && m_legacy->isChecked())
        note += QStringLiteral(
            "\nThe older readers' scheme (DES) hides only the first 8 bytes of every 10 KiB "
            "piece: most of your mail stays readable to anyone who has the file, and changes "
            "are not detected. Choose it only when another program must open the archive.");
    m_costNote->setText(note);
    UpdateSecretsNote(sealed);
}

// Saved passwords and keys are chosen on the source page, unticked at first, and written only
// into a sealed archive.
void CPageBackupOptions::UpdateSecretsNote(bool sealed) {
    bool ticked = m_state && std::any_of(m_state->backupSources.begin(),
                                         m_state->backupSources.end(), [](v::BasicNode* node) {
                                             auto* program = v::ProgramOf(node);
                                             return program && program->HoldsSecrets();
                                         });
    if (!ticked)
        m_secretsNote->setText(QStringLiteral(
            "Saved passwords and keys (Thunderbird's, the browsers', the desktop keyring) are "
            "left out unless you tick them on the previous page; they are saved only in "
            "sealed archives."));
    else if (sealed)
        m_secretsNote->setText(QStringLiteral(
            "The saved passwords and keys you ticked go into this sealed archive: keep its "
            "password safe."));
    else
        m_secretsNote->setText(QStringLiteral(
            "The saved passwords and keys you ticked will be left out: they are saved only in "
            "sealed archives. Choose \"Encrypt\" and \"Sealed\" to keep them."));
}

void CPageBackupOptions::UpdatePasswordControls() {
    bool on = m_encrypt->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(m_passwordLabel), static_cast<QWidget*>(m_password),
                       static_cast<QWidget*>(m_againLabel), static_cast<QWidget*>(m_again),
                       static_cast<QWidget*>(m_sealed), static_cast<QWidget*>(m_legacy)})
        w->setEnabled(on);
}

bool CPageBackupOptions::validatePage() {
    bool encrypt = m_encrypt->isChecked();
    if (encrypt) {
        if (m_password->text().isEmpty()) {
            ShowError(QStringLiteral("Your password can not be empty!"));
            return false;
        }
        if (Wide(m_password->text()) != Wide(m_again->text())) {
            ShowError(QStringLiteral("Your password is invalid, please check and enter again!"));
            return false;
        }
        if (m_legacy->isChecked() && Wide(m_password->text()).size() > kMaxPasswordUnits) {
            ShowError(QStringLiteral("Your password is too long: use at most 27 characters."));
            return false;
        }
        // Asked once for each short password, not again on every visit.
        constexpr int kShortPassword = 8;
        if (m_password->text().size() < kShortPassword &&
            m_password->text() != m_shortPasswordAccepted) {
            if (!Prompts::Get().confirm(
                    this, QStringLiteral("This password has only %1 characters: anyone who gets "
                                         "the archive can try passwords like it quickly. Use "
                                         "it anyway?")
                              .arg(m_password->text().size())))
                return false;
            m_shortPasswordAccepted = m_password->text();
        }
    }
    m_state->compress = m_compress->isChecked();
    m_state->quickCompression = !m_quick->isHidden() && m_quick->isChecked();
    m_state->encrypt = encrypt;
    m_state->legacyEncryption = encrypt && m_legacy->isChecked();
    if (encrypt) m_state->password = Wide(m_password->text());
    return true;
}

QString CPageBackupReady::SummaryText() const {
    QString text =
        QStringLiteral(
            "Output filename: %1\nCompress Archive: %2\nEncrypt Archive: %3\nNumber of backup "
            "items: %4")
            .arg(Narrow(m_state->archivePath), YesNo(m_state->compress),
                 !m_state->encrypt           ? YesNo(false)
                 : m_state->legacyEncryption ? QStringLiteral("Yes (compatible, weak protection)")
                                             : QStringLiteral("Yes (sealed)"))
            .arg(m_state->backupSources.size());
    // Each program's part chosen, and whether its secrets can go in.
    bool sealed = m_state->encrypt && !m_state->legacyEncryption;
    QStringList programs;
    for (v::BasicNode* node : m_state->backupSources)
        if (auto* program = dynamic_cast<v::ProgramNode*>(node))
            programs << QString::fromStdString(program->Label()) +
                            (program->HoldsSecrets() && !sealed
                                 ? QStringLiteral(" (left out: the archive is not sealed)")
                                 : QString());
    if (!programs.isEmpty())
        text += QStringLiteral("\n\nPrograms' files saved:\n    ") +
                programs.join(QStringLiteral("\n    "));
    return text;
}

void CPageBackupInProgress::OnInitDialog() {
    StartJob([](WizardState& state, v::WorkerReport& report, std::stop_token stop) {
        return BackupWorker(state.ForBackup(), report, stop);
    });
}

void CPageBackupInProgress::OnWorkerDone() {
    CancelButton()->setEnabled(false);
    SetWizardButtons(kButtonsNext);
    const v::Outcome& o = Result();
    ShowEnd(o);
    if (o.cancelled)
        setSubTitle(
            QStringLiteral("The backup was cancelled; no archive was written and an earlier "
                           "archive at that path is unchanged. Press Next button to continue ..."));
    else if (o.failed)
        // The reason, which may name a long path, goes below where it has room.
        setSubTitle(QStringLiteral(
            "The backup failed (the reason is below). Press Next button to continue ..."));
    else if (o.LeftOut())
        setSubTitle(
            QStringLiteral("Backup thread has finished, but %1 items were left out. Press Next "
                           "button to continue ...")
                .arg(o.LeftOut()));
    else
        setSubTitle(
            QStringLiteral("Backup thread has finished! Press Next button to continue ..."));
    Details()->setText(DescribeProblems(o));
}

void CPageBackupFinished::OnInitDialog() {
    const auto& o = static_cast<CPageBackupInProgress*>(m_sheet->Page(kBackupInProgress))->Result();
    QString summary;
    QFileInfo archive(Narrow(m_state->archivePath));
    if (!o.cancelled && !o.failed && archive.exists()) {
        summary = QStringLiteral("%1 items were saved in %2 (%3).")
                      .arg(o.itemsDone)
                      .arg(archive.absoluteFilePath(), QLocale().formattedDataSize(archive.size()));
        if (auto counts = v::DescribeCounts(o.counts); !counts.empty())
            summary +=
                QStringLiteral(" Saved: ") + QString::fromStdString(counts) + QStringLiteral(".");
        OfferFolder(archive.absolutePath());
    }
    ShowOutcome(o, QStringLiteral("The backup was cancelled."),
                QStringLiteral("The backup failed; no archive was written."),
                QStringLiteral(
                    "The archive was written, but some items could not be backed up (see below)."),
                summary);
}
