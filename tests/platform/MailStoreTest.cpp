#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "base/AtomicFile.h"
#include "platform/MailStore.h"
#include "platform/MessageHeaders.h"
#include "support/TestHome.h"

using namespace tindale;
using namespace tindale::store;
namespace fs = std::filesystem;

namespace {

uint32_t Add(StoreFolder& folder, const std::string& source) {
    std::unique_ptr<PendingMessage> pending;
    EXPECT_EQ(folder.CreateStream(pending), S_OK);
    EXPECT_EQ(::write(pending->Fd(), source.data(), source.size()),
              static_cast<ssize_t>(source.size()));
    uint32_t id = 0;
    EXPECT_EQ(folder.CommitStream(*pending, id), S_OK);
    return id;
}

std::vector<FolderProps> Children(StoreNamespace& ns, uint32_t parent) {
    return ListSubFolders(ns, parent);
}

std::vector<MessageProps> Messages(StoreFolder& folder) {
    return ListMessages(folder);
}

}  // namespace

TEST(MailStoreTest, FoldersMapToMaildirPlusPlusWithStableIds) {
    TestHome home;
    StoreNamespace ns;
    ASSERT_EQ(ns.InitializeAt(home / "Maildir"), S_OK);
    uint32_t work = 0, projects = 0, sent = 0, dotted = 0;
    ASSERT_EQ(ns.CreateFolder(kRootFolderId, "Work", work), S_OK);
    ASSERT_EQ(ns.CreateFolder(work, "Projects", projects), S_OK);
    ASSERT_EQ(ns.CreateFolder(kRootFolderId, "Sent Items", sent), S_OK);
    ASSERT_EQ(ns.CreateFolder(kRootFolderId, "Entwürfe v1.2", dotted), S_OK);
    EXPECT_TRUE(fs::exists(home / "Maildir/.Work.Projects/maildirfolder"));
    EXPECT_TRUE(fs::is_directory(home / "Maildir/.Entw&APw-rfe v1&AC4-2/cur"));

    auto top = Children(ns, kRootFolderId);
    ASSERT_EQ(top.size(), 4u);
    EXPECT_EQ(top[0].name, "Inbox");
    EXPECT_EQ(top[0].type, kInbox);
    std::vector<std::string> names;
    for (auto& f : top) names.push_back(f.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Inbox", "Entwürfe v1.2", "Sent Items", "Work"}));
    EXPECT_EQ(top[2].type, kSentItems);
    EXPECT_EQ(top[3].subFolders, 1);
    auto sub = Children(ns, work);
    ASSERT_EQ(sub.size(), 1u);
    EXPECT_EQ(sub[0].folderId, projects);

    uint32_t again = 0;
    ns.CreateFolder(kRootFolderId, "Work", again);
    EXPECT_EQ(again, work);  // an existing folder keeps its id
    fs::remove_all(home / "Maildir/.Sent Items");
    uint32_t recreated = 0;
    ns.CreateFolder(kRootFolderId, "Sent Items", recreated);
    EXPECT_NE(recreated, sent);  // ids are never reused
    std::unique_ptr<StoreFolder> root;
    EXPECT_LT(ns.OpenFolder(kRootFolderId, root), 0);
}

TEST(MailStoreTest, MessagesKeepTheirIdsWhenAnotherClientRenamesThem) {
    TestHome home;
    StoreNamespace ns;
    ASSERT_EQ(ns.InitializeAt(home / "Maildir"), S_OK);
    auto inbox = Children(ns, kRootFolderId)[0];
    std::unique_ptr<StoreFolder> folder;
    ASSERT_EQ(ns.OpenFolder(inbox.folderId, folder), S_OK);
    uint32_t first = Add(*folder, "Subject: one\n\nbody one\n");
    uint32_t second = Add(*folder, "Subject: two\n\nbody two\n");
    EXPECT_NE(first, second);

    // Another client marks the first message read: new/X becomes cur/X:2,S.
    std::string firstName;
    for (auto& e : fs::directory_iterator(home / "Maildir/new")) {
        int fd = ::open(e.path().c_str(), O_RDONLY);
        if (mail::ReadHeaderBlock(fd).find("one") != std::string::npos)
            firstName = e.path().filename();
        ::close(fd);
    }
    fs::rename(home / ("Maildir/new/" + firstName), home / ("Maildir/cur/" + firstName + ":2,S"));
    WriteFile(home / "Maildir/new/999.delivered.host", "Subject: late\n\nnew mail\n");

    auto messages = Messages(*folder);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].messageId, first);
    EXPECT_EQ(messages[0].subject, "one");
    EXPECT_TRUE(messages[0].state & kMessageRead);
    EXPECT_EQ(messages[1].messageId, second);
    EXPECT_GT(messages[2].messageId, second);

    ASSERT_EQ(folder->DeleteMessages({first}), S_OK);
    messages = Messages(*folder);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].messageId, second);
    int fd = -1;
    EXPECT_LT(folder->OpenMessage(first, fd), 0);
}

