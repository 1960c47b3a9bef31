// Archives made to hurt the reader: lengths that wrap, blocks that announce gigabytes,
// encrypted frames whose shape is wrong. Each must be called damaged, never crash or hang.
#include <gtest/gtest.h>

#include "archive/ArchiveReader.h"
#include "archive/PieceCodec.h"
#include "base/Text.h"
#include "model/FileNodes.h"
#include "model/Outcome.h"
#include "restore/ArchiveTest.h"
#include "restore/Extract.h"
#include "restore/RecordTree.h"
#include "restore/RestoreEngine.h"
#include "support/CraftedArchive.h"
#include "support/TestHome.h"

#include <unistd.h>

#include <filesystem>
namespace fs = std::filesystem;

using namespace tindale;

namespace {

ArchiveTestResult Check(const std::string& path, std::u16string password = u"") {
    return TestArchive(path, password, nullptr, {});
}

v::Outcome RestoreAll(const std::string& path, std::u16string password) {
    RestoreRequest state;
    state.archivePath = text::ToUtf16(path);
    state.password = std::move(password);
    for (const auto& e : RecordTree::Load(path).entries) state.items.push_back(e->record);
    v::NullReport report;
    return RestoreWorker(state, report, {});
}

std::vector<uint8_t> Bytes(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> out;
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
    return out;
}

}  // namespace

TEST(HostileArchive, DesLengthNearTwoToTheThirtySecondIsDamagedNotACrash) {
    TestHome home;
    CraftedArchive archive(false, true);
    // One frame of 8 bytes: n = 0xFFFFFFFF, p = 0 (the padded length wraps to 0 in 32 bits).
    auto frame = Bytes({8, 0xFFFFFFFFu, 0});
    archive.Add(v::FileFolderNode::kTypeGuid, u"evil", frame);
    archive.WriteTo(home / "evil.vqz");
    EXPECT_EQ(Check(home / "evil.vqz").verdict, ArchiveTestResult::Verdict::Damaged);
    EXPECT_EQ(Check(home / "evil.vqz", u"pass").verdict, ArchiveTestResult::Verdict::Damaged);
    v::Outcome outcome = RestoreAll(home / "evil.vqz", u"pass");
    EXPECT_FALSE(outcome.Clean());
}

TEST(HostileArchive, EncryptedFramesOfTheWrongShapeAreFoundWithoutThePassword) {
    TestHome home;
    auto check = [&](std::vector<uint8_t> frames) {
        CraftedArchive archive(false, true);
        archive.Add(v::FileFolderNode::kTypeGuid, u"f", std::move(frames));
        archive.WriteTo(home / "f.vqz");
        return Check(home / "f.vqz").verdict;
    };
    CraftedArchive good(false, true);
    auto frames = good.Frames(std::vector<uint8_t>(30000, 'x'));
    EXPECT_EQ(check(frames), ArchiveTestResult::Verdict::Sound);
    auto padded = frames;
    padded[8] ^= 1;  // p no longer a multiple of 8
    EXPECT_EQ(check(padded), ArchiveTestResult::Verdict::Damaged);
    auto longer = frames;
    longer[4] = 0xF9;  // n > p
    longer[5] = 0xFF;
    EXPECT_EQ(check(longer), ArchiveTestResult::Verdict::Damaged);
    auto cut = frames;
    cut.resize(cut.size() - 3);  // the last frame ends early
    EXPECT_EQ(check(cut), ArchiveTestResult::Verdict::Damaged);
}

TEST(HostileArchive, BlocksAnnouncingHugePiecesAreDamagedAndAllocateNothing) {
    TestHome home;
    CraftedArchive archive(true, false);
    auto piece = archive.Frames(std::vector<uint8_t>(10240, 'a'));
    ASSERT_NE(piece[4], 0);  // an LZMA block, not the stored form
    std::vector<uint8_t> frames;
    for (int i = 0; i < 20; ++i) {
        auto evil = piece;
        for (int b = 0; b < 8; ++b) evil[4 + 7 + b] = b == 3 ? 0x80 : 0;  // 2 GiB announced
        frames.insert(frames.end(), evil.begin(), evil.end());
    }
    // A frame length far beyond any piece, in a small archive.
    auto huge = Bytes({0x7FFFFFFF});
    archive.Add(v::FileFolderNode::kTypeGuid, u"blocks", frames);
    archive.Add(v::FileFolderNode::kTypeGuid, u"length", huge);
    archive.WriteTo(home / "huge.vqz");
    auto result = Check(home / "huge.vqz");
    EXPECT_EQ(result.verdict, ArchiveTestResult::Verdict::Damaged);
    EXPECT_EQ(result.damagedItem, "blocks");
    EXPECT_FALSE(RestoreAll(home / "huge.vqz", u"").Clean());
}

