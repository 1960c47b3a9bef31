#include <gtest/gtest.h>

#include <filesystem>
#include "platform/ShellFolders.h"
#include "support/TestHome.h"

using namespace tindale;

TEST(PathForms, HomeBecomesUserProfileAndExpandsIntoAnotherHome) {
    TestHome home;
    auto stored = shell::ToArchivePath(home / "Documents/a.txt");
    EXPECT_EQ(stored, u"%USERPROFILE%\\Documents\\a.txt");
    EXPECT_EQ(shell::ToArchivePath("/srv/data/x"), u"\\srv\\data\\x");
    EXPECT_FALSE(shell::ToArchivePath(home / "odd\\name"));
    TestHome second;
    EXPECT_EQ(shell::ExpandArchivePath(*stored), second / "Documents/a.txt");
    EXPECT_EQ(shell::ExpandArchivePath(u"%userprofile%\\x"), second / "x");
    EXPECT_EQ(shell::ExpandArchivePath(u"\\srv\\data\\x"), "/srv/data/x");
}

TEST(PathForms, RefusesPathsThatWouldLandElsewhere) {
    TestHome home;
    std::string why;
    EXPECT_FALSE(shell::ExpandArchivePath(u"relative\\file", &why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(shell::ExpandArchivePath(u"%USERPROFILE%\\..\\..\\etc\\passwd"));
    EXPECT_FALSE(shell::ExpandArchivePath(u"C:\\Windows\\x"));
    EXPECT_FALSE(shell::ExpandArchivePath(u"%NO_SUCH_VARIABLE_HERE%\\x"));
}

TEST(ShellFolders, DocumentsFollowUserDirsAndAreCreated) {
    TestHome home;
    EXPECT_EQ(shell::DocumentsFolder(), home / "Documents");
    WriteFile(home / ".config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(shell::DocumentsFolder(), home / "Dokumente");
    EXPECT_TRUE(std::filesystem::is_directory(home / "Dokumente"));
    EXPECT_EQ(shell::FavoritesFolder(), home / "Favorites");
    EXPECT_FALSE(std::filesystem::exists(home / "Favorites"));
}
