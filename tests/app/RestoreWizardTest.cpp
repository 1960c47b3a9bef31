// Restore and Test archive from the welcome page to Finish, on throwaway homes.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "GuiSupport.h"
#include "app/pages/BackupPages.h"
#include "app/pages/RestorePages.h"
#include "archive/ArchiveHeader.h"
#include "backup/BackupEngine.h"
#include "backup/SourceTree.h"
#include "base/Text.h"
#include "demo/DemoProfile.h"
#include "model/Ids.h"
#include "model/MessageNodes.h"
#include "platform/Identities.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"
#include "support/TestHome.h"

namespace fs = std::filesystem;
using namespace tindale;

namespace {

// Backs up the whole demo profile of the current home.
void BackUpDemo(const std::string& archive, bool compress, bool encrypt) {
    CreateDemoProfile();
    SourceTree tree;
    WizardState state;
    state.archivePath = text::ToUtf16(archive);
    state.compress = compress;
    state.encrypt = encrypt;
    state.password = u"Pa55";
    state.backupSources = tree.Selected();
    v::NullReport report;
    QVERIFY(BackupWorker(state.ForBackup(), report, {}).Clean());
}

// The digests of every message under some Maildir roots, sorted.
std::vector<std::string> MessageDigests(const std::vector<std::string>& roots) {
    std::vector<std::string> out;
    for (const auto& root : roots)
        for (const auto& e : fs::recursive_directory_iterator(root)) {
            std::string dir = e.path().parent_path().filename();
            if (!e.is_regular_file() || (dir != "cur" && dir != "new")) continue;
            std::string bytes = ReadFile(e.path());
            auto d = v::MD5::Compute(
                std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
            out.emplace_back(d.begin(), d.end());
        }
    std::sort(out.begin(), out.end());
    return out;
}

struct RestoreWalk {
    ScriptedPrompts prompts;
    CWizard wizard;
    RestoreWalk() {
        wizard.show();
        wizard.currentPage()->findChild<QRadioButton*>("modeRestore")->setChecked(true);
        wizard.next();
    }
    void Open(const std::string& path) {
        static_cast<CPageRestoreChooseSource*>(wizard.Page(kRestoreChooseSource))
            ->SetPath(QString::fromStdString(path));
        wizard.next();
    }
};

}  // namespace

class RestoreWizardTest : public QObject {
    Q_OBJECT
  private slots:
    void restoresEverythingIntoAnotherHome() {
        for (bool packed : {false, true}) {
            TestHome source;
            std::string archive = source / "demo.vqz";
            BackUpDemo(archive, packed, packed);
            auto before = MessageDigests({source / "Maildir", source / "Mail/archive"});

            TestHome target;
            auto id = identities::Add(u"Restored", target / "Mail");
            RestoreWalk walk;
            walk.prompts.passwords = {QStringLiteral("wrong"), QStringLiteral("pa55"),
                                      QStringLiteral("Pa55")};
            walk.Open(archive);
            if (packed) {
                QCOMPARE(walk.wizard.currentId(), int(kRestoreChooseSource));
                QCOMPARE(walk.prompts.errors.value(0),
                         QStringLiteral("Wrong password, please try again!"));
                walk.wizard.next();  // the case-changed password is wrong too
                QCOMPARE(walk.prompts.errors.value(1),
                         QStringLiteral("Wrong password, please try again!"));
                walk.wizard.next();
                QCOMPARE(walk.prompts.passwordPrompts, 3);
            }
            QCOMPARE(walk.wizard.currentId(), int(kRestoreChooseDest));
            auto* dest = static_cast<CPageRestoreChooseDest*>(walk.wizard.currentPage());
            // Each identity to its own is offered last, already chosen; this walk picks one.
            QCOMPARE(dest->Identities()->topLevelItemCount(), 2);
            QVERIFY(dest->Identities()->topLevelItem(1)->isSelected());
            dest->Identities()->topLevelItem(0)->setSelected(true);
            walk.wizard.next();
            QVERIFY(walk.wizard.State().restoreIdentity == *id);
            QCOMPARE(walk.wizard.currentId(), int(kRestoreChooseItems));
            walk.wizard.next();
            QVERIFY(!walk.wizard.State().restoreItems.empty());
            auto* ready = static_cast<CPageRestoreReady*>(walk.wizard.currentPage());
            QVERIFY(ready->Summary().contains(packed ? QStringLiteral("Archive encrypted: Yes")
                                                     : QStringLiteral("Archive encrypted: No")));
            walk.wizard.next();
            QVERIFY(WaitForWorker(walk.wizard));
            auto* progress = static_cast<CPageRestoreInProgress*>(walk.wizard.currentPage());
            QVERIFY2(progress->Result().Clean(), qPrintable(DescribeProblems(progress->Result())));
            QCOMPARE(progress->subTitle(),
                     QStringLiteral(
                         "Restore process has finished, please click Next button to continue ..."));
            walk.wizard.next();
            QCOMPARE(
                walk.wizard.currentPage()->subTitle(),
                QStringLiteral("Congratulations, your archive has been restored successfully"));

            for (auto f :
                 {"Documents/letter.txt", "Documents/Reports/summary.txt",
                  "Documents/Photos/garden.jpg", "Contacts/bob.vcf", "Favorites/Linux/Kernel.url"})
                QCOMPARE(ReadFile(target / f), ReadFile(source / f));
            auto main = reg::Key::Open(reg::kHkeyCurrentUser,
                                       u"Software\\Microsoft\\Internet Explorer\\Main");
            QVERIFY(main && main->QueryString(u"Start Page") == u"https://www.debian.org/");
            QVERIFY(MessageDigests({target / "Mail"}) == before);
            QVERIFY(fs::is_directory(target / "Mail/.Work.Projects.2026/new"));
            QVERIFY(fs::is_directory(target / "Mail/.Old Projects/new"));
        }
    }

