#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>

#include "dupfinder/DuplicateHandling.h"
#include "dupfinder/DuplicateSearch.h"
#include "model/MessageNodes.h"
#include "platform/Identities.h"
#include "platform/MailStore.h"
#include "support/TestHome.h"

using namespace tindale;
using namespace tindale::store;
namespace fs = std::filesystem;

namespace {

class RecordingReport : public v::WorkerReport {
  public:
    void Progress(uint64_t p, uint64_t r) override { reports.emplace_back(p, r); }
    void Done() override { ++done; }
    std::vector<std::pair<uint64_t, uint64_t>> reports;
    int done = 0;
};

DuplicateCandidate Props(uint32_t id, uint64_t identity) {
    MessageProps p;
    p.messageId = id;
    p.identityHash = identity;
    return DuplicateCandidate::Of(p);
}

std::string Message(const std::string& subject, const std::string& date,
                    const std::string& sent = "") {
    return "Received: from a by b; " + date + "\nDate: " + (sent.empty() ? date : sent) +
           "\nSubject: " + subject + "\n\nbody\n";
}

void Put(const std::string& maildir, const std::string& name, const std::string& source) {
    WriteFile(maildir + "/cur/" + name + ":2,S", source);
    fs::create_directories(maildir + "/new");
    fs::create_directories(maildir + "/tmp");
}

size_t Count(const std::string& maildir) {
    size_t n = 0;
    for (auto sub : {"/cur", "/new"})
        if (fs::exists(maildir + sub))
            n += std::distance(fs::directory_iterator(maildir + sub), fs::directory_iterator());
    return n;
}

const std::string kDate = "Mon, 1 Jan 2024 10:00:00 +0000";

}  // namespace

// Candidates share their identifying fields; of those, equal content makes copies, and the
// live copy with the most state stays with every copy's flags but trashed.
TEST(DuplicateSearch, GroupsByContentAndKeepsTheLiveCopyWithTheMostState) {
    std::map<uint32_t, int> body = {{1, 7}, {2, 7}, {3, 7}, {4, 7}, {5, 7}, {6, 8}, {7, 7}};
    std::map<uint32_t, std::string> flags = {{1, ""}, {2, "FR"}, {3, "S"}, {6, "S"}, {7, "FPST"}};
    ContentDigest contentOf = [&](uint32_t id) {
        std::array<uint8_t, 32> d{};
        d[0] = static_cast<uint8_t>(body[id]);
        return std::optional(d);
    };
    StateLookup stateOf = [&](uint32_t id) {
        MessageState st;
        st.flags = flags[id];
        st.inNew = st.flags.empty();
        st.known = true;
        return st;
    };
    auto groups = FindDuplicatesInFolder(
        {Props(1, 100), Props(2, 100), Props(3, 100), Props(4, 101), Props(7, 100), Props(6, 100)},
        contentOf, stateOf);
    ASSERT_EQ(groups.size(), 1u);   // 4 has other fields, 6 another body
    EXPECT_EQ(groups[0].kept, 2u);  // 7 has more flags, but it is trashed
    EXPECT_EQ(groups[0].surplus, (std::vector<uint32_t>{3, 1, 7}));
    EXPECT_EQ(groups[0].flags, "FPRS");
    // Only trashed copies: one of them stays, trashed.
    flags = {{1, "T"}, {2, "ST"}};
    groups = FindDuplicatesInFolder({Props(1, 5), Props(2, 5)}, contentOf, stateOf);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].kept, 2u);
    EXPECT_EQ(groups[0].flags, "ST");
    EXPECT_TRUE(FindDuplicatesInFolder({Props(1, 5), Props(2, 5)}, {}).empty());
    EXPECT_TRUE(FindDuplicatesInFolder({}, contentOf).empty());
}

