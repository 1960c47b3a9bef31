#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>

#include "backup/BackupEngine.h"
#include "backup/SourceTree.h"
#include "base/Text.h"
#include "model/MessageNodes.h"
#include "model/NodeFactory.h"
#include "model/Outcome.h"
#include "platform/Identities.h"
#include "platform/Registry.h"
#include "restore/RecordTree.h"
#include "restore/RestoreEngine.h"
#include "support/TestHome.h"

using namespace tindale;
using namespace v;
namespace fs = std::filesystem;

namespace {

// Messages in a maildir, in cur/ and new/ together.
long CountMessages(const std::string& maildir) {
    long n = 0;
    for (const char* sub : {"/cur", "/new"})
        if (fs::is_directory(maildir + sub))
            n += std::distance(fs::directory_iterator(maildir + sub), fs::directory_iterator());
    return n;
}

const std::string kTool = std::string(TINDALE_TEST_SOURCE) + "/model/maildir_tool.py";

bool HavePython() {
    return std::system("python3 -c 'import mailbox' 2>/dev/null") == 0;
}

void Deliver(const std::string& maildir, const std::string& name, const std::string& source) {
    WriteFile(maildir + "/cur/" + name + ":2,S", source);
    fs::create_directories(maildir + "/new");
    fs::create_directories(maildir + "/tmp");
}

std::string Message(const std::string& subject) {
    return "From: a@example.org\nSubject: " + subject +
           "\nDate: Mon, 1 Jan 2024 10:00:00 +0000\n\nbody of " + subject + "\n";
}

// A store with a nested folder, a non-ASCII dotted folder name and an empty subject.
void MakeSourceStore(const TestHome& home) {
    std::string root = home / "Maildir";
    Deliver(root, "1.a.host", Message("hello"));
    Deliver(root, "2.b.host", "From: x@example.org\n\nno subject\n");
    Deliver(root + "/.Work", "3.c.host", Message("plan"));
    Deliver(root + "/.Work.Projects", "4.d.host", Message("launch"));
    Deliver(root + "/.Entw&APw-rfe v1&AC4-2", "5.e.host", Message("draft"));
    identities::EnsureDefaultIdentity();
}

std::string BackUpMail(const TestHome& home) {
    SourceTree tree(true);
    BackupRequest state;
    state.archivePath = text::ToUtf16(home / "mail.vqz");
    state.compress = true;
    state.sources = tree.Selected();
    NullReport report;
    Outcome outcome = BackupWorker(state, report, {});
    EXPECT_TRUE(outcome.Clean()) << outcome.error;
    return home / "mail.vqz";
}

// The source store and a second identity, "Other", with one message; backed up.
std::string BackUpTwoIdentities(const TestHome& home) {
    MakeSourceStore(home);
    WriteFile(home / "Other/cur/9.z.host:2,S", Message("from the other identity"));
    identities::Add(u"Other", home / "Other");
    return BackUpMail(home);
}

Outcome RestoreAll(const std::string& archive, const std::u16string& identity) {
    RestoreRequest state;
    state.archivePath = text::ToUtf16(archive);
    for (const auto& e : RecordTree::Load(archive).entries) state.items.push_back(e->record);
    state.identity = identity;
    NullReport report;
    return RestoreWorker(state, report, {});
}

std::vector<std::u16string> Names(const NodeList& nodes) {
    std::vector<std::u16string> out;
    for (auto& n : nodes) out.push_back(n->GetDisplayName());
    return out;
}

}  // namespace

