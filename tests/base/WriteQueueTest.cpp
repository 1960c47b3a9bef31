#include "base/WriteQueue.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "support/TestHome.h"

namespace fs = std::filesystem;
using namespace tindale;

namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

}  // namespace

// Files are written in the order they were queued (a later copy of a target wins), through
// the batch, and one that cannot be written is named without stopping the rest.
TEST(WriteQueue, WritesInOrderThroughTheBatchAndNamesWhatItCouldNotWrite) {
    TestHome home;
    durable::PublishBatch batch;
    {
        durable::WriteQueue queue(batch, "test");
        queue.Write(home / "same", Bytes("first"));
        queue.Write(home / "missing/folder/file", Bytes("lost"));
        for (int i = 0; i < 200; ++i)
            queue.Write(home / std::to_string(i), Bytes(std::string(i * 997, 'a' + i % 26)));
        queue.Write(home / "same", Bytes("second"));
        queue.Drain();
        auto failures = queue.TakeFailures();
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].target, home / "missing/folder/file");
        EXPECT_EQ(failures[0].error, ENOENT);
    }
    ASSERT_TRUE(batch.Flush());
    EXPECT_EQ(ReadFile(home / "same"), "second");
    EXPECT_EQ(ReadFile(home / "199"), std::string(199 * 997, 'a' + 199 % 26));
    EXPECT_EQ(ReadFile(home / "0"), "");
    size_t files = static_cast<size_t>(std::distance(fs::directory_iterator(home.Path()), {}));
    EXPECT_EQ(files, 201u);  // no temporary left behind
}

// Destroying the queue finishes what it holds: nothing queued is silently dropped.
TEST(WriteQueue, EndingTheQueueWritesWhatIsStillQueued) {
    TestHome home;
    durable::PublishBatch batch;
    {
        durable::WriteQueue queue(batch, "test");
        for (int i = 0; i < 50; ++i)  // more than the queue holds at once
            queue.Write(home / std::to_string(i), std::vector<uint8_t>(200000, 'x'));
    }
    ASSERT_TRUE(batch.Flush());
    EXPECT_EQ(fs::file_size(home / "49"), 200000u);
}

// A large file goes in parts: its target keeps what it held until the last part is written,
// an abandoned file leaves it untouched, and a file that cannot be opened is named once while
// its later parts are dropped.
TEST(WriteQueue, FileInPartsLandsWholeOrNotAtAll) {
    using Part = durable::WriteQueue::Part;
    TestHome home;
    WriteFile(home / "kept", "old");
    WriteFile(home / "replaced", "old");
    durable::PublishBatch batch;
    {
        durable::WriteQueue queue(batch, "test");
        queue.Write(home / "replaced", Bytes("one "), Part::First);
        queue.Write(home / "replaced", Bytes("two "), Part::Middle);
        queue.Drain();
        EXPECT_EQ(ReadFile(home / "replaced"), "old");
        queue.Write(home / "replaced", Bytes("three"), Part::Last);

        queue.Write(home / "kept", Bytes("partial"), Part::First);
        queue.Write(home / "kept", {}, Part::Abandon);

        queue.Write(home / "no/such/folder", Bytes("a"), Part::First);
        queue.Write(home / "no/such/folder", Bytes("b"), Part::Middle);
        queue.Write(home / "no/such/folder", Bytes("c"), Part::Last);
        queue.Write(home / "after", Bytes("whole"));
        queue.Drain();
        auto failures = queue.TakeFailures();
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].target, home / "no/such/folder");
    }
    ASSERT_TRUE(batch.Flush());
    EXPECT_EQ(ReadFile(home / "replaced"), "one two three");
    EXPECT_EQ(ReadFile(home / "kept"), "old");
    EXPECT_EQ(ReadFile(home / "after"), "whole");
    size_t files = static_cast<size_t>(std::distance(fs::directory_iterator(home.Path()), {}));
    EXPECT_EQ(files, 3u);
}

// A queue ended in the middle of a file (a job that stopped) never publishes it.
TEST(WriteQueue, UnfinishedFileIsNotPublished) {
    TestHome home;
    durable::PublishBatch batch;
    {
        durable::WriteQueue queue(batch, "test");
        queue.Write(home / "cut", Bytes("begun"), durable::WriteQueue::Part::First);
    }
    ASSERT_TRUE(batch.Flush());
    EXPECT_FALSE(fs::exists(home / "cut"));
    EXPECT_TRUE(fs::is_empty(home.Path()));
}