TEST(DuplicateSearch, SearchesEveryFolderOfEveryIdentityOnly) {
    TestHome home;
    Put(home / "Maildir", "1", Message("hello", kDate));
    Put(home / "Maildir", "2", Message("hello", kDate));
    Put(home / "Maildir", "3", Message("hello", kDate));
    Put(home / "Maildir/.Work", "4", Message("hello", kDate));  // same message, other folder
    Put(home / "Maildir/.Work", "8", Message("work", kDate));
    Put(home / "Maildir/.Work", "9", Message("work", kDate));
    // Another subject and date in the same second: two messages, not copies.
    Put(home / "Maildir/.Work.Deep", "5", Message("Re: deep", kDate));
    Put(home / "Maildir/.Work.Deep", "6", Message("deep", kDate, "Tue, 2 Jan 2024 10:00:00 +0000"));
    Put(home / "Maildir/.Work.Deep", "10",
        Message("deep", kDate, "Tue, 2 Jan 2024 10:00:00 +0000"));
    identities::EnsureDefaultIdentity();
    Put(home / "Other", "7", Message("hello", kDate));  // same message, other identity
    identities::Add(u"Other", home / "Other");

    DuplicateRequest state;
    DuplicateEntry stale;
    stale.identityId = u"stale";
    state.duplicates.push_back(stale);
    RecordingReport report;
    v::Outcome outcome = SearchDuplicates(state.duplicates, report, {});
    EXPECT_EQ(report.reports.front(), (std::pair<uint64_t, uint64_t>(0, 10)));
    EXPECT_EQ(report.reports.back().first, 10u);
    EXPECT_EQ(report.done, 1);
    ASSERT_EQ(state.duplicates.size(), 4u);
    // The Inbox's two surplus copies; then, children before their parent, the deep folder's
    // copy of "deep", then Work's own pair. Work (".Work") got its id before ".Work.Deep".
    auto main = identities::Find(u"Main Identity")->id;
    for (const auto& d : state.duplicates) EXPECT_EQ(d.identityId, main);
    EXPECT_EQ(state.duplicates[0].folderId, state.duplicates[1].folderId);
    EXPECT_NE(state.duplicates[1].folderId, state.duplicates[2].folderId);
    EXPECT_GT(state.duplicates[2].folderId, state.duplicates[3].folderId);

    SearchDuplicates(state.duplicates, report, {});  // again: nothing listed twice
    EXPECT_EQ(state.duplicates.size(), 4u);
}

// A folder of many messages moves the bar while it is read, and a stop there ends the search
// without judging the part that was read.
TEST(DuplicateSearch, LargeFolderMovesTheBarAndStopsWhenCancelled) {
    TestHome home;
    for (int i = 0; i < 600; ++i) Put(home / "Maildir", std::to_string(i), Message("same", kDate));
    identities::EnsureDefaultIdentity();
    struct StopWithinTheFolder : RecordingReport {
        std::stop_source stop;
        void Progress(uint64_t p, uint64_t r) override {
            RecordingReport::Progress(p, r);
            if (r == 0 && p > 0) stop.request_stop();
        }
    } report;
    std::vector<DuplicateEntry> found;
    v::Outcome outcome = SearchDuplicates(found, report, report.stop.get_token());
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_TRUE(found.empty());
    ASSERT_GE(report.reports.size(), 2u);
    EXPECT_EQ(report.reports[1], (std::pair<uint64_t, uint64_t>(256, 0)));
}

TEST(DuplicateSearch, EmptyStoreGivesRangeZero) {
    TestHome home;
    fs::create_directories(home / "Maildir/cur");
    DuplicateRequest state;
    RecordingReport report;
    SearchDuplicates(state.duplicates, report, {});
    EXPECT_EQ(report.reports.front(), (std::pair<uint64_t, uint64_t>(0, 0)));
    EXPECT_TRUE(state.duplicates.empty());
}

TEST(DuplicateHandling, DeleteLeavesTheCopyThatWasKept) {
    TestHome home;
    for (auto n : {"1", "2", "3"}) Put(home / "Maildir", n, Message("same", kDate));
    DuplicateRequest state;
    RecordingReport report;
    SearchDuplicates(state.duplicates, report, {});
    ASSERT_EQ(state.duplicates.size(), 2u);
    state.action = DuplicateAction::Delete;
    v::Outcome outcome = ProcessDuplicates(state, report, {});
    EXPECT_EQ(outcome.itemsDone, 2u);
    EXPECT_EQ(Count(home / "Maildir"), 1u);
    outcome = ProcessDuplicates(state, report, {});  // they are gone now: said so, not hidden
    EXPECT_EQ(outcome.itemsDone, 0u);
    EXPECT_EQ(outcome.problems.size(), 2u);
}