TEST(MessageNodes, TreeMirrorsTheStore) {
    TestHome home;
    MakeSourceStore(home);
    MsgStore store;
    NodeList identities, folders, items;
    ASSERT_EQ(store.EnumContainers(identities), 1);
    EXPECT_EQ(identities[0]->GetDisplayName(), u"Main Identity");
    identities[0]->EnumContainers(folders);
    EXPECT_EQ(Names(folders), (std::vector<std::u16string>{u"Inbox", u"Entwürfe v1.2", u"Work"}));
    EXPECT_EQ(BuildNodeRecord(*folders[0], false, false).IconKey(), u"Inbox");
    folders[0]->EnumItems(items);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->GetDisplayName(), u"hello");
    EXPECT_EQ(items[1]->GetDisplayName(), u"");  // no subject, empty name
    NodeList sub;
    folders[2]->EnumContainers(sub);
    ASSERT_EQ(sub.size(), 1u);
    EXPECT_EQ(static_cast<MsgFolder&>(*sub[0]).FolderPath(), u"Work\\Projects");
}

TEST(MessageNodes, BackupAndRestoreRoundTripReadByPythonMailbox) {
    if (!HavePython()) GTEST_SKIP() << "python3 with the mailbox module is not installed";
    TestHome home;
    MakeSourceStore(home);
    std::string archive = BackUpMail(home);
    std::string before = Capture("python3 " + kTool + " dump " + (home / "Maildir"));
    ASSERT_NE(before.find("Work.Projects"), std::string::npos);

    TestHome target;
    auto id = identities::Add(u"Restored", target / "Mail");
    ASSERT_TRUE(id);
    Outcome outcome = RestoreAll(archive, *id);
    EXPECT_TRUE(outcome.Clean()) << (outcome.problems.empty() ? outcome.error
                                                              : outcome.problems[0].reason);
    EXPECT_EQ(Capture("python3 " + kTool + " dump " + (target / "Mail")), before);
}

TEST(MessageNodes, StoreWrittenByPythonIsListed) {
    if (!HavePython()) GTEST_SKIP() << "python3 with the mailbox module is not installed";
    TestHome home;
    ASSERT_EQ(std::system(("python3 " + kTool + " make " + (home / "Maildir")).c_str()), 0);
    SourceTree tree(true);
    auto* work = tree.Find("Message Store/Main Identity/Work");
    ASSERT_TRUE(work);
    ASSERT_TRUE(tree.Find("Message Store/Main Identity/Work/Projects"));
    NodeList items;
    work->node->EnumItems(items);
    ASSERT_EQ(items.size(), 2u);
    std::set<std::u16string> subjects{items[0]->GetDisplayName(), items[1]->GetDisplayName()};
    EXPECT_EQ(subjects, (std::set<std::u16string>{u"Re: plan", u"budget"}));
    for (auto& item : items) {
        const auto& props = static_cast<MsgNode&>(*item).Props();
        if (props.subject == "Re: plan") {
            EXPECT_EQ(props.normalSubject, "plan");
            EXPECT_EQ(store::UnixFromFileTime(props.received), 1704189600);
        }
    }
}

TEST(MessageNodes, RestoreResolvesFolderPathsExactly) {
    TestHome home;
    MakeSourceStore(home);
    std::string archive = BackUpMail(home);

    TestHome target;
    // The target has "Work" but not "Work\Projects"; a file blocks the "Entwürfe v1.2" folder.
    fs::create_directories(target / "Mail/.Work/cur");
    WriteFile(target / "Mail/.Entw&APw-rfe v1&AC4-2", "not a folder");
    auto id = identities::Add(u"Target", target / "Mail");
    Outcome outcome = RestoreAll(archive, *id);
    EXPECT_FALSE(outcome.failed);
    for (const auto& p : outcome.problems)
        if (p.leftOut) ADD_FAILURE() << p.item << ": " << p.reason;
    ASSERT_EQ(outcome.LeftOut(), 0u);
    // The folder could not be made and the draft went to the Inbox: both are said.
    ASSERT_EQ(outcome.problems.size(), 2u);
    for (const auto& p : outcome.problems) EXPECT_NE(p.reason.find("Inbox"), std::string::npos);
    EXPECT_EQ(CountMessages(target / "Mail/.Work.Projects"), 1);
    EXPECT_EQ(CountMessages(target / "Mail"), 3);
}

