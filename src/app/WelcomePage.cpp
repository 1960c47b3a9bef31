#include "app/WelcomePage.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>

#include "app/AboutDialog.h"
#include "app/PageTable.h"
#include "app/Prompts.h"

void LaunchCompanion(const QString& fileName) {
    QString path = QDir(QCoreApplication::applicationDirPath()).filePath(fileName);
    if (QFileInfo::exists(path)) QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QString UserGuidePath() {
    // Installed beside the program's other files, or (run from the build) in the sources.
    for (const QString& folder :
         {QStringLiteral(TINDALE_GUIDE_INSTALLED), QStringLiteral(TINDALE_GUIDE_SOURCE)}) {
        QString page = QDir(folder).filePath(QStringLiteral("index.html"));
        if (QFileInfo::exists(page)) return page;
    }
    return {};
}

void OpenUserGuide(QWidget* parent, const QString& section) {
    QString page = UserGuidePath();
    if (page.isEmpty()) {
        Prompts::Get().error(parent, QStringLiteral("The user guide is not installed with this "
                                                    "copy of Tindale."));
        return;
    }
    QUrl url = QUrl::fromLocalFile(page);
    if (!section.isEmpty()) url.setFragment(section);
    if (!Prompts::Get().openUrl(url))
        Prompts::Get().error(parent, QStringLiteral("The user guide could not be opened in a "
                                                    "browser. It is the file %1.")
                                         .arg(page));
}

QString GuideSectionFor(int pageId) {
    switch (pageId) {
        case kBackupChooseOutput:
            return QStringLiteral("backup-archive");
        case kBackupChooseSource:
            return QStringLiteral("backup-sources");
        case kBackupOptions:
            return QStringLiteral("backup-options");
        case kBackupReady:
        case kBackupInProgress:
        case kBackupFinished:
            return QStringLiteral("backup-run");
        case kRestoreChooseSource:
            return QStringLiteral("restore-archive");
        case kRestoreChooseDest:
            return QStringLiteral("restore-destination");
        case kRestoreChooseItems:
            return QStringLiteral("restore-items");
        case kRestoreReady:
        case kRestoreInProgress:
        case kRestoreFinished:
            return QStringLiteral("restore-run");
        case kTestChooseSource:
        case kTestInProgress:
            return QStringLiteral("test");
        case kFindDupInProgress:
            return QStringLiteral("duplicates-search");
        case kFindDupOptions:
        case kFindDupProcessing:
        case kFindDupFinished:
            return QStringLiteral("duplicates-review");
        default:
            return QStringLiteral("start");
    }
}

namespace {
QRadioButton* AddMode(QVBoxLayout* layout, QWidget* parent, const QString& name,
                      const QString& text, const QString& objectName) {
    auto* radio = new QRadioButton(name, parent);
    radio->setObjectName(objectName);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(12);
    font.setBold(true);
    radio->setFont(font);
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setContentsMargins(22, 0, 0, 6);
    layout->addWidget(radio);
    layout->addWidget(label);
    return radio;
}
}  // namespace

CPageWelcome::CPageWelcome(QWidget* parent) : CWizardPropPage(kWelcome, parent) {
    auto* layout = new QVBoxLayout(this);
    m_backup =
        AddMode(layout, this, QStringLiteral("Backup"),
                QStringLiteral("Following the backup wizard to get your email backed up. You can "
                               "compress or encrypt your output archive easily."),
                QStringLiteral("modeBackup"));
    m_restore = AddMode(
        layout, this, QStringLiteral("Restore"),
        QStringLiteral("Select this option you can choose a backed up archive and restore it "
                       "to the identity which you have selected."),
        QStringLiteral("modeRestore"));
    m_test = AddMode(
        layout, this, QStringLiteral("Test archive"),
        QStringLiteral("This option can test the integrity of your archive file, you can use "
                       "this option to make sure your archive can be restored successfully."),
        QStringLiteral("modeTest"));
    m_findDup = AddMode(
        layout, this, QStringLiteral("Find duplicated messages"),
        QStringLiteral("Find duplicated messages from the selected folders, you can move these "
                       "duplicated messages to other folder or just delete them."),
        QStringLiteral("modeFindDup"));
    m_backup->setChecked(true);
    auto* buttons = new QHBoxLayout;
    auto* about = new QPushButton(QStringLiteral("&About"), this);
    auto* explorer = new QPushButton(QStringLiteral("&Explorer"), this);
    auto* help = new QPushButton(QStringLiteral("&Help"), this);
    buttons->addWidget(about);
    buttons->addStretch(1);
    buttons->addWidget(explorer);
    buttons->addWidget(help);
    layout->addStretch(1);
    layout->addLayout(buttons);
    connect(about, &QPushButton::clicked, this, [this] { CAboutDialog(this).exec(); });
    connect(explorer, &QPushButton::clicked, this, [this] { StartExplorer(this); });
    connect(help, &QPushButton::clicked, this, [this] { OpenUserGuide(this); });
}

QString ExplorerProgram() {
    // Beside the wizard (installed together, or both in the build tree), else on the PATH.
    QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/tindale-explorer");
    if (QFileInfo(beside).isExecutable()) return beside;
    return QStandardPaths::findExecutable(QStringLiteral("tindale-explorer"));
}

bool StartExplorer(QWidget* parent) {
    QString program = ExplorerProgram();
    if (!program.isEmpty() && QProcess::startDetached(program, {})) return true;
    Prompts::Get().error(parent, QStringLiteral("The Explorer (tindale-explorer) could not be "
                                                "started: it is not installed beside the "
                                                "wizard. tindale-cli extract takes items out "
                                                "of an archive too."));
    return false;
}

int CPageWelcome::nextId() const {
    if (m_restore->isChecked()) return kRestoreChooseSource;
    if (m_test->isChecked()) return kTestChooseSource;
    if (m_findDup->isChecked()) return kFindDupInProgress;
    return kBackupChooseOutput;
}

void CPageWelcome::SelectMode(int firstPageId) {
    switch (firstPageId) {
        case kRestoreChooseSource:
            m_restore->setChecked(true);
            break;
        case kTestChooseSource:
            m_test->setChecked(true);
            break;
        case kFindDupInProgress:
            m_findDup->setChecked(true);
            break;
        default:
            m_backup->setChecked(true);
    }
}
