#pragma once
// What a job did and what it could not do, so that pages and the CLI can tell the truth.
// Nodes report problems through the outcome installed for the running job on their thread.
#include <cstdint>
#include <exception>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "base/ThreadScope.h"

namespace v {

struct Problem {
    std::string item;     // path or name of what it concerns
    std::string reason;   // one line for a person
    bool leftOut = true;  // the item is missing from the result
};

struct Outcome {
    bool failed = false;  // the job as a whole did not complete
    bool cancelled = false;
    std::string error;  // why it failed, when it did
    std::vector<Problem> problems;
    uint64_t itemsDone = 0;
    uint64_t alreadyThere = 0;       // messages a restore found already in their folder, not added
    uint64_t filesAlreadyThere = 0;  // files a restore found holding the archived bytes already
    // What was saved or restored, in the units a person counts (an item left out, or already
    // there, is not among them).
    struct Counts {
        uint64_t messages = 0, files = 0, settings = 0;
    } counts;
    std::vector<std::string> notes;  // facts worth telling (e.g. messages sent to the Inbox)

    bool Clean() const { return !failed && !cancelled && problems.empty(); }
    size_t LeftOut() const {
        size_t n = 0;
        for (const auto& p : problems) n += p.leftOut ? 1 : 0;
        return n;
    }
    void Fail(std::string why) {
        if (!failed) error = std::move(why);
        failed = true;
    }
};

// "363 messages, 9 files and 2 settings trees" (what is nought is not named); empty for none.
std::string DescribeCounts(const Outcome::Counts& counts);

// Installs `outcome` as the one that ReportProblem writes to on this thread.
using OutcomeScope = tindale::ThreadScope<Outcome>;

// Runs a job's body; an exception escaping it (running out of memory included) becomes a
// failed outcome that names the cause, so that no exception ever leaves an engine.
template <typename Body>
Outcome Guarded(Body&& body) {
    Outcome failed;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        failed.Fail("out of memory");
    } catch (const std::exception& e) {
        failed.Fail(std::string("internal error: ") + e.what());
    } catch (...) {
        failed.Fail("internal error");
    }
    return failed;
}

// The outcome installed on this thread, or null.
Outcome* CurrentOutcome();
void ReportProblem(std::string item, std::string reason, bool leftOut = true);
void ReportNote(std::string note);
// Number of items reported as left out on this thread's outcome so far (0 without one).
size_t LeftOutCount();

// The problems as a person reads them: "ITEM: REASON", at most `perReason` items left out
// for the same reason, then one line for the rest ("197 more items: REASON"), so that one
// cause (a program that holds its store open) does not bury the others. Notes (items kept or
// replaced, not left out) are all named.
struct ProblemLine {
    std::string text;
    bool leftOut = true;
};
std::vector<ProblemLine> ProblemLines(const Outcome& outcome, size_t perReason = 3);

}  // namespace v
