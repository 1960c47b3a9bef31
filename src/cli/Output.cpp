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
            {"leftOut", leftOut},
            {"notes", notes}};
}

}  // namespace

void Output::Print(const ::Json& document) const {
    std::cout << document.dump(2) << "\n";
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
    for (const auto& p : outcome.problems)
        std::cerr << (p.leftOut ? "left out: " : "note: ") << p.item << ": " << p.reason << "\n";
    for (const auto& n : outcome.notes) std::cerr << "note: " << n << "\n";
    if (outcome.cancelled && InterruptedStatus()) {
        Error(what + " was interrupted; unfinished files were removed");
        return InterruptedStatus();
    }
    if (outcome.cancelled) return Error(what + " was cancelled");
    if (outcome.failed) return Error(what + " failed: " + outcome.error);
    std::cout << what << " finished: " << outcome.itemsDone << " items";
    size_t leftOut = outcome.LeftOut();
    if (leftOut) std::cout << ", " << leftOut << " left out";
    std::cout << "\n";
    return leftOut ? kExitFailed : kExitOk;
}
