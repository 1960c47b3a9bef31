#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "backup/BackupEngine.h"
#include "backup/SourceTree.h"
#include "base/Text.h"
#include "model/FileNodes.h"
#include "platform/Identities.h"
#include "platform/stores/mbox/MboxFile.h"
#include "restore/Extract.h"
#include "support/CraftedArchive.h"
#include "support/TestHome.h"

using namespace tindale;
namespace fs = std::filesystem;

namespace {

const std::string kLetter = "Dear Bob,\n" + std::string(50000, 'l');
const std::string kSeen = "Subject: seen\nMessage-ID: <1@x>\n\nFrom the garden\n";
const std::string kNew = "Subject: new\nMessage-ID: <2@x>\n\nhello\n";
const std::string kSlash = "Subject: 1/2 done\nMessage-ID: <3@x>\n\nhalf\n";

std::string BackUp(const TestHome& home, bool compress, bool encrypt, bool legacy) {
    WriteFile(home / "Documents/letter.txt", kLetter);
    WriteFile(home / "Documents/sub/empty.txt", "");
    WriteFile(home / "Maildir/cur/1.a.host:2,FS", kSeen);
    WriteFile(home / "Maildir/new/2.b.host", kNew);
    fs::create_directories(home / "Maildir/tmp");
    WriteFile(home / "Maildir/.Inbox.Lists/cur/3.c.host:2,S", kSlash);
    fs::create_directories(home / "Maildir/.Inbox.Lists/new");
    fs::create_directories(home / "Maildir/.Inbox.Lists/tmp");
    identities::EnsureDefaultIdentity();
    SourceTree tree;
    tree.SetAll(SourceTree::kUnchecked);
    tree.SetState(*tree.Find("My Documents"), SourceTree::kChecked);
    tree.SetState(*tree.Find("Message Store"), SourceTree::kChecked);
    BackupRequest request;
    request.archivePath = text::ToUtf16(home / "a.vqz");
    request.sources = tree.Selected();
    request.compress = compress;
    request.encrypt = encrypt;
    request.legacyEncryption = legacy;
    request.password = u"pass";
    v::NullReport report;
    EXPECT_TRUE(BackupWorker(request, report, {}).Clean());
    return home / "a.vqz";
}

v::Outcome Extract(const std::string& archive, const std::string& to, MailForm mail,
                   std::vector<std::string> items = {}) {
    ExtractRequest request;
    request.archivePath = text::ToUtf16(archive);
    request.password = u"pass";
    request.target = to;
    request.mail = mail;
    request.items = std::move(items);
    v::NullReport report;
    return ExtractWorker(request, report, {});
}

std::vector<std::string> FilesBelow(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) out.push_back(fs::relative(e.path(), dir).string());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

// Every way of writing an archive: files come out byte for byte where the archive had them,
// messages as .eml files with their exact source, as a Maildir with their flags, or as an
// mbox folder; nothing of the person's own data changes.
TEST(Extract, FilesAndMessagesComeOutByteForByteFromEveryKindOfArchive) {
    struct Way {
        bool compress, encrypt, legacy;
    };
    for (Way way : {Way{false, false, false}, Way{true, false, false}, Way{false, true, true},
                    Way{true, true, false}}) {
        TestHome home;
        std::string archive = BackUp(home, way.compress, way.encrypt, way.legacy);
        auto eml = Extract(archive, home / "out", MailForm::Eml);
        EXPECT_TRUE(eml.Clean()) << eml.error;
        EXPECT_EQ(ReadFile(home / "out/My Documents/letter.txt"), kLetter);
        EXPECT_TRUE(fs::exists(home / "out/My Documents/sub/empty.txt"));
        EXPECT_EQ(ReadFile(home / "out/Message Store/Main Identity/Inbox/seen.eml"), kSeen);
        EXPECT_EQ(ReadFile(home / "out/Message Store/Main Identity/Inbox/new.eml"), kNew);
        // A subject with a "/" is a name, never a folder.
        EXPECT_EQ(ReadFile(home / "out/Message Store/Main Identity/Inbox/Lists/1_2 done.eml"),
                  kSlash);

        ASSERT_TRUE(Extract(archive, home / "md", MailForm::Maildir, {"Message Store"}).Clean());
        auto maildir = FilesBelow(home / "md/Message Store/Main Identity/Inbox");
        std::erase_if(maildir, [](const auto& f) { return f.starts_with("Lists/"); });
        ASSERT_EQ(maildir.size(), 2u);
        EXPECT_TRUE(maildir[0].starts_with("cur/") && maildir[0].ends_with(":2,FS")) << maildir[0];
        EXPECT_TRUE(maildir[1].starts_with("new/")) << maildir[1];

        ASSERT_TRUE(Extract(archive, home / "mb", MailForm::Mbox, {"Message Store"}).Clean());
        // As Thunderbird keeps folders: the Inbox a file, its subfolders in Inbox.sbd.
        store::MboxFile box(home / "mb/Message Store/Main Identity/Inbox", "");
        ASSERT_EQ(box.Load(), 0);
        EXPECT_EQ(box.Files().size(), 2u);
        store::MboxFile lists(home / "mb/Message Store/Main Identity/Inbox.sbd/Lists", "");
        ASSERT_EQ(lists.Load(), 0);
        EXPECT_EQ(lists.Files().size(), 1u);
        auto store = FilesBelow(home / "Maildir");  // the store itself as it was
        EXPECT_EQ(
            std::count_if(store.begin(), store.end(), [](const auto& f) { return f[0] != '.'; }),
            2);  // the Inbox's own two; its subfolder's is below ".Inbox.Lists"
    }
}

// Extracting again keeps what is there; an item the archive does not hold is said.
// Extraction says how far through the archive it is: percentages that only grow, up to
// nearly all of it.
TEST(Extract, ReportsHowFarThroughTheArchiveItIs) {
    struct Percentages : v::WorkerReport {
        void Progress(uint64_t position, uint64_t) override { seen.push_back(position); }
        void Done() override {}
        std::vector<uint64_t> seen;
    } report;
    TestHome home;
    ExtractRequest request;
    request.archivePath = text::ToUtf16(BackUp(home, true, true, false));
    request.password = u"pass";
    request.target = home / "out";
    ASSERT_TRUE(ExtractWorker(request, report, {}).Clean());
    ASSERT_GE(report.seen.size(), 3u);
    EXPECT_TRUE(std::is_sorted(report.seen.begin(), report.seen.end()));
    EXPECT_GE(report.seen.back(), 90u);
}

TEST(Extract, NeverOverwritesWithoutBeingAskedAndNamesWhatIsMissing) {
    TestHome home;
    std::string archive = BackUp(home, false, false, false);
    WriteFile(home / "out/My Documents/letter.txt", "mine");
    auto outcome = Extract(archive, home / "out", MailForm::Eml,
                           {"My Documents/letter.txt", "My Documents/nothing.txt"});
    EXPECT_EQ(ReadFile(home / "out/My Documents/letter.txt"), "mine");
    ASSERT_EQ(outcome.problems.size(), 2u);
    EXPECT_NE(outcome.problems[0].reason.find("exists already"), std::string::npos);
    EXPECT_EQ(outcome.problems[1].item, "My Documents/nothing.txt");
}

// Names that would lead out of the chosen folder are refused, whatever the record says.
TEST(Extract, HostileNamesWriteNothingOutsideTheChosenFolder) {
    TestHome home;
    CraftedArchive archive(false, false);
    tindale::Guid docs =
        archive
            .Add(v::FileFolderNode::kTypeGuid, u"..",
                 archive.Frames(CraftedArchive::FilePayload(u"%USERPROFILE%\\Documents", "", true)),
                 true)
            .InstanceGuid();
    for (std::u16string name : {u"escape.txt", u"a/../../b.txt", u""})
        archive.Add(
            v::FileFolderNode::kTypeGuid, name,
            archive.Frames(CraftedArchive::FilePayload(u"%USERPROFILE%\\Documents\\x", "hostile")),
            false, &docs);
    archive.WriteTo(home / "h.vqz");
    fs::create_directories(home / "box/out");
    auto outcome = Extract(home / "h.vqz", home / "box/out", MailForm::Eml);
    EXPECT_GE(outcome.problems.size(), 4u);
    EXPECT_TRUE(FilesBelow(home / "box").empty());
    EXPECT_FALSE(fs::exists(home / "escape.txt"));
    EXPECT_FALSE(fs::exists(home / "b.txt"));
}

// An item whose data is damaged after its first piece comes out not at all: no part of it
// under its name, and a good file already there stays even with --overwrite.
TEST(Extract, ADamagedItemLeavesNothingAndReplacesNothing) {
    TestHome home;
    CraftedArchive archive(true, false);
    tindale::Guid docs = archive.AddDocumentsRoot();
    std::string big(60000, 'x');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + (i * 7919) % 26);
    auto frames =
        archive.Frames(CraftedArchive::FilePayload(u"%USERPROFILE%\\Documents\\big.txt", big));
    // The second frame's compressed bytes are spoilt: the first piece still decodes.
    uint32_t first = 0;
    std::memcpy(&first, frames.data(), 4);
    for (size_t at = 4 + first + 4 + 8; at < 4 + first + 4 + 40; ++at) frames[at] ^= 0x5A;
    archive.Add(v::FileFolderNode::kTypeGuid, u"big.txt", frames, false, &docs);
    archive.WriteTo(home / "d.vqz");