TEST(DuplicateHandling, MoveCopiesThenRemovesTheSource) {
    TestHome home;
    for (auto n : {"1", "2"}) Put(home / "Maildir", n, Message("same", kDate));
    identities::EnsureDefaultIdentity();
    auto other = identities::Add(u"Other", home / "Other");
    StoreNamespace ns;
    ns.InitializeAt(home / "Other");
    uint32_t target = 0;
    ASSERT_EQ(ns.CreateFolder(kRootFolderId, "Duplicates", target), S_OK);

    DuplicateRequest state;
    RecordingReport report;
    SearchDuplicates(state.duplicates, report, {});
    ASSERT_EQ(state.duplicates.size(), 1u);
    state.action = DuplicateAction::Move;
    state.targetIdentity = *other;
    state.targetFolder = target;
    EXPECT_EQ(ProcessDuplicates(state, report, {}).itemsDone, 1u);
    EXPECT_EQ(Count(home / "Maildir"), 1u);
    EXPECT_EQ(Count(home / "Other/.Duplicates"), 1u);

    // Into the very folder whose copies are moved: refused, nothing changes.
    Put(home / "Maildir", "3", Message("same", kDate));
    SearchDuplicates(state.duplicates, report, {});
    ASSERT_EQ(state.duplicates.size(), 1u);
    DuplicateEntry entry = state.duplicates[0];
    state.targetIdentity = entry.identityId;
    state.targetFolder = entry.folderId;
    v::Outcome refused = ProcessDuplicates(state, report, {});
    EXPECT_TRUE(refused.failed);
    EXPECT_EQ(refused.error, kMoveIntoSearchedFolder);
    EXPECT_EQ(Count(home / "Maildir"), 2u);
}

TEST(DuplicateSearch, DistinctMailSharingASecondAndSubjectIsKept) {
    TestHome home;
    std::string inbox = home / "Maildir";
    auto withId = [&](const std::string& id, const std::string& body) {
        return "Received: from a by b; " + kDate +
               "\nSubject: Your order shipped\nMessage-ID: " + id + "\n\n" + body + "\n";
    };
    // Two automated notices in the same second: different Message-IDs, not copies.
    Put(inbox, "1", withId("<a@shop>", "order 1"));
    Put(inbox, "2", withId("<b@shop>", "order 2"));
    // A real copy: the same Message-ID.
    Put(inbox, "3", withId("<c@shop>", "order 3"));
    Put(inbox, "4", withId("<c@shop>", "order 3"));
    // Header-less files: their time is the file's, so only equal bytes make a copy.
    Put(inbox, "5", "Subject: note\n\nfirst\n");
    Put(inbox, "6", "Subject: note\n\nsecond\n");
    Put(inbox, "7", "Subject: note\n\nsecond\n");
    auto when = fs::last_write_time(inbox + "/cur/5:2,S");
    for (auto n : {"6", "7"}) fs::last_write_time(inbox + "/cur/" + n + ":2,S", when);

    DuplicateRequest state;
    RecordingReport report;
    SearchDuplicates(state.duplicates, report, {});
    ASSERT_EQ(state.duplicates.size(), 2u);
    state.action = DuplicateAction::Delete;
    EXPECT_EQ(ProcessDuplicates(state, report, {}).itemsDone, 2u);
    std::set<std::string> left;
    for (auto& e : fs::directory_iterator(inbox + "/cur")) left.insert(ReadFile(e.path()));
    EXPECT_EQ(left.size(), 5u);  // every distinct message is still there, once
    EXPECT_TRUE(left.count(withId("<a@shop>", "order 1")) &&
                left.count(withId("<b@shop>", "order 2")));
    EXPECT_TRUE(left.count("Subject: note\n\nfirst\n"));
}

