#include <gtest/gtest.h>

#include "platform/FolderNames.h"

using namespace tindale::foldernames;

TEST(FolderNames, MalformedEncodedRunsNameNoFolder) {
    // "&2-" holds six bits, not a whole unit: it once decoded to an empty name, a folder
    // whose directory could not be made again from its path.
    EXPECT_FALSE(Decode("&2-"));
    EXPECT_FALSE(PathFor(".&2-"));
    EXPECT_FALSE(PathFor(".&-\x06p.&2-"));
    EXPECT_FALSE(Decode("&AGE"));   // no closing "-"
    EXPECT_FALSE(Decode("&AGF-"));  // stray bits after the last unit
    EXPECT_EQ(Decode("&AGE-"), u"a");
    auto path = PathFor(".Entw&APw-rfe v1&AC4-2.&ZeVnLIqe-");
    ASSERT_TRUE(path);
    EXPECT_EQ((*path)[0], u"Entwürfe v1.2");
    EXPECT_EQ(PathFor(DirectoryFor(*path)), path);
}
