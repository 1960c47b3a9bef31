// Find duplicated messages from the welcome page to Finish, on the demo profile.
#include <QAbstractButton>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <filesystem>

#include "GuiSupport.h"
#include "app/Prompts.h"
#include "app/SelFolderDlg.h"
#include "app/pages/FindDupPages.h"
#include "demo/DemoProfile.h"
#include "model/MessageNodes.h"
#include "platform/Identities.h"
#include "support/TestHome.h"

namespace fs = std::filesystem;

namespace {

size_t CountMessages(const fs::path& root) {
    size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        auto dir = e.path().parent_path().filename();
        n += e.is_regular_file() && (dir == "cur" || dir == "new");
    }
    return n;
}

struct DupWalk {
    ScriptedPrompts prompts;
    CWizard wizard;
    DupWalk() {
        wizard.show();
        wizard.currentPage()->findChild<QRadioButton*>("modeFindDup")->setChecked(true);
        wizard.next();
    }
    CPageFindDupOptions* Options() {
        return static_cast<CPageFindDupOptions*>(wizard.Page(kFindDupOptions));
    }
};

}  // namespace

class FindDupWizardTest : public QObject {
    Q_OBJECT
  private slots:
    // A search that finds nothing offers nothing to delete or move.
    void nothingFoundOffersNothing() {
        TestHome home;
        for (const char* f : {"Maildir/cur/1.a.host:2,S", "Maildir/cur/2.b.host:2,S"})
            WriteFile(home / f, std::string("Subject: ") + f + "\n\nbody " + f + "\n");
        fs::create_directories(home / "Maildir/new");
        fs::create_directories(home / "Maildir/tmp");
        tindale::identities::Add(u"Main Identity", home / "Maildir");
        DupWalk walk;
        QVERIFY(WaitForWorker(walk.wizard));
        walk.wizard.next();
        QCOMPARE(walk.wizard.currentId(), int(kFindDupOptions));
        auto* review = walk.Options()->Review();
        QCOMPARE(review->count(), 1);
        QCOMPARE(review->item(0)->text(), QStringLiteral("No duplicated messages were found."));
        for (auto* radio : walk.Options()->findChildren<QRadioButton*>())
            QVERIFY(!radio->isEnabled());
    }

    void deletesTheDuplicatesOfCheckedFolders() {
        TestHome home;
        DemoProfileCounts demo = CreateDemoProfile();
        size_t before = CountMessages(home / "Maildir");
        DupWalk walk;
        QCOMPARE(walk.wizard.currentId(), int(kFindDupInProgress));
        QVERIFY(WaitForWorker(walk.wizard));
        QVERIFY(walk.wizard.button(QWizard::BackButton)->isEnabled());
        QCOMPARE(walk.wizard.State().duplicates.size(), size_t(demo.duplicates));
        walk.wizard.next();
        auto& tree = *walk.Options()->Tree();
        auto* inbox =
            FindItem(tree, {QStringLiteral("Message Store"), QStringLiteral("Main Identity"),
                            QStringLiteral("Inbox (10)")});
        QVERIFY(inbox);
        auto* work = FindItem(tree, {QStringLiteral("Message Store"),
                                     QStringLiteral("Main Identity"), QStringLiteral("Work (5)")});
        QVERIFY(work);
        ClickCheckBox(tree, work);  // leave Work's duplicates alone
        QCOMPARE(tree.GetItemState(work), 0);
        // The copies of the selected folder can be read before anything goes.
        tree.setCurrentItem(inbox);
        auto* review = walk.Options()->Review();
        QCOMPARE(review->count(), 30);  // ten groups: the message, the copy kept, the copy going
        // Each copy in words, with why the one that stays stays; its file in the tool tip.
        QVERIFY(review->item(0)->text().contains(QStringLiteral("\nfrom ")));
        QVERIFY(review->item(1)->text().startsWith(QStringLiteral("    stays: the copy that is ")));
        QVERIFY(review->item(1)->text().contains(QStringLiteral("is kept")));
        QVERIFY(review->item(1)->toolTip().startsWith(QStringLiteral("cur/")));
        QVERIFY(review->item(2)->text().startsWith(QStringLiteral("    goes: a copy that is ")));
        // Delete asks first, with the count; No keeps everything and the page.
        walk.prompts.confirmAnswer = false;
        walk.wizard.next();
        QCOMPARE(walk.wizard.currentId(), int(kFindDupOptions));
        QCOMPARE(walk.prompts.questions.value(0),
                 QStringLiteral("Delete 10 duplicated messages from 1 folder?"));
        QCOMPARE(CountMessages(home / "Maildir"), before);
        walk.prompts.confirmAnswer = true;
        walk.wizard.next();
        QVERIFY(WaitForWorker(walk.wizard));
        walk.wizard.next();
        auto* finished = static_cast<CPageFindDupFinished*>(walk.wizard.currentPage());
        QVERIFY2(finished->Report().startsWith(
                     QStringLiteral("10 duplicated messages were deleted; 0 could not be.")),
                 qPrintable(finished->Report()));
        QVERIFY(walk.wizard.button(QWizard::FinishButton)->isEnabled());
        QCOMPARE(CountMessages(home / "Maildir"), before - 10);
    }

    void backRepeatsTheSearchAndLabelsFollowIt() {
        TestHome home;
        CreateDemoProfile();
        DupWalk walk;
        QVERIFY(WaitForWorker(walk.wizard));
        size_t found = walk.wizard.State().duplicates.size();
        walk.wizard.next();
        // Remove the Inbox's duplicates behind the wizard's back, then go back and on again.
        auto main = tindale::identities::Find(u"Main Identity")->id;
        for (const auto& d : walk.wizard.State().duplicates)
            if (d.identityId == main) DeleteDuplicateForTest(d);
        walk.wizard.back();
        QVERIFY(WaitForWorker(walk.wizard));
        QVERIFY(walk.wizard.State().duplicates.size() < found);
        walk.wizard.next();
        auto& tree = *walk.Options()->Tree();
        QVERIFY(FindItem(tree, {QStringLiteral("Message Store"), QStringLiteral("Main Identity"),
                                QStringLiteral("Inbox")}));
    }

