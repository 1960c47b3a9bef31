#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/MailStore.h"
#include "platform/stores/mbox/MboxFile.h"
#include "support/TestHome.h"

using namespace tindale::store;

namespace {

std::string Read(MboxFile& box, uint32_t id) {
    auto message = box.Find(id);
    if (!message) return "<none>";
    int fd = box.OpenCopy(*message);
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) out.append(buffer, size_t(n));
    ::close(fd);
    return out;
}

std::vector<std::string> All(MboxFile& box) {
    std::vector<std::string> out;
    for (uint32_t id : box.Files().IdsFrom()) out.push_back(Read(box, id));
    return out;
}

int FdOf(const std::string& bytes) {
    int fd = ::memfd_create("t", 0);
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    return fd;
}

}  // namespace

// What other writers leave: text before the first separator, CRLF lines, a last message
// without a blank line, a line longer than the reading buffer, a quoted ">From " line and
// Thunderbird's status header.
TEST(MboxFile, ReadsEveryMessageAsItsExactBytes) {
    TestHome home;
    std::string longLine(3 << 20, 'x');
    WriteFile(home / "Inbox",
              "stray text\n"
              "From - Mon Jan  1 10:00:00 2024\n"
              "X-Mozilla-Status: 0005\nSubject: one\n\n>From quoted\n>>From twice\n>Fro\n\n"
              "From sender@example.org Tue Feb  2 11:00:00 2021\r\n"
              "Subject: two\r\n\r\nbody\r\n\r\n"
              "From - Wed Mar  3 12:00:00 2022\n"
              "Subject: three\n\n" +
                  longLine + "\nlast line");
    MboxFile box(home / "Inbox", home / "Inbox.ids");
    ASSERT_EQ(box.Load(), 0);
    auto messages = All(box);
    ASSERT_EQ(messages.size(), 3u);
    // mboxrd: a quoted line loses one ">" on the way out; ">Fro" was never quoted. The
    // state lines Thunderbird added are no part of the message: they give its state.
    EXPECT_EQ(messages[0], "Subject: one\n\nFrom quoted\n>From twice\n>Fro\n");
    EXPECT_EQ(messages[1], "Subject: two\r\n\r\nbody\r\n");
    EXPECT_EQ(messages[2], "Subject: three\n\n" + longLine + "\nlast line");
    auto first = *box.Find(box.Files().IdsFrom()[0]);
    EXPECT_EQ(first.arrival, 1704103200);
    auto state = box.StateOf(first);
    EXPECT_EQ(state.flags, "FS");
    EXPECT_FALSE(state.inNew);
    EXPECT_EQ(box.Unread(), 2u);
}

// Appending quotes "From " lines, carries the state into Thunderbird's header and keeps
// every message readable; a copy is recognised whatever its status header says since.
TEST(MboxFile, AppendedMessagesReadBackAndCopiesAreRecognised) {
    TestHome home;
    WriteFile(home / "Inbox", "From - Mon Jan  1 10:00:00 2024\nSubject: old\n\nno blank after");
    WriteFile(home / "Inbox.msf", "index");
    MboxFile box(home / "Inbox", home / "Inbox.ids");
    ASSERT_EQ(box.Load(), 0);
    std::string message = "Subject: new\n\nFrom the start\n>From quoted already\n";
    MessageState state;
    state.flags = "RS";
    state.known = true;
    state.arrivalSeconds = 1600000000;
    auto id = box.Append(FdOf(message), &state);
    ASSERT_TRUE(id);
    EXPECT_FALSE(::access((home / "Inbox.msf").c_str(), F_OK) == 0);  // Thunderbird rebuilds it
    ASSERT_EQ(box.SaveIds(), 0);                                      // as a job does when it ends
    MboxFile again(home / "Inbox", home / "Inbox.ids");
    ASSERT_EQ(again.Load(), 0);
    // The old message, cut short at the end of the file, gained its last newline (and with
    // it a new id); the new one keeps its id through the reload.
    auto messages = All(again);
    std::sort(messages.begin(), messages.end());
    EXPECT_EQ(messages,
              (std::vector<std::string>{"Subject: new\n\nFrom the start\n>From quoted already\n",
                                        "Subject: old\n\nno blank after\n"}));
    EXPECT_EQ(Read(again, *id), messages[0]);
    std::string file = ReadFile(home / "Inbox");
    EXPECT_NE(file.find("\n>From the start\n>>From quoted already\n"), std::string::npos);
    // Every reader sees its state: Thunderbird, and mutt, Dovecot or Python's mailbox.
    EXPECT_NE(file.find("X-Mozilla-Status: 0003\nX-Mozilla-Status2: 00000000\nStatus: RO\n"
                        "X-Status: A\nSubject: new"),
              std::string::npos);
    EXPECT_EQ(again.StateOf(*again.Find(*id)).flags, "RS");
    EXPECT_TRUE(again.Holds(FdOf(message)));
    ASSERT_TRUE(again.SetFlags(*id, "F"));
    EXPECT_TRUE(again.Holds(FdOf(message)));  // the status changed, the message did not
    EXPECT_FALSE(again.Holds(FdOf("Subject: new\n\nother\n")));
}