    // A new account has no identity: the page offers the one the restore will make, and
    // every message lands in it.
    void aNewAccountGetsEachIdentityMadeAgainWithItsMail() {
        TestHome source;
        std::string archive = source / "demo.vqz";
        BackUpDemo(archive, false, false);
        auto before = MessageDigests({source / "Maildir", source / "Mail/archive"});

        TestHome target;
        RestoreWalk walk;
        walk.Open(archive);
        QCOMPARE(walk.wizard.currentId(), int(kRestoreChooseDest));
        auto* dest = static_cast<CPageRestoreChooseDest*>(walk.wizard.currentPage());
        QCOMPARE(dest->Identities()->topLevelItemCount(), 1);
        QCOMPARE(dest->Identities()->topLevelItem(0)->text(0),
                 QStringLiteral("Each identity to its own"));
        walk.wizard.next();  // offered already selected
        QCOMPARE(walk.wizard.currentId(), int(kRestoreChooseItems));
        walk.wizard.next();
        auto* ready = static_cast<CPageRestoreReady*>(walk.wizard.currentPage());
        QVERIFY2(ready->Summary().contains(
                     QStringLiteral("    Archive 2019 -> made again, with its store where it was")),
                 qPrintable(ready->Summary()));
        walk.wizard.next();
        QVERIFY(WaitForWorker(walk.wizard));
        auto* progress = static_cast<CPageRestoreInProgress*>(walk.wizard.currentPage());
        QVERIFY2(progress->Result().Clean(), qPrintable(DescribeProblems(progress->Result())));
        // Both identities made again, each with its own mail where it was.
        QCOMPARE(identities::List().size(), size_t{2});
        QCOMPARE(MessageDigests({target / "Maildir", target / "Mail/archive"}), before);
    }

