#include "model/Outcome.h"

#include <gtest/gtest.h>

TEST(Outcome, ManyItemsLeftOutForOneReasonReadAsAFewAndACount) {
    v::Outcome outcome;
    for (int i = 1; i <= 200; ++i)
        outcome.problems.push_back({"Message " + std::to_string(i), "Thunderbird is running"});
    outcome.problems.push_back({"a.txt", "cannot be read", true});
    outcome.problems.push_back({"b.txt", "Thunderbird is running", false});  // a note, apart
    for (int i = 1; i <= 5; ++i)                                             // notes are all named
        outcome.problems.push_back({"f" + std::to_string(i), "replaced", false});
    auto lines = v::ProblemLines(outcome);
    std::vector<std::string> texts;
    for (const auto& line : lines) texts.push_back(line.text);
    EXPECT_EQ(texts,
              (std::vector<std::string>{
                  "Message 1: Thunderbird is running", "Message 2: Thunderbird is running",
                  "Message 3: Thunderbird is running", "a.txt: cannot be read",
                  "b.txt: Thunderbird is running", "f1: replaced", "f2: replaced", "f3: replaced",
                  "f4: replaced", "f5: replaced", "197 more items: Thunderbird is running"}));
    EXPECT_FALSE(lines[4].leftOut);
    EXPECT_EQ(outcome.LeftOut(), 201u);  // the count stays whole
}

TEST(Outcome, CountsReadInThePersonsUnits) {
    EXPECT_EQ(v::DescribeCounts({363, 9, 2}), "363 messages, 9 files and 2 settings trees");
    EXPECT_EQ(v::DescribeCounts({1, 0, 1}), "1 message and 1 settings tree");
    EXPECT_EQ(v::DescribeCounts({0, 1, 0}), "1 file");
    EXPECT_EQ(v::DescribeCounts({}), "");
}
