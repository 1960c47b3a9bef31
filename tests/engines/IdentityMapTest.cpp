// Each archived identity's mail goes to its own identity here, whatever identities the
// restoring home has.
#include <gtest/gtest.h>

#include <filesystem>

#include "backup/BackupEngine.h"
#include "backup/SourceTree.h"
#include "base/Text.h"
#include "model/MessageNodes.h"
#include "model/Worker.h"
#include "platform/Identities.h"
#include "platform/Registry.h"
#include "restore/IdentityMap.h"
#include "restore/RestoreEngine.h"
#include "support/TestHome.h"

using namespace tindale;
namespace fs = std::filesystem;

namespace {

size_t CountFiles(const std::string& folder) {
    size_t n = 0;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(folder, ec))
        n += e.is_regular_file() && e.path().parent_path().filename() == "cur";
    return n;
}

// Ann's home: "Main Identity" in ~/Maildir (2 messages), "Archive 2019" in ~/Mail/archive
// (1 message); returns the archive and Archive 2019's id.
std::pair<std::string, std::u16string> BackUpTwoIdentities(const TestHome& home) {
    WriteFile(home / "Maildir/cur/1.a.host:2,S", "Subject: one\n\nmain\n");
    WriteFile(home / "Maildir/cur/2.b.host:2,S", "Subject: two\n\nmain\n");
    WriteFile(home / "Mail/archive/cur/3.c.host:2,S", "Subject: old\n\narchive\n");
    for (const char* f : {"Maildir/new", "Maildir/tmp", "Mail/archive/new", "Mail/archive/tmp"})
        fs::create_directories(home / f);
    identities::Add(u"Main Identity", home / "Maildir");
    auto archive2019 = identities::Add(u"Archive 2019", home / "Mail/archive");
    SourceTree tree;
    tree.SetAll(SourceTree::kUnchecked);
    tree.SetState(*tree.Find("Message Store"), SourceTree::kChecked);
    BackupRequest request;
    request.archivePath = text::ToUtf16(home / "two.vqz");
    request.sources = tree.Selected();
    v::NullReport report;
    EXPECT_TRUE(BackupWorker(request, report, {}).Clean());
    return {home / "two.vqz", *archive2019};
}

v::Outcome RestoreEachToItsOwn(const std::string& archive) {
    RestoreRequest request;
    request.archivePath = text::ToUtf16(archive);
    request.everything = true;
    v::NullReport report;
    return RestoreWorker(request, report, {});
}

}  // namespace

TEST(IdentityMap, ANewHomeGetsEachIdentityMadeAgainWithItsOwnMail) {
    TestHome home;
    auto [archive, id] = BackUpTwoIdentities(home);
    TestHome fresh;
    auto outcome = RestoreEachToItsOwn(archive);
    EXPECT_TRUE(outcome.Clean());
    EXPECT_EQ(identities::List().size(), 2u);
    EXPECT_EQ(CountFiles(fresh / "Maildir"), 2u);
    EXPECT_EQ(CountFiles(fresh / "Mail/archive"), 1u);
}

TEST(IdentityMap, AHomeWithOneOfThemGivesItItsMailAndMakesTheOther) {
    TestHome home;
    auto [archive, id] = BackUpTwoIdentities(home);
    TestHome other;
    WriteFile(other / "Work/cur/9.z.host:2,S", "Subject: mine\n\nwork\n");
    fs::create_directories(other / "Work/new");
    fs::create_directories(other / "Work/tmp");
    identities::Add(u"Archive 2019", other / "Work");  // the same name, elsewhere
    EXPECT_TRUE(RestoreEachToItsOwn(archive).Clean());
    EXPECT_EQ(CountFiles(other / "Work"), 2u);  // its own and the archived one
    EXPECT_EQ(CountFiles(other / "Maildir"), 2u);
    EXPECT_FALSE(fs::exists(other / "Mail/archive"));
}

TEST(IdentityMap, TheSameIdWinsOverTheName) {
    TestHome home;
    auto [archive, id] = BackUpTwoIdentities(home);
    // The person renamed "Archive 2019" since: its id still finds it, and nothing is doubled.
    auto key = reg::Key::Open(reg::kHkeyCurrentUser, u"Identities\\" + id);
    ASSERT_TRUE(key);
    key->SetString(u"Username", u"Old mail");
    auto outcome = RestoreEachToItsOwn(archive);
    EXPECT_TRUE(outcome.Clean());
    EXPECT_EQ(identities::List().size(), 2u);
    EXPECT_EQ(CountFiles(home / "Mail/archive"), 1u);
    EXPECT_EQ(outcome.alreadyThere, 3u);
}

// "Delete all messages" with each identity to its own empties every identity here that
// receives the archive's mail, and no other.
TEST(IdentityMap, DeletingFirstEmptiesTheIdentitiesThatReceiveMailOnly) {
    TestHome home;
    auto [archive, id] = BackUpTwoIdentities(home);
    WriteFile(home / "Maildir/cur/7.new.host:2,S", "Subject: since\n\nafter the backup\n");
    fs::create_directories(home / "Work/new");
    fs::create_directories(home / "Work/tmp");
    WriteFile(home / "Work/cur/8.w.host:2,S", "Subject: work\n\nuntouched\n");
    identities::Add(u"Work", home / "Work");
    RestoreRequest request;
    request.archivePath = text::ToUtf16(archive);
    request.clearIdentity = true;
    for (const char* name : {"Main Identity", "Archive 2019"}) {
        v::NodeRecord rec;
        rec.SetTypeGuid(v::MsgStoreIden::kTypeGuid);
        rec.SetDisplayName(text::ToUtf16(name));
        request.items.push_back(rec);
    }
    auto pairs = PairIdentitiesByName(request.items);
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_TRUE(pairs[0].here && pairs[1].here);
    request.everything = true;
    v::NullReport report;
    auto outcome = RestoreWorker(request, report, {});
    EXPECT_FALSE(outcome.failed) << outcome.error;
    EXPECT_EQ(CountFiles(home / "Maildir"), 2u);  // emptied, then its two archived messages
    EXPECT_EQ(CountFiles(home / "Mail/archive"), 1u);
    EXPECT_EQ(CountFiles(home / "Work"), 1u);  // receives nothing: kept as it was
    size_t deletedNotes = 0;
    for (const auto& note : outcome.notes)
        deletedNotes += note.find("were deleted") != std::string::npos;
    EXPECT_EQ(deletedNotes, 2u);
}

// The person may send an archived identity's mail to another identity than its own.
TEST(IdentityMap, AChosenIdentityWinsOverTheArchivedOnesOwn) {
    TestHome home;
    auto [archive, id] = BackUpTwoIdentities(home);
    TestHome other;
    fs::create_directories(other / "Work/new");
    fs::create_directories(other / "Work/tmp");
    auto work = identities::Add(u"Work", other / "Work");
    ASSERT_TRUE(work);
    RestoreRequest request;
    request.archivePath = text::ToUtf16(archive);
    request.everything = true;
    request.identityFor[u"Archive 2019"] = *work;
    v::NullReport report;
    EXPECT_TRUE(RestoreWorker(request, report, {}).Clean());
    EXPECT_EQ(CountFiles(other / "Work"), 1u);
    EXPECT_EQ(CountFiles(other / "Maildir"), 2u);  // Main Identity made again, as before
    EXPECT_FALSE(fs::exists(other / "Mail/archive"));
}
