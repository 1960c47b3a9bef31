#include <gtest/gtest.h>

#include <sys/stat.h>
#include <memory>

#include <filesystem>
#include <fstream>

#include "archive/ArchiveHeader.h"
#include "archive/ArchiveReader.h"
#include "archive/NodeRecord.h"
#include "archive/PieceCodec.h"
#include "backup/BackupEngine.h"
#include "base/Text.h"
#include "model/FileNodes.h"
#include "model/RegistryNodes.h"
#include "platform/Registry.h"
#include "restore/ArchiveTest.h"
#include "restore/RestoreEngine.h"
#include "support/FakeNode.h"
#include "support/TestHome.h"

using namespace tindale;
using namespace v;
namespace fs = std::filesystem;

namespace {

class RecordingReport : public WorkerReport {
  public:
    void Progress(uint64_t p, uint64_t r) override { reports.emplace_back(p, r); }
    void Done() override { ++done; }
    void ItemBytes(uint64_t d, uint64_t t) override { itemBytes.emplace_back(d, t); }
    std::vector<std::pair<uint64_t, uint64_t>> reports;
    std::vector<std::pair<uint64_t, uint64_t>> itemBytes;
    int done = 0;
};

struct Entry {
    NodeRecord record;
    std::vector<uint8_t> payload;
};

std::vector<Entry> ReadEntries(const std::string& path,
                               ArchiveReader::EndReason* reason = nullptr) {
    FileStream file(ArchiveReader::OpenArchiveFd(path));
    ArchiveReader reader;
    std::vector<Entry> out;
    if (reader.OpenArchiveFile(&file))
        for (; !reader.AtEnd(); reader.Advance())
            out.push_back({reader.Record(), reader.LoadPayload()});
    if (reason) *reason = reader.Reason();
    return out;
}

Outcome Backup(const BackupRequest& state, unsigned threads = 0,
               RecordingReport* report = nullptr) {
    RecordingReport local;
    return BackupWorker(state, report ? *report : local, {}, {threads});
}

BackupRequest StateFor(const std::string& path, std::vector<BasicNode*> sources, bool c = false,
                       bool e = false) {
    BackupRequest s;
    s.archivePath = text::ToUtf16(path);
    s.sources = std::move(sources);
    s.compress = c;
    s.encrypt = e;
    s.legacyEncryption = e;  // these tests pin the original format; sealed archives have theirs
    s.password = u"pass";
    return s;
}

size_t FrameCount(const std::vector<uint8_t>& payload) {
    size_t n = 0;
    for (size_t at = 0; at + 4 <= payload.size(); ++n) at += 4 + text::GetU32(payload.data() + at);
    return n;
}

void Corrupt(const std::string& path, uint64_t offset, uint8_t value) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(offset));
    f.put(static_cast<char>(value));
}

}  // namespace

TEST(ArchiveFormat, OneEmptySourceIsHeaderAndOneRecord) {
    TestHome home;
    FakeNode node(u"empty", 0);
    auto state = StateFor(home / "a.vqz", {&node});
    RecordingReport report;
    EXPECT_TRUE(Backup(state, 0, &report).Clean());
    EXPECT_EQ(fs::file_size(home / "a.vqz"), 4880u);
    EXPECT_EQ(report.reports, (std::vector<std::pair<uint64_t, uint64_t>>{{0, 1}}));
    EXPECT_EQ(report.done, 1);
    auto entries = ReadEntries(home / "a.vqz");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].record.PayloadLength(), 0u);
    EXPECT_EQ(entries[0].record.DisplayName(), u"empty");
}

TEST(ArchiveFormat, PiecesOf10240BytesMakeFrames) {
    TestHome home;
    FakeNode exact(u"exact", 10240), over(u"over", 10241);
    auto state = StateFor(home / "f.vqz", {&exact, &over});
    Backup(state);
    auto entries = ReadEntries(home / "f.vqz");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(FrameCount(entries[0].payload), 1u);
    EXPECT_EQ(FrameCount(entries[1].payload), 2u);
    EXPECT_EQ(text::GetU32(entries[1].payload.data() + 4 + 10240), 1u);
    EXPECT_EQ(entries[1].record.PayloadLength(), entries[1].payload.size());
}