// Near-duplicates that real stores hold: only the true copy goes, and the copy kept is the
// one with the most state, ending with the flags of both.
TEST(DuplicateSearch, OnlyTrueCopiesGoAndTheFlaggedCopyStays) {
    TestHome home;
    std::string inbox = home / "Maildir";
    fs::create_directories(inbox + "/new");
    fs::create_directories(inbox + "/tmp");
    auto mail = [&](const std::string& headers, const std::string& body) {
        return "Received: from a by b; " + kDate + "\nDate: " + kDate + "\n" + headers + "\n\n" +
               body + "\n";
    };
    auto put = [&](const std::string& name, const std::string& text) {
        WriteFile(inbox + "/cur/" + name, text);
    };
    // Digests without a Message-ID sharing subject and second, different text.
    put("d1:2,S", mail("Subject: list digest", "issue 1"));
    put("d2:2,S", mail("Subject: list digest", "issue 2"));
    // Cron mails: same subject and second, different outcome.
    put("c1:2,S", mail("Subject: backup", "backup OK"));
    put("c2:2,S", mail("Subject: backup", "backup FAILED: disk full"));
    // Empty subjects; two spellings of one word in RFC 2047.
    put("e1:2,S", mail("Subject:", "first"));
    put("e2:2,S", mail("Subject:", "second"));
    put("r1:2,S", mail("Subject: =?UTF-8?Q?caf=C3=A9?=", "one"));
    put("r2:2,S", mail("Subject: =?UTF-8?B?Y2Fmw6k=?=", "two"));
    // A corrected invoice and an edited draft: same Message-ID and date, another body.
    put("i1:2,S", mail("Subject: invoice\nMessage-ID: <inv@x>", "total 100"));
    put("i2:2,S", mail("Subject: invoice\nMessage-ID: <inv@x>", "total 110"));
    put("x1:2,D", mail("Subject: draft\nMessage-ID: <dr@x>", "first try"));
    put("x2:2,D", mail("Subject: draft\nMessage-ID: <dr@x>", "final text"));
    // One true copy twice: delivered twice (another Received line), read and unread.
    std::string copy = "Subject: lunch\nMessage-ID: <l@x>\n\nat noon\n";
    put("t1:2,FR", "Received: from a by b; " + kDate + "\nDate: " + kDate + "\n" + copy);
    WriteFile(inbox + "/new/t2", "Received: from a by b; " + kDate +
                                     "\nDelivered-To: me\nDate: " + kDate + "\n" + copy);
    identities::EnsureDefaultIdentity();

    std::vector<DuplicateEntry> found;
    RecordingReport report;
    SearchDuplicates(found, report, {});
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].file, "new/t2");
    EXPECT_EQ(found[0].keptFile, "cur/t1:2,FR");
    EXPECT_EQ(found[0].subject, "lunch");
    EXPECT_EQ(found[0].folderName, "Main Identity/Inbox");
    DuplicateRequest request;
    request.duplicates = found;
    EXPECT_EQ(ProcessDuplicates(request, report, {}).itemsDone, 1u);
    EXPECT_EQ(Count(inbox), 13u);
    EXPECT_TRUE(fs::exists(inbox + "/cur/t1:2,FR"));  // flagged and answered: no flag to add
}

// The copy kept takes the flags of the one removed; a moved copy keeps its own.
TEST(DuplicateHandling, TheKeptCopyGetsEveryFlagAndAMovedCopyKeepsItsState) {
    TestHome home;
    std::string inbox = home / "Maildir";
    fs::create_directories(inbox + "/new");
    fs::create_directories(inbox + "/tmp");
    WriteFile(inbox + "/cur/a:2,S", Message("same", kDate));
    WriteFile(inbox + "/cur/b:2,F", Message("same", kDate));
    identities::EnsureDefaultIdentity();
    std::vector<DuplicateEntry> found;
    RecordingReport report;
    SearchDuplicates(found, report, {});
    ASSERT_EQ(found.size(), 1u);
    DuplicateRequest request;
    request.duplicates = found;
    EXPECT_EQ(ProcessDuplicates(request, report, {}).itemsDone, 1u);
    ASSERT_EQ(Count(inbox), 1u);
    EXPECT_TRUE(fs::exists(inbox + "/cur/" + found[0].keptFile.substr(4, 1) + ":2,FS"));

    WriteFile(inbox + "/cur/c:2,RS", Message("again", kDate));
    WriteFile(inbox + "/cur/d:2,RS", Message("again", kDate));
    StoreNamespace ns;
    ns.InitializeAt(inbox);
    uint32_t target = 0;
    ASSERT_EQ(ns.CreateFolder(kRootFolderId, "Duplicates", target), S_OK);
    SearchDuplicates(found, report, {});
    ASSERT_EQ(found.size(), 1u);
    request.duplicates = found;
    request.action = DuplicateAction::Move;
    request.targetIdentity = found[0].identityId;
    request.targetFolder = target;
    EXPECT_EQ(ProcessDuplicates(request, report, {}).itemsDone, 1u);
    auto moved = fs::directory_iterator(inbox + "/.Duplicates/cur");
    ASSERT_NE(moved, fs::directory_iterator());
    EXPECT_TRUE(moved->path().string().ends_with(":2,RS"));
}