TEST(MessageNodes, SavedPathsAreMatchedCaseSensitivelyAndSplitAtBackslashes) {
    TestHome home;
    auto id = identities::Add(u"Only", home / "Mail");
    ASSERT_TRUE(id);
    auto payload = [](const std::u16string& path, const std::string& body) {
        std::vector<uint8_t> bytes(kMessageHeaderSize, 0);
        text::PutFixedUtf16(std::span(bytes).subspan(0, kMessageFolderPathBytes), path);
        bytes.insert(bytes.end(), body.begin(), body.end());
        return bytes;
    };
    for (auto [path, body] : {std::pair{u"inbox", "a"}, {u"A\\B\\C", "b"}}) {
        MemoryStream in(payload(path, body));
        NodeRecord rec;
        rec.SetTypeGuid(MsgNode::kTypeGuid);
        std::unique_ptr<BasicNode> node(
            NodeFactoryRegistry::Instance().FindFactoryAndCreate(rec, &in));
        dynamic_cast<MsgNode&>(*node).SetRestoreIdentity(*id);
        node->RestorePayload(in);
    }
    // "inbox" names the Inbox in any letter case (IMAP's INBOX), so no second folder can
    // be made for it: the message goes to the Inbox.
    EXPECT_FALSE(fs::exists(home / "Mail/.inbox"));
    EXPECT_TRUE(fs::is_directory(home / "Mail/.A.B.C/new"));
    EXPECT_EQ(std::distance(fs::directory_iterator(home / "Mail/new"), fs::directory_iterator()),
              1);
}

TEST(MessageNodes, ClearIdentityEmptiesOnlyAfterTheArchiveProvedSound) {
    TestHome home;
    MakeSourceStore(home);
    std::string archive = BackUpMail(home);
    auto id = identities::List()[0].id;
    auto restore = [&](const std::string& path) {
        RestoreRequest state;
        state.archivePath = text::ToUtf16(path);
        state.identity = id;
        state.clearIdentity = true;  // and no item chosen
        NullReport report;
        return RestoreWorker(state, report, {});
    };
    auto size = fs::file_size(archive);
    fs::copy_file(archive, home / "cut.vqz");
    fs::resize_file(home / "cut.vqz", size - 100);  // cut inside the last record
    std::string damaged = home / "damaged.vqz";
    fs::copy_file(archive, damaged);
    {
        std::string bytes = ReadFile(damaged);
        for (size_t k = 0; k < 16; ++k) bytes[size - 60 + k] ^= 0x5A;  // inside the last frame
        WriteFile(damaged, bytes);
    }
    for (const std::string& bad : {home / "missing.vqz", home / "cut.vqz", damaged}) {
        Outcome outcome = restore(bad);
        EXPECT_TRUE(outcome.failed) << bad;
        EXPECT_FALSE(fs::is_empty(home / "Maildir/cur")) << bad << ": mail was deleted";
        EXPECT_FALSE(fs::is_empty(home / "Maildir/.Work.Projects/cur")) << bad;
    }
    EXPECT_NE(restore(home / "cut.vqz").error.find("not emptied"), std::string::npos);

    Outcome outcome = restore(archive);  // sound: emptied although nothing was chosen
    EXPECT_FALSE(outcome.failed) << outcome.error;
    EXPECT_TRUE(fs::is_empty(home / "Maildir/cur"));
    EXPECT_TRUE(fs::is_empty(home / "Maildir/.Work.Projects/cur"));
    EXPECT_TRUE(fs::is_directory(home / "Maildir/.Work"));
}

TEST(MessageNodes, UnreadableSourceIsReportedAndLeftOut) {
    TestHome home;
    MakeSourceStore(home);
    SourceTree tree(true);
    auto* inbox = tree.Find("Message Store/Main Identity/Inbox");
    ASSERT_TRUE(inbox);
    NodeList items;
    inbox->node->EnumItems(items);
    ASSERT_FALSE(items.empty());
    fs::remove_all(home / "Maildir/cur");  // another client moved everything away
    Outcome outcome;
    OutcomeScope scope(outcome);
    MemoryStream out;
    EXPECT_EQ(items[0]->WritePayload(out), 0u);
    ASSERT_EQ(outcome.LeftOut(), 1u);
}

