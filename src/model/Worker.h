#pragma once
// How an engine reports to whoever runs it (a wizard page or the CLI). Position and range
// follow the worker protocol: 0 means "leave unchanged". Every engine calls Done once.
#include <cstdint>

namespace v {

class WorkerReport {
  public:
    virtual ~WorkerReport() = default;
    // A report the protocol posts: the engine does not wait for it to be shown.
    virtual void Progress(uint64_t position, uint64_t range) = 0;
    // A report the protocol sends: the engine waits until the receiver has handled it.
    virtual void ProgressSent(uint64_t position, uint64_t range) { Progress(position, range); }
    virtual void Done() = 0;
    // Free text about what is being done now (a file name), for the CLI's progress line.
    virtual void Activity(const char*) {}
    // How far one large item has got, in bytes of its data; total is 0 when not known, and
    // (0, 0) says the large item is done.
    virtual void ItemBytes(uint64_t /*done*/, uint64_t /*total*/) {}
};

// Discards every report.
class NullReport : public WorkerReport {
  public:
    void Progress(uint64_t, uint64_t) override {}
    void Done() override {}
};

}  // namespace v
