#include <gtest/gtest.h>

#include "base/Guid.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"
#include "base/Text.h"
#include "support/TestHome.h"

#include <filesystem>

using namespace tindale;
using namespace tindale::reg;

TEST(Registry, OnlyCurrentUserRootOpens) {
    TestHome home;
    EXPECT_TRUE(Key::Open(kHkeyCurrentUser, u"").has_value());
    EXPECT_FALSE(Key::Open(0x80000002, u"").has_value());
    EXPECT_FALSE(Key::Create(0x80000002, u"Software").has_value());
}

TEST(Registry, CreateMakesIntermediateKeysAndLookupIgnoresCase) {
    TestHome home;
    EXPECT_FALSE(Key::Open(kHkeyCurrentUser, u"Software\\Vendor").has_value());
    auto key = Key::Create(kHkeyCurrentUser, u"Software\\Vendor\\App");
    ASSERT_TRUE(key);
    EXPECT_TRUE(Key::Open(kHkeyCurrentUser, u"SOFTWARE\\vendor").has_value());
    ASSERT_TRUE(key->SetString(u"Name", u"value"));
    auto again = Key::Open(kHkeyCurrentUser, u"software\\VENDOR\\app");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->QueryString(u"NAME"), u"value");
    // The spelling of the first creation is kept.
    EXPECT_EQ(Key::Open(kHkeyCurrentUser, u"Software")->SubkeyName(0), u"Vendor");
}

TEST(Registry, SubkeysEnumerateByFoldedNameValuesByCreation) {
    TestHome home;
    for (auto name : {u"beta", u"Alpha", u"gamma"})
        Key::Create(kHkeyCurrentUser, std::u16string(u"K\\") + name);
    auto key = Key::Open(kHkeyCurrentUser, u"K");
    EXPECT_EQ(key->SubkeyName(0), u"Alpha");
    EXPECT_EQ(key->SubkeyName(1), u"beta");
    EXPECT_EQ(key->SubkeyName(2), u"gamma");
    EXPECT_FALSE(key->SubkeyName(3));
    uint8_t b = 1;
    key->Set(u"z", kRegBinary, {&b, 1});
    key->Set(u"a", kRegBinary, {&b, 1});
    key->Set(u"Z", kRegDword, {&b, 1});  // updates "z" in place
    EXPECT_EQ(key->ValueAt(0)->name, u"z");
    EXPECT_EQ(key->ValueAt(0)->type, kRegDword);
    EXPECT_EQ(key->ValueAt(1)->name, u"a");
    EXPECT_FALSE(key->ValueAt(2));
}

TEST(Registry, LengthLimitsAndStringRules) {
    TestHome home;
    EXPECT_FALSE(Key::Create(kHkeyCurrentUser, std::u16string(256, u'k')));
    EXPECT_TRUE(Key::Create(kHkeyCurrentUser, std::u16string(255, u'k')));
    auto key = Key::Create(kHkeyCurrentUser, u"S");
    uint8_t odd[3] = {'a', 0, 0};
    key->Set(u"odd", kRegSz, odd);
    uint8_t unterminated[2] = {'a', 0};
    key->Set(u"open", kRegSz, unterminated);
    EXPECT_FALSE(key->QueryString(u"odd"));
    EXPECT_FALSE(key->QueryString(u"open"));
}

TEST(Registry, FollowsTheEnvironment) {
    TestHome home;
    Key::Create(kHkeyCurrentUser, u"OnlyInFirst");
    TestHome other;
    EXPECT_FALSE(Key::Open(kHkeyCurrentUser, u"OnlyInFirst"));
}

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

TEST(Guid, TextFormUsesStandardByteOrder) {
    auto g = Guid::FromText("{1D0B07C9-4726-4696-A8C8-6BAB15C32918}");
    const uint8_t expected[16] = {0xC9, 0x07, 0x0B, 0x1D, 0x26, 0x47, 0x96, 0x46,
                                  0xA8, 0xC8, 0x6B, 0xAB, 0x15, 0xC3, 0x29, 0x18};
    EXPECT_TRUE(std::equal(g.bytes.begin(), g.bytes.end(), expected));
    EXPECT_EQ(g.ToString(), "{1D0B07C9-4726-4696-A8C8-6BAB15C32918}");
    auto r = Guid::NewRandom();
    EXPECT_EQ(Guid::Parse(r.ToString()), r);
    EXPECT_NE(Guid::NewRandom(), r);
    EXPECT_FALSE(Guid::Parse("{not-a-guid}"));
}

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
