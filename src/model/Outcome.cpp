#include "model/Outcome.h"

namespace v {

Outcome* CurrentOutcome() {
    return OutcomeScope::Current();
}

void ReportProblem(std::string item, std::string reason, bool leftOut) {
    if (Outcome* current = CurrentOutcome())
        current->problems.push_back({std::move(item), std::move(reason), leftOut});
}

void ReportNote(std::string note) {
    if (Outcome* current = CurrentOutcome()) current->notes.push_back(std::move(note));
}

size_t LeftOutCount() {
    Outcome* current = CurrentOutcome();
    return current ? current->LeftOut() : 0;
}

}  // namespace v
