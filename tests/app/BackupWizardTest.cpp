// Backup from the welcome page to Finish on a throwaway home with the demo profile.
#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <filesystem>

#include "GuiSupport.h"
#include "app/pages/BackupPages.h"
#include "archive/ArchiveReader.h"
#include "base/Text.h"
#include "demo/DemoProfile.h"
#include "support/TestHome.h"

namespace {

struct Walk {
    TestHome home;
    ScriptedPrompts prompts;
    std::unique_ptr<CWizard> wizard;

    Walk() {
        CreateDemoProfile();
        wizard = std::make_unique<CWizard>();
        wizard->show();
        wizard->next();  // Backup is the default mode
    }
    template <typename T>
    T* Page(int id) {
        return static_cast<T*>(wizard->Page(id));
    }
    void SetOutput(const std::string& path) {
        Page<CPageBackupChooseOutput>(kBackupChooseOutput)
            ->Chooser()
            ->SetPath(QString::fromStdString(path));
        wizard->next();
    }
    void SetOptions(bool compress, bool encrypt, const QString& password = {},
                    const QString& again = {}) {
        auto* options = Page<CPageBackupOptions>(kBackupOptions);
        options->Compress()->setChecked(compress);
        options->Encrypt()->setChecked(encrypt);
        options->Password()->setText(password);
        options->Again()->setText(again.isNull() ? password : again);
        wizard->next();
    }
    CNodeTreeCtrl& Tree() { return *Page<CPageBackupChooseSource>(kBackupChooseSource)->Tree(); }
    std::vector<std::u16string> SelectedNames() {
        std::vector<std::u16string> out;
        for (auto* node : wizard->State().backupSources) out.push_back(node->GetDisplayName());
        return out;
    }
};

// Every record of an archive, walked to its end by the core reader.
std::vector<v::NodeRecord> Records(const std::string& path, bool* clean) {
    v::FileStream file(ArchiveReader::OpenArchiveFd(path));
    ArchiveReader reader;
    std::vector<v::NodeRecord> out;
    if (reader.OpenArchiveFile(&file))
        for (; !reader.AtEnd(); reader.Advance()) out.push_back(reader.Record());
    *clean = reader.Reason() == ArchiveReader::EndReason::CleanEnd;
    return out;
}

}  // namespace

class BackupWizardTest : public QObject {
    Q_OBJECT
  private slots:
    // Step 1 settles where the archive goes: "~" and relative names are in the home folder,
    // ".vqz" is added, a folder that does not exist is refused there, and replacing an
    // existing archive is asked.
    void archivePathIsCheckedAtTheFirstStep() {
        Walk walk;
        auto* output = walk.Page<CPageBackupChooseOutput>(kBackupChooseOutput);
        auto home = QString::fromStdString(walk.home.Path());
        walk.SetOutput("~/x");
        QCOMPARE(walk.wizard->currentId(), int(kBackupChooseSource));
        QCOMPARE(QString::fromStdU16String(walk.wizard->State().archivePath), home + "/x.vqz");
        walk.wizard->back();
        walk.SetOutput("relative");
        QCOMPARE(QString::fromStdU16String(walk.wizard->State().archivePath),
                 home + "/relative.vqz");
        walk.wizard->back();
        walk.SetOutput(walk.home / "no/such/folder/a.vqz");
        QCOMPARE(walk.wizard->currentId(), int(kBackupChooseOutput));
        QVERIFY(walk.prompts.errors.value(0).contains(QStringLiteral("does not exist")));
        WriteFile(walk.home / "old.vqz", "an earlier archive");
        walk.prompts.confirmAnswer = false;
        walk.SetOutput(walk.home / "old.vqz");
        QCOMPARE(walk.wizard->currentId(), int(kBackupChooseOutput));
        QVERIFY(walk.prompts.questions.value(0).contains(QStringLiteral("Replace it")));
        walk.prompts.confirmAnswer = true;
        walk.SetOutput(walk.home / "old.vqz");
        QCOMPARE(walk.wizard->currentId(), int(kBackupChooseSource));
        QCOMPARE(output->Chooser()->Path(), home + "/old.vqz");
    }

