#include "app/WorkerBridge.h"

#include <QCoreApplication>

void WorkerBridge::Activity(const char* what) {
    std::lock_guard lock(mutex_);
    now_.activity = QString::fromUtf8(what);
}

void WorkerBridge::ItemBytes(uint64_t done, uint64_t total) {
    std::lock_guard lock(mutex_);
    now_.itemDone = done;
    now_.itemTotal = total;
    now_.largeItem = done != 0 || total != 0;
}

WorkerBridge::Now WorkerBridge::Latest() const {
    std::lock_guard lock(mutex_);
    return now_;
}

WorkerRunner::~WorkerRunner() {
    RequestStop();
    WaitPumping();
}

void WorkerRunner::Start(std::shared_ptr<WorkerBridge> bridge, Job job) {
    WaitPumping();  // at most one worker at a time
    running_ = true;
    thread_ = std::jthread([this, bridge, job = std::move(job)](std::stop_token stop) {
        job(*bridge, stop);
        running_ = false;
        emit bridge->finished();
    });
}

void WorkerRunner::RequestStop() {
    if (thread_.joinable()) thread_.request_stop();
}

void WorkerRunner::WaitPumping() {
    while (running_) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (thread_.joinable()) thread_.join();
}
