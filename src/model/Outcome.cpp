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

Outcome* CurrentOutcome() {
    return current;
}

void ReportProblem(std::string item, std::string reason, bool leftOut) {
    if (current) current->problems.push_back({std::move(item), std::move(reason), leftOut});
}

void ReportNote(std::string note) {
    if (current) current->notes.push_back(std::move(note));
}

size_t LeftOutCount() {
    return current ? current->LeftOut() : 0;
}

}  // namespace v