namespace {

std::string Mail(const std::string& received, const std::string& fields, const std::string& body,
                 const std::string& eol = "\n") {
    std::string text = received + fields + "\n" + body;
    std::string out;
    for (char c : text) c == '\n' ? out += eol : out += c;
    return out;
}

std::string ReceivedAt(const std::string& when, const std::string& via = "mx1") {
    return "Received: from " + via + ".example.org by mail.example.org; " + when + "\n";
}

// Every file of a tree with its bytes and modification time.
std::map<std::string, std::pair<std::string, int64_t>> Snapshot(const std::string& root) {
    std::map<std::string, std::pair<std::string, int64_t>> out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            out[e.path().string()] = {ReadFile(e.path()),
                                      e.last_write_time().time_since_epoch().count()};
    return out;
}

}  // namespace

// Lookalikes that real mail holds stay; copies that mail systems really make go, whatever
// their transport headers and line ends say. The search alone writes nothing.
TEST(DuplicateSearch, CopiesAsMailSystemsMakeThemGoAndLookalikesStay) {
    TestHome home;
    std::string inbox = home / "Maildir";
    const std::string fetched = ReceivedAt("Mon, 8 Jan 2024 09:00:00 +0000", "pop");
    auto put = [&](const std::string& name, const std::string& text) { Put(inbox, name, text); };
    // Three daily cron mails without a Message-ID, fetched by POP in one second.
    for (int day = 1; day <= 3; ++day)
        put("cron" + std::to_string(day),
            Mail(fetched,
                 "From: root@host\nTo: me@host\nSubject: Cron <root@host> backup\nDate: Mon, " +
                     std::to_string(day) + " Jan 2024 03:00:00 +0000\n",
                 "backup OK\n"));
    // "+1" from two people in the same second, and one mail-merge text to two addresses.
    for (const char* who : {"ann", "bob"})
        put(std::string("plus-") + who, Mail(fetched,
                                             std::string("From: ") + who +
                                                 "@x\nTo: list@x\nSubject: Re: lunch\n"
                                                 "Date: " +
                                                 kDate + "\n",
                                             "+1\n"));
    for (const char* to : {"carol", "dave"})
        put(std::string("merge-") + to, Mail(fetched,
                                             std::string("From: shop@x\nTo: ") + to +
                                                 "@x\nSubject: Offer\n"
                                                 "Date: " +
                                                 kDate + "\n",
                                             "Dear customer\n"));
    // The same message delivered again: a retry three minutes later, two MX hosts a second
    // apart, a POP client fetching it again, a list resending it, a loop of five.
    const std::string fields =
        "From: a@x\nTo: me@x\nSubject: report\nMessage-ID: <r@x>\nDate: " + kDate + "\n";
    put("retry1", Mail(ReceivedAt("Mon, 1 Jan 2024 10:00:00 +0000"), fields, "numbers\n"));
    put("retry2", Mail(ReceivedAt("Mon, 1 Jan 2024 10:03:00 +0000"), fields, "numbers\n"));
    const std::string other =
        "From: b@x\nTo: me@x\nSubject: mx\nMessage-ID: <mx@x>\nDate: " + kDate + "\n";
    put("mx1", Mail(ReceivedAt("Mon, 1 Jan 2024 11:00:00 +0000", "mx1"), other, "hello\n"));
    put("mx2", Mail(ReceivedAt("Mon, 1 Jan 2024 11:00:01 +0000", "mx2"), other, "hello\n"));
    const std::string pop = "From: c@x\nSubject: pop\nMessage-ID: <p@x>\nDate: " + kDate + "\n";
    put("pop1", Mail(fetched, "X-UIDL: 1\n" + pop, "text\n"));
    put("pop2", Mail(ReceivedAt("Tue, 9 Jan 2024 09:00:00 +0000", "pop"),
                     "X-UIDL: 1\nStatus: RO\n" + pop, "text\n"));
    const std::string post =
        "From: d@x\nTo: list@x\nSubject: [list] post\nMessage-ID: <l@x>\n"
        "Date: " +
        kDate + "\n";
    put("list1", Mail(ReceivedAt("Mon, 1 Jan 2024 12:00:00 +0000"), post, "post\n"));
    put("list2", Mail(ReceivedAt("Wed, 3 Jan 2024 12:00:00 +0000") + "X-Original-To: me@x\n", post,
                      "post\n"));
    const std::string loop = "From: e@x\nSubject: loop\nMessage-ID: <o@x>\nDate: " + kDate + "\n";
    std::string hops;
    for (int i = 0; i < 5; ++i) {
        hops += ReceivedAt("Mon, 1 Jan 2024 13:00:0" + std::to_string(i) + " +0000");
        put("loop" + std::to_string(i), Mail(hops, loop, "again\n"));
    }
    // The same message with CRLF line ends beside it with LF.
    const std::string crlf = "From: f@x\nSubject: crlf\nMessage-ID: <c@x>\nDate: " + kDate + "\n";
    put("lf", Mail(fetched, crlf, "two\nlines\n"));
    put("crlf", Mail(fetched, crlf, "two\nlines\n", "\r\n"));
    identities::EnsureDefaultIdentity();

    auto before = Snapshot(inbox);
    std::vector<DuplicateEntry> found;
    RecordingReport report;
    SearchDuplicates(found, report, {});
    EXPECT_EQ(Snapshot(inbox), before);  // a dry run changes nothing, names and times alike
    std::multiset<std::string> subjects;
    for (const auto& d : found) subjects.insert(d.subject);
    EXPECT_EQ(subjects, (std::multiset<std::string>{"report", "mx", "pop", "[list] post", "loop",
                                                    "loop", "loop", "loop", "crlf"}));
    DuplicateRequest request;
    request.duplicates = found;
    EXPECT_EQ(ProcessDuplicates(request, report, {}).itemsDone, 9u);
    EXPECT_EQ(Count(inbox), 7u + 6u);  // every lookalike, and one of each copied message
}

