// The Explorer driven offscreen: open a sealed archive of the sample profile, preview a
// document, a picture and a message, and extract a folder.
#include <QAction>
#include <QImage>
#include <QLocale>
#include <QScreen>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

#include "GuiSupport.h"
#include "app/explorer/ExplorerWindow.h"
#include "backup/BackupEngine.h"
#include "backup/SourceTree.h"
#include "base/Text.h"
#include "demo/DemoProfile.h"
#include "support/TestHome.h"

class ExplorerTest : public QObject {
    Q_OBJECT
    // Opens folders as a person would, one after another, until a message shows; a folder's
    // messages are read only when it is opened.
    static QTreeWidgetItem* FirstMessage(QTreeWidget* tree) {
        for (QTreeWidgetItemIterator it(tree); *it; ++it) {
            if ((*it)->text(1) == QStringLiteral("message")) return *it;
            (*it)->setExpanded(true);
        }
        return nullptr;
    }

  private slots:
    void opensPreviewsAndExtracts() {
        TestHome home;
        CreateDemoProfile();
        QImage picture(16, 16, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        QVERIFY(picture.save(QString::fromStdString(home / "Documents/Photos/real.png")));
        SourceTree tree;
        BackupRequest request;
        request.archivePath = tindale::text::ToUtf16(home / "demo.vqz");
        request.sources = tree.Selected();
        request.encrypt = true;
        request.password = u"secret";
        v::NullReport report;
        QVERIFY(BackupWorker(request, report, {}).Clean());

        ScriptedPrompts prompts;
        prompts.passwords = {QStringLiteral("wrong"), QStringLiteral("secret")};
        ExplorerWindow window;
        window.show();
        QVERIFY(window.OpenArchive(QString::fromStdString(home / "demo.vqz")));
        QCOMPARE(prompts.passwordPrompts, 2);
        QCOMPARE(prompts.errors.value(0), QStringLiteral("The password is wrong."));

        QVERIFY(window.Select(QStringLiteral("My Documents/letter.txt")));
        QVERIFY(window.PreviewText().startsWith(QStringLiteral("Dear Bob")));
        QVERIFY(window.Select(QStringLiteral("My Documents/Photos/real.png")));
        QVERIFY(window.PreviewIsImage());
        QVERIFY(window.Select(QStringLiteral("My Documents/Photos/garden.jpg")));  // not a picture
        QVERIFY(!window.PreviewIsImage());
        QVERIFY2(window.PreviewText().contains(QStringLiteral(" of ")),
                 qPrintable(window.PreviewText()));
        QTreeWidgetItem* message = FirstMessage(window.Tree());
        QVERIFY(message);
        window.Tree()->setCurrentItem(message);  // worked out on the preview thread
        QTRY_VERIFY(window.PreviewText().startsWith(QStringLiteral("From: ")));
        QVERIFY(window.PreviewText().contains(QStringLiteral("\nSubject: ")));

        window.Tree()->clearSelection();
        QVERIFY(window.Select(QStringLiteral("My Documents")));
        window.Tree()->currentItem()->setSelected(true);
        auto outcome =
            window.ExtractSelected(QString::fromStdString(home / "out"), MailForm::Eml, false);
        QVERIFY2(outcome.Clean(), outcome.error.c_str());
        QCOMPARE(ReadFile(home / "out/My Documents/letter.txt"),
                 ReadFile(home / "Documents/letter.txt"));
        QVERIFY(!std::filesystem::exists(home / "out/Message Store"));
    }

    // Items that decode to far more than they take in the archive (a text of 40 MB, a
    // message whose Subject is megabytes long) are previewed from their beginning only, off
    // the window's thread.
    // Sizes are the items' own; every action is on a menu with a shortcut; the window fits
    // the screen.
    void sizesAreTheItemsOwnAndEveryActionHasAKey() {
        TestHome home;
        WriteFile(home / "Documents/small.txt", std::string(34, 's'));
        SourceTree tree;
        BackupRequest request;
        request.archivePath = tindale::text::ToUtf16(home / "plain.vqz");
        request.sources = {tree.Find("My Documents")->node};
        v::NullReport report;
        QVERIFY(BackupWorker(request, report, {}).Clean());
        ScriptedPrompts prompts;
        ExplorerWindow window;
        window.show();
        QVERIFY(window.OpenArchive(QString::fromStdString(home / "plain.vqz")));
        QVERIFY(window.Select(QStringLiteral("My Documents/small.txt")));
        QCOMPARE(window.Tree()->currentItem()->text(2), QLocale().formattedDataSize(34));
        // Compressed and sealed: the size comes once the item's first frame is decoded.
        request.archivePath = tindale::text::ToUtf16(home / "sealed.vqz");
        request.compress = request.encrypt = true;
        request.password = u"secret";
        QVERIFY(BackupWorker(request, report, {}).Clean());
        prompts.passwords = {QStringLiteral("secret")};
        QVERIFY(window.OpenArchive(QString::fromStdString(home / "sealed.vqz")));
        QVERIFY(window.Select(QStringLiteral("My Documents/small.txt")));
        QTRY_COMPARE(window.Tree()->currentItem()->text(2), QLocale().formattedDataSize(34));
        QStringList shortcuts;
        for (auto* action : window.findChildren<QAction*>())
            if (!action->shortcut().isEmpty()) shortcuts << action->text();
        for (const char* name : {"&Open archive...", "E&xtract...", "&Quit", "&User guide"})
            QVERIFY2(shortcuts.contains(QString::fromUtf8(name)), name);
        QVERIFY(window.width() <= window.screen()->availableGeometry().width());
    }

    void previewsOnlyTheBeginningOfHugeItems() {
        TestHome home;
        WriteFile(home / "Documents/huge.txt", std::string(40 << 20, 'a'));
        WriteFile(home / "Maildir/cur/1.x.host:2,S",
                  "From: a@x\nSubject: " + std::string(8 << 20, 's') + "\n\nbody\n");
        for (const char* d : {"Maildir/new", "Maildir/tmp"})
            std::filesystem::create_directories(home / d);
        SourceTree tree;
        BackupRequest request;
        request.archivePath = tindale::text::ToUtf16(home / "bombs.vqz");
        request.sources = tree.Selected();
        request.compress = true;
        v::NullReport report;
        QVERIFY(BackupWorker(request, report, {}).Clean());
        ExplorerWindow window;
        window.show();
        QVERIFY(window.OpenArchive(QString::fromStdString(home / "bombs.vqz")));
        QVERIFY(window.Select(QStringLiteral("My Documents/huge.txt")));
        QVERIFY(window.PreviewText().startsWith(QStringLiteral("aaaa")));
        QVERIFY(window.PreviewText().endsWith(QStringLiteral("(Only its beginning is shown.)")));
        QVERIFY(window.PreviewText().size() < (2 << 20));
        QTreeWidgetItem* message = FirstMessage(window.Tree());
        QVERIFY(message);
        window.Tree()->setCurrentItem(message);
        QTRY_VERIFY(window.PreviewText().startsWith(QStringLiteral("From: ")));
    }
};

QTEST_MAIN(ExplorerTest)
#include "ExplorerTest.moc"