    void everyOptionSettingWritesAReadableArchive() {
        for (int options = 0; options < 4; ++options) {
            Walk walk;
            std::string archive = walk.home / "out.vqz";
            walk.SetOutput(archive);
            QCOMPARE(walk.wizard->currentId(), int(kBackupChooseSource));
            walk.wizard->next();
            walk.SetOptions(options & 1, options & 2, QStringLiteral("s3cret"));
            QCOMPARE(walk.wizard->currentId(), int(kBackupReady));
            walk.wizard->next();
            QCOMPARE(walk.wizard->currentId(), int(kBackupInProgress));
            QVERIFY(!walk.wizard->button(QWizard::BackButton)->isEnabled());
            QVERIFY(WaitForWorker(*walk.wizard));
            auto* progress = walk.Page<CPageBackupInProgress>(kBackupInProgress);
            QVERIFY2(progress->Result().Clean(), progress->Result().error.c_str());
            QCOMPARE(
                progress->subTitle(),
                QStringLiteral("Backup thread has finished! Press Next button to continue ..."));
            QVERIFY(!progress->CancelButton()->isEnabled());
            QCOMPARE(progress->Bar()->value(), progress->Bar()->maximum());
            QVERIFY(walk.wizard->button(QWizard::NextButton)->isEnabled());
            walk.wizard->next();
            QCOMPARE(walk.wizard->currentId(), int(kBackupFinished));
            QVERIFY(walk.wizard->button(QWizard::FinishButton)->isEnabled());
            QCOMPARE(
                walk.wizard->currentPage()->subTitle(),
                QStringLiteral("Congratulations, your archive has been backed up successfully!"));
            auto* finished = walk.Page<CPageBackupFinished>(kBackupFinished);
            QVERIFY(finished->DetailsText().contains(QString::fromStdString(archive)));
            QVERIFY(!finished->OpenFolderButton()->isHidden());

            bool clean = false;
            auto records = Records(archive, &clean);
            QVERIFY(clean);
            // The containers appear in the order of the checked tree.
            std::vector<std::u16string> containers;
            for (const auto& r : records)
                if (r.IsContainer()) containers.push_back(r.DisplayName());
            QVERIFY(containers == walk.SelectedNames());
            for (const auto& r : records) {
                QCOMPARE(r.Compressed(), bool(options & 1));
                QCOMPARE(r.Encrypted(), bool(options & 2));
            }
        }
    }

    void nothingCheckedIsRefused() {
        Walk walk;
        walk.SetOutput(walk.home / "x.vqz");
        auto& tree = walk.Tree();
        int sentinel = 0;
        walk.wizard->State().backupSources = {reinterpret_cast<v::BasicNode*>(&sentinel)};
        for (int i = 0; i < tree.topLevelItemCount(); ++i)
            tree.SetItemState(tree.topLevelItem(i), 0, true);
        walk.wizard->next();
        QCOMPARE(walk.wizard->currentId(), int(kBackupChooseSource));
        QCOMPARE(walk.prompts.errors.value(0),
                 QStringLiteral(
                     "You havn't choose any source item to backup, please check one or more items "
                     "before you go next step!\n"));
        QCOMPARE(walk.wizard->State().backupSources.size(), size_t(1));
    }

    void oneDeepFolderBringsItsPartlyCheckedAncestorsInPreOrder() {
        Walk walk;
        walk.SetOutput(walk.home / "x.vqz");
        auto& tree = walk.Tree();
        for (int i = 0; i < tree.topLevelItemCount(); ++i)
            tree.SetItemState(tree.topLevelItem(i), 0, true);
        auto* deep = FindItem(
            tree, {QStringLiteral("Message Store"), QStringLiteral("Main Identity"),
                   QStringLiteral("Work"), QStringLiteral("Projects"), QStringLiteral("2026")});
        QVERIFY(deep);
        ClickCheckBox(tree, deep);
        walk.wizard->next();
        std::vector<std::u16string> expected = {u"Message Store", u"Main Identity", u"Work",
                                                u"Projects", u"2026"};
        QVERIFY(walk.SelectedNames() == expected);
        walk.wizard->back();
        walk.wizard->next();  // going back and on again rebuilds without duplicates
        QVERIFY(walk.SelectedNames() == expected);
    }

