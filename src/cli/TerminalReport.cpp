#include "cli/TerminalReport.h"

#include <unistd.h>

#include <cstdio>

#include "cli/Output.h"

TerminalReport::TerminalReport(std::string label)
    : enabled_(::isatty(STDERR_FILENO) != 0), label_(std::move(label)) {}

void TerminalReport::Progress(uint64_t position, uint64_t range) {
    if (range) range_ = range;
    if (position) position_ = position;
    Draw();
}

void TerminalReport::Activity(const char* what) {
    activity_ = ForTerminal(what);
    auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ > std::chrono::milliseconds(100)) Draw();
}

namespace {
std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(bytes) / 1e6);
    return text;
}
}  // namespace

void TerminalReport::ItemBytes(uint64_t done, uint64_t total) {
    itemBytes_ = done == 0 && total == 0 ? std::string()
                 : total                 ? Megabytes(done) + " of " + Megabytes(total)
                                         : Megabytes(done);
    Draw();
}

void TerminalReport::Draw() {
    if (!enabled_) return;
    lastDraw_ = std::chrono::steady_clock::now();
    double fraction = range_ ? static_cast<double>(std::min(position_ + 1, range_)) / range_ : 0;
    int filled = static_cast<int>(fraction * 30);
    double elapsed = std::chrono::duration<double>(lastDraw_ - start_).count();
    double left = fraction > 0.01 ? elapsed / fraction - elapsed : 0;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(30, ' ');
    std::string what =
        activity_.size() > 30 ? "..." + activity_.substr(activity_.size() - 27) : activity_;
    if (!itemBytes_.empty()) what += " " + itemBytes_;
    std::fprintf(stderr, "\r%s [%s] %3d%%  %llu/%llu  %.0fs left  %-30s", label_.c_str(),
                 bar.c_str(), static_cast<int>(fraction * 100),
                 static_cast<unsigned long long>(position_ + 1),
                 static_cast<unsigned long long>(range_), left, what.c_str());
    std::fflush(stderr);
}

void TerminalReport::Done() {
    if (!enabled_) return;
    std::fprintf(stderr, "\r%*s\r", 120, "");
    std::fflush(stderr);
}
