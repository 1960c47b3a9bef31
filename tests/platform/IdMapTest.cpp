#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "platform/IdMap.h"
#include "platform/MessageFiles.h"

using namespace tindale::store;

TEST(IdMap, DamagedOrHostileLinesAreIgnoredAndIntactIdsKept) {
    auto map = IdMap::Parse(
        "next x\n"
        "next 99999999999999999999\n"  // not even a 64-bit number: ignored
        "next 18446744073709551615\n"
        "7\tkeep\n"
        "abc\tnot-a-number\n"
        "8\n"
        "99999999999\ttoo-large\n"
        "7\tsame-id-again\n"
        "9\tkeep\n"
        "-3\tnegative\n"
        "10\tbad\\escape\\q\n"
        "11\ttab\\there\\x0\n"
        "12\tline\\nbreak\\ttab\\\\slash\n");
    EXPECT_EQ(map.Size(), 2u);
    EXPECT_EQ(map.Find("keep"), 7u);  // the first claim wins; a repeated id names nothing
    EXPECT_FALSE(map.Find("same-id-again"));
    EXPECT_EQ(map.Find("line\nbreak\ttab\\slash"), 12u);
    EXPECT_EQ(map.Next(), 0x100000000ull);  // a huge counter is capped, never wrapped
    // With the counter spent, a new key takes the lowest id no present key holds.
    EXPECT_EQ(map.Assign("new"), 1u);
    EXPECT_EQ(map.Assign("newer"), 2u);
}

TEST(IdMap, KeysWithAnyByteRoundTripAndIdsAreNeverReused) {
    IdMap map;
    std::string odd = std::string("a\tb\nc\\d\r\x01\x7f", 10) + "\xc3\xa9";
    uint32_t first = map.Assign(odd);
    uint32_t second = map.Assign("plain");
    map.Erase("plain");
    uint32_t third = map.Assign("later");
    EXPECT_NE(third, second);  // the counter only grows
    auto again = IdMap::Parse(map.Serialize());
    EXPECT_EQ(again.Find(odd), first);
    EXPECT_EQ(again.Find("later"), third);
    EXPECT_EQ(again.Next(), map.Next());
    EXPECT_EQ(map.Serialize().find('\x01'), std::string::npos);  // one entry, one line
}

TEST(IdMap, MergeTakesAnotherWritersNewKeysWithoutTakingUsedIds) {
    auto mine = IdMap::Parse("next 5\n1\ta\n4\tmine\n");
    auto theirs = IdMap::Parse("next 7\n1\ta\n4\ttheirs\n6\tlate\n");
    mine.MergeFrom(theirs);
    EXPECT_EQ(mine.Find("mine"), 4u);
    EXPECT_FALSE(mine.Find("theirs"));  // id 4 is taken here
    EXPECT_EQ(mine.Find("late"), 6u);
    EXPECT_EQ(mine.Assign("next"), 7u);
}

// The packed table against a plain map through many assignments, erasures and renames: the
// churn passes every rebuild of the table and every compaction of the key buffer.
TEST(IdMap, PackedTableAgreesWithAPlainMapThroughChurn) {
    IdMap map;
    std::map<std::string, uint32_t> expected;
    std::mt19937 random(7);
    for (int step = 0; step < 20000; ++step) {
        std::string key = "k" + std::to_string(random() % 3000);
        switch (random() % 4) {
            case 0:
                map.Erase(key);
                expected.erase(key);
                break;
            case 1: {
                std::string to = key + "-moved";
                if (expected.count(key) && !expected.count(to)) {
                    expected[to] = expected[key];
                    expected.erase(key);
                }
                map.Rename(key, to);
                break;
            }
            default: {
                uint32_t id = map.Assign(key);
                EXPECT_EQ(expected.emplace(key, id).first->second, id);
            }
        }
    }
    ASSERT_EQ(map.Size(), expected.size());
    for (const auto& [key, id] : expected) EXPECT_EQ(map.Find(key), id) << key;
    std::set<uint32_t> ids;
    map.ForEach([&](std::string_view, uint32_t id) { EXPECT_TRUE(ids.insert(id).second); });
    auto again = IdMap::Parse(map.Serialize());
    EXPECT_EQ(again.Serialize(), map.Serialize());
    EXPECT_TRUE(map.Retain([](std::string_view key, uint32_t) { return key.size() > 5; }));
    for (const auto& [key, id] : expected) EXPECT_EQ(map.Find(key).has_value(), key.size() > 5);
}

TEST(MessageFiles, PathsFollowRenamesAndErasuresInIdOrder) {
    MessageFiles files;
    for (uint32_t id : {5u, 2u, 9u}) files.Append("new/m" + std::to_string(id));
    uint32_t ids[] = {5, 2, 9};
    for (size_t i = 0; i < 3; ++i) files.Pending()[i].id = ids[i];
    files.SortById();
    EXPECT_EQ(files.IdsFrom(), (std::vector<uint32_t>{2, 5, 9}));
    EXPECT_EQ(files.Find(5), "new/m5");
    std::map<uint32_t, std::string> expected{{2, "new/m2"}, {5, "new/m5"}, {9, "new/m9"}};
    std::mt19937 random(11);
    for (int step = 0; step < 20000; ++step) {
        uint32_t id = random() % 400;
        if (random() % 3 == 0) {
            EXPECT_EQ(files.Erase(id), expected.erase(id) > 0);
        } else {
            std::string path = "cur/m" + std::to_string(id) + ":2," + std::to_string(step);
            files.Set(id, path);
            expected[id] = path;
        }
    }
    ASSERT_EQ(files.size(), expected.size());
    std::vector<uint32_t> from100;
    for (const auto& [id, path] : expected) {
        EXPECT_EQ(files.Find(id), path);
        if (id >= 100) from100.push_back(id);
    }
    EXPECT_EQ(files.IdsFrom(100), from100);
    EXPECT_FALSE(files.Find(401));
}