TEST(MessageNodes, WithADestinationEveryIdentitysMailLandsInIt) {
    TestHome home;
    std::string archive = BackUpTwoIdentities(home);

    TestHome target;
    auto first = identities::Add(u"First", target / "A");
    auto second = identities::Add(u"Second", target / "B");
    Outcome outcome = RestoreAll(archive, *second);
    EXPECT_TRUE(outcome.Clean());
    EXPECT_FALSE(fs::exists(target / "A/new") && !fs::is_empty(target / "A/new"));
    EXPECT_EQ(CountMessages(target / "B"), 3);
    EXPECT_EQ(identities::Current(), first);  // restoring does not switch the current identity
}

// A new account has no identity and no store: the restore makes both instead of leaving
// every message out, and says so.
TEST(MessageNodes, RestoreIntoAnAccountWithoutIdentityMakesTheDefaultStore) {
    TestHome home;
    MakeSourceStore(home);
    std::string archive = BackUpMail(home);

    TestHome target;
    ASSERT_TRUE(identities::List().empty());
    Outcome outcome = RestoreAll(archive, u"");
    EXPECT_TRUE(outcome.Clean()) << (outcome.problems.empty() ? outcome.error
                                                              : outcome.problems[0].reason);
    ASSERT_EQ(outcome.notes.size(), 1u);
    EXPECT_NE(outcome.notes[0].find("Main Identity"), std::string::npos);
    auto made = identities::List();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(identities::StoreRoot(made[0].id), target / "Maildir");
    EXPECT_EQ(CountMessages(target / "Maildir"), 2);
    EXPECT_TRUE(fs::is_directory(target / "Maildir/.Work.Projects/new"));

    // With an identity present, nothing more is made.
    EXPECT_TRUE(RestoreAll(archive, u"").notes.empty());
    EXPECT_EQ(identities::List().size(), 1u);
}

TEST(MessageNodes, AMessageOfAnUnknownIdentityIsNotPutIntoAnotherStore) {
    TestHome home;
    auto only = identities::Add(u"Only", home / "Mail");
    std::vector<uint8_t> bytes(kMessageHeaderSize, 0);
    text::PutFixedUtf16(std::span(bytes).subspan(0, kMessageFolderPathBytes), u"Inbox");
    text::PutFixedUtf16(std::span(bytes).subspan(4096, 512),
                        u"{11111111-2222-3333-4444-555555555555}");
    std::string body = "Subject: lost?\n\nno\n";
    bytes.insert(bytes.end(), body.begin(), body.end());
    MemoryStream in(bytes);
    NodeRecord rec;
    rec.SetTypeGuid(MsgNode::kTypeGuid);
    std::unique_ptr<BasicNode> node(NodeFactoryRegistry::Instance().FindFactoryAndCreate(rec, &in));
    Outcome outcome;
    OutcomeScope scope(outcome);
    node->RestorePayload(in);  // no destination chosen: the saved identity, which is unknown here
    EXPECT_EQ(outcome.LeftOut(), 1u);
    EXPECT_TRUE(!fs::exists(home / "Mail/new") || fs::is_empty(home / "Mail/new"));
    EXPECT_EQ(identities::Current(), only);
}