TEST(ArchiveFormat, ItemsFollowTheirContainerWithItsGuidAsParent) {
    TestHome home;
    FakeNode container(u"box", 5, 3);
    auto state = StateFor(home / "c.vqz", {&container});
    RecordingReport report;
    Backup(state, 0, &report);
    auto entries = ReadEntries(home / "c.vqz");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_TRUE(entries[0].record.ParentGuid().IsZero());
    EXPECT_EQ(entries[0].record.bytes[570], 1);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(entries[i].record.ParentGuid(), container.instanceGuid);
    EXPECT_EQ(report.reports.size(), 1u);
}

TEST(ArchiveFormat, ParallelArchiveIsByteIdenticalToSingleThreaded) {
    TestHome home;
    FakeNode big(u"big", 300000, 6), small(u"small", 7000), other(u"other", 25000);
    auto one = StateFor(home / "one.vqz", {&big, &small, &other}, true, true);
    auto many = StateFor(home / "many.vqz", {&big, &small, &other}, true, true);
    EXPECT_TRUE(Backup(one, 1).Clean());
    EXPECT_TRUE(Backup(many, 4).Clean());
    many.archivePath = one.archivePath;  // the header holds the path
    auto a = ReadFile(home / "one.vqz");
    auto b = ReadFile(home / "many.vqz");
    ASSERT_EQ(a.size(), b.size());
    EXPECT_TRUE(
        a.substr(ArchiveHeader::kSize) ==
        b.substr(ArchiveHeader::kSize));  // the bytes after the header (which names the file)
}

TEST(ArchiveFormat, UnreadableNodeIsLeftOutAndNamed) {
    TestHome home;
    FakeNode good(u"good", 10), bad(u"bad", 10, 0, true), after(u"after", 10);
    auto state = StateFor(home / "u.vqz", {&good, &bad, &after});
    Outcome outcome = Backup(state);
    EXPECT_FALSE(outcome.failed);
    ASSERT_EQ(outcome.problems.size(), 1u);
    auto entries = ReadEntries(home / "u.vqz");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].record.DisplayName(), u"after");
}

TEST(ArchiveFormat, FailedOrCancelledBackupKeepsTheEarlierArchive) {
    TestHome home;
    WriteFile(home / "keep.vqz", "earlier archive");
    FakeNode node(u"n", 50000);
    auto state = StateFor(home / "keep.vqz", {&node});
    std::stop_source stop;
    stop.request_stop();
    RecordingReport report;
    Outcome cancelled = BackupWorker(state, report, stop.get_token(), {});
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_EQ(ReadFile(home / "keep.vqz"), "earlier archive");
    EXPECT_EQ(std::distance(fs::directory_iterator(home.Path()), fs::directory_iterator()), 1);

    auto missing = StateFor(home / "no/such/dir/x.vqz", {&node});
    Outcome failed = Backup(missing);
    EXPECT_TRUE(failed.failed);
    EXPECT_FALSE(failed.error.empty());

    auto tooLong = StateFor(std::string(3000, 'x'), {&node}, false, false);
    EXPECT_TRUE(Backup(tooLong).failed);
    auto longPassword = StateFor(home / "p.vqz", {&node}, false, true);
    longPassword.password = std::u16string(28, u'p');
    EXPECT_TRUE(Backup(longPassword).failed);
}

