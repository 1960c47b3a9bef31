#include <gtest/gtest.h>

#include "base/Text.h"

using namespace tindale;

TEST(Text, Utf16RoundTripAndFixedFields) {
    std::string s = "Grüße \xF0\x9F\x93\xA7 mail";
    EXPECT_EQ(text::ToUtf8(text::ToUtf16(s)), s);
    EXPECT_EQ(text::ToUtf16("\xFF"), u"\uFFFD");
    uint8_t field[8];
    text::PutFixedUtf16(field, u"abcdef");
    EXPECT_EQ(text::GetFixedUtf16(field), u"abc");  // cut so the terminator fits
    EXPECT_EQ(field[6], 0);
    EXPECT_EQ(field[7], 0);
}
