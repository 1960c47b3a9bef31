// Folders with what their mail clients keep beside the messages, through a backup and a
// restore: the payload bytes, and where the files may and may not come back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "backup/BackupEngine.h"
#include "backup/SourceTree.h"
#include "base/Text.h"
#include "model/FolderState.h"
#include "model/MessageNodes.h"
#include "model/Outcome.h"
#include "platform/Identities.h"
#include "restore/RecordTree.h"
#include "restore/RestoreEngine.h"
#include "support/TestHome.h"

using namespace tindale;
using namespace v;
namespace fs = std::filesystem;

namespace {

const std::string kState = "FarUidValidity 7\nNearUidValidity 9\nMaxPulledUid 2\n\n1 1 S\n2 2 \n";

void Deliver(const std::string& maildir, const std::string& name, const std::string& subject) {
    WriteFile(maildir + "/cur/" + name, "Subject: " + subject + "\n\nbody of " + subject + "\n");
    fs::create_directories(maildir + "/new");
    fs::create_directories(maildir + "/tmp");
}

// An mbsync store ("SubFolders Verbatim"): INBOX and Archive/2024, Archive a mere parent.
void MakeMbsyncStore(const TestHome& home) {
    std::string root = home / "Mail";
    Deliver(root + "/INBOX", "1.a.host,U=1:2,S", "one");
    Deliver(root + "/INBOX", "2.b.host,U=2:2,", "two");
    WriteFile(root + "/INBOX/.mbsyncstate", kState);
    WriteFile(root + "/INBOX/.uidvalidity", "9\n2\n");
    Deliver(root + "/Archive/2024", "3.c.host,U=1:2,S", "old");
    WriteFile(root + "/Archive/2024/.uidvalidity", "5\n1\n");
    identities::Add(u"Mail", root, tindale::store::StoreKind::Verbatim);
}

std::string BackUp(const TestHome& home) {
    SourceTree tree(true);
    BackupRequest request;
    request.archivePath = text::ToUtf16(home / "mail.vqz");
    request.sources = tree.Selected();
    NullReport report;
    Outcome outcome = BackupWorker(request, report, {});
    EXPECT_TRUE(outcome.Clean()) << outcome.error;
    return home / "mail.vqz";
}

Outcome Restore(const std::string& archive, std::u16string identity,
                const std::function<bool(const RecordTree::Entry&)>& want = {}) {
    RestoreRequest request;
    request.archivePath = text::ToUtf16(archive);
    for (const auto& e : RecordTree::Load(archive).entries)
        if (!want || want(*e)) request.items.push_back(e->record);
    request.identity = std::move(identity);
    NullReport report;
    return RestoreWorker(request, report, {});
}

std::u16string AddIdentity(const TestHome& home, const std::string& dir) {
    fs::create_directories(home / dir);
    return identities::Add(u"Restored " + text::ToUtf16(dir), home / dir,
                           tindale::store::StoreKind::Verbatim)
        .value_or(u"");
}

}  // namespace

TEST(FolderState, PayloadBytesAndHostileNames) {
    FolderState state;
    state.mereParent = false;
    state.messages = 3;
    state.files = {{".mbsyncstate", "s"}, {"subscriptions", "INBOX\n"}};
    MemoryStream out;
    ASSERT_EQ(WriteFolderState(state, out), 16u + (2 + 12 + 4 + 1) + (2 + 13 + 4 + 6));
    const auto& bytes = out.Data();
    const uint8_t header[16] = {'T', 'Z', 'M', 'F', 1, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0};
    EXPECT_TRUE(std::equal(header, header + 16, bytes.begin()));
    EXPECT_EQ(bytes[16], 12);  // name length, then the name
    EXPECT_EQ(std::string(bytes.begin() + 18, bytes.begin() + 30), ".mbsyncstate");

    MemoryStream in(bytes);
    auto back = ReadFolderState(in);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->messages, 3u);
    ASSERT_EQ(back->files.size(), 2u);
    EXPECT_EQ(back->files[1].content, "INBOX\n");

    // A forged payload names files no client keeps, or paths: they are dropped, and a cut
    // payload keeps what came whole.
    FolderState forged;
    forged.files = {
        {"../../.bashrc", "x"}, {".ssh/authorized_keys", "y"}, {"dovecot-keywords", "0 a\n"}};
    MemoryStream f;
    WriteFolderState(forged, f);
    std::vector<uint8_t> cut(f.Data().begin(), f.Data().end() - 2);
    MemoryStream cutIn(f.Data());
    auto kept = ReadFolderState(cutIn);
    ASSERT_TRUE(kept);
    ASSERT_EQ(kept->files.size(), 1u);
    EXPECT_EQ(kept->files[0].name, "dovecot-keywords");
    MemoryStream shortIn(cut);
    EXPECT_TRUE(ReadFolderState(shortIn)->files.empty());
    MemoryStream none;
    EXPECT_FALSE(ReadFolderState(none));  // a folder of an older archive: no payload
    EXPECT_EQ(WriteFolderState(FolderState{}, none), 0u);
}

