#pragma once
// Turns payload pieces into frames on a small pool of threads while keeping their order:
// frames and ordered actions leave the pipeline exactly in the order they were submitted,
// so the archive is byte-identical whatever the number of threads. Memory stays bounded
// by the number of pieces in flight.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/PieceCodec.h"

class PiecePipeline {
  public:
    using FrameWriter = std::function<void(const std::vector<uint8_t>& frame)>;

    // threads == 0 picks the number of cores; 1 processes every piece on the caller's thread.
    // With `seal`, encrypted pieces are sealed under that key (it must outlive the pipeline);
    // `quickLzma` picks LZMA's faster setting.
    PiecePipeline(bool compress, bool encrypt, std::u16string password, unsigned threads,
                  FrameWriter writer, const SealKey* seal = nullptr, bool quickLzma = false);
    ~PiecePipeline();
    PiecePipeline(const PiecePipeline&) = delete;
    PiecePipeline& operator=(const PiecePipeline&) = delete;

    void SubmitPiece(const uint8_t* data, size_t length, const PiecePlace& place = {});
    // Runs `action` on the caller's thread once everything submitted before it is written.
    void SubmitAction(std::function<void()> action);
    // Writes everything still in flight.
    void Flush();

    static unsigned DefaultThreads();
    // The size payloads are cut into: a sealed archive's scheme may take larger pieces.
    size_t PieceSize() const;

  private:
    struct Job {
        std::vector<uint8_t> input;
        PiecePlace place;
        std::vector<uint8_t> frame;
        std::function<void()> action;
        bool claimed = false;
        bool done = false;
    };

    void WorkerLoop();
    void DrainReady(std::unique_lock<std::mutex>& lock, bool waitForAll, size_t keepAtMost);

    std::u16string password_;
    CodecFlags flags_;
    FrameWriter writer_;
    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable jobDone_;
    std::deque<Job> jobs_;  // pointers stay valid: only the front is popped, only the back grows
    size_t maxInFlight_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};