TEST(HostileArchive, FilesGoBackOnlyBelowTheFoldersABackupReads) {
    TestHome home;
    fs::create_directories(home / "Documents");
    fs::create_directories(home / "elsewhere");
    fs::create_directory_symlink(home / "elsewhere", home / "Documents/link");
    CraftedArchive archive(false, false);
    // Written on a German desktop: the source's own record names its folder.
    auto& docs = archive.Add(
        v::FileFolderNode::kTypeGuid, u"My Documents",
        archive.Frames(CraftedArchive::FilePayload(u"%USERPROFILE%\\Dokumente", "", true)), true);
    Guid docsGuid = docs.InstanceGuid();
    auto add = [&](const std::u16string& stored, const Guid* parent) {
        archive.Add(v::FileFolderNode::kTypeGuid, u"f",
                    archive.Frames(CraftedArchive::FilePayload(stored, "written")), false, parent);
    };
    add(u"%USERPROFILE%\\Dokumente\\brief.txt", &docsGuid);  // lands in ~/Documents
    add(u"%USERPROFILE%\\.bashrc", &docsGuid);               // not below its source
    add(u"\\tmp\\tindale-escape", &docsGuid);
    add(u"\\\\server\\share\\x", &docsGuid);
    add(u"%PATH%\\x", &docsGuid);
    add(u"%USERPROFILE%\\Dokumente\\..\\.profile", &docsGuid);
    add(u"%USERPROFILE%\\Dokumente\\a/../../.profile", &docsGuid);
    add(u"%USERPROFILE%\\Dokumente\\link\\planted.txt", &docsGuid);  // through a link
    Guid stranger = Guid::NewRandom();
    add(u"%USERPROFILE%\\Dokumente\\orphan.txt", &stranger);  // of no source in the archive
    add(u"%USERPROFILE%\\Documents\\rootless.txt", nullptr);
    archive.WriteTo(home / "evil.vqz");

    v::Outcome outcome = RestoreAll(home / "evil.vqz", u"");
    EXPECT_EQ(ReadFile(home / "Documents/brief.txt"), "written");
    EXPECT_EQ(outcome.LeftOut(), 9u);
    EXPECT_FALSE(fs::exists(home / ".bashrc"));
    EXPECT_FALSE(fs::exists("/tmp/tindale-escape"));
    EXPECT_FALSE(fs::exists(home / ".profile"));
    EXPECT_TRUE(fs::is_empty(home / "elsewhere"));
    EXPECT_FALSE(fs::exists(home / "Documents/orphan.txt"));
    EXPECT_FALSE(fs::exists(home / "Documents/rootless.txt"));
}

// A tiny frame that decodes to more than a piece (the format's pieces are 10240 bytes) is
// damage: otherwise a few hundred bytes of archive restore a gigabyte.
TEST(HostileArchive, AFrameThatDecodesToMoreThanAPieceIsDamaged) {
    TestHome home;
    std::vector<uint8_t> big(kPieceSize + 1, 'z');
    for (bool compress : {false, true}) {
        CraftedArchive archive(compress, false);
        std::vector<uint8_t> frame;
        ProcessPiece({compress, false, {}, nullptr}, big.data(), big.size(), frame);
        if (compress) {
            EXPECT_LT(frame.size(), 300u);
        }
        auto payload = CraftedArchive::FilePayload(u"%USERPROFILE%\\Documents\\big.bin", "");
        auto frames = archive.Frames(payload);
        frames.insert(frames.end(), frame.begin(), frame.end());
        archive.Add(v::FileFolderNode::kTypeGuid, u"big.bin", frames);
        archive.WriteTo(home / "big.vqz");
        EXPECT_EQ(Check(home / "big.vqz").verdict, ArchiveTestResult::Verdict::Damaged);
    }
}

