#include "base/WriteQueue.h"

#include <cerrno>
#include <utility>

namespace tindale::durable {

namespace {

// Enough to keep the writer busy while the next files are decoded, little next to the
// memory a restore may use.
constexpr size_t kQueueBytes = 4u << 20;

}  // namespace

WriteQueue::WriteQueue(PublishBatch& batch, std::string tag)
    : batch_(batch), tag_(std::move(tag)), thread_([this] { Run(); }) {}

WriteQueue::~WriteQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void WriteQueue::Write(std::string target, std::vector<uint8_t> content) {
    std::unique_lock lock(mutex_);
    // One file larger than the bound still goes, alone.
    changed_.wait(lock,
                  [&] { return jobs_.empty() || queuedBytes_ + content.size() <= kQueueBytes; });
    queuedBytes_ += content.size();
    jobs_.push_back({std::move(target), std::move(content)});
    changed_.notify_all();
}

void WriteQueue::Drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return jobs_.empty() && !busy_; });
}

std::vector<PublishBatch::Failure> WriteQueue::TakeFailures() {
    std::lock_guard lock(mutex_);
    return std::exchange(failures_, {});
}

void WriteQueue::Run() {
    PublishScope publishing(batch_);
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // stopping, and everything queued is written
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        lock.unlock();
        int error = WriteOne(job);
        lock.lock();
        busy_ = false;
        queuedBytes_ -= job.content.size();
        if (error != 0) failures_.push_back({std::move(job.target), error});
        changed_.notify_all();
    }
}

int WriteQueue::WriteOne(const Job& job) const {
    TempFile file(job.target, tag_, TempFile::Naming::Unnamed);
    if (!file.IsOpen()) return file.Error();
    if (!file.Write(job.content.data(), job.content.size())) return file.Error();
    file.TakeModeOfTarget(false);
    if (!file.Publish()) return file.Error() != 0 ? file.Error() : EIO;
    return 0;
}

}  // namespace tindale::durable
