// The wizard shell: pages, mode sequences, buttons, cancel, the worker protocol, the tree.
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QUrl>

#include "GuiSupport.h"
#include "app/NodeTreeCtrl.h"
#include "app/PageTable.h"
#include "app/ProgressPage.h"
#include "app/Prompts.h"
#include "app/WelcomePage.h"
#include "app/Wizard.h"
#include "app/pages/RestorePages.h"
#include "archive/ArchiveHeader.h"
#include "archive/NodeRecord.h"
#include "support/TestHome.h"

class WizardShellTest : public QObject {
    Q_OBJECT
  private slots:
    // Help has a guide to open; an Explorer that cannot be started says so.
    void helpHasAGuideAndExplorerIsNeverSilent() {
        QVERIFY(QFileInfo::exists(UserGuidePath()));
        ScriptedPrompts prompts;
        CWizard wizard;
        wizard.show();
        QPushButton* explorer = nullptr;
        for (auto* button : wizard.currentPage()->findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("&Explorer")) explorer = button;
        QVERIFY(explorer);
        explorer->click();
        QCOMPARE(prompts.errors.size(), 1);
        QVERIFY(prompts.errors[0].contains(QStringLiteral("Explorer")));
        // Never larger than the screen.
        QVERIFY(wizard.width() <= wizard.screen()->availableGeometry().width());
    }