// Entries Thunderbird marks deleted (waiting for compaction) are no messages: a visible
// message is never deleted in favour of its hidden copy, nor is the hidden one counted.
TEST(DuplicateSearch, HiddenThunderbirdEntriesNeverOutliveTheVisibleMessage) {
    TestHome home;
    std::string account = home / ".thunderbird/p.default/Mail/Local Folders";
    fs::create_directories(account);
    auto entry = [](const char* status, const std::string& text) {
        return std::string("From - Mon Jan  1 10:00:00 2024\nX-Mozilla-Status: ") + status + "\n" +
               text + "\n";
    };
    const std::string a = "Subject: a\nMessage-ID: <a@x>\nDate: " + kDate + "\n\nfirst\n";
    const std::string b = "Subject: b\nMessage-ID: <b@x>\nDate: " + kDate + "\n\nsecond\n";
    WriteFile(account + "/Inbox", entry("0009", a) + entry("0001", a) + entry("0000", b) +
                                      entry("0008", b) + entry("0008", b));
    auto id = identities::Add(u"Thunderbird", account, StoreKind::Mbox);
    ASSERT_TRUE(id);
    std::vector<DuplicateEntry> found;
    RecordingReport report;
    SearchDuplicates(found, report, {});
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(report.reports.front(), (std::pair<uint64_t, uint64_t>(0, 2)));
}

// While Thunderbird has the profile open, deleting copies from it is refused in one line that
// names Thunderbird and the profile, and nothing is reported as done or changed.
TEST(DuplicateHandling, ARunningThunderbirdIsNamedOnceAndNothingChanges) {
    TestHome home;
    std::string profile = home / ".thunderbird/p.default";
    std::string account = profile + "/Mail/Local Folders";
    fs::create_directories(account);
    const std::string copy =
        "From - Mon Jan  1 10:00:00 2024\nSubject: a\nMessage-ID: <a@x>\n"
        "Date: " +
        kDate + "\n\nsame\n\n";
    WriteFile(account + "/Inbox", copy + copy + copy);
    ASSERT_TRUE(identities::Add(u"Thunderbird", account, StoreKind::Mbox));
    std::vector<DuplicateEntry> found;
    RecordingReport report;
    SearchDuplicates(found, report, {});
    ASSERT_EQ(found.size(), 2u);
    // Thunderbird's "lock" names the running process: this one stands in for it.
    fs::create_symlink("127.0.0.1:+" + std::to_string(::getpid()), profile + "/lock");
    DuplicateRequest request;
    request.duplicates = found;
    auto outcome = ProcessDuplicates(request, report, {});
    EXPECT_TRUE(outcome.failed);
    EXPECT_NE(outcome.error.find("Thunderbird has the profile"), std::string::npos)
        << outcome.error;
    EXPECT_EQ(outcome.itemsDone, 0u);
    EXPECT_TRUE(outcome.problems.empty());  // said once, not once per copy
    EXPECT_EQ(ReadFile(account + "/Inbox"), copy + copy + copy);
}
