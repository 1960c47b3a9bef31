#include "platform/stores/mbox/MboxStatus.h"

namespace tindale::store {

std::string MboxStatusHeaders(const MessageState& state) {
    std::string status, extra;
    const std::string& f = state.flags;
    auto has = [&](char c) { return f.find(c) != std::string::npos; };
    if (has('S')) status += 'R';
    if (!state.inNew) status += 'O';
    if (has('R')) extra += 'A';
    if (has('F')) extra += 'F';
    if (has('D')) extra += 'T';
    if (has('T')) extra += 'D';
    std::string out;
    if (!status.empty()) out += "Status: " + status + "\n";
    if (!extra.empty()) out += "X-Status: " + extra + "\n";
    return out;
}

bool IsMboxStatusLine(std::string_view line) {
    return line.starts_with("Status:") || line.starts_with("X-Status:");
}

uint8_t MboxStatusBitsOf(std::string_view line) {
    bool extended = line.starts_with("X-Status:");
    if (!extended && !line.starts_with("Status:")) return 0;
    uint8_t bits = kMboxHasStatus;
    for (char c : line.substr(extended ? 9 : 7)) {
        if (!extended && c == 'R') bits |= kMboxRead;
        if (!extended && c == 'O') bits |= kMboxOld;
        if (extended && c == 'A') bits |= kMboxAnswered;
        if (extended && c == 'F') bits |= kMboxFlagged;
        if (extended && c == 'T') bits |= kMboxDraft;
        if (extended && c == 'D') bits |= kMboxDeleted;
    }
    return bits;
}

std::string FlagsOfMboxStatus(uint8_t bits) {
    std::string flags;
    if (bits & kMboxDraft) flags += 'D';
    if (bits & kMboxFlagged) flags += 'F';
    if (bits & kMboxAnswered) flags += 'R';
    if (bits & kMboxRead) flags += 'S';
    if (bits & kMboxDeleted) flags += 'T';
    return flags;
}

bool IsNewByMboxStatus(uint8_t bits) {
    return !(bits & (kMboxOld | kMboxRead));
}

}  // namespace tindale::store

#include "platform/stores/thunderbird/MozillaStatus.h"

namespace tindale::store {

bool IsMboxStateLine(std::string_view line) {
    return IsMozillaStateLine(line) || IsMboxStatusLine(line);
}

bool HasMboxStatus(std::string_view message) {
    size_t end = message.find("\n\n");
    std::string_view headers = message.substr(0, end);
    for (std::string_view name : {"Status:", "X-Status:"})
        if (headers.starts_with(name) || headers.find("\n" + std::string(name)) != headers.npos)
            return true;
    return false;
}

std::string WithoutMboxState(std::string_view message) {
    std::string out;
    MboxStateFilter filter;
    filter.Feed(message, out);
    filter.Finish(out);
    return out;
}

void MboxStateFilter::Line(std::string_view line, std::string& out) {
    if (inHeaders_ && (line == "\n" || line == "\r\n")) inHeaders_ = false;
    if (!inHeaders_ || !IsMboxStateLine(line)) out.append(line);
}

void MboxStateFilter::Feed(std::string_view in, std::string& out) {
    if (!inHeaders_ && partial_.empty()) {
        out.append(in);
        return;
    }
    while (!in.empty()) {
        size_t nl = in.find('\n');
        if (nl == std::string_view::npos) {
            partial_.append(in);
            return;
        }
        std::string_view piece = in.substr(0, nl + 1);
        in.remove_prefix(nl + 1);
        if (partial_.empty()) {
            Line(piece, out);
        } else {
            partial_.append(piece);
            Line(partial_, out);
            partial_.clear();
        }
        if (!inHeaders_) {
            out.append(in);
            return;
        }
    }
}

void MboxStateFilter::Finish(std::string& out) {
    if (!partial_.empty()) Line(partial_, out);
    partial_.clear();
}

}  // namespace tindale::store
