#include "model/Outcome.h"

namespace v {

namespace {
thread_local Outcome* current = nullptr;
}

OutcomeScope::OutcomeScope(Outcome& outcome) : previous_(current) {
    current = &outcome;
}
OutcomeScope::~OutcomeScope() {
    current = previous_;
}

void ReportProblem(std::string item, std::string reason, bool leftOut) {
    if (current) current->problems.push_back({std::move(item), std::move(reason), leftOut});
}

void ReportNote(std::string note) {
    if (current) current->notes.push_back(std::move(note));
}

size_t LeftOutCount() {
    if (!current) return 0;
    size_t n = 0;
    for (const auto& p : current->problems) n += p.leftOut ? 1 : 0;
    return n;
}

}  // namespace v