// With the documents folder set to the home itself (as xdg-user-dirs does when ~/Documents
// is gone), an archive's items must not reach dot-files: a backup never stores those names.
TEST(HostileArchive, DocumentsAtTheHomeNeverReceiveDotFiles) {
    TestHome home;
    WriteFile(home / ".config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/\"\n");
    CraftedArchive archive(false, false);
    auto& docs = archive.Add(
        v::FileFolderNode::kTypeGuid, u"My Documents",
        archive.Frames(CraftedArchive::FilePayload(u"%USERPROFILE%\\Documents", "", true)), true);
    Guid parent = docs.InstanceGuid();
    for (std::u16string name : {u".bashrc", u".ssh\\authorized_keys", u"ok.txt"})
        archive.Add(v::FileFolderNode::kTypeGuid, name,
                    archive.Frames(CraftedArchive::FilePayload(u"%USERPROFILE%\\Documents\\" + name,
                                                               "planted")),
                    false, &parent);
    archive.WriteTo(home / "dots.vqz");
    v::Outcome outcome = RestoreAll(home / "dots.vqz", u"");
    EXPECT_EQ(outcome.LeftOut(), 2u);
    EXPECT_FALSE(fs::exists(home / ".bashrc"));
    EXPECT_FALSE(fs::exists(home / ".ssh"));
    EXPECT_EQ(ReadFile(home / "ok.txt"), "planted");  // where a backup could have read it
}

// A chain of containers tens of thousands deep (no folder tree nests so deep) is read up to
// the deepest a real tree can be and called damaged there, in time that grows with its depth
// (it once took minutes).
TEST(HostileArchive, AVeryDeepChainOfContainersIsListedInLinearTime) {
    TestHome home;
    CraftedArchive archive(false, false);
    constexpr int kDepth = 30000;
    Guid parent;
    for (int i = 0; i < kDepth; ++i) {
        auto& rec =
            archive.Add(v::FileFolderNode::kTypeGuid, u"d" + text::ToUtf16(std::to_string(i)), {},
                        true, i ? &parent : nullptr);
        parent = rec.InstanceGuid();
    }
    archive.WriteTo(home / "deep.vqz");
    RecordTree tree = RecordTree::Load(home / "deep.vqz");
    ASSERT_EQ(tree.entries.size(), kMaxNesting);
    EXPECT_TRUE(tree.tooDeep);
    std::string deepest = tree.entries.back()->Path();
    EXPECT_EQ(deepest.substr(0, 6), "d0/d1/");
    EXPECT_EQ(tree.Find(deepest), tree.entries.back().get());
}

// A folder swapped for a link after the restore has checked and opened it does not redirect
// the files written into it: they are made and named relative to the open folder.
TEST(HostileArchive, AFolderSwappedForALinkDuringARestoreLeadsNowhere) {
    TestHome home;
    std::string outside = home / "../outside-" + std::to_string(::getpid());
    fs::create_directories(outside);
    CraftedArchive archive(false, false);
    auto& docs = archive.Add(
        v::FileFolderNode::kTypeGuid, u"My Documents",
        archive.Frames(CraftedArchive::FilePayload(u"%USERPROFILE%\\Documents", "", true)), true);
    Guid root = docs.InstanceGuid();
    auto& sub = archive.Add(
        v::FileFolderNode::kTypeGuid, u"sub",
        archive.Frames(CraftedArchive::FilePayload(u"%USERPROFILE%\\Documents\\sub", "", true)),
        true, &root);
    Guid subGuid = sub.InstanceGuid();
    for (int i = 0; i < 300; ++i) {
        std::u16string name = u"f" + text::ToUtf16(std::to_string(i));
        archive.Add(v::FileFolderNode::kTypeGuid, name,
                    archive.Frames(CraftedArchive::FilePayload(
                        u"%USERPROFILE%\\Documents\\sub\\" + name, "content")),
                    false, &subGuid);
    }
    archive.WriteTo(home / "race.vqz");
    std::string subPath = home / "Documents/sub";
    v::SetFolderOpenedHookForTesting([&](const std::string& folder) {
        if (folder != subPath || fs::is_symlink(subPath)) return;
        fs::rename(subPath, home / "Documents/sub.real");
        fs::create_directory_symlink(outside, subPath);
    });
    v::Outcome outcome = RestoreAll(home / "race.vqz", u"");
    v::SetFolderOpenedHookForTesting({});
    EXPECT_TRUE(fs::is_empty(outside));
    EXPECT_EQ(std::distance(fs::directory_iterator(home / "Documents/sub.real"),
                            fs::directory_iterator()),
              300);
    fs::remove_all(outside);
}

