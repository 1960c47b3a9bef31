// Walks every mode of the wizard on the current (demo) home and saves a picture of each
// page: tindale-screenshots OUTPUT_DIR. Run by scripts/screenshots under xvfb-run.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>

#include "app/Icons.h"
#include "app/ImapPasswordDlg.h"
#include "app/NodeTreeCtrl.h"
#include "app/Prompts.h"
#include "app/Wizard.h"
#include "app/WorkerBridge.h"
#include "platform/Identities.h"

namespace {

QString g_dir;
int g_count = 0;

void Settle(int ms = 150) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void Shot(CWizard& wizard, const QString& name) {
    Settle();
    wizard.grab().save(QDir(g_dir).filePath(
        QStringLiteral("%1-%2.png").arg(++g_count, 2, 10, QLatin1Char('0')).arg(name)));
}

void WaitWorker(CWizard& wizard) {
    while (wizard.Workers().Running()) Settle(50);
    Settle(300);
}

std::unique_ptr<CWizard> Start(const char* mode) {
    auto wizard = std::make_unique<CWizard>();
    wizard->show();
    wizard->currentPage()->findChild<QRadioButton*>(mode)->setChecked(true);
    return wizard;
}

void SetText(CWizard& wizard, const char* name, const QString& text) {
    wizard.currentPage()->findChild<QLineEdit*>(name)->setText(text);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setWindowIcon(AppIcon());
    g_dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(g_dir);
    Prompts::Get().password = [](QWidget*) -> std::optional<QString> {
        return QStringLiteral("demo password");
    };
    // Questions (a short password, deleting duplicates) are answered Yes: each is a modal
    // dialog of its own.
    Prompts::Get().confirm = [](QWidget*, const QString&) { return true; };
    QString archive = QDir::home().filePath(QStringLiteral("demo.vqz"));

    auto backup = Start("modeBackup");
    Shot(*backup, QStringLiteral("welcome"));
    backup->next();
    SetText(*backup, "path", archive);
    Shot(*backup, QStringLiteral("backup-1-output"));
    backup->next();
    Shot(*backup, QStringLiteral("backup-2-sources"));
    backup->next();
    auto boxes = backup->currentPage()->findChildren<QCheckBox*>();
    for (auto* box : boxes) box->setChecked(true);
    auto edits = backup->currentPage()->findChildren<QLineEdit*>();
    for (auto* edit : edits) edit->setText(QStringLiteral("demo password"));
    Shot(*backup, QStringLiteral("backup-3-options"));
    backup->next();
    Shot(*backup, QStringLiteral("backup-4-ready"));
    backup->next();
    Shot(*backup, QStringLiteral("backup-5-progress"));
    WaitWorker(*backup);
    Shot(*backup, QStringLiteral("backup-5-done"));
    backup->next();
    Shot(*backup, QStringLiteral("backup-6-finished"));
    backup.reset();

    // Restore into an identity of its own, so the mail is not doubled in the demo stores.
    tindale::identities::Add(u"Restored mail",
                             QDir::home().filePath(QStringLiteral("Mail/restored")).toStdString());
    auto restore = Start("modeRestore");
    restore->next();
    SetText(*restore, "path", archive);
    Shot(*restore, QStringLiteral("restore-1-archive"));
    restore->next();
    // As it opens: each identity to its own, and where each one goes. (Named after the
    // destination page's picture, so that the numbers of the others stay.)
    Settle();
    restore->grab().save(
        QDir(g_dir).filePath(QStringLiteral("10b-restore-2-each-identity-to-its-own.png")));
    if (auto* list = restore->currentPage()->findChild<QTreeWidget*>("identities"))
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            list->topLevelItem(i)->setSelected(list->topLevelItem(i)->text(0) ==
                                               QStringLiteral("Restored mail"));
    Shot(*restore, QStringLiteral("restore-2-destination"));
    restore->next();
    if (auto* tree = restore->currentPage()->findChild<QTreeWidget*>("records")) {
        tree->expandAll();
        tree->setCurrentItem(tree->topLevelItem(3));
    }
    Shot(*restore, QStringLiteral("restore-3-items"));
    // One subfolder unticked: My Documents is partly chosen and its own files still are.
    if (auto* tree = restore->currentPage()->findChild<CNodeTreeCtrl*>("records")) {
        for (auto* item : tree->PreOrder())
            if (item->text(0) == QStringLiteral("Reports")) {
                tree->ToggleItem(item);
                tree->setCurrentItem(item->parent());
                Shot(*restore, QStringLiteral("restore-3-items-subfolder-unticked"));
                tree->ToggleItem(item);
            }
    }
    restore->next();
    Shot(*restore, QStringLiteral("restore-4-ready"));
    restore->next();
    WaitWorker(*restore);
    Shot(*restore, QStringLiteral("restore-5-done"));
    restore->next();
    Shot(*restore, QStringLiteral("restore-6-finished"));
    restore.reset();

    auto test = Start("modeTest");
    test->next();
    SetText(*test, "path", archive);
    Shot(*test, QStringLiteral("test-1-archive"));
    test->next();
    WaitWorker(*test);
    Shot(*test, QStringLiteral("test-2-done"));
    test.reset();

    auto dup = Start("modeFindDup");
    dup->next();
    WaitWorker(*dup);
    Shot(*dup, QStringLiteral("finddup-1-search"));
    // The confirmation before deleting is answered Yes (it is a modal question of its own).
    Prompts::Get().confirm = [](QWidget*, const QString&) { return true; };
    for (const char* name : {"finddup-2-options", "finddup-3-processing", "finddup-4-finished"}) {
        if (!dup->button(QWizard::NextButton)->isEnabled()) break;
        dup->next();
        WaitWorker(*dup);
        if (auto* tree = dup->currentPage()->findChild<QTreeWidget*>("folders")) {
            tree->expandAll();
            // The Inbox selected: its copies are listed beside the tree.
            auto found =
                tree->findItems(QStringLiteral("Inbox"), Qt::MatchStartsWith | Qt::MatchRecursive);
            if (!found.isEmpty()) tree->setCurrentItem(found.front());
        }
        Shot(*dup, QString::fromLatin1(name));
    }
    dup.reset();

    // The question a mail server's account asks the first time it is opened.
    CImapPasswordDlg imap(QStringLiteral("me@example.org at mail.example.org"), QString());
    imap.show();
    Settle();
    imap.grab().save(QDir(g_dir).filePath(QStringLiteral("imap-password.png")));
    return 0;
}
