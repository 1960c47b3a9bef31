#pragma once
#include <chrono>
#include <cstdint>
#include <string>

#include "model/Worker.h"

// Shows a progress bar with percentage, rate and time left on stderr when it is a terminal;
// says nothing otherwise, so that piped output holds results only.
class TerminalReport : public v::WorkerReport {
  public:
    explicit TerminalReport(std::string label);
    void Progress(uint64_t position, uint64_t range) override;
    void Done() override;
    void Activity(const char* what) override;
    void ItemBytes(uint64_t done, uint64_t total) override;

  private:
    void Draw();
    bool enabled_;
    std::string label_;
    std::string activity_;
    std::string itemBytes_;  // "1.2 of 3.0 GB" while a large item is in progress
    uint64_t position_ = 0;
    uint64_t range_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDraw_{};
};