TEST(MailStoreTest, UncommittedMessageLeavesNothing) {
    TestHome home;
    StoreNamespace ns;
    ns.InitializeAt(home / "Maildir");
    std::unique_ptr<StoreFolder> folder;
    ASSERT_EQ(ns.OpenFolder(Children(ns, kRootFolderId)[0].folderId, folder), S_OK);
    {
        std::unique_ptr<PendingMessage> pending;
        ASSERT_EQ(folder->CreateStream(pending), S_OK);
        ASSERT_EQ(::write(pending->Fd(), "x", 1), 1);
    }
    EXPECT_TRUE(fs::is_empty(home / "Maildir/tmp"));
    EXPECT_TRUE(fs::is_empty(home / "Maildir/new"));
    EXPECT_TRUE(Messages(*folder).empty());
}

TEST(MessageHeadersTest, DecodesSubjectAndDates) {
    auto info = mail::ParseHeaders(
        "Received: from a by b; Tue, 2 Jan 2024 10:00:00 +0000\n"
        "Received: from c by a; Mon, 1 Jan 2024 10:00:00 +0000\n"
        "Date: Sun, 31 Dec 2023 23:00:00 +0100\n"
        "From: Ann Example <ann@example.org>\n"
        "Subject: =?UTF-8?Q?AW:_Gr=C3=BC=C3=9Fe?=\n");
    EXPECT_EQ(info.subject, "AW: Grüße");
    EXPECT_EQ(info.normalSubject, "Grüße");
    EXPECT_EQ(info.received, 1704189600);  // the topmost Received:
    EXPECT_EQ(info.sent, 1704060000);
    EXPECT_NE(info.from.find("ann@example.org"), std::string::npos);
    EXPECT_EQ(mail::NormalizeSubject("Re: x"), "x");
    EXPECT_EQ(mail::NormalizeSubject("Fw:  y"), "y");
    EXPECT_EQ(mail::NormalizeSubject("1234: z"), "1234: z");
    EXPECT_EQ(mail::NormalizeSubject("Re:z"), "Re:z");
    EXPECT_EQ(mail::NormalizeSubject("Long: z"), "Long: z");
    auto none = mail::ParseHeaders("X-Nothing: 1\n");
    EXPECT_EQ(none.subject, "");
    EXPECT_FALSE(none.received);
}

TEST(MessageHeadersTest, CanonicalDatesReadTheSameAsGmimeReadsThem) {
    for (const char* date :
         {"Mon, 1 Jan 2024 10:00:00 +0000", "1 Jan 2024 10:00:00 +0000",
          "Sun, 31 Dec 2023 23:59:59 -1130", "Tue, 29 Feb 2028 00:00 +0530",
          "Fri, 13 Mar 1998 08:09:10 +0100 (CET)", "Thu,  4 Jul 2030 12:00:00 -0000",
          "Wed, 15 Sep 2021 07:30:00 GMT", "15 Sep 21 07:30 EDT", "not a date at all"}) {
        EXPECT_EQ(mail::DecodeDate(date), mail::DecodeDateWithGmime(date)) << date;
    }
    EXPECT_FALSE(mail::DecodeDate("Mon, 1 Foo 2024 10:00:00 +0000") &&
                 !mail::DecodeDateWithGmime("Mon, 1 Foo 2024 10:00:00 +0000"));
}