    // An archived identity can be sent to another identity here than its own.
    void anArchivedIdentityGoesWhereThePersonChooses() {
        TestHome source;
        std::string archive = source / "demo.vqz";
        BackUpDemo(archive, false, false);
        auto archived = MessageDigests({source / "Mail/archive"});

        TestHome target;
        std::filesystem::create_directories(target / "Work");
        auto work = identities::Add(u"Work", target / "Work");
        QVERIFY(work);
        RestoreWalk walk;
        walk.Open(archive);
        auto* dest = static_cast<CPageRestoreChooseDest*>(walk.wizard.currentPage());
        QComboBox* choice = nullptr;
        for (int i = 0; i < dest->Pairs()->topLevelItemCount(); ++i)
            if (dest->Pairs()->topLevelItem(i)->text(0) == QStringLiteral("Archive 2019"))
                choice = static_cast<QComboBox*>(
                    dest->Pairs()->itemWidget(dest->Pairs()->topLevelItem(i), 1));
        QVERIFY(choice);
        QCOMPARE(choice->currentText(), QStringLiteral("made again, with its store where it was"));
        choice->setCurrentIndex(choice->findText(QStringLiteral("Work")));
        walk.wizard.next();
        walk.wizard.next();
        auto* ready = static_cast<CPageRestoreReady*>(walk.wizard.currentPage());
        QVERIFY2(ready->Summary().contains(QStringLiteral("    Archive 2019 -> Work")),
                 qPrintable(ready->Summary()));
        walk.wizard.next();
        QVERIFY(WaitForWorker(walk.wizard));
        QCOMPARE(MessageDigests({target / "Work"}), archived);
        QVERIFY(!std::filesystem::exists(target / "Mail/archive"));
    }

    // Restored into the home it came from, nothing is new: the last page does not count the
    // messages and files that were there already as restored.
    void whatWasThereAlreadyIsNotCountedAsRestored() {
        TestHome source;
        std::string archive = source / "demo.vqz";
        BackUpDemo(archive, false, false);
        RestoreWalk walk;
        walk.Open(archive);
        walk.wizard.next();
        walk.wizard.next();
        walk.wizard.next();
        QVERIFY(WaitForWorker(walk.wizard));
        const auto& outcome =
            static_cast<CPageRestoreInProgress*>(walk.wizard.currentPage())->Result();
        QVERIFY(outcome.alreadyThere > 0);
        walk.wizard.next();
        auto* details = walk.wizard.currentPage()->findChild<QPlainTextEdit*>("details");
        QVERIFY(details);
        uint64_t restored = outcome.itemsDone - outcome.alreadyThere - outcome.filesAlreadyThere;
        QVERIFY2(details->toPlainText().startsWith(
                     QStringLiteral("%1 items were restored").arg(restored)),
                 qPrintable(details->toPlainText()));
        QVERIFY(details->toPlainText().contains(
            QStringLiteral("%1 messages were already in their folder").arg(outcome.alreadyThere)));
    }

    void theSummaryNamesNewerWorkAndKeepsItWhenAsked() {
        TestHome home;
        std::string archive = home / "demo.vqz";
        BackUpDemo(archive, false, false);
        std::string letter = shell::DocumentsFolder() + "/letter.txt";
        WriteFile(letter, "written after the backup");
        RestoreWalk walk;
        walk.Open(archive);
        walk.wizard.next();  // each identity to its own
        walk.wizard.next();  // everything
        auto* ready = static_cast<CPageRestoreReady*>(walk.wizard.currentPage());
        QVERIFY(ready->Summary().contains(QStringLiteral("changed since the backup")));
        QVERIFY(ready->Summary().contains(QString::fromStdString(letter)));
        QVERIFY(ready->KeepNewer()->isEnabled());
        ready->KeepNewer()->setChecked(true);
        walk.wizard.next();
        QVERIFY(WaitForWorker(walk.wizard));
        QCOMPARE(QString::fromStdString(ReadFile(letter)),
                 QStringLiteral("written after the backup"));
    }