    auto outcome = Extract(home / "d.vqz", home / "out", MailForm::Eml);
    EXPECT_FALSE(fs::exists(home / "out/My Documents/big.txt"));
    EXPECT_TRUE(FilesBelow(home / "out").empty());  // no temporary left either
    ASSERT_FALSE(outcome.problems.empty());
    EXPECT_NE(outcome.problems.back().reason.find("damaged"), std::string::npos);

    ExtractRequest request;
    request.archivePath = text::ToUtf16(home / "d.vqz");
    request.target = home / "out";
    request.overwrite = true;
    WriteFile(home / "out/My Documents/big.txt", "a good copy");
    v::NullReport report;
    ExtractWorker(request, report, {});
    EXPECT_EQ(ReadFile(home / "out/My Documents/big.txt"), "a good copy");
    EXPECT_EQ(FilesBelow(home / "out").size(), 1u);
}

// Cancel stops inside a large file at once and leaves nothing of it behind.
TEST(Extract, CancelInsideALargeFileLeavesNoPartOfIt) {
    struct StopOnProgress : v::WorkerReport {
        void Progress(uint64_t, uint64_t) override { stop.request_stop(); }
        void Done() override {}
        std::stop_source stop;
    } report;
    TestHome home;
    std::string big(64u << 20, 'b');  // many pieces
    WriteFile(home / "Documents/big.bin", big);
    v::MyDocsNode docs;
    BackupRequest backup;
    backup.archivePath = text::ToUtf16(home / "big.vqz");
    backup.sources = {&docs};
    v::NullReport quiet;
    ASSERT_TRUE(BackupWorker(backup, quiet, {}).Clean());
    ExtractRequest request;
    request.archivePath = backup.archivePath;
    request.target = home / "out";
    auto outcome = ExtractWorker(request, report, report.stop.get_token());
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_TRUE(outcome.problems.empty());
    EXPECT_FALSE(fs::exists(home / "out/My Documents/big.bin"));
    if (fs::exists(home / "out")) {
        EXPECT_TRUE(FilesBelow(home / "out").empty());
    }
}