TEST(ArchiveFormat, PayloadBeyondTheFormatsLimitIsLeftOutAndNamed) {
    // Compressed on two threads, an entry ends while the next node is being read: the
    // problem must stay with the node it belongs to, and no innocent node may be cut.
    for (bool compress : {false, true}) {
        TestHome home;
        FakeNode small(u"small", 100), huge(u"huge", 400000);
        std::vector<std::unique_ptr<FakeNode>> after;
        std::vector<BasicNode*> sources{&small, &huge};
        for (int i = 0; i < 6; ++i) {
            after.push_back(std::make_unique<FakeNode>(u"after" + text::ToUtf16(std::to_string(i)),
                                                       100 + 10 * i));
            sources.push_back(after.back().get());
        }
        auto state = StateFor(home / "l.vqz", sources, compress);
        RecordingReport report;
        BackupOptions options;
        options.maxPayloadLength = 3000;  // stands for 4 GiB
        options.threads = 2;
        Outcome outcome = BackupWorker(state, report, {}, options);
        ASSERT_EQ(outcome.problems.size(), 1u) << compress;
        EXPECT_EQ(outcome.problems[0].item, "huge");
        ArchiveReader::EndReason reason;
        auto entries = ReadEntries(home / "l.vqz", &reason);
        ASSERT_EQ(entries.size(), 7u) << compress;
        EXPECT_EQ(entries[0].record.DisplayName(), u"small");
        EXPECT_EQ(entries[1].record.DisplayName(), u"after0");
        EXPECT_EQ(reason, ArchiveReader::EndReason::CleanEnd);
    }
}

TEST(ArchiveReaderTest, TruncationAndCraftedLengthsEndTheWalk) {
    TestHome home;
    FakeNode a(u"a", 100), b(u"b", 20000);
    auto state = StateFor(home / "t.vqz", {&a, &b});
    Backup(state);
    std::string full = ReadFile(home / "t.vqz");
    WriteFile(home / "cut.vqz", full.substr(0, full.size() - 1));
    ArchiveReader::EndReason reason;
    EXPECT_EQ(ReadEntries(home / "cut.vqz", &reason).size(), 1u);
    EXPECT_EQ(reason, ArchiveReader::EndReason::Truncated);
    EXPECT_EQ(ReadEntries(home / "t.vqz", &reason).size(), 2u);
    EXPECT_EQ(reason, ArchiveReader::EndReason::CleanEnd);

    // A length claiming nearly 4 GiB in a small file: nothing is allocated, the walk ends.
    const size_t firstPayload = ArchiveHeader::kSize + v::NodeRecord::kSize;
    const size_t secondRecord = firstPayload + kFrameLengthBytes + 100;  // a's one frame
    Corrupt(home / "t.vqz", secondRecord + v::NodeRecord::kPayloadLengthAt + 3, 0xF0);
    EXPECT_EQ(ReadEntries(home / "t.vqz", &reason).size(), 1u);
    Corrupt(home / "t.vqz", ArchiveHeader::kSealedMarkAt,
            2);  // 1 marks a sealed archive; any other value, nothing
    EXPECT_EQ(ReadEntries(home / "t.vqz", &reason).size(), 0u);
    EXPECT_EQ(reason, ArchiveReader::EndReason::NotAnArchive);
}

TEST(ArchiveTestEngine, TellsSoundTruncatedAndDamagedApart) {
    TestHome home;
    FakeNode a(u"first", 30000), b(u"second", 100);
    auto state = StateFor(home / "s.vqz", {&a, &b}, true, false);
    Backup(state);
    RecordingReport report;
    auto test = [&](const std::string& path) {
        return TestArchiveWorker(text::ToUtf16(path), state.password, report, {});
    };
    auto sound = test(home / "s.vqz");
    EXPECT_EQ(sound.verdict, ArchiveTestResult::Verdict::Sound);
    EXPECT_EQ(sound.percent, 100u);
    EXPECT_EQ(sound.records, 2u);

    std::string full = ReadFile(home / "s.vqz");
    WriteFile(home / "cut.vqz", full.substr(0, full.size() - 10));
    auto cut = test(home / "cut.vqz");
    EXPECT_EQ(cut.verdict, ArchiveTestResult::Verdict::Truncated);
    EXPECT_LT(cut.percent, 100u);

    WriteFile(home / "bad.vqz", full);
    const size_t firstBody = ArchiveHeader::kSize + v::NodeRecord::kSize + kFrameLengthBytes;
    Corrupt(home / "bad.vqz", firstBody + 20, 0x55);  // inside the first LZMA stream
    Corrupt(home / "bad.vqz", firstBody + 21, 0xAA);
    auto damaged = test(home / "bad.vqz");
    EXPECT_EQ(damaged.verdict, ArchiveTestResult::Verdict::Damaged);
    EXPECT_EQ(damaged.damagedItem, "first");

    WriteFile(home / "short.vqz", std::string(4175, 'k'));
    EXPECT_EQ(test(home / "short.vqz").verdict, ArchiveTestResult::Verdict::NotAnArchive);
}