TEST(MailStoreTest, DamagedIdFileIsRepairedKeepingEveryIntactId) {
    TestHome home;
    std::string inbox = home / "Maildir";
    for (const char* name : {"100.a.host", "200.b.host", "300.c.host", "400.d.host"})
        WriteFile(inbox + "/cur/" + name + ":2,S", std::string("Subject: ") + name + "\n\nx\n");
    fs::create_directories(inbox + "/new");
    fs::create_directories(inbox + "/tmp");
    // A torn write and a hostile edit: a bad counter, a repeated id, garbage lines.
    WriteFile(inbox + "/.tindale-uids",
              "next x\n5\t100.a.host\n5\t200.b.host\n\x01\x02 garbage\n9\t300.c.host\n12\t40");
    StoreNamespace ns;
    ASSERT_EQ(ns.InitializeAt(inbox), S_OK);
    std::unique_ptr<StoreFolder> folder;
    ASSERT_EQ(ns.OpenFolder(Children(ns, kRootFolderId)[0].folderId, folder), S_OK);
    auto messages = Messages(*folder);
    ASSERT_EQ(messages.size(), 4u);
    std::set<uint32_t> ids;
    for (const auto& m : messages) ids.insert(m.messageId);
    EXPECT_EQ(ids.size(), 4u);  // one id, one file
    EXPECT_TRUE(ids.count(5) && ids.count(9));
    EXPECT_EQ(messages[0].subject, "100.a.host");  // the intact lines kept their ids
    EXPECT_EQ(messages[1].subject, "300.c.host");

    // Deleting an id deletes exactly the file it names.
    uint32_t victim = messages[2].messageId;
    ASSERT_EQ(folder->DeleteMessages({victim}), S_OK);
    EXPECT_EQ(Messages(*folder).size(), 3u);
    EXPECT_TRUE(fs::exists(inbox + "/cur/100.a.host:2,S"));
    EXPECT_TRUE(fs::exists(inbox + "/cur/300.c.host:2,S"));
}

TEST(MailStoreTest, NamesWithNewlinesAndSharedUniquePartsGetOneIdPerFile) {
    TestHome home;
    std::string inbox = home / "Maildir";
    // Legal in Maildir: a newline inside a name; and a file delivered to new/ while a
    // copy with the same unique part sits in cur/.
    WriteFile(inbox + "/cur/1.odd\nname.host:2,S", "Subject: odd\n\nx\n");
    WriteFile(inbox + "/cur/2.twin.host:2,S", "Subject: twin read\n\nx\n");
    WriteFile(inbox + "/new/2.twin.host", "Subject: twin new\n\nx\n");
    WriteFile(inbox + "/new/3.plain.host", "Subject: plain\n\nx\n");
    fs::create_directories(inbox + "/tmp");
    std::set<uint32_t> firstIds;
    {
        StoreNamespace ns;
        ASSERT_EQ(ns.InitializeAt(inbox), S_OK);
        std::unique_ptr<StoreFolder> folder;
        ASSERT_EQ(ns.OpenFolder(Children(ns, kRootFolderId)[0].folderId, folder), S_OK);
        for (const auto& m : Messages(*folder)) firstIds.insert(m.messageId);
    }
    EXPECT_EQ(firstIds.size(), 4u);
    StoreNamespace ns;  // read back from the map written above
    ASSERT_EQ(ns.InitializeAt(inbox), S_OK);
    std::unique_ptr<StoreFolder> folder;
    ASSERT_EQ(ns.OpenFolder(Children(ns, kRootFolderId)[0].folderId, folder), S_OK);
    auto messages = Messages(*folder);
    std::set<uint32_t> ids;
    uint32_t twinNew = 0;
    for (const auto& m : messages) {
        ids.insert(m.messageId);
        if (m.subject == "twin new") twinNew = m.messageId;
    }
    EXPECT_EQ(ids, firstIds);  // ids survive the round trip through the map file
    ASSERT_EQ(folder->DeleteMessages({twinNew}), S_OK);
    EXPECT_TRUE(fs::exists(inbox + "/cur/2.twin.host:2,S"));
    EXPECT_FALSE(fs::exists(inbox + "/new/2.twin.host"));
    EXPECT_TRUE(fs::exists(inbox + "/cur/1.odd\nname.host:2,S"));
    EXPECT_TRUE(fs::exists(inbox + "/new/3.plain.host"));
}

