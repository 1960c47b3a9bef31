#include "archive/PiecePipeline.h"

#include <algorithm>

#include "archive/Seal.h"

namespace {
// What the pieces waiting or being processed may hold, whatever their size: eight per thread
// of the original 10 KiB ones, fewer of a sealed archive's larger ones.
constexpr size_t kInFlightBytes = 4u << 20;
}  // namespace

PiecePipeline::PiecePipeline(bool compress, bool encrypt, std::u16string password, unsigned threads,
                             FrameWriter writer, const SealKey* seal, bool quickLzma)
    : password_(std::move(password)), writer_(std::move(writer)) {
    flags_ = {compress, encrypt, password_, seal, quickLzma};
    if (threads == 0) threads = DefaultThreads();
    // Plain pieces cost nothing to process: no pool for them.
    if (!compress && !encrypt) threads = 1;
    maxInFlight_ = std::clamp<size_t>(kInFlightBytes / PieceSize(), threads * 2, threads * 8);
    if (threads > 1)
        for (unsigned i = 0; i < threads; ++i) workers_.emplace_back([this] { WorkerLoop(); });
}

PiecePipeline::~PiecePipeline() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workAvailable_.notify_all();
    for (auto& t : workers_) t.join();
}

size_t PiecePipeline::PieceSize() const {
    return flags_.encrypt && flags_.seal ? flags_.seal->PieceSize() : kPieceSize;
}

unsigned PiecePipeline::DefaultThreads() {
    unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : std::min(n, 8u);
}

void PiecePipeline::SubmitPiece(const uint8_t* data, size_t length, const PiecePlace& place) {
    if (workers_.empty()) {
        std::vector<uint8_t> frame;
        ProcessPiece(flags_, data, length, frame, place);
        writer_(frame);
        return;
    }
    std::unique_lock lock(mutex_);
    DrainReady(lock, false, maxInFlight_ - 1);
    Job& job = jobs_.emplace_back();
    job.input.assign(data, data + length);
    job.place = place;
    workAvailable_.notify_one();
}

void PiecePipeline::SubmitAction(std::function<void()> action) {
    if (workers_.empty()) {
        action();
        return;
    }
    std::unique_lock lock(mutex_);
    Job& job = jobs_.emplace_back();
    job.action = std::move(action);
    job.claimed = job.done = true;
    DrainReady(lock, false, maxInFlight_);
}

void PiecePipeline::Flush() {
    if (workers_.empty()) return;
    std::unique_lock lock(mutex_);
    DrainReady(lock, true, 0);
}

// Writes finished jobs from the front; waits while more than `keepAtMost` remain (or, with
// waitForAll, until none remain). Writing happens with the lock released.
void PiecePipeline::DrainReady(std::unique_lock<std::mutex>& lock, bool waitForAll,
                               size_t keepAtMost) {
    for (;;) {
        while (!jobs_.empty() && jobs_.front().done) {
            Job job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            if (job.action)
                job.action();
            else
                writer_(job.frame);
            lock.lock();
        }
        bool mustWait = waitForAll ? !jobs_.empty() : jobs_.size() > keepAtMost;
        if (!mustWait) return;
        jobDone_.wait(lock, [this] { return jobs_.front().done; });
    }
}

void PiecePipeline::WorkerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        Job* job = nullptr;
        workAvailable_.wait(lock, [&] {
            for (auto& j : jobs_)
                if (!j.claimed) {
                    job = &j;
                    return true;
                }
            return stopping_;
        });
        if (!job) return;
        job->claimed = true;
        lock.unlock();
        std::vector<uint8_t> frame;
        ProcessPiece(flags_, job->input.data(), job->input.size(), frame, job->place);
        lock.lock();
        job->frame = std::move(frame);
        job->input.clear();
        job->done = true;
        jobDone_.notify_all();
    }
}
