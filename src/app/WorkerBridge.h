#pragma once
// The Qt side of the worker protocol. An engine runs on a std::jthread and reports through a
// WorkerBridge: Progress is posted (queued), ProgressSent waits until the page has handled it
// (blocking queued). `finished` is posted once the engine has returned, so the page can read
// the job's result. The main thread never blocks on a worker: WaitPumping keeps the event
// loop turning while it waits, so a worker waiting on a sent report always gets its answer.
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

#include "model/Worker.h"

class WorkerBridge : public QObject, public v::WorkerReport {
    Q_OBJECT
  public:
    void Progress(uint64_t position, uint64_t range) override { emit progress(position, range); }
    void ProgressSent(uint64_t position, uint64_t range) override {
        emit progressSent(position, range);
    }
    void Done() override {}
    // Kept, not signalled: an engine names every message it passes, far more often than a
    // page can show; the page asks for the latest when it redraws.
    void Activity(const char* what) override;
    void ItemBytes(uint64_t done, uint64_t total) override;
    struct Now {
        QString activity;
        uint64_t itemDone = 0, itemTotal = 0;
        bool largeItem = false;
    };
    Now Latest() const;

  private:
    mutable std::mutex mutex_;
    Now now_;

  signals:
    void progress(qulonglong position, qulonglong range);
    void progressSent(qulonglong position, qulonglong range);
    void finished();
};

class WorkerRunner {
  public:
    using Job = std::function<void(v::WorkerReport&, std::stop_token)>;

    ~WorkerRunner();
    // Starts `job` on a new thread, reporting through `bridge` (connect it first).
    void Start(std::shared_ptr<WorkerBridge> bridge, Job job);
    void RequestStop();
    bool Running() const { return running_; }
    void WaitPumping();

  private:
    std::jthread thread_;
    std::atomic<bool> running_{false};
};
