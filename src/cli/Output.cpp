#include "cli/Output.h"

#include <iostream>

#include "cli/Interrupt.h"

namespace {

Json OutcomeJson(const v::Outcome& outcome, const std::string& what) {
    Json leftOut = Json::array(), notes = Json::array();
    for (const auto& p : outcome.problems)
        (p.leftOut ? leftOut : notes).push_back({{"item", p.item}, {"reason", p.reason}});
    for (const auto& n : outcome.notes) notes.push_back({{"item", ""}, {"reason", n}});
    return {{"job", what},
            {"ok", !outcome.failed && !outcome.cancelled && outcome.LeftOut() == 0},
            {"cancelled", outcome.cancelled},
            {"error", outcome.failed ? outcome.error : ""},
            {"items", outcome.itemsDone},
            {"alreadyThere", outcome.alreadyThere},
            {"filesAlreadyThere", outcome.filesAlreadyThere},
            {"messages", outcome.counts.messages},
            {"files", outcome.counts.files},
            {"settings", outcome.counts.settings},
            {"leftOut", leftOut},
            {"notes", notes}};
}

}  // namespace

void Output::Print(const ::Json& document) const {
    std::cout << document.dump(2) << "\n";
}

std::string ForTerminal(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c < 0x20 || c == 0x7f) {
            out.append("\\x").push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else if (c == 0xc2 && next >= 0x80 && next < 0xa0) {  // U+0080 to U+009F
            out.append("\\u00").push_back(kHex[next >> 4]);
            out.push_back(kHex[next & 15]);
            ++i;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

int Error(const std::string& message, int code) {
    std::cerr << "tindale-cli: " << message << "\n";
    return code;
}

int Output::Conclude(const v::Outcome& outcome, const std::string& what) const {
    if (json_) {
        Print(OutcomeJson(outcome, what));
        if (outcome.cancelled && InterruptedStatus()) return InterruptedStatus();
        if (outcome.cancelled || outcome.failed || outcome.LeftOut()) return kExitFailed;
        return kExitOk;
    }
    for (const auto& line : v::ProblemLines(outcome))
        std::cerr << (line.leftOut ? "left out: " : "note: ") << ForTerminal(line.text) << "\n";
    for (const auto& n : outcome.notes) std::cerr << "note: " << ForTerminal(n) << "\n";
    if (outcome.cancelled && InterruptedStatus()) {
        Error(what + " was interrupted; unfinished files were removed");
        return InterruptedStatus();
    }
    if (outcome.cancelled) return Error(what + " was cancelled");
    if (outcome.failed) return Error(what + " failed: " + outcome.error);
    std::cout << what << " finished: " << outcome.itemsDone << " items";
    if (auto counts = v::DescribeCounts(outcome.counts); !counts.empty())
        std::cout << " (" << counts << ")";
    size_t leftOut = outcome.LeftOut();
    if (outcome.alreadyThere)
        std::cout << ", " << outcome.alreadyThere
                  << " messages already in their folder (not added again)";
    if (outcome.filesAlreadyThere)
        std::cout << ", " << outcome.filesAlreadyThere
                  << " files already as archived (not written again)";
    if (leftOut) std::cout << ", " << leftOut << " left out";
    std::cout << "\n";
    return leftOut ? kExitFailed : kExitOk;
}
