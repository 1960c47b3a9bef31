#include <gtest/gtest.h>

#include "platform/stores/maildir/FolderNames.h"

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

TEST(FolderNames, EveryNameRoundTrips) {
    for (std::u16string name : {u"Inbox", u"Sent Items", u"a.b", u"x/y", u"R&D", u"Entwürfe",
                                u"日本語", u"mixed ü.&/ end", u"\U0001F4E7 mail"}) {
        std::string encoded = Encode(name);
        EXPECT_EQ(encoded.find('.'), std::string::npos) << encoded;
        EXPECT_EQ(encoded.find('/'), std::string::npos) << encoded;
        EXPECT_EQ(Decode(encoded), name) << encoded;
    }
    EXPECT_EQ(Encode(u"R&D"), "R&-D");
    EXPECT_EQ(Encode(u"Entwürfe"), "Entw&APw-rfe");  // as Courier writes it
}

TEST(FolderNames, DirectoriesMapToPaths) {
    std::vector<std::u16string> path{u"Work", u"v1.2"};
    std::string dir = DirectoryFor(path);
    EXPECT_EQ(dir, ".Work.v1&AC4-2");
    EXPECT_EQ(PathFor(dir), path);
    EXPECT_FALSE(PathFor("cur"));
    EXPECT_FALSE(PathFor(".."));
    EXPECT_FALSE(PathFor(".a..b"));
}