// Within one large payload the bar moves, and a stop ends the test there: what was not read
// is never called sound.
TEST(ArchiveTestEngine, LargePayloadMovesTheBarAndStopsWhenCancelled) {
    TestHome home;
    FakeNode large(u"large", 6u << 20);
    auto state = StateFor(home / "l.vqz", {&large});
    Backup(state);
    struct StopWithinTheItem : WorkerReport {
        std::stop_source stop;
        uint64_t first = 0;
        void Progress(uint64_t p, uint64_t r) override {
            if (r == 0 && p > 0 && !first) {
                first = p;
                stop.request_stop();
            }
        }
        void Done() override {}
    } report;
    auto result = TestArchive(home / "l.vqz", state.password, &report, report.stop.get_token());
    EXPECT_EQ(result.verdict, ArchiveTestResult::Verdict::Cancelled);
    EXPECT_GT(report.first, 0u);
    EXPECT_LT(report.first, 50u);
}

TEST(RestoreEngine, RoundTripsFilesAndSettingsIntoAnotherHome) {
    TestHome home;
    WriteFile(home / "Documents/letter.txt", std::string(50000, 'L'));
    std::string large;  // past what the restore hands to its writing thread
    for (int i = 0; large.size() < 300000; ++i) large += std::to_string(i * 7919) + ",";
    WriteFile(home / "Documents/large.csv", large);
    auto ie =
        reg::Key::Create(reg::kHkeyCurrentUser, u"Software\\Microsoft\\Internet Explorer\\Main");
    ie->SetString(u"Start Page", u"https://example.org");
    for (bool compress : {false, true}) {
        MyDocsNode docs;
        IESettingsNode settings;
        auto state = StateFor(home / "r.vqz", {&docs, &settings}, compress, true);
        ASSERT_TRUE(Backup(state).Clean());
        ::chmod((home / "r.vqz").c_str(), 0444);  // a read-only archive restores too

        TestHome target;
        RestoreRequest restore;
        restore.archivePath = state.archivePath;
        restore.password = state.password;
        for (const auto& e : ReadEntries(home / "r.vqz")) restore.items.push_back(e.record);
        RecordingReport report;
        Outcome outcome = RestoreWorker(restore, report, {});
        EXPECT_TRUE(outcome.Clean()) << outcome.error;
        EXPECT_EQ(ReadFile(target / "Documents/letter.txt"), std::string(50000, 'L'));
        EXPECT_EQ(ReadFile(target / "Documents/large.csv"), large);
        auto main =
            reg::Key::Open(reg::kHkeyCurrentUser, u"Software\\Microsoft\\Internet Explorer\\Main");
        ASSERT_TRUE(main);
        EXPECT_EQ(main->QueryString(u"Start Page"), u"https://example.org");
        EXPECT_EQ(report.reports.front(), (std::pair<uint64_t, uint64_t>(0, 5)));

        restore.password = u"PASS";
        EXPECT_TRUE(RestoreWorker(restore, report, {}).failed);
        target.SwitchTo(home.Path());
        ::chmod((home / "r.vqz").c_str(), 0644);
    }
}