    // Work's own messages follow Work: unticking its only subfolder keeps them (Work shows
    // partly ticked and its list says so), and ticking the subfolder alone leaves them out.
    void aFoldersOwnMessagesFollowTheFolder() {
        Walk walk;
        walk.SetOutput(walk.home / "x.vqz");
        auto& tree = walk.Tree();
        auto path = [](QStringList names) {
            return QStringList{QStringLiteral("Message Store"), QStringLiteral("Main Identity"),
                               QStringLiteral("Work")} +
                   names;
        };
        auto* work = FindItem(tree, path({}));
        auto* projects = FindItem(tree, path({QStringLiteral("Projects")}));
        QVERIFY(work && projects);
        ClickCheckBox(tree, projects);
        QCOMPARE(tree.GetItemState(work), 2);
        tree.setCurrentItem(work);
        auto* page = walk.Page<CPageBackupChooseSource>(kBackupChooseSource);
        QVERIFY(page->Items()->count() > 0);
        QCOMPARE(page->ItemsNote()->text(), QStringLiteral("These items will be backed up."));
        walk.wizard->next();
        QVERIFY(walk.wizard->State().backupWithoutOwnItems.empty());

        walk.wizard->back();
        for (int i = 0; i < tree.topLevelItemCount(); ++i)
            tree.SetItemState(tree.topLevelItem(i), 0, true);
        ClickCheckBox(tree, projects);
        QCOMPARE(tree.GetItemState(work), 2);
        tree.setCurrentItem(work);
        QVERIFY(page->ItemsNote()->text().startsWith(
            QStringLiteral("These items will not be backed up")));
        QVERIFY(!page->Items()->item(0)->flags().testFlag(Qt::ItemIsEnabled));
        walk.wizard->next();
        const auto& left = walk.wizard->State().backupWithoutOwnItems;
        QVERIFY(left.count(CNodeTreeCtrl::NodeOf(work)));
        QVERIFY(!left.count(CNodeTreeCtrl::NodeOf(projects)));
    }

    void summaryAndPasswordChecks() {
        Walk walk;
        walk.SetOutput(walk.home / "x.vqz");
        walk.wizard->next();
        walk.SetOptions(false, true, QStringLiteral("one"), QStringLiteral("two"));
        QCOMPARE(walk.prompts.errors.value(0),
                 QStringLiteral("Your password is invalid, please check and enter again!"));
        walk.SetOptions(false, true, QString(""));
        QCOMPARE(walk.prompts.errors.value(1), QStringLiteral("Your password can not be empty!"));
        walk.Page<CPageBackupOptions>(kBackupOptions)->Legacy()->setChecked(true);
        walk.SetOptions(false, true, QString(28, QLatin1Char('p')));
        QCOMPARE(walk.prompts.errors.size(), 3);  // too long for the legacy scheme's header
        walk.SetOptions(false, false, QStringLiteral("ignored"), QStringLiteral("different"));
        QCOMPARE(walk.wizard->currentId(), int(kBackupReady));
        QStringList lines =
            walk.Page<CPageBackupReady>(kBackupReady)->Summary().split(QLatin1Char('\n'));
        QVERIFY(lines.value(1).endsWith(QStringLiteral("No")));
        QVERIFY(lines.value(2).endsWith(QStringLiteral("No")));
        QVERIFY(
            lines.value(3).endsWith(QString::number(walk.wizard->State().backupSources.size())));
        // The sample profile's programs, each named.
        QVERIFY(lines.contains(QStringLiteral("Programs' files saved:")));
        QVERIFY(lines.contains(QStringLiteral("    mutt")));
        QVERIFY(lines.contains(QStringLiteral("    Firefox (default-esr)")));
    }