TEST(MessageNodes, InboxSubfoldersRoundTripWhereDovecotKeepsThem) {
    if (!HavePython()) GTEST_SKIP() << "python3 with the mailbox module is not installed";
    TestHome home;
    ASSERT_EQ(std::system(("python3 " + kTool + " inbox " + (home / "Maildir")).c_str()), 0);
    {
        SourceTree tree(true);
        ASSERT_TRUE(tree.Find("Message Store/Main Identity/Inbox/Receipts/2024"));
        ASSERT_TRUE(tree.Find("Message Store/Main Identity/Inbox/Old"));
        EXPECT_FALSE(tree.Find("Message Store/Main Identity/INBOX"));
    }
    std::string archive = BackUpMail(home);
    // The store, the identity, four folders and four messages.
    EXPECT_EQ(RecordTree::Load(archive).entries.size(), 10u);

    TestHome target;
    auto id = identities::Add(u"Restored", target / "Mail");
    Outcome outcome = RestoreAll(archive, *id);
    EXPECT_TRUE(outcome.Clean());
    std::string after = Capture("python3 " + kTool + " dump " + (target / "Mail"));
    EXPECT_NE(after.find("INBOX.Receipts.2024\t"), std::string::npos) << after;
    EXPECT_NE(after.find("INBOX.Old\t"), std::string::npos) << after;  // made as Dovecot names it
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 4);        // every message

    // A message restored into Inbox\Receipts comes back in the next backup.
    SourceTree tree(true);
    auto* receipts = tree.Find("Message Store/Restored/Inbox/Receipts");
    ASSERT_TRUE(receipts);
    NodeList items;
    EXPECT_EQ(receipts->node->EnumItems(items), 1);
}

// Every folder directory a client may make is backed up under its own name, or named in the
// outcome; flags, new/ and arrival times come back; a second restore adds nothing.
TEST(MessageNodes, FolderLayoutsAndMessageStateRoundTrip) {
    TestHome home;
    std::string root = home / "Maildir";
    Deliver(root, "1.a.host", Message("read"));
    WriteFile(root + "/new/2.b.host", Message("unseen"));
    WriteFile(root + "/cur/3.c.host:2,FRT", Message("flagged, answered, trashed"));
    Deliver(root + "/..Receipts", "4.d.host", Message("mbsync inbox child"));
    Deliver(root + "/.INBOX", "5.e.host", Message("a maildir named INBOX"));
    Deliver(root + "/.Entwürfe", "6.f.host", Message("raw UTF-8 name"));
    Deliver(root + "/.a..b", "7.g.host", Message("empty level"));
    Deliver(root + "/.back\\slash", "8.h.host", Message("backslash"));
    fs::create_directories(root + "/.Empty/cur");
    fs::create_directories(root + "/.Empty/new");
    struct timespec old[2] = {{0, UTIME_OMIT}, {1104570000, 0}};  // 2005-01-01
    ::utimensat(AT_FDCWD, (root + "/cur/3.c.host:2,FRT").c_str(), old, 0);
    identities::EnsureDefaultIdentity();

    SourceTree tree(true);
    BackupRequest state;
    state.archivePath = text::ToUtf16(home / "mail.vqz");
    state.sources = tree.Selected();
    NullReport report;
    Outcome backup = BackupWorker(state, report, {});
    std::set<std::string> named;
    for (const auto& p : backup.problems) named.insert(fs::path(p.item).filename().string());
    EXPECT_EQ(named, (std::set<std::string>{".INBOX", ".a..b", ".back\\slash"}));

    TestHome target;
    auto id = identities::Add(u"Target", target / "Mail");
    Outcome restored = RestoreAll(home / "mail.vqz", *id);
    EXPECT_TRUE(restored.Clean());
    std::string to = target / "Mail";
    EXPECT_EQ(CountMessages(to + "/.INBOX.Receipts"), 1);
    EXPECT_EQ(CountMessages(to + "/.Entw&APw-rfe"), 1);
    EXPECT_TRUE(fs::is_directory(to + "/.Empty/cur"));
    // The unseen one, without flags.
    EXPECT_EQ(std::distance(fs::directory_iterator(to + "/new"), fs::directory_iterator()), 1);
    std::set<std::string> flags;
    for (auto& e : fs::directory_iterator(to + "/cur")) {
        std::string name = e.path().filename().string();
        flags.insert(name.substr(name.find(":2,") + 3));
        struct stat st {};
        ::stat(e.path().c_str(), &st);
        if (name.ends_with("FRT")) {
            EXPECT_EQ(st.st_mtim.tv_sec, 1104570000);
        }
    }
    EXPECT_EQ(flags, (std::set<std::string>{"S", "FRT"}));

    Outcome again = RestoreAll(home / "mail.vqz", *id);
    EXPECT_EQ(again.alreadyThere, 5u);
    EXPECT_EQ(CountMessages(to), 3);
}