TEST(MailStoreTest, InboxSubfoldersAreDovecotsInboxDotNames) {
    TestHome home;
    std::string root = home / "Maildir";
    for (const char* dir : {".INBOX.Receipts", ".Inbox.Old", ".inbox.Old.2019", ".Work"}) {
        WriteFile(root + "/" + dir + "/cur/1.x.host:2,S", "Subject: s\n\nx\n");
        WriteFile(root + "/" + dir + "/maildirfolder", "");
    }
    StoreNamespace ns;
    ASSERT_EQ(ns.InitializeAt(root), S_OK);
    auto top = Children(ns, kRootFolderId);
    ASSERT_EQ(top.size(), 2u);  // one Inbox, no second "INBOX" beside it
    EXPECT_EQ(top[0].name, "Inbox");
    EXPECT_EQ(top[0].subFolders, 2);
    EXPECT_EQ(top[1].name, "Work");
    auto below = Children(ns, top[0].folderId);
    ASSERT_EQ(below.size(), 2u);
    EXPECT_EQ(below[0].name, "Old");
    EXPECT_EQ(below[1].name, "Receipts");
    EXPECT_EQ(Children(ns, below[0].folderId)[0].name, "2019");

    uint32_t created = 0;  // a new Inbox child is made the way Dovecot names it
    ASSERT_EQ(ns.CreateFolder(top[0].folderId, "Tax", created), S_OK);
    EXPECT_TRUE(fs::exists(root + "/.INBOX.Tax/maildirfolder"));
    uint32_t again = 0;
    ASSERT_EQ(ns.CreateFolder(top[0].folderId, "Old", again), S_OK);
    EXPECT_EQ(again, below[0].folderId);  // found, in whatever case its directory is
    uint32_t inbox = 0;
    EXPECT_LT(ns.CreateFolder(kRootFolderId, "INBOX", inbox),
              0);  // it would read back as the Inbox
    EXPECT_FALSE(fs::exists(root + "/.INBOX/cur"));
}

TEST(MailStoreTest, BatchedMessagesAppearOnlyWhenTheBatchIsPublished) {
    TestHome home;
    StoreNamespace ns;
    ASSERT_EQ(ns.InitializeAt(home / "Maildir"), S_OK);
    std::unique_ptr<StoreFolder> folder;
    ASSERT_EQ(ns.OpenFolder(Children(ns, kRootFolderId)[0].folderId, folder), S_OK);
    {
        durable::PublishBatch batch;
        durable::PublishScope scope(batch);
        Add(*folder, "Subject: one\n\nx\n");
        uint32_t second = Add(*folder, "Subject: two\n\nx\n");
        // Written, not yet published: a crash here leaves nothing half-visible in new/.
        EXPECT_TRUE(fs::is_empty(home / "Maildir/new"));
        EXPECT_EQ(std::distance(fs::directory_iterator(home / "Maildir/tmp"), {}), 2);
        int fd = -1;
        ASSERT_EQ(folder->OpenMessage(second, fd), S_OK);  // reading one publishes the batch
        ::close(fd);
        EXPECT_EQ(std::distance(fs::directory_iterator(home / "Maildir/new"), {}), 2);
        Add(*folder, "Subject: three\n\nx\n");
    }  // a batch dropped without publishing removes its temporaries
    EXPECT_TRUE(fs::is_empty(home / "Maildir/tmp"));
    EXPECT_EQ(Messages(*folder).size(), 2u);
}

