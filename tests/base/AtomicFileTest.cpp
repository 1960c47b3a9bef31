#include "base/AtomicFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/TestHome.h"

namespace fs = std::filesystem;
using namespace tindale;

namespace {

// Writes `content` through a temporary beside `target` and publishes it.
bool WriteThrough(const std::string& target, const std::string& content) {
    durable::TempFile file(target, "test");
    if (!file.IsOpen()) return false;
    file.TakeModeOfTarget(false);
    file.Write(reinterpret_cast<const uint8_t*>(content.data()), content.size());
    return file.Publish();
}

size_t FilesIn(const std::string& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
}

}  // namespace

TEST(AtomicFile, WithoutBatchTheFileIsInPlaceAtOnceAndReplacesTheOldOne) {
    TestHome home;
    std::string target = home / "note.txt";
    WriteFile(target, "old");
    ::chmod(target.c_str(), 0640);
    ASSERT_TRUE(WriteThrough(target, "new"));
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(FilesIn(home.Path()), 1u);  // no temporary left beside it
}

TEST(AtomicFile, BatchedFilesAppearOnlyWhenFlushedAndADroppedBatchLeavesNothing) {
    TestHome home;
    {
        durable::PublishBatch batch;
        durable::PublishScope scope(batch);
        ASSERT_TRUE(WriteThrough(home / "a", "1"));
        EXPECT_FALSE(fs::exists(home / "a"));
        EXPECT_FALSE(batch.Empty());
        EXPECT_TRUE(batch.Flush());
        EXPECT_EQ(ReadFile(home / "a"), "1");
        ASSERT_TRUE(WriteThrough(home / "b", "2"));
    }
    EXPECT_FALSE(fs::exists(home / "b"));
    EXPECT_EQ(FilesIn(home.Path()), 1u);
}

// Past its size limit a batch publishes on a thread of its own while more files come in;
// every file arrives, in-flight temporaries are not taken for a dead run's, and a rename
// that fails there is still reported by the final flush.
TEST(AtomicFile, LargeBatchesPublishInTheBackgroundWithoutLosingAFileOrAFailure) {
    TestHome home;
    fs::create_directories(home / "many");
    fs::create_directories(home / "gone");
    constexpr int kFiles = 2500;
    durable::PublishBatch batch;
    {
        durable::PublishScope scope(batch);
        ASSERT_TRUE(WriteThrough(home / "gone/lost", "x"));
        fs::remove_all(home / "gone");  // the rename of this one must fail
        for (int i = 0; i < kFiles; ++i)
            ASSERT_TRUE(WriteThrough(home / ("many/" + std::to_string(i)), std::to_string(i)));
        durable::TempFile::RemoveStaleBeside(home / "many/x", "test");
        EXPECT_FALSE(batch.Flush());
    }
    auto failures = batch.TakeFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].target, home / "gone/lost");
    EXPECT_EQ(FilesIn(home / "many"), static_cast<size_t>(kFiles));
    EXPECT_EQ(ReadFile(home / "many/1234"), "1234");
    EXPECT_TRUE(batch.Empty());
}

TEST(AtomicFile, ReplaceFileContentsKeepsTheOldFileWhenItCannotWrite) {
    TestHome home;
    std::string target = home / "map";
    EXPECT_EQ(durable::ReplaceFileContents(target, "one"), 0);
    EXPECT_EQ(ReadFile(target), "one");
    EXPECT_NE(durable::ReplaceFileContents(home / "missing/map", "two"), 0);
    EXPECT_EQ(ReadFile(target), "one");
}

namespace {

bool WriteUnnamed(const std::string& target, const std::string& content) {
    durable::TempFile file(target, "test", durable::TempFile::Naming::Unnamed);
    if (!file.Unnamed()) return false;
    file.Write(reinterpret_cast<const uint8_t*>(content.data()), content.size());
    file.TakeModeOfTarget(false);
    return file.Publish();
}

bool UnnamedFilesWorkIn(const std::string& folder) {
    durable::TempFile probe(folder + "/probe", "test", durable::TempFile::Naming::Unnamed);
    return probe.Unnamed();
}

}  // namespace

// An unnamed temporary shows nothing in the folder until its batch is flushed; it then
// replaces the old file keeping its mode, or appears with a new file's mode. A dropped batch
// and a failed publication leave nothing behind.
TEST(AtomicFile, UnnamedTemporariesAppearOnlyWhenPublishedAndLeaveNothingOtherwise) {
    TestHome home;
    if (!UnnamedFilesWorkIn(home.Path())) GTEST_SKIP() << "no unnamed files on this file system";
    std::string old = home / "old.txt";
    WriteFile(old, "old");
    ::chmod(old.c_str(), 0640);
    {
        durable::PublishBatch batch;
        durable::PublishScope scope(batch);
        ASSERT_TRUE(WriteUnnamed(old, "new"));
        ASSERT_TRUE(WriteUnnamed(home / "fresh.txt", "fresh"));
        EXPECT_EQ(FilesIn(home.Path()), 1u);
        EXPECT_EQ(ReadFile(old), "old");
        ASSERT_TRUE(batch.Flush());
        EXPECT_EQ(ReadFile(old), "new");
        EXPECT_EQ(fs::status(old).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        EXPECT_EQ(ReadFile(home / "fresh.txt"), "fresh");
        ASSERT_TRUE(WriteUnnamed(home / "dropped.txt", "x"));
    }
    EXPECT_FALSE(fs::exists(home / "dropped.txt"));
    fs::create_directories(home / "folder");
    EXPECT_FALSE(WriteUnnamed(home / "folder", "not over a folder"));  // published at once
    WriteFile(home / "now.txt", "before");
    ::chmod((home / "now.txt").c_str(), 0640);
    ASSERT_TRUE(WriteUnnamed(home / "now.txt", "at once"));
    EXPECT_EQ(ReadFile(home / "now.txt"), "at once");
    EXPECT_EQ(fs::status(home / "now.txt").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(FilesIn(home.Path()), 4u);  // old, fresh, folder, now: no temporary anywhere
}

// A batch holds a descriptor per unnamed file: past its share of the open-file limit it
// publishes in the background, and every file still arrives.
TEST(AtomicFile, ManyUnnamedFilesAllArrive) {
    TestHome home;
    if (!UnnamedFilesWorkIn(home.Path())) GTEST_SKIP() << "no unnamed files on this file system";
    constexpr int kFiles = 2500;
    durable::PublishBatch batch;
    {
        durable::PublishScope scope(batch);
        for (int i = 0; i < kFiles; ++i)
            ASSERT_TRUE(WriteUnnamed(home / std::to_string(i), std::to_string(i)));
    }
    EXPECT_TRUE(batch.Flush());
    EXPECT_EQ(FilesIn(home.Path()), static_cast<size_t>(kFiles));
    EXPECT_EQ(ReadFile(home / "2499"), "2499");
}
