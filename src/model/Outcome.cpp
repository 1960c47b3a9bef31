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

std::string DescribeCounts(const Outcome::Counts& counts) {
    std::vector<std::string> parts;
    auto add = [&](uint64_t n, const char* one, const char* many) {
        if (n) parts.push_back(std::to_string(n) + " " + (n == 1 ? one : many));
    };
    add(counts.messages, "message", "messages");
    add(counts.files, "file", "files");
    add(counts.settings, "settings tree", "settings trees");
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return text;
}

std::vector<ProblemLine> ProblemLines(const Outcome& outcome, size_t perReason) {
    std::vector<ProblemLine> lines;
    std::map<std::pair<std::string, bool>, size_t> seen;
    std::vector<std::pair<std::string, bool>> overflowing;
    for (const auto& p : outcome.problems) {
        size_t& count = seen[{p.reason, p.leftOut}];
        if (++count <= perReason || !p.leftOut)  // notes name every item (files replaced)
            lines.push_back({p.item + ": " + p.reason, p.leftOut});
        else if (count == perReason + 1)
            overflowing.push_back({p.reason, p.leftOut});
    }
    for (const auto& key : overflowing) {
        size_t more = seen[key] - perReason;
        lines.push_back(
            {std::to_string(more) + (more == 1 ? " more item: " : " more items: ") + key.first,
             key.second});
    }
    return lines;
}

}  // namespace v