    // A short password is asked about once; the legacy scheme says what it leaves readable;
    // saved passwords are said to go only into sealed archives.
    void shortPasswordsAndTheLegacySchemeAreExplained() {
        Walk walk;
        walk.SetOutput(walk.home / "x.vqz");
        walk.wizard->next();
        auto* options = walk.Page<CPageBackupOptions>(kBackupOptions);
        walk.prompts.confirmAnswer = false;
        walk.SetOptions(false, true, QStringLiteral("abc"));
        QCOMPARE(walk.wizard->currentId(), int(kBackupOptions));
        QVERIFY(walk.prompts.questions.last().contains(QStringLiteral("only 3 characters")));
        walk.prompts.confirmAnswer = true;
        walk.SetOptions(false, true, QStringLiteral("abc"));
        QCOMPARE(walk.wizard->currentId(), int(kBackupReady));
        int asked = walk.prompts.questions.size();
        walk.wizard->back();
        walk.wizard->next();  // the same short password: not asked again
        QCOMPARE(walk.prompts.questions.size(), asked);
        walk.wizard->back();
        options->Legacy()->setChecked(true);
        QVERIFY(options->CostNote()->text().contains(QStringLiteral("readable to anyone")));
        QVERIFY(options->SecretsNote()->text().contains(QStringLiteral("only in sealed")));
    }

    // The options page says what the chosen compression costs: zstd inside a seal, LZMA for
    // archives other readers must open.
    void optionsSayWhatCompressionCosts() {
        Walk walk;
        walk.SetOutput(walk.home / "x.vqz");
        walk.wizard->next();
        auto* options = walk.Page<CPageBackupOptions>(kBackupOptions);
        auto note = [&] { return options->CostNote()->text(); };
        QVERIFY(note().startsWith(QStringLiteral("Not compressed")));
        QVERIFY(options->Quick()->isHidden());
        options->Compress()->setChecked(true);
        QVERIFY(!options->Quick()->isHidden());
        QVERIFY(note().contains(QStringLiteral("LZMA")));
        options->Quick()->setChecked(true);
        QVERIFY(note().contains(QStringLiteral("quicker setting")));
        options->Encrypt()->setChecked(true);
        QVERIFY(note().contains(QStringLiteral("zstd")));
        QVERIFY(options->Quick()->isHidden());  // zstd is quick already
        options->Legacy()->setChecked(true);
        QVERIFY(!options->Quick()->isHidden());
        QVERIFY(note().contains(QStringLiteral("LZMA")));
    }

    void emptyOrOverlongOutputPathIsRefused() {
        Walk walk;
        walk.SetOutput("");
        QCOMPARE(walk.prompts.errors.value(0),
                 QStringLiteral("Please enter a filename before you go to next step"));
        walk.SetOutput("/tmp/" + std::string(2100, 'a'));
        QCOMPARE(walk.prompts.errors.size(), 2);
        QCOMPARE(walk.wizard->currentId(), int(kBackupChooseOutput));
    }

    void cancelDuringTheRunKeepsAnEarlierArchive() {
        Walk walk;
        std::string archive = walk.home / "keep.vqz";
        WriteFile(archive, "the earlier archive");
        WriteFile(walk.home / "Documents/large.img", "");
        std::filesystem::resize_file(walk.home / "Documents/large.img",
                                     3ll << 30);  // takes a while to compress
        walk.SetOutput(archive);
        walk.wizard->next();
        walk.SetOptions(true, false);
        walk.wizard->next();
        auto* progress = walk.Page<CPageBackupInProgress>(kBackupInProgress);
        QTest::mouseClick(progress->CancelButton(), Qt::LeftButton);
        QVERIFY(WaitForWorker(*walk.wizard));
        QVERIFY(progress->Result().cancelled);
        QVERIFY(progress->subTitle().contains(QStringLiteral("cancelled")));
        QCOMPARE(ReadFile(archive), std::string("the earlier archive"));
        walk.wizard->next();
        QVERIFY(
            !walk.wizard->currentPage()->subTitle().startsWith(QStringLiteral("Congratulations")));
    }
};

QTEST_MAIN(BackupWizardTest)
#include "BackupWizardTest.moc"