    void cancelStopsBetweenRecordsAndIsToldAsSuch() {
        TestHome source;
        std::string archive = source / "demo.vqz";
        BackUpDemo(archive, false, false);
        TestHome target;
        identities::Add(u"Target", target / "Mail");
        RestoreWalk walk;
        walk.Open(archive);
        auto* dest = static_cast<CPageRestoreChooseDest*>(walk.wizard.currentPage());
        dest->Identities()->topLevelItem(0)->setSelected(true);
        walk.wizard.next();
        walk.wizard.next();
        walk.wizard.next();
        // The worker waits for the page to show its first report, so the click comes first.
        auto* progress = static_cast<CPageRestoreInProgress*>(walk.wizard.currentPage());
        QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
        QVERIFY(WaitForWorker(walk.wizard));
        QVERIFY(progress->Result().cancelled);
        QVERIFY(progress->subTitle().contains(QStringLiteral("cancelled")));
        QVERIFY(walk.wizard.button(QWizard::NextButton)->isEnabled());
        walk.wizard.next();
        QVERIFY(
            !walk.wizard.currentPage()->subTitle().startsWith(QStringLiteral("Congratulations")));
        QVERIFY(!fs::exists(target / "Mail/cur") ||
                MessageDigests({target / "Mail"}).size() < 363u);
    }

    void archiveChecksSayWhatIsWrong() {
        TestHome home;
        WriteFile(home / "short.vqz", std::string(ArchiveHeader::kSize - 1, 'x'));
        std::string header(ArchiveHeader::kSize, '\0');
        header.replace(0, ArchiveHeader::kMagicLength, ArchiveHeader::kMagic);
        header[ArchiveHeader::kSealedMarkAt] = 2;
        WriteFile(home / "magic.vqz", header);
        fs::create_directories(home / "folder.vqz");
        RestoreWalk walk;
        walk.Open(home / "missing.vqz");
        walk.Open(home / "short.vqz");
        walk.Open(home / "folder.vqz");
        walk.Open(home / "magic.vqz");
        QCOMPARE(walk.prompts.errors,
                 QStringList(
                     {QStringLiteral("Please enter a valid filename before you go to next step!"),
                      QStringLiteral("The file is invalid, please choose a valid backup archive!"),
                      QStringLiteral("The file is invalid, please choose a valid backup archive!"),
                      QStringLiteral(
                          "The archive file is invalid, please choose a valid backup archive!")}));
        QCOMPARE(walk.wizard.currentId(), int(kRestoreChooseSource));
    }

    // An encrypted archive: with its password every piece is checked and a sound one has
    // "no error"; without it (the prompt cancelled) only the structure, and the page says so.
    void testPageTellsSoundFromDamaged() {
        TestHome home;
        std::string archive = home / "demo.vqz";
        BackUpDemo(archive, true, true);
        std::string bytes = ReadFile(archive);
        WriteFile(home / "cut.vqz", bytes.substr(0, bytes.size() - 100));
        struct Case {
            std::string path;
            bool password, sound;
            QString subtitle;
        };
        const QString noError = QStringLiteral(
            "Test process has finished, your archive has no error, press Finish button to exit!");
        const QString structure = QStringLiteral(
            "Test process has finished: structure sound; contents not checked without the "
            "password. Press Finish button to exit.");
        for (const auto& c :
             {Case{archive, true, true, noError}, Case{archive, false, true, structure},
              Case{home / "cut.vqz", true, false, {}}}) {
            ScriptedPrompts prompts;
            if (c.password) prompts.passwords.push_back(QStringLiteral("Pa55"));
            CWizard wizard;
            wizard.show();
            wizard.currentPage()->findChild<QRadioButton*>("modeTest")->setChecked(true);
            wizard.next();
            auto* source = static_cast<CPageTestChooseSource*>(wizard.currentPage());
            source->Chooser()->SetPath(QString::fromStdString(c.path));
            wizard.next();
            QVERIFY(WaitForWorker(wizard));
            auto* page = static_cast<CPageTestInProgress*>(wizard.currentPage());
            QCOMPARE(page->Result().verdict == ArchiveTestResult::Verdict::Sound, c.sound);
            if (c.sound) QCOMPARE(page->subTitle(), c.subtitle);
            QVERIFY(wizard.button(QWizard::FinishButton)->isEnabled());
            QCOMPARE(prompts.passwordPrompts, 1);
        }
    }

