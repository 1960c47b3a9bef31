#pragma once
// Files written on a thread of their own, in the order they were queued.
//
// Creating a file costs the kernel far more than writing a few kilobytes into it, and a
// restore creates thousands; writing a large file costs it more than decoding it. Handing
// files to this thread lets that work overlap with reading and decoding the archive. Each
// file is written beside its target and published through the job's batch, exactly as the
// job would have done itself.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "base/AtomicFile.h"

namespace tindale::durable {

class WriteQueue {
  public:
    // Files larger than this are queued in parts of this size as they are decoded.
    static constexpr size_t kLargestQueued = 256u << 10;

    // A file too large to hold whole is queued in parts: the first, any in between, then
    // the last, which publishes it, or Abandon, which leaves its target as it was.
    enum class Part { Whole, First, Middle, Last, Abandon };

    // `stop` is the job's: a file being queued in parts when it is requested is abandoned.
    WriteQueue(PublishBatch& batch, std::string tag, std::stop_token stop = {});
    ~WriteQueue();  // writes what is still queued
    WriteQueue(const WriteQueue&) = delete;
    WriteQueue& operator=(const WriteQueue&) = delete;

    // Queues `content` for `target`; waits while the queue holds too much already. The file
    // gets permission bits `mode` (see TempFile::SetPermissions), or its target's when
    // `mode` is kTargetMode.
    static constexpr int kTargetMode = -1;
    void Write(Place target, std::vector<uint8_t> content, Part part = Part::Whole,
               int mode = kTargetMode);
    // Returns once every file queued so far is written and handed to the batch.
    void Drain();
    bool StopRequested() const { return stop_.stop_requested(); }
    // The files that could not be written, with the errno of each.
    std::vector<PublishBatch::Failure> TakeFailures();

  private:
    struct Job {
        Place target;
        std::vector<uint8_t> content;
        Part part;
        int mode;
    };
    void Run();
    int WriteOne(const Job& job);

    PublishBatch& batch_;
    const std::string tag_;
    const std::stop_token stop_;
    std::mutex mutex_;
    std::condition_variable work_;  // the writer waits for jobs
    std::condition_variable room_;  // callers wait for room, or for the queue to empty
    std::deque<Job> jobs_;
    size_t queuedBytes_ = 0;
    bool busy_ = false;  // a job has been taken and is being written
    int roomWaiters_ = 0;
    bool stopping_ = false;
    std::vector<PublishBatch::Failure> failures_;
    std::optional<TempFile> open_;  // the file being written, on the writer's thread
    std::thread thread_;
};

// Installs a queue for this thread: file restores made meanwhile may go through it.
using WriteScope = ThreadScope<WriteQueue>;

// The queue installed on this thread, or null.
inline WriteQueue* CurrentWriteQueue() {
    return WriteScope::Current();
}

}  // namespace tindale::durable
