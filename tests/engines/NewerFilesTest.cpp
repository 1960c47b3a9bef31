// A restore never replaces work done since the backup without a word.
#include <gtest/gtest.h>

#include "backup/BackupEngine.h"
#include "base/Text.h"
#include "model/FileNodes.h"
#include "model/Worker.h"
#include "restore/RestoreEngine.h"
#include "support/TestHome.h"

using namespace tindale;

namespace {

v::Outcome Restore(const std::string& archive, bool keepNewer, v::RestorePlan* plan = nullptr) {
    RestoreRequest request;
    request.archivePath = text::ToUtf16(archive);
    request.everything = true;
    request.keepNewer = keepNewer;
    request.plan = plan;
    v::NullReport report;
    return RestoreWorker(request, report, {});
}

std::vector<std::string> Notes(const v::Outcome& outcome) {
    std::vector<std::string> notes;
    for (const auto& p : outcome.problems) notes.push_back(p.item + ": " + p.reason);
    return notes;
}

}  // namespace

TEST(NewerFiles, ChangedFilesAreNamedAndKeptWhenAskedSameOnesAreLeftAlone) {
    TestHome home;
    for (const char* f : {"edited.txt", "same.txt", "older.txt"})
        WriteFile(home / (std::string("Documents/") + f), std::string("archived ") + f);
    v::MyDocsNode docs;
    BackupRequest backup;
    backup.archivePath = text::ToUtf16(home / "docs.vqz");
    backup.sources = {&docs};
    v::NullReport report;
    auto saved = BackupWorker(backup, report, {});
    ASSERT_TRUE(saved.Clean());
    EXPECT_EQ(saved.counts.files, 3u);
    WriteFile(home / "Documents/edited.txt", "work done since");
    WriteFile(home / "Documents/older.txt", "an older copy");
    MakeOld(home / "Documents/older.txt");

    v::RestorePlan plan;
    Restore(home / "docs.vqz", false, &plan);
    EXPECT_EQ(plan.replaced, (std::vector<std::string>{home / "Documents/edited.txt",
                                                       home / "Documents/older.txt"}));
    EXPECT_EQ(plan.newer, (std::vector<std::string>{home / "Documents/edited.txt"}));
    EXPECT_EQ(ReadFile(home / "Documents/edited.txt"), "work done since");  // a plan writes nothing

    auto kept = Restore(home / "docs.vqz", true);
    EXPECT_EQ(
        Notes(kept),
        (std::vector<std::string>{home / "Documents/edited.txt: kept: it changed since the backup "
                                         "(the archived copy is older)"}));
    EXPECT_EQ(ReadFile(home / "Documents/edited.txt"), "work done since");
    EXPECT_EQ(ReadFile(home / "Documents/older.txt"), "archived older.txt");

    auto replaced = Restore(home / "docs.vqz", false);
    EXPECT_EQ(Notes(replaced),
              (std::vector<std::string>{home / "Documents/edited.txt: it had changed since the "
                                               "backup; the archived copy replaced it"}));
    EXPECT_EQ(ReadFile(home / "Documents/edited.txt"), "archived edited.txt");
    EXPECT_EQ(replaced.counts.files, 1u);       // edited.txt
    EXPECT_EQ(replaced.filesAlreadyThere, 2u);  // same.txt, and older.txt restored before
    // Now every file holds its archived bytes: a restore again says nothing and writes nothing.
    auto again = Restore(home / "docs.vqz", false);
    EXPECT_TRUE(again.Clean());
    EXPECT_EQ(again.counts.files, 0u);
    EXPECT_EQ(again.filesAlreadyThere, 3u);
}