    // With each identity to its own, the page names where each archived identity goes, and
    // "Delete all messages" names every identity that receives mail, with its count.
    void eachToItsOwnNamesThePairsAndWhatIsEmptied() {
        TestHome source;
        std::string archive = source / "demo.vqz";
        BackUpDemo(archive, false, false);
        RestoreWalk walk;
        walk.Open(archive);
        auto* dest = static_cast<CPageRestoreChooseDest*>(walk.wizard.currentPage());
        auto* pairs = dest->Pairs();
        QVERIFY(pairs->isVisibleTo(dest));
        auto here = tindale::identities::List();
        QVERIFY(here.size() >= 2);
        QCOMPARE(pairs->topLevelItemCount(), int(here.size()));
        auto choiceFor = [&](const QString& archived) -> QComboBox* {
            for (int i = 0; i < pairs->topLevelItemCount(); ++i)
                if (pairs->topLevelItem(i)->text(0) == archived)
                    return static_cast<QComboBox*>(pairs->itemWidget(pairs->topLevelItem(i), 1));
            return nullptr;
        };
        for (const auto& identity : here) {
            auto* choice = choiceFor(QString::fromStdU16String(identity.name));
            QVERIFY(choice);
            QCOMPARE(choice->currentText(), QStringLiteral("%1 (%2 messages here now)")
                                                .arg(QString::fromStdU16String(identity.name))
                                                .arg(v::CountIdentityMessages(identity.id)));
        }
        QCOMPARE(dest->DeleteFirst()->text(),
                 QStringLiteral("Delete all messages from the identities that receive mail"));
        dest->DeleteFirst()->setChecked(true);
        walk.wizard.next();
        walk.wizard.next();  // everything chosen
        QCOMPARE(walk.wizard.currentId(), int(kRestoreReady));
        auto* ready = static_cast<CSummaryPage*>(walk.wizard.currentPage());
        for (const auto& identity : here)
            QVERIFY2(ready->Summary().contains(
                         QStringLiteral("messages of %1 will be deleted before the restore")
                             .arg(QString::fromStdU16String(identity.name))),
                     qPrintable(ready->Summary()));
        walk.prompts.confirmAnswer = false;
        walk.wizard.next();
        QCOMPARE(walk.wizard.currentId(), int(kRestoreReady));
        QVERIFY(
            walk.prompts.questions.value(0).startsWith(QStringLiteral("Delete all messages of ")));
        QVERIFY(walk.prompts.questions.value(0).endsWith(
            QStringLiteral("then restore the archive into them?")));
    }

