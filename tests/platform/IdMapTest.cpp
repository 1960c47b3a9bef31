#include <gtest/gtest.h>

#include "platform/IdMap.h"

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