// A large file tells how far it has got, on the way into the archive and back out, with its
// size as the total; small items stay quiet.
TEST(ArchiveFormat, ALargeFileReportsItsBytesBothWays) {
    TestHome home;
    constexpr uint64_t kSize = 40ull << 20;
    WriteFile(home / "Documents/disk.img", std::string(kSize, 'd'));
    WriteFile(home / "Documents/small.txt", "s");
    MyDocsNode docs;
    auto state = StateFor(home / "big.vqz", {&docs}, true);
    RecordingReport backup;
    ASSERT_TRUE(Backup(state, 0, &backup).Clean());
    auto check = [&](const std::vector<std::pair<uint64_t, uint64_t>>& told) {
        ASSERT_GE(told.size(), 3u);
        EXPECT_EQ(told.back(), (std::pair<uint64_t, uint64_t>(0, 0)));  // the item is done
        for (size_t i = 0; i + 1 < told.size(); ++i) {
            EXPECT_EQ(told[i].second, kSize);
            EXPECT_LE(told[i].first, kSize);
            if (i > 0) {
                EXPECT_GT(told[i].first, told[i - 1].first);
            }
        }
    };
    check(backup.itemBytes);

    TestHome target;
    RestoreRequest restore;
    restore.archivePath = state.archivePath;
    restore.everything = true;
    RecordingReport report;
    ASSERT_TRUE(RestoreWorker(restore, report, {}).Clean());
    check(report.itemBytes);
    EXPECT_EQ(fs::file_size(target / "Documents/disk.img"), kSize);
}

TEST(ArchiveFormat, AnExceptionInANodeEndsTheJobAsAFailureNotACrash) {
    struct Throwing : FakeNode {
        Throwing() : FakeNode(u"throws", 10) {}
        uint64_t WritePayload(BasicStream&) override { throw std::bad_alloc(); }
    };
    TestHome home;
    FakeNode before(u"before", 10);
    Throwing node;
    auto state = StateFor(home / "x.vqz", {&before, &node});
    RecordingReport report;
    Outcome outcome = BackupWorker(state, report, {});
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.error, "out of memory");
    EXPECT_EQ(report.done, 1);
    EXPECT_FALSE(fs::exists(home / "x.vqz"));  // no half archive
}

// Permission bits come back as they were, on a new computer as over an older copy: a private
// file stays private, a script executable, a folder closed to others; setuid, setgid and
// sticky never come back.
TEST(ArchiveFormat, PermissionBitsComeBackButNeverSetuid) {
    TestHome home;
    WriteFile(home / "Documents/key.txt", "secret");
    WriteFile(home / "Documents/run.sh", "#!/bin/sh\n");
    WriteFile(home / "Documents/shared.txt", "for all");
    ::chmod((home / "Documents/key.txt").c_str(), 0600);
    ::chmod((home / "Documents").c_str(), 0750);
    ::chmod((home / "Documents/run.sh").c_str(), 04755);
    ::chmod((home / "Documents/shared.txt").c_str(), 0664);
    MyDocsNode docs;
    auto state = StateFor(home / "p.vqz", {&docs}, true, true);
    ASSERT_TRUE(Backup(state).Clean());
    for (bool again : {false, true}) {  // into a new home, then over what is there
        TestHome target;
        if (again) {
            WriteFile(target / "Documents/key.txt", "old");
            ::chmod((target / "Documents/key.txt").c_str(), 0644);
            MakeOld(target / "Documents/key.txt");  // older than its archived copy
        }
        RestoreRequest restore;
        restore.archivePath = state.archivePath;
        restore.password = state.password;
        for (const auto& e : ReadEntries(home / "p.vqz")) restore.items.push_back(e.record);
        RecordingReport report;
        auto outcome = RestoreWorker(restore, report, {});
        EXPECT_TRUE(outcome.Clean()) << outcome.error;
        for (const auto& p : outcome.problems) ADD_FAILURE() << p.item << ": " << p.reason;
        auto mode = [&](const std::string& rel) {
            struct stat st {};
            ::stat((target / rel).c_str(), &st);
            return st.st_mode & 07777;
        };
        EXPECT_EQ(mode("Documents"), 0750u);
        EXPECT_EQ(mode("Documents/key.txt"), 0600u);
        EXPECT_EQ(mode("Documents/run.sh"), 0755u);
        EXPECT_EQ(mode("Documents/shared.txt"), 0664u);
        target.SwitchTo(home.Path());
    }
}
