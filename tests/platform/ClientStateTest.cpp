// What sync clients see of a restored Maildir: messages under the names they had, keywords
// by name through each maildir's own table, client files written only where they cannot lie.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/MailStore.h"
#include "platform/stores/common/ClientFiles.h"
#include "platform/stores/maildir/KeywordTable.h"
#include "support/TestHome.h"

using namespace tindale::store;
namespace fs = std::filesystem;

namespace {

MessageState Named(std::string fileName, std::string flags, std::vector<Keyword> keywords = {}) {
    MessageState s;
    s.fileName = std::move(fileName);
    s.flags = std::move(flags);
    s.keywords = std::move(keywords);
    s.arrivalSeconds = 1700000000;
    s.known = true;
    return s;
}

std::span<const uint8_t> Bytes(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

class MaildirClients : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(ns_.InitializeAt(home_ / "Maildir"), S_OK); }

    std::unique_ptr<StoreFolder> Folder(const std::string& name) {
        uint32_t id = 0;
        EXPECT_EQ(ns_.CreateFolder(kRootFolderId, name, id), S_OK);
        std::unique_ptr<StoreFolder> folder;
        EXPECT_EQ(ns_.OpenFolder(id, folder), S_OK);
        return folder;
    }

    static uint32_t Add(StoreFolder& folder, const std::string& bytes, const MessageState& state) {
        std::unique_ptr<PendingMessage> pending;
        EXPECT_EQ(folder.CreateStream(pending), S_OK);
        EXPECT_EQ(::write(pending->Fd(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
        uint32_t id = 0;
        EXPECT_EQ(folder.CommitStream(*pending, id, &state), S_OK);
        return id;
    }

    static std::string FileOf(StoreFolder& folder, uint32_t id) {
        return std::string(*folder.MessageFiles().Find(id));
    }

    TestHome home_;
    StoreNamespace ns_;
};

}  // namespace

TEST_F(MaildirClients, MessagesKeepTheNamesClientsGaveThem) {
    auto folder = Folder("Work");
    const std::string a = "Subject: a\n\none\n", b = "Subject: b\n\ntwo\n";
    uint32_t mbsync = Add(*folder, a, Named("1700000000.1_1.host,U=7", "S"));
    uint32_t dovecot = Add(*folder, b, Named("1700000001.M1P2.host,S=18,W=19", "FR"));
    EXPECT_EQ(FileOf(*folder, mbsync), "cur/1700000000.1_1.host,U=7:2,S");
    EXPECT_EQ(FileOf(*folder, dovecot), "cur/1700000001.M1P2.host,S=18,W=19:2,FR");

    // Found by its name, without looking at the folder's other messages.
    EXPECT_TRUE(folder->HoldsUnderItsName(Bytes(a), Named("1700000000.1_1.host,U=7", "")));
    EXPECT_FALSE(folder->HoldsUnderItsName(Bytes(b), Named("1700000000.1_1.host,U=7", "")));

    // The name is taken by other bytes: a new name, nothing replaced.
    uint32_t other = Add(*folder, "Subject: c\n\nthree\n", Named("1700000000.1_1.host,U=7", "S"));
    EXPECT_NE(FileOf(*folder, other).find("cur/"), std::string::npos);
    EXPECT_EQ(FileOf(*folder, other).find(",U=7"), std::string::npos);
    EXPECT_EQ(FileOf(*folder, mbsync), "cur/1700000000.1_1.host,U=7:2,S");

    // Names that are no plain file name are never used.
    for (const char* bad : {"../../escape", ".hidden", "a:2,S", ""}) {
        uint32_t id = Add(*folder, std::string("Subject: ") + bad + "\n\nx\n", Named(bad, "S"));
        std::string file = FileOf(*folder, id);
        EXPECT_EQ(file.find('/'), 3u) << bad;
        EXPECT_EQ(file.find(".."), std::string::npos) << bad;
    }
    // Still new, as mbsync leaves mail it fetched: in new/ with its flags.
    MessageState fresh = Named("1700000002.3_3.host,U=9", "P");
    fresh.inNew = true;
    EXPECT_EQ(FileOf(*folder, Add(*folder, "Subject: d\n\nfour\n", fresh)),
              "new/1700000002.3_3.host,U=9:2,P");
}

TEST_F(MaildirClients, KeywordsTravelByNameBetweenDifferentLetterTables) {
    auto source = Folder("Source");
    WriteFile(source->Directory() + "/dovecot-keywords", "0 $Label1\n1 $Forwarded\n2 Junk\n");
    ns_.ReleaseIndexes();  // tables are read once per job
    uint32_t id = Add(*source, "Subject: k\n\nk\n", Named("k1", "Sac"));
    int fd = -1;
    MessageState read;
    ASSERT_EQ(source->OpenMessage(id, fd, &read), S_OK);
    ::close(fd);
    EXPECT_EQ(read.fileName, "k1");
    ASSERT_EQ(read.keywords.size(), 2u);
    EXPECT_EQ(read.keywords[0], (Keyword{'a', "$Label1"}));
    EXPECT_EQ(read.keywords[1], (Keyword{'c', "Junk"}));

    // A destination whose table gives those letters other names keeps its own names and
    // adds the missing ones; an unnamed letter stays the letter it was.
    auto target = Folder("Target");
    WriteFile(target->Directory() + "/dovecot-keywords", "0 Important\n1 junk\n");
    ns_.ReleaseIndexes();
    read.flags += "z";
    uint32_t copy = Add(*target, "Subject: k\n\nk\n", read);
    EXPECT_EQ(FileOf(*target, copy), "cur/k1:2,Sbcz");  // junk = b, $Label1 added as c
    EXPECT_EQ(ReadFile(target->Directory() + "/dovecot-keywords"),
              "0 Important\n1 junk\n2 $Label1\n");
}

TEST(KeywordTable, ParsesDovecotsFileAndRunsOutOfLettersHonestly) {
    auto table = KeywordTable::Parse("0 $Label1\r\n2 Work\nbad line\n30 Past\n1 \n");
    EXPECT_EQ(table.NamesOf("Sabc"), (std::vector<Keyword>{{'a', "$Label1"}, {'c', "Work"}}));
    EXPECT_EQ(table.LetterFor("$label1"), 'a');  // keywords compare without case
    EXPECT_EQ(table.LetterFor("New"), 'b');
    EXPECT_FALSE(table.LetterFor("two words"));
    for (int i = 0; i < 23; ++i) EXPECT_TRUE(table.LetterFor("k" + std::to_string(i)));
    EXPECT_FALSE(table.LetterFor("one too many"));
    MessageState state = Named("x", "S", {{0, "one too many"}, {0, "Work"}});
    std::vector<std::string> lost;
    EXPECT_EQ(table.FlagsFor(state, &lost), "Sc");
    EXPECT_EQ(lost, std::vector<std::string>{"one too many"});
}

TEST(ClientFiles, OnlyKnownFilesAndSubscriptionsMerge) {
    TestHome home;
    std::string dir = home / "m";
    fs::create_directories(dir);
    WriteFile(dir + "/.mbsyncstate", "mine");
    WriteFile(dir + "/dovecot.index.log", "cache");
    WriteFile(dir + "/dovecot-uidvalidity.6b1a1a13", "");
    fs::create_symlink("/etc/passwd", dir + "/dovecot-uidlist");
    EXPECT_EQ(ListClientFiles(dir),
              (std::vector<std::string>{".mbsyncstate", "dovecot-uidvalidity.6b1a1a13"}));

    EXPECT_EQ(PutClientFile(dir, ".mbsyncstate", "theirs"), EEXIST);
    EXPECT_EQ(ReadFile(dir + "/.mbsyncstate"), "mine");
    EXPECT_EQ(PutClientFile(dir, "../evil", "x"), EINVAL);
    EXPECT_EQ(PutClientFile(dir, "notes.txt", "x"), EINVAL);
    EXPECT_EQ(PutClientFile(dir, ".uidvalidity", "1\n3\n"), 0);
    EXPECT_EQ(ReadFile(dir + "/.uidvalidity"), "1\n3\n");

    WriteFile(dir + "/subscriptions", "V\t2\n\nINBOX\nMine\n");
    EXPECT_EQ(PutClientFile(dir, "subscriptions", "V\t2\n\nINBOX\nWork\nArchive\t2024\n"), 0);
    EXPECT_EQ(ReadFile(dir + "/subscriptions"), "V\t2\n\nINBOX\nMine\nWork\nArchive\t2024\n");
    EXPECT_EQ(MergeSubscriptions("", "INBOX\nWork\n"), "INBOX\nWork\n");  // Courier's plain list
}