    // F1 opens the guide at the part about the page shown; every such part exists.
    void f1OpensTheGuideAtThePagesSection() {
        TestHome home;
        ScriptedPrompts prompts;
        CWizard wizard;
        wizard.show();
        wizard.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&wizard));
        wizard.next();  // Backup: the archive's name
        QTest::keyClick(wizard.currentPage(), Qt::Key_F1);
        QCOMPARE(prompts.opened.size(), 1);
        QCOMPARE(QUrl(prompts.opened[0]).fragment(), QStringLiteral("backup-archive"));
        QFile guide(UserGuidePath());
        QVERIFY(guide.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(guide.readAll());
        for (int id = kWelcome; id <= kFindDupFinished; ++id)
            QVERIFY2(text.contains(QStringLiteral("id=\"%1\"").arg(GuideSectionFor(id))),
                     qPrintable(GuideSectionFor(id)));
    }

    // Alt and a letter reaches one control: no page shares a mnemonic between its own
    // controls and the wizard's buttons.
    void noTwoControlsOfAPageShareAMnemonic() {
        TestHome home;
        CWizard wizard;
        auto letterOf = [](const QString& text) -> QChar {
            for (int i = 0; i + 1 < text.size(); ++i) {
                if (text[i] != QLatin1Char('&')) continue;
                if (text[i + 1] != QLatin1Char('&')) return text[i + 1].toLower();
                ++i;
            }
            return {};
        };
        QStringList wizardButtons;
        for (auto which : {QWizard::BackButton, QWizard::NextButton, QWizard::FinishButton,
                           QWizard::CancelButton})
            wizardButtons << wizard.buttonText(which);
        for (const auto& info : kPages) {
            QStringList texts = wizardButtons;
            for (auto* button : wizard.Page(info.id)->findChildren<QAbstractButton*>())
                texts << button->text();
            for (auto* label : wizard.Page(info.id)->findChildren<QLabel*>())
                if (label->buddy()) texts << label->text();
            QMap<QChar, QString> owner;
            for (const auto& text : texts) {
                QChar letter = letterOf(text);
                if (letter.isNull()) continue;
                QVERIFY2(!owner.contains(letter),
                         qPrintable(QStringLiteral("%1: \"%2\" and \"%3\"")
                                        .arg(QString::fromUtf8(info.title), owner[letter], text)));
                owner[letter] = text;
            }
        }
    }

    // The header shows every subtitle whole, at the size the window opens with.
    void subtitlesAreNeverCut() {
        TestHome home;
        CWizard wizard;
        wizard.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wizard));
        QStringList subtitles;
        for (const auto& info : kPages) subtitles << QString::fromUtf8(info.subtitle);
        subtitles << QStringLiteral(
                         "The restore failed (the reason is below). Press Next button to "
                         "continue ...")
                  << QStringLiteral(
                         "The backup was cancelled; no archive was written and an earlier "
                         "archive at that path is unchanged. Press Next button to continue ...")
                  << QStringLiteral(
                         "Test process has finished: structure sound; contents not checked "
                         "without the password. Press Finish button to exit.")
                  << QStringLiteral(
                         "The restore has finished, but not everything was restored as it was "
                         "(see below).");
        for (const QString& text : subtitles) {
            wizard.currentPage()->setSubTitle(text);
            QApplication::processEvents();
            QLabel* shown = nullptr;
            for (auto* label : wizard.findChildren<QLabel*>())
                if (label->text() == text && label->isVisible()) shown = label;
            QVERIFY2(shown, qPrintable(text));
            QVERIFY2(shown->heightForWidth(shown->width()) <= shown->height(), qPrintable(text));
        }
    }

    void pagesHaveTheirIdsTitlesAndOrder() {
        TestHome home;
        CWizard wizard;
        QCOMPARE(wizard.pageIds().size(), 19);
        for (const auto& info : kPages) {
            auto* page = wizard.Page(info.id);
            QVERIFY(page);
            QCOMPARE(page->title(), QString::fromUtf8(info.title));
            QCOMPARE(page->subTitle(), QString::fromUtf8(info.subtitle));
        }
        QCOMPARE(wizard.windowTitle(), QStringLiteral("Welcome to Tindale"));
        QVERIFY(!wizard.testOption(QWizard::HaveHelpButton));
    }

    void eachModeWalksItsSequence() {
        TestHome home;
        ScriptedPrompts prompts;
        CWizard wizard;
        wizard.show();
        QCOMPARE(wizard.currentPage()->nextId(), int(kBackupChooseOutput));
        wizard.next();
        QCOMPARE(wizard.currentId(), int(kBackupChooseOutput));
        QCOMPARE(wizard.windowTitle(), QStringLiteral("Backup : Choose output archive"));
        wizard.back();
        for (auto [radio, first] : {std::pair{"modeRestore", kRestoreChooseSource},
                                    std::pair{"modeTest", kTestChooseSource},
                                    std::pair{"modeFindDup", kFindDupInProgress}}) {
            wizard.currentPage()->findChild<QRadioButton*>(radio)->setChecked(true);
            wizard.next();
            QCOMPARE(wizard.currentId(), int(first));
            wizard.back();
            QCOMPARE(wizard.currentId(), int(kWelcome));
        }
        // The sequences themselves, page by page.
        QCOMPARE(DefaultNextId(kBackupChooseOutput), int(kBackupChooseSource));
        QCOMPARE(DefaultNextId(kBackupChooseSource), int(kBackupOptions));
        QCOMPARE(DefaultNextId(kBackupInProgress), int(kBackupFinished));
        QCOMPARE(DefaultNextId(kBackupFinished), -1);
        QCOMPARE(DefaultNextId(kRestoreReady), int(kRestoreInProgress));
        QCOMPARE(DefaultNextId(kRestoreFinished), -1);
        QCOMPARE(DefaultNextId(kTestChooseSource), int(kTestInProgress));
        QCOMPARE(DefaultNextId(kTestInProgress), -1);
        QCOMPARE(DefaultNextId(kFindDupProcessing), int(kFindDupFinished));
        QCOMPARE(DefaultNextId(kFindDupFinished), -1);
    }

    void anArchiveOnTheCommandLineOpensRestoreStepOne() {
        TestHome home;
        CWizard wizard;
        // In the order the program's start-up uses: the archive first, then show().
        wizard.StartWithArchive(QStringLiteral("/tmp/some archive.vqz"));
        wizard.show();
        QCOMPARE(wizard.currentId(), int(kRestoreChooseSource));
        auto* page = static_cast<CPageRestoreChooseSource*>(wizard.currentPage());
        QCOMPARE(page->Chooser()->Path(), QStringLiteral("/tmp/some archive.vqz"));
        wizard.back();
        QCOMPARE(wizard.currentId(), int(kWelcome));
    }

    void cancelAsksAndNoKeepsEverything() {
        TestHome home;
        ScriptedPrompts prompts;
        CWizard wizard;
        wizard.show();
        wizard.next();
        prompts.confirmAnswer = false;
        wizard.reject();
        QCOMPARE(prompts.confirmations, 1);
        QVERIFY(wizard.isVisible());
        QCOMPARE(wizard.currentId(), int(kBackupChooseOutput));
        prompts.confirmAnswer = true;
        wizard.reject();
        QVERIFY(!wizard.isVisible());
        QCOMPARE(wizard.result(), int(QDialog::Rejected));
    }

    void progressReportsFollowTheProtocol() {
        TestHome home;
        CWizard wizard;
        auto* page = static_cast<CProgressPage*>(wizard.Page(kTestInProgress));
        page->OnWorkerProgress(5, 50);
        QCOMPARE(page->Bar()->value(), 5);
        QCOMPARE(page->Bar()->maximum(), 50);
        page->OnWorkerProgress(0, 0);
        QCOMPARE(page->Bar()->value(), 5);
        QCOMPARE(page->Bar()->maximum(), 50);
        page->OnWorkerProgress(0, 80);
        QCOMPARE(page->Bar()->value(), 5);
        QCOMPARE(page->Bar()->maximum(), 80);
        page->OnWorkerProgress(9, 0);
        QCOMPARE(page->Bar()->value(), 9);
    }

    void treeChecksPropagateAndOnlyTheBoxToggles() {
        CNodeTreeCtrl tree;
        auto* root = new QTreeWidgetItem(&tree, {QStringLiteral("root")});
        auto* a = new QTreeWidgetItem(root, {QStringLiteral("a")});
        auto* b = new QTreeWidgetItem(root, {QStringLiteral("b")});
        auto* a1 = new QTreeWidgetItem(a, {QStringLiteral("a1")});
        auto* a2 = new QTreeWidgetItem(a, {QStringLiteral("a2")});
        QCOMPARE(tree.GetItemState(a1), 0);  // never touched
        tree.CheckAllRoots();
        for (auto* item : {root, a, b, a1, a2}) QCOMPARE(tree.GetItemState(item), 1);
        tree.resize(300, 200);
        tree.expandAll();
        tree.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tree));
        ClickCheckBox(tree, a1);
        QCOMPARE(tree.GetItemState(a1), 0);
        QCOMPARE(tree.GetItemState(a), 2);
        QCOMPARE(tree.GetItemState(root), 2);
        QCOMPARE(a->checkState(0), Qt::PartiallyChecked);  // the partly checked state shows
        ClickCheckBox(tree, b);
        ClickCheckBox(tree, a2);
        QCOMPARE(tree.GetItemState(a), 0);  // the last checked child went
        QCOMPARE(tree.GetItemState(root), 0);
        QRect text = tree.visualItemRect(a2);
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {},
                          QPoint(text.right() - 5, text.center().y()));
        QCOMPARE(tree.GetItemState(a2), 0);  // a click on the text does not toggle
        ClickCheckBox(tree, root);
        for (auto* item : {root, a, b, a1, a2}) QCOMPARE(tree.GetItemState(item), 1);
    }

    void cancelWhileAWorkerRunsKeepsItUnlessConfirmed() {
        TestHome home;
        ScriptedPrompts prompts;
        std::string big = home / "big.vqz";
        {
            // A long archive to test: a header and many empty records.
            std::string data(ArchiveHeader::kSize, '\0');
            data.replace(0, ArchiveHeader::kMagicLength, ArchiveHeader::kMagic);
            data += std::string(v::NodeRecord::kSize * 5000, '\0');
            WriteFile(big, data);
        }
        CWizard wizard;
        wizard.show();
        wizard.currentPage()->findChild<QRadioButton*>("modeTest")->setChecked(true);
        wizard.next();
        wizard.currentPage()->findChild<QLineEdit*>("path")->setText(QString::fromStdString(big));
        wizard.next();
        QCOMPARE(wizard.currentId(), int(kTestInProgress));
        prompts.confirmAnswer = false;
        wizard.reject();
        QVERIFY(wizard.isVisible());
        QVERIFY(WaitForWorker(wizard));  // the worker ran on to its end
        QVERIFY(wizard.button(QWizard::FinishButton)->isEnabled());
        QVERIFY(!wizard.button(QWizard::BackButton)->isEnabled());
    }
};

QTEST_MAIN(WizardShellTest)
#include "WizardShellTest.moc"