    void deleteAllMessagesEmptiesTheDestinationEvenWithNothingChosen() {
        TestHome source;
        std::string archive = source / "demo.vqz";
        BackUpDemo(archive, false, false);
        RestoreWalk walk;  // restore into the same home: its Main Identity is the destination
        walk.Open(archive);
        auto* dest = static_cast<CPageRestoreChooseDest*>(walk.wizard.currentPage());
        for (int i = 0; i < dest->Identities()->topLevelItemCount(); ++i)
            if (dest->Identities()->topLevelItem(i)->text(0) == QStringLiteral("Main Identity"))
                dest->Identities()->topLevelItem(i)->setSelected(true);
        dest->DeleteFirst()->setChecked(true);
        walk.wizard.next();
        auto* items = static_cast<CPageRestoreChooseItems*>(walk.wizard.currentPage());
        for (int i = 0; i < items->Tree()->topLevelItemCount(); ++i)
            items->Tree()->SetItemState(items->Tree()->topLevelItem(i), 0, true);
        walk.wizard.next();
        QVERIFY(walk.wizard.State().restoreItems.empty());
        // The Ready page says what will be deleted; starting asks once more, and No stays.
        size_t before = MessageDigests({source / "Maildir"}).size();
        auto* ready = static_cast<CSummaryPage*>(walk.wizard.currentPage());
        QString deletion = QStringLiteral(
                               "All %1 messages of Main Identity will be deleted before "
                               "the restore")
                               .arg(before);
        QVERIFY2(ready->Summary().contains(deletion), qPrintable(ready->Summary()));
        QVERIFY(ready->Summary().contains(QStringLiteral("Messages go to: Main Identity")));
        walk.prompts.confirmAnswer = false;
        walk.wizard.next();
        QCOMPARE(walk.wizard.currentId(), int(kRestoreReady));
        QCOMPARE(walk.prompts.questions.value(0),
                 QStringLiteral("Delete all %1 messages of Main Identity, then restore the "
                                "archive into it?")
                     .arg(before));
        QCOMPARE(MessageDigests({source / "Maildir"}).size(), before);
        walk.prompts.confirmAnswer = true;
        walk.wizard.next();
        QVERIFY(WaitForWorker(walk.wizard));
        QVERIFY(MessageDigests({source / "Maildir"}).empty());
        const auto& outcome =
            static_cast<CPageRestoreInProgress*>(walk.wizard.currentPage())->Result();
        QCOMPARE(outcome.notes.size(), size_t(1));  // the deletion is reported with its count
        QVERIFY(outcome.notes[0].starts_with(std::to_string(before) + " messages of"));
        walk.wizard.next();  // the last page says it too, under what was restored
        auto* details = walk.wizard.currentPage()->findChild<QPlainTextEdit*>("details");
        QVERIFY(details && details->isVisibleTo(walk.wizard.currentPage()));
        QVERIFY2(details->toPlainText().startsWith(QStringLiteral("0 items were restored.")),
                 qPrintable(details->toPlainText()));
        QVERIFY(details->toPlainText().contains(
            QStringLiteral("%1 messages of \"Main Identity\" were deleted").arg(before)));
        QVERIFY(
            !MessageDigests({source / "Mail/archive"}).empty());  // other identities keep theirs
    }

    void anotherArchiveAfterBackGetsItsOwnTreeAndSummary() {
        TestHome home;
        std::string demo = home / "demo.vqz";
        BackUpDemo(demo, false, false);
        std::string contacts = home / "contacts.vqz";
        {
            SourceTree tree;
            WizardState state;
            state.archivePath = text::ToUtf16(contacts);
            state.backupSources = {tree.Find("Contacts")->node};
            v::NullReport report;
            QVERIFY(BackupWorker(state.ForBackup(), report, {}).Clean());
        }
        RestoreWalk walk;
        walk.Open(demo);
        auto* dest = static_cast<CPageRestoreChooseDest*>(walk.wizard.currentPage());
        dest->Identities()->topLevelItem(0)->setSelected(true);
        walk.wizard.next();
        auto* items = static_cast<CPageRestoreChooseItems*>(walk.wizard.currentPage());
        QVERIFY(items->Tree()->topLevelItemCount() > 1);
        walk.wizard.next();
        auto* ready = static_cast<CPageRestoreReady*>(walk.wizard.currentPage());
        QString first = ready->Summary();
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(walk.wizard.button(QWizard::BackButton), Qt::LeftButton);
        QCOMPARE(walk.wizard.currentId(), int(kRestoreChooseSource));
        walk.Open(contacts);
        walk.wizard.next();
        QCOMPARE(items->Tree()->topLevelItemCount(), 1);
        QCOMPARE(items->Tree()->topLevelItem(0)->text(0), QStringLiteral("Contacts"));
        walk.wizard.next();
        QVERIFY(ready->Summary() != first);
        QVERIFY2(ready->Summary().contains(QStringLiteral("Items to restore: %1")
                                               .arg(walk.wizard.State().restoreItems.size())),
                 qPrintable(ready->Summary()));
        QVERIFY(ready->Summary().contains(QString::fromStdString(contacts)));
    }