// A chain of ten thousand nested folders (no real tree nests so deep): every job that walks
// the records ends in bounded time and memory, and calls what is below the limit damage.
TEST(HostileArchive, DeeplyNestedContainersAreBoundedWork) {
    TestHome home;
    CraftedArchive archive(false, false);
    tindale::Guid parent = archive.AddDocumentsRoot();
    std::u16string name(200, u'n');
    for (int depth = 0; depth < 10000; ++depth)
        parent = archive.Add(v::FileFolderNode::kTypeGuid, name, {}, true, &parent).InstanceGuid();
    archive.WriteTo(home / "nested.vqz");
    EXPECT_EQ(Check(home / "nested.vqz").verdict, ArchiveTestResult::Verdict::Damaged);
    size_t listed = 0;
    auto summary = RecordTree::Walk(
        home / "nested.vqz",
        [&](const v::NodeRecord&, uint64_t, const std::string&, uint64_t) { ++listed; });
    EXPECT_TRUE(summary.tooDeep);
    EXPECT_FALSE(summary.complete);
    EXPECT_LT(listed, 200u);  // 16 KiB of 200-letter names
    auto tree = RecordTree::Load(home / "nested.vqz");
    EXPECT_TRUE(tree.tooDeep);
    EXPECT_FALSE(tree.complete);
    ExtractRequest request;
    request.archivePath = tindale::text::ToUtf16(home / "nested.vqz");
    request.target = home / "out";
    v::NullReport report;
    auto outcome = ExtractWorker(request, report, {});
    ASSERT_FALSE(outcome.problems.empty());
    EXPECT_NE(outcome.problems.back().reason.find("nest deeper"), std::string::npos);
}

// A sealed header whose encrypt flag is cleared contradicts its records (sealed frames): it
// is damaged whatever the job, not a plain archive whose frames pass unchecked.
TEST(HostileArchive, ASealedHeaderClaimingNoEncryptionIsDamaged) {
    TestHome home;
    std::string bytes = ReadFile(std::string(TINDALE_TEST_DATA) + "/sealed.vqz");
    bytes[9] = 0;
    WriteFile(home / "s.vqz", bytes);
    auto result = Check(home / "s.vqz");
    EXPECT_EQ(result.verdict, ArchiveTestResult::Verdict::Damaged);
    EXPECT_EQ(result.damagedItem, "the header");
    ArchiveReader reader;
    EXPECT_EQ(reader.Open(home / "s.vqz"), ArchiveReader::OpenStatus::DamagedHeader);
}

// A file record that declares one size and carries more (a bomb: size 0, megabytes of data)
// is damaged: restore and extract write nothing of it.
TEST(HostileArchive, AFileRecordCarryingMoreThanItDeclaresIsDamaged) {
    TestHome home;
    CraftedArchive archive(true, false);
    tindale::Guid docs = archive.AddDocumentsRoot();
    auto payload = CraftedArchive::FilePayload(u"%USERPROFILE%\\Documents\\bomb.txt",
                                               std::string(3 << 20, 'z'));
    std::fill(payload.begin() + v::kFileSizeAt, payload.begin() + v::kFileSizeAt + 8, 0);
    archive.Add(v::FileFolderNode::kTypeGuid, u"bomb.txt", archive.Frames(payload), false, &docs);
    archive.WriteTo(home / "bomb.vqz");
    auto outcome = RestoreAll(home / "bomb.vqz", u"");
    EXPECT_FALSE(fs::exists(home / "Documents/bomb.txt"));
    ASSERT_FALSE(outcome.problems.empty());
    ExtractRequest request;
    request.archivePath = tindale::text::ToUtf16(home / "bomb.vqz");
    request.target = home / "out";
    v::NullReport report;
    ExtractWorker(request, report, {});
    EXPECT_FALSE(fs::exists(home / "out/My Documents/bomb.txt"));
}

// No writer makes an empty frame: a payload of a hundred thousand of them is damaged.
TEST(HostileArchive, EmptyFramesAreDamaged) {
    TestHome home;
    CraftedArchive archive(false, false);
    archive.Add(v::FileFolderNode::kTypeGuid, u"empty", std::vector<uint8_t>(400000, 0));
    archive.WriteTo(home / "e.vqz");
    EXPECT_EQ(Check(home / "e.vqz").verdict, ArchiveTestResult::Verdict::Damaged);
}
