#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

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