TEST(FolderState, MessageNamesLiveInTheFolderPathsPadding) {
    uint8_t header[kMessageHeaderSize] = {};
    text::PutFixedUtf16(std::span(header, kMessageFolderPathBytes), u"Work");
    text::PutFixedUtf16(std::span(header + kMessageIdentityAt, kMessageIdentityBytes),
                        u"{C0383A5D-DB08-42CF-92D7-6E5BFF15C1CA}");
    tindale::store::MessageState state;
    state.flags = "Sac";
    state.known = true;
    state.fileName = "1.a.host,U=7";
    state.keywords = {{'a', "$Label1"}, {'c', "Junk"}};
    ASSERT_TRUE(WriteMessageState(header, state));
    ASSERT_TRUE(WriteMessageNames(header, state));
    EXPECT_EQ(std::memcmp(header + kMessageNamesAt, "TZMN\x01\x02\x0c\x00", 8), 0);
    EXPECT_EQ(text::GetFixedUtf16(std::span(header, kMessageFolderPathBytes)), u"Work");
    auto back = ReadMessageState(header);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->fileName, state.fileName);
    EXPECT_EQ(back->keywords, state.keywords);

    // A folder path reaching into the second half leaves no room: nothing is written there.
    uint8_t deep[kMessageHeaderSize] = {};
    text::PutFixedUtf16(std::span(deep, kMessageFolderPathBytes), std::u16string(1100, u'x'));
    EXPECT_FALSE(WriteMessageNames(deep, state));
    EXPECT_EQ(deep[kMessageNamesAt + 2], 'x');
}

TEST(FolderState, ClientFilesComeBackOnlyWhereTheyDescribeTheMail) {
    TestHome home;
    MakeMbsyncStore(home);
    std::string archive = BackUp(home);

    // Into a new place: every file as it was, and Archive a mere parent again.
    auto fresh = AddIdentity(home, "New");
    Outcome outcome = Restore(archive, fresh);
    EXPECT_TRUE(outcome.Clean()) << (outcome.problems.empty() ? "" : outcome.problems[0].reason);
    EXPECT_EQ(ReadFile(home / "New/INBOX/.mbsyncstate"), kState);
    EXPECT_EQ(ReadFile(home / "New/INBOX/.uidvalidity"), "9\n2\n");
    EXPECT_EQ(ReadFile(home / "New/Archive/2024/.uidvalidity"), "5\n1\n");
    EXPECT_TRUE(fs::exists(home / "New/INBOX/cur/1.a.host,U=1:2,S"));
    EXPECT_TRUE(fs::exists(home / "New/INBOX/cur/2.b.host,U=2:2,"));
    EXPECT_FALSE(fs::exists(home / "New/Archive/cur"));

    // Into folders that hold mail of their own: their clients' files stay theirs.
    auto full = AddIdentity(home, "Full");
    Deliver(home / "Full/INBOX", "9.z.host,U=1:2,S", "theirs");
    WriteFile(home / "Full/INBOX/.mbsyncstate", "their state");
    Restore(archive, full);
    EXPECT_EQ(ReadFile(home / "Full/INBOX/.mbsyncstate"), "their state");
    EXPECT_FALSE(fs::exists(home / "Full/INBOX/.uidvalidity"));
    // mbsync's UIDs of the archive's folder would clash with theirs: the message is new here.
    EXPECT_TRUE(fs::exists(home / "Full/INBOX/cur/1.a.host:2,S"));
    EXPECT_TRUE(fs::exists(home / "Full/INBOX/cur/9.z.host,U=1:2,S"));

    // Part of a folder: its sync state would say the rest was deleted, so it is held back
    // and said; the tables come back.
    auto part = AddIdentity(home, "Part");
    outcome = Restore(archive, part,
                      [](const RecordTree::Entry& e) { return e.record.DisplayName() != u"two"; });
    EXPECT_FALSE(fs::exists(home / "Part/INBOX/.mbsyncstate"));
    EXPECT_EQ(ReadFile(home / "Part/INBOX/.uidvalidity"), "9\n2\n");
    EXPECT_EQ(ReadFile(home / "Part/Archive/2024/.uidvalidity"), "5\n1\n");
    auto said = std::find_if(outcome.problems.begin(), outcome.problems.end(), [](const auto& p) {
        return p.item.find(".mbsyncstate") != std::string::npos;
    });
    ASSERT_NE(said, outcome.problems.end());
    EXPECT_NE(said->reason.find("1 of the folder's 2 messages"), std::string::npos) << said->reason;

    // The same restore again (as after one that was interrupted) finishes the folder: the
    // mailbox is the archived one (its UIDVALIDITY), so names stay whole and the state comes.
    outcome = Restore(archive, part);
    EXPECT_TRUE(outcome.Clean()) << (outcome.problems.empty() ? "" : outcome.problems[0].reason);
    EXPECT_TRUE(fs::exists(home / "Part/INBOX/cur/2.b.host,U=2:2,"));
    EXPECT_EQ(ReadFile(home / "Part/INBOX/.mbsyncstate"), kState);
}