    void moveNeedsAFolderAndPutsTheCopiesThere() {
        TestHome home;
        CreateDemoProfile();
        DupWalk walk;
        QVERIFY(WaitForWorker(walk.wizard));
        walk.wizard.next();
        walk.Options()->MoveOption()->setChecked(true);
        auto ok = tindale::identities::Find(u"Archive 2019");
        // Cancelled folder dialog: the page stays.
        Prompts::Get().selectFolder =
            [](QWidget*) -> std::optional<std::pair<std::u16string, uint32_t>> {
            return std::nullopt;
        };
        walk.wizard.next();
        QCOMPARE(walk.wizard.currentId(), int(kFindDupOptions));
        {
            // The real dialog: OK stays disabled until a message folder is selected.
            CSelFolderDlg dialog;
            QVERIFY(!dialog.OkButton()->isEnabled());
            auto* store = dialog.Tree()->topLevelItem(0);
            dialog.Tree()->setCurrentItem(store);
            QVERIFY(!dialog.OkButton()->isEnabled());
            auto child = [](QTreeWidgetItem* parent, const QString& text) -> QTreeWidgetItem* {
                for (int i = 0; i < parent->childCount(); ++i)
                    if (parent->child(i)->text(0) == text) return parent->child(i);
                return nullptr;
            };
            auto* archive = child(store, QStringLiteral("Archive 2019"));
            QVERIFY(archive);
            dialog.Tree()->setCurrentItem(archive);
            QVERIFY(!dialog.OkButton()->isEnabled());
            // A folder of its own can be made right there.
            QVERIFY(dialog.NewFolderButton()->isEnabled());
            Prompts::Get().text = [](QWidget*, const QString&) -> std::optional<QString> {
                return QStringLiteral("Copies");
            };
            dialog.NewFolderButton()->click();
            QCOMPARE(dialog.Tree()->currentItem()->text(0), QStringLiteral("Copies"));
            QVERIFY(dialog.OkButton()->isEnabled());
            QVERIFY(dialog.Selection().first == ok->id);
            QVERIFY(fs::is_directory(home / "Mail/archive/.Copies/cur"));
            dialog.Tree()->setCurrentItem(child(archive, QStringLiteral("Old Projects")));
            QVERIFY(dialog.OkButton()->isEnabled());
            auto selection = dialog.Selection();
            QVERIFY(selection.first == ok->id);
            Prompts::Get().selectFolder =
                [selection](QWidget*) -> std::optional<std::pair<std::u16string, uint32_t>> {
                return selection;
            };
        }
        size_t oldProjects = CountMessages(home / "Mail/archive/.Old Projects");
        walk.wizard.next();
        QVERIFY(WaitForWorker(walk.wizard));
        walk.wizard.next();
        QCOMPARE(CountMessages(home / "Mail/archive/.Old Projects"), oldProjects + 15);
        auto* finished = static_cast<CPageFindDupFinished*>(walk.wizard.currentPage());
        QVERIFY(finished->Report().startsWith(
            QStringLiteral("15 duplicated messages were moved; 0 could not be.")));
    }

    void aFolderUntickedItselfKeepsItsDuplicatesWhenASubfolderIsTicked() {
        TestHome home;
        CreateDemoProfile();
        size_t before = CountMessages(home / "Maildir");
        DupWalk walk;
        QVERIFY(WaitForWorker(walk.wizard));
        auto* search = static_cast<CProgressPage*>(walk.wizard.currentPage());
        QVERIFY(!search->CancelButton()->isEnabled());  // nothing left to cancel
        walk.wizard.next();
        auto& tree = *walk.Options()->Tree();
        QStringList workPath{QStringLiteral("Message Store"), QStringLiteral("Main Identity"),
                             QStringLiteral("Work (5)")};
        auto* work = FindItem(tree, workPath);
        auto* projects = FindItem(tree, workPath + QStringList{QStringLiteral("Projects")});
        QVERIFY(work && projects);
        ClickCheckBox(tree, work);      // the person leaves Work alone ...
        ClickCheckBox(tree, projects);  // ... but wants Work/Projects handled
        QCOMPARE(tree.GetItemState(work), 2);
        QCOMPARE(work->checkState(0), Qt::PartiallyChecked);
        walk.wizard.next();
        QVERIFY(WaitForWorker(walk.wizard));
        auto* processing = static_cast<CProgressPage*>(walk.wizard.currentPage());
        QVERIFY(!processing->CancelButton()->isEnabled());
        walk.wizard.next();
        auto* finished = static_cast<CPageFindDupFinished*>(walk.wizard.currentPage());
        QVERIFY2(finished->Report().startsWith(
                     QStringLiteral("10 duplicated messages were deleted; 0 could not be.")),
                 qPrintable(finished->Report()));
        QCOMPARE(CountMessages(home / "Maildir"), before - 10);  // Work's 5 are still there
    }

  private:
    static void DeleteDuplicateForTest(const DuplicateEntry& d) {
        auto ns = v::OpenStoreFor(d.identityId);
        std::unique_ptr<tindale::store::StoreFolder> folder;
        if (ns && ns->OpenFolder(d.folderId, folder) == tindale::store::S_OK)
            folder->DeleteMessages({d.messageId});
    }
};

QTEST_MAIN(FindDupWizardTest)
#include "FindDupWizardTest.moc"
