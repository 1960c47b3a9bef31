// The outline a browser shows of an archive: its folders at once, each folder's items read
// when asked for, and the same records and paths as the full tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "backup/BackupEngine.h"
#include "backup/SourceTree.h"
#include "base/Text.h"
#include "demo/DemoProfile.h"
#include "restore/ArchiveOutline.h"
#include "restore/RecordTree.h"
#include "support/TestHome.h"

using namespace tindale;

namespace {

std::string DemoArchive(const TestHome& home) {
    CreateDemoProfile();
    // A subject with a slash: its path reads like a folder's that does not exist.
    WriteFile(home / "Maildir/cur/9.slash.host:2,S", "Subject: 1/2 done\n\nhalf\n");
    SourceTree tree;
    BackupRequest request;
    request.archivePath = text::ToUtf16(home / "a.vqz");
    request.sources = tree.Selected();
    request.compress = true;
    v::NullReport report;
    EXPECT_TRUE(BackupWorker(request, report, {}).Clean());
    return home / "a.vqz";
}

}  // namespace

TEST(ArchiveOutline, HoldsWhatTheFullTreeHoldsReadingItemsOnlyWhenAsked) {
    TestHome home;
    std::string archive = DemoArchive(home);
    RecordTree tree = RecordTree::Load(archive);
    ArchiveOutline outline = ArchiveOutline::Load(archive);
    ASSERT_TRUE(outline.Readable());
    EXPECT_TRUE(outline.Complete());
    EXPECT_EQ(outline.Records(), tree.entries.size());

    // Every record of the tree is in the outline, as a folder or as an item of its folder,
    // with the same bytes and path.
    // (Paths repeat: two messages of one subject in one folder.)
    using Seen = std::vector<std::pair<std::string, v::RecordBytes>>;
    Seen fromOutline, fromTree;
    auto take = [&](int folder, const std::vector<uint64_t>& offsets) {
        for (const auto& e : outline.ReadItems(folder, offsets))
            fromOutline.push_back({e.path, e.record.bytes});
    };
    take(-1, outline.Top().items);
    for (size_t i = 0; i < outline.Folders().size(); ++i) {
        const auto& folder = outline.Folders()[i];
        fromOutline.push_back({folder.entry.path, folder.entry.record.bytes});
        take(static_cast<int>(i), folder.items);
        if (folder.parent >= 0) {
            const auto& above = outline.Folders()[folder.parent].entry.path;
            EXPECT_EQ(folder.entry.path.rfind(above + "/", 0), 0u);
        }
    }
    for (const auto& e : tree.entries) fromTree.push_back({e->Path(), e->record.bytes});
    std::sort(fromOutline.begin(), fromOutline.end());
    std::sort(fromTree.begin(), fromTree.end());
    EXPECT_TRUE(fromOutline == fromTree);
}

TEST(ArchiveOutline, FindsFoldersAndItemsByPathEvenWithSlashesInNames) {
    TestHome home;
    ArchiveOutline outline = ArchiveOutline::Load(DemoArchive(home));
    auto folder = outline.Find("Message Store/Main Identity/Inbox");
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->record.IsContainer());
    auto slashed = outline.Find("Message Store/Main Identity/Inbox/1/2 done");
    ASSERT_TRUE(slashed);
    EXPECT_EQ(slashed->record.DisplayName(), u"1/2 done");
    EXPECT_FALSE(outline.Find("Message Store/Main Identity/Inbox/no such message"));
    EXPECT_FALSE(outline.FolderAt("Message Store/Main Identity/Inbox/1"));
}

TEST(ArchiveOutline, ACutArchiveIsOutlinedUpToItsCut) {
    TestHome home;
    std::string bytes = ReadFile(DemoArchive(home));
    WriteFile(home / "cut.vqz", bytes.substr(0, bytes.size() * 2 / 3));
    ArchiveOutline outline = ArchiveOutline::Load(home / "cut.vqz");
    EXPECT_TRUE(outline.Readable());
    EXPECT_FALSE(outline.Complete());
    EXPECT_GT(outline.Records(), 0u);
    WriteFile(home / "none.vqz", "not an archive at all");
    EXPECT_FALSE(ArchiveOutline::Load(home / "none.vqz").Readable());
}