// Links are never followed: a folder that is a link (here, out of the store) is no folder of
// it, and is named among what was left out. A message temporary that a killed run left in
// tmp/ is removed by the next writer, while another program's temporaries stay.
TEST(MailStoreTest, WritesStayInsideTheStoreAndStaleTemporariesGo) {
    TestHome home;
    fs::create_directories(home / "elsewhere/cur");
    fs::create_directories(home / "elsewhere/new");
    fs::create_directories(home / "elsewhere/tmp");
    fs::create_directories(home / "Maildir/tmp");
    fs::create_directory_symlink(home / "elsewhere", home / "Maildir/.Linked");
    WriteFile(home / "Maildir/tmp/1700000000.M12P99999Q3.host", "half a message");
    WriteFile(home / "Maildir/tmp/1700000000.P1.dovecot", "being delivered");
    StoreNamespace ns;
    ASSERT_EQ(ns.InitializeAt(home / "Maildir"), S_OK);
    std::unique_ptr<StoreFolder> inbox, linked;
    uint32_t inboxId = 0, linkedId = 0;
    for (const auto& f : Children(ns, kRootFolderId)) {
        if (f.name == "Linked") linkedId = f.folderId;
        if (f.name == "Inbox") inboxId = f.folderId;
    }
    ASSERT_EQ(ns.OpenFolder(inboxId, inbox), S_OK);
    Add(*inbox, "Subject: kept\n\nhello\n");
    EXPECT_FALSE(fs::exists(home / "Maildir/tmp/1700000000.M12P99999Q3.host"));
    EXPECT_TRUE(fs::exists(home / "Maildir/tmp/1700000000.P1.dovecot"));
    EXPECT_EQ(linkedId, 0u);
    ASSERT_EQ(ns.UnmappedDirectories().size(), 1u);
    EXPECT_EQ(ns.UnmappedDirectories()[0].directory, ".Linked");
    EXPECT_NE(ns.UnmappedDirectories()[0].reason.find("a link"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(home / "elsewhere/tmp"));
    EXPECT_TRUE(fs::is_empty(home / "elsewhere/new"));
}

// Id files an earlier version kept inside the store are taken over (every id kept) and
// removed, with their locks, the first time the store is read.
TEST(MailStoreTest, IdFilesInsideTheStoreAreTakenOverAndRemoved) {
    TestHome home;
    std::string root = home / "Maildir";
    WriteFile(root + "/cur/100.a.host:2,S", "Subject: a\n\nx\n");
    WriteFile(root + "/.Work/cur/200.b.host:2,", "Subject: b\n\ny\n");
    for (const char* dir : {"/new", "/tmp", "/.Work/new", "/.Work/tmp"})
        fs::create_directories(root + dir);
    WriteFile(root + "/.Work/maildirfolder", "");
    WriteFile(root + "/.tindale-folders", "next 8\n3\t.\n7\t.Work\n");
    WriteFile(root + "/.tindale-uids", "next 50\n42\t100.a.host\n");
    WriteFile(root + "/.Work/.tindale-uids", "next 20\n17\t200.b.host\n");
    for (const char* lock : {"/.tindale-lock", "/.Work/.tindale-lock"}) WriteFile(root + lock, "");
    for (int run = 0; run < 2; ++run) {  // the second run reads what the first one moved
        StoreNamespace ns;
        ASSERT_EQ(ns.InitializeAt(root), S_OK);
        auto top = Children(ns, kRootFolderId);
        ASSERT_EQ(top.size(), 2u);
        EXPECT_EQ(top[0].folderId, 3u);
        EXPECT_EQ(top[1].folderId, 7u);
        std::unique_ptr<StoreFolder> inbox, work;
        ASSERT_EQ(ns.OpenFolder(3, inbox), S_OK);
        ASSERT_EQ(ns.OpenFolder(7, work), S_OK);
        EXPECT_EQ(Messages(*inbox).at(0).messageId, 42u);
        EXPECT_EQ(Messages(*work).at(0).messageId, 17u);
    }
    for (const auto& entry : fs::recursive_directory_iterator(root))
        EXPECT_EQ(entry.path().filename().string().find(".tindale"), std::string::npos)
            << entry.path();
}

// A message file that is a link (to a file the person may not even own) is no message:
// never listed, never opened, and named among what was left out.
TEST(MailStoreTest, MessageFilesThatAreLinksAreNeverRead) {
    TestHome home;
    std::string inbox = home / "Maildir";
    WriteFile(home / "secret", "Subject: not mail\n\nthe secret\n");
    WriteFile(inbox + "/cur/1.real.host:2,S", "Subject: real\n\nmail\n");
    fs::create_directories(inbox + "/new");
    fs::create_directories(inbox + "/tmp");
    fs::create_symlink(home / "secret", inbox + "/cur/2.link.host:2,S");
    fs::create_symlink(home / "secret", inbox + "/new/3.link.host");
    StoreNamespace ns;
    ASSERT_EQ(ns.InitializeAt(inbox), S_OK);
    std::unique_ptr<StoreFolder> folder;
    ASSERT_EQ(ns.OpenFolder(Children(ns, kRootFolderId)[0].folderId, folder), S_OK);
    auto messages = Messages(*folder);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].subject, "real");
    std::set<std::string> named;
    for (const auto& gap : ns.UnmappedDirectories()) named.insert(gap.directory);
    EXPECT_EQ(named, (std::set<std::string>{"cur/2.link.host:2,S", "new/3.link.host"}));
}