// Restoring again adds only what the folder lacks, small messages (compared in memory) and
// large ones (compared after writing) alike; a message that differs by one byte is added,
// and nothing is left in tmp/.
TEST(MessageNodes, RestoringAgainAddsOnlyWhatIsMissingWhateverTheSize) {
    TestHome home;
    std::string root = home / "Maildir";
    std::string large = Message("large") + std::string(1536 * 1024, 'x') + "\n";
    Deliver(root, "1.a.host", Message("small"));
    Deliver(root, "2.b.host", large);
    Deliver(root, "3.c.host", Message("changed"));
    Deliver(root, "4.d.host", large.substr(0, large.size() - 2) + "y\n");
    identities::EnsureDefaultIdentity();
    std::string archive = BackUpMail(home);

    TestHome target;
    auto id = identities::Add(u"Target", target / "Mail");
    ASSERT_TRUE(RestoreAll(archive, *id).Clean());
    std::string to = target / "Mail";
    ASSERT_EQ(CountMessages(to), 4);
    // One small and one large message changed by a byte, keeping their size.
    for (auto& e : fs::recursive_directory_iterator(to)) {
        std::string body = e.is_regular_file() ? ReadFile(e.path()) : "";
        bool changed = body.find("changed") != std::string::npos;
        if (changed || body.ends_with("y\n")) {
            body[body.size() - 2] ^= 1;
            WriteFile(e.path(), body);
        }
    }
    Outcome again = RestoreAll(archive, *id);
    EXPECT_TRUE(again.Clean());
    EXPECT_EQ(again.alreadyThere, 2u);
    EXPECT_EQ(CountMessages(to), 6);
    EXPECT_TRUE(fs::is_empty(to + "/tmp"));
}

// With no destination chosen, each identity's mail goes to the identity of the same name.
TEST(MessageNodes, WithoutADestinationMailGoesToTheIdentityOfTheSameName) {
    TestHome home;
    std::string archive = BackUpTwoIdentities(home);

    TestHome target;
    identities::Add(u"Main Identity", target / "A");
    identities::Add(u"Other", target / "B");
    EXPECT_TRUE(RestoreAll(archive, u"").Clean());
    EXPECT_EQ(CountMessages(target / "B"), 1);
    EXPECT_EQ(CountMessages(target / "A"), 2);
}

// Thunderbird keeps deleted mail in the mbox until it compacts the folder: it is no mail,
// so it is not saved, and the backup says how much it left out.
TEST(MessageNodes, DeletedMailWaitingForCompactionIsLeftOutAndCounted) {
    TestHome home;
    WriteFile(home / "mail/Inbox",
              "From - Mon Jan  1 10:00:00 2024\nX-Mozilla-Status: 0001\nSubject: kept\n\nk\n\n"
              "From - Mon Jan  1 10:00:00 2024\nX-Mozilla-Status: 0009\nSubject: gone\n\ng\n\n");
    identities::Add(u"Local Folders", home / "mail", tindale::store::StoreKind::Mbox);
    SourceTree tree(true);
    BackupRequest request;
    request.archivePath = text::ToUtf16(home / "mail.vqz");
    request.sources = tree.Selected();
    NullReport report;
    Outcome outcome = BackupWorker(request, report, {});
    EXPECT_TRUE(outcome.Clean()) << outcome.error;
    EXPECT_NE(std::find(outcome.notes.begin(), outcome.notes.end(),
                        "1 deleted messages waiting for compaction were left out"),
              outcome.notes.end());
    std::vector<std::u16string> messages;
    for (const auto& e : RecordTree::Load(home / "mail.vqz").entries)
        if (e->record.TypeGuid() == MsgNode::kTypeGuid) messages.push_back(e->record.DisplayName());
    EXPECT_EQ(messages, std::vector<std::u16string>{u"kept"});
}