    void whatIsRestoredIsWhatTheTreeShows() {
        TestHome home;
        std::string archive = home / "demo.vqz";
        BackUpDemo(archive, false, false);
        RestoreWalk walk;
        walk.Open(archive);
        auto* dest = static_cast<CPageRestoreChooseDest*>(walk.wizard.currentPage());
        dest->Identities()->topLevelItem(0)->setSelected(true);
        walk.wizard.next();
        auto* items = static_cast<CPageRestoreChooseItems*>(walk.wizard.currentPage());
        auto& tree = *items->Tree();
        auto* docs = FindItem(tree, {QStringLiteral("My Documents")});
        auto* reports = FindItem(tree, {QStringLiteral("My Documents"), QStringLiteral("Reports")});
        auto* photos = FindItem(tree, {QStringLiteral("My Documents"), QStringLiteral("Photos")});
        QVERIFY(docs && reports && photos);
        bool countedOnce = true;
        auto names = [&] {
            walk.wizard.next();
            std::vector<std::u16string> out;
            std::set<Guid> unique;
            for (const auto& r : walk.wizard.State().restoreItems) {
                out.push_back(r.DisplayName());
                unique.insert(r.InstanceGuid());
            }
            // Each record once, and the summary counts exactly those.
            auto* ready = static_cast<CPageRestoreReady*>(walk.wizard.currentPage());
            countedOnce =
                countedOnce && unique.size() == out.size() &&
                ready->Summary().contains(QStringLiteral("Items to restore: %1\n").arg(out.size()));
            QTest::mouseClick(walk.wizard.button(QWizard::BackButton), Qt::LeftButton);
            return out;
        };
        auto has = [](const std::vector<std::u16string>& v, const char16_t* name) {
            return std::find(v.begin(), v.end(), name) != v.end();
        };
        auto all = names();
        // One subfolder unticked: the folder's own files stay chosen, and the list says so.
        ClickCheckBox(tree, reports);
        QCOMPARE(tree.GetItemState(docs), 2);
        tree.setCurrentItem(docs);
        QVERIFY(items->ItemsNote()->text().contains(QStringLiteral("will be restored")));
        auto some = names();
        QVERIFY(has(some, u"letter.txt") && has(some, u"garden.jpg"));
        QVERIFY(!has(some, u"summary.txt"));
        QCOMPARE(some.size() + 3, all.size());  // Reports and its two files

        // The folder itself unticked, then one subfolder ticked again: its own files stay out.
        ClickCheckBox(tree, docs);  // partly -> checked
        ClickCheckBox(tree, docs);  // checked -> unchecked
        ClickCheckBox(tree, photos);
        QCOMPARE(tree.GetItemState(docs), 2);
        tree.setCurrentItem(docs);
        QVERIFY(items->ItemsNote()->text().contains(QStringLiteral("will not be restored")));
        auto fewer = names();
        QVERIFY(countedOnce);
        QVERIFY(has(fewer, u"garden.jpg"));
        QVERIFY(!has(fewer, u"letter.txt") && !has(fewer, u"summary.txt"));

        // The keyboard: Space toggles the stored state, and the box shown always matches it.
        tree.setFocus();
        tree.setCurrentItem(reports);
        QTest::keyClick(&tree, Qt::Key_Space);
        QCOMPARE(tree.GetItemState(reports), 1);
        QTest::keyClick(&tree, Qt::Key_Space);
        QCOMPARE(tree.GetItemState(reports), 0);
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {},
                          tree.visualItemRect(photos).center());  // a press on the row, not the box
        ClickCheckBox(tree, photos);
        for (auto* item : tree.PreOrder()) {
            int state = tree.GetItemState(item);
            Qt::CheckState shown = item->checkState(0);
            QCOMPARE(shown, state == 1   ? Qt::Checked
                            : state == 2 ? Qt::PartiallyChecked
                                         : Qt::Unchecked);
        }
    }
};

QTEST_MAIN(RestoreWizardTest)
#include "RestoreWizardTest.moc"