// Removing rewrites the folder whole: the rest stays byte for byte, and of two identical
// copies the one left keeps its own id.
TEST(MboxFile, RemovingLeavesTheRestAndTheirIds) {
    TestHome home;
    std::string a = "From - Mon Jan  1 10:00:00 2024\nSubject: a\n\nsame\n\n";
    std::string b = "From - Mon Jan  1 10:00:00 2024\nSubject: b\n\nother\n\n";
    WriteFile(home / "Inbox", a + b + a);
    MboxFile box(home / "Inbox", home / "Inbox.ids");
    ASSERT_EQ(box.Load(), 0);
    auto ids = box.Files().IdsFrom();
    ASSERT_EQ(ids.size(), 3u);
    ASSERT_EQ(box.Remove({ids[0]}), 0);
    EXPECT_EQ(ReadFile(home / "Inbox"), b + a);
    EXPECT_EQ(box.Files().IdsFrom(), (std::vector<uint32_t>{ids[1], ids[2]}));
    EXPECT_FALSE(box.Find(ids[0]));
    EXPECT_EQ(Read(box, ids[2]), "Subject: a\n\nsame\n");
}

// A folder file of hundreds of megabytes without a line end (sparse, or damaged) is read in
// bounded memory, and the one "message" in it, larger than any mail, is left out and said.
TEST(MboxFile, AHugeLineIsReadInPiecesAndAnOversizedMessageIsLeftOut) {
    TestHome home;
    WriteFile(home / "Inbox",
              "From - Mon Jan  1 10:00:00 2024\nSubject: small\n\nhi\n\n"
              "From - Mon Jan  1 10:00:00 2024\nSubject: huge\n\n");
    ASSERT_EQ(::truncate((home / "Inbox").c_str(), off_t(300) << 20), 0);
    MboxFile box(home / "Inbox", home / "Inbox.ids");
    ASSERT_EQ(box.Load(), 0);
    EXPECT_EQ(All(box), (std::vector<std::string>{"Subject: small\n\nhi\n"}));
    ASSERT_EQ(box.Oversized().size(), 1u);
    EXPECT_GT(box.Oversized()[0].length, 299u << 20);
}

// Every state a message can have, written into an mbox and read back by us and by Python's
// mailbox (which reads Status: and X-Status: as mutt and Dovecot do); each message leaves
// the mbox with the bytes it entered it with.
TEST(MboxFile, EveryReaderSeesTheStateAndTheBytesStayTheirs) {
    TestHome home;
    MboxFile box(home / "Inbox", home / "Inbox.ids");
    ASSERT_EQ(box.Load(), 0);
    struct Case {
        std::string flags;
        bool inNew;
        std::string python;  // what mailbox.mboxMessage.get_flags() gives, sorted
    };
    const std::vector<Case> cases = {
        {"", true, ""},       {"", false, "O"},     {"S", false, "OR"}, {"RS", false, "AOR"},
        {"FS", false, "FOR"}, {"DS", false, "ORT"}, {"T", false, "DO"}, {"PS", false, "OR"},
    };
    std::vector<std::pair<uint32_t, std::string>> added;
    for (size_t i = 0; i < cases.size(); ++i) {
        std::string bytes = "Subject: case " + std::to_string(i) +
                            "\n\nFrom the start\n>From quoted already\nlast\n";
        MessageState state;
        state.flags = cases[i].flags;
        state.inNew = cases[i].inNew;
        state.known = true;
        if (i == 3) state.keywords = {{'a', "$Label1"}, {0, "Junk"}};
        auto id = box.Append(FdOf(bytes), &state);
        ASSERT_TRUE(id);
        added.emplace_back(*id, bytes);
    }
    MboxFile again(home / "Inbox", home / "Inbox.ids");
    ASSERT_EQ(again.Load(), 0);
    for (size_t i = 0; i < cases.size(); ++i) {
        auto message = again.Find(added[i].first);
        ASSERT_TRUE(message);
        EXPECT_EQ(Read(again, added[i].first), added[i].second) << i;
        auto state = again.StateOf(*message);
        EXPECT_EQ(state.flags, cases[i].flags) << i;
        EXPECT_EQ(state.inNew, cases[i].inNew) << i;
    }
    auto keywords = again.StateOf(*again.Find(added[3].first)).keywords;
    ASSERT_EQ(keywords.size(), 2u);
    EXPECT_EQ(keywords[0].name, "$label1");
    EXPECT_EQ(again.Unread(), 3u);  // unread stays unread wherever it sat

    if (std::system("python3 -c 'import mailbox' 2>/dev/null") != 0) GTEST_SKIP();
    std::string flags = Capture(
        "python3 -c \"import mailbox,sys\nfor m in mailbox.mbox(sys.argv[1]):\n "
        "print(m['Subject'], ''.join(sorted(m.get_flags())))\" " +
        (home / "Inbox"));
    for (size_t i = 0; i < cases.size(); ++i) {
        std::string line = "case " + std::to_string(i) + " " + cases[i].python + "\n";
        EXPECT_NE(flags.find(line), std::string::npos) << line << flags;
    }
}
