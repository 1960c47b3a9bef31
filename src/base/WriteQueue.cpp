#include "base/WriteQueue.h"

#include <cerrno>
#include <utility>

namespace tindale::durable {

namespace {

// Enough to keep the writer busy while the next files are decoded, little next to the
// memory a restore may use.
constexpr size_t kQueueBytes = 4u << 20;

}  // namespace

WriteQueue::WriteQueue(PublishBatch& batch, std::string tag, std::stop_token stop)
    : batch_(batch), tag_(std::move(tag)), stop_(std::move(stop)), thread_([this] { Run(); }) {}

WriteQueue::~WriteQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    thread_.join();
}

void WriteQueue::Write(Place target, std::vector<uint8_t> content, Part part, int mode) {
    std::unique_lock lock(mutex_);
    // One file larger than the bound still goes, alone. A full queue is waited on until the
    // writer has emptied half of it: each side then works in bursts instead of waking the
    // other for every file, which on two cores costs more than the files.
    if (!jobs_.empty() && queuedBytes_ + content.size() > kQueueBytes) {
        ++roomWaiters_;
        room_.wait(lock, [&] { return jobs_.empty() || queuedBytes_ <= kQueueBytes / 2; });
        --roomWaiters_;
    }
    bool writerIdle = jobs_.empty();  // the writer waits only on an empty queue
    queuedBytes_ += content.size();
    jobs_.push_back({std::move(target), std::move(content), part, mode});
    if (writerIdle) work_.notify_one();
}

void WriteQueue::Drain() {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return jobs_.empty() && !busy_; });
}

std::vector<PublishBatch::Failure> WriteQueue::TakeFailures() {
    std::lock_guard lock(mutex_);
    return std::exchange(failures_, {});
}

void WriteQueue::Run() {
    PublishScope publishing(batch_);
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // stopping, and everything queued is written
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        busy_ = true;
        lock.unlock();
        int error = WriteOne(job);
        lock.lock();
        busy_ = false;
        queuedBytes_ -= job.content.size();
        if (error != 0) failures_.push_back({job.target.Path(), error});
        if (jobs_.empty() || (roomWaiters_ > 0 && queuedBytes_ <= kQueueBytes / 2))
            room_.notify_all();
    }
}

// Returns the errno that ended the job's file, or 0: once for each file that fails, whose
// later parts are then dropped.
int WriteQueue::WriteOne(const Job& job) {
    auto close = [this](int error) {
        open_.reset();  // an unnamed temporary that was not published leaves nothing
        return error;
    };
    if (job.part == Part::Whole || job.part == Part::First) {
        open_.emplace(job.target, tag_, TempFile::Naming::Unnamed);
        if (!open_->IsOpen()) return close(open_->Error());
    }
    if (job.part == Part::Abandon || !open_) return close(0);
    if (!open_->Write(job.content.data(), job.content.size())) return close(open_->Error());
    if (job.part == Part::Middle || job.part == Part::First) return 0;
    if (job.mode == kTargetMode)
        open_->TakeModeOfTarget(false);
    else
        open_->SetPermissions(static_cast<unsigned>(job.mode));
    if (!open_->Publish()) return close(open_->Error() != 0 ? open_->Error() : EIO);
    return close(0);
}

}  // namespace tindale::durable
