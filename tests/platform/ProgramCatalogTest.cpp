#include "platform/ProgramCatalog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "platform/FirefoxBookmarks.h"

#include "support/ProgramProfiles.h"
#include "support/TestHome.h"

using namespace tindale::programs;

namespace {
const ProgramPart* Find(const std::vector<ProgramPart>& parts, const std::string& label) {
    for (const auto& part : parts)
        if (part.Label() == label) return &part;
    return nullptr;
}
}  // namespace

TEST(ProgramCatalog, FindsEachProgramsPartsOnTheirShelves) {
    TestHome home;
    MakeThunderbirdProfile(home);
    MakeBrowserProfiles(home);
    WriteFile(home / ".mbsyncrc",
              "IMAPAccount work\nHost imap.example.org\nPassCmd \"pass work\"\n");
    WriteFile(home / ".msmtprc", "account default\nhost smtp.example.org\npassword hunter2\n");
    WriteFile(home / ".local/share/evolution/addressbook/system/contacts.db", "db");

    auto mail = FindPrograms(Shelf::MailSettings);
    ASSERT_TRUE(Find(mail, "Thunderbird (default)"));
    EXPECT_TRUE(Find(mail, "Thunderbird (default): saved passwords and keys"));
    // A configuration that carries a password in plain is a secret; PassCmd is not.
    EXPECT_TRUE(Find(mail, "mbsync"));
    EXPECT_FALSE(Find(mail, "msmtp"));
    EXPECT_TRUE(Find(mail, "msmtp: saved passwords and keys"));

    auto browsers = FindPrograms(Shelf::BrowserSettings);
    for (const char* label : {"Firefox (default-esr)", "Firefox (default-esr): history",
                              "Firefox (default-esr): saved passwords and keys",
                              "Chromium (Default)", "Chromium (Default): history"})
        EXPECT_TRUE(Find(browsers, label)) << label;
    auto favorites = FindPrograms(Shelf::Favorites);
    EXPECT_TRUE(Find(favorites, "Firefox (default-esr): bookmarks"));
    EXPECT_TRUE(Find(favorites, "Chromium (Default): bookmarks"));
    auto contacts = FindPrograms(Shelf::Contacts);
    EXPECT_TRUE(Find(contacts, "Thunderbird (default): address books"));
    EXPECT_TRUE(Find(contacts, "Evolution: address books"));
}

TEST(ProgramCatalog, AThunderbirdProfileGivesItsSettingsButNoCacheIndexOrMail) {
    TestHome home;
    MakeThunderbirdProfile(home);
    auto mail = FindPrograms(Shelf::MailSettings);
    const ProgramPart* settings = Find(mail, "Thunderbird (default)");
    ASSERT_TRUE(settings);
    const Place* profile = nullptr;
    for (const auto& place : settings->places)
        if (place.path == home / ".thunderbird/abcd.default") profile = &place;
    ASSERT_TRUE(profile);
    for (const char* taken : {"prefs.js", "Mail", "Mail/127.0.0.1", "Mail/127.0.0.1/popstate.dat",
                              "Mail/127.0.0.1/msgFilterRules.dat", "calendar-data/local.sqlite",
                              "virtualFolders.dat", "xulstore.json"})
        EXPECT_TRUE(profile->Takes(taken, false)) << taken;
    for (const char* left :
         {"Mail/127.0.0.1/Inbox", "Mail/127.0.0.1/Inbox.msf", "Mail/Local Folders/Archives.sbd",
          "cache2/entries/ABC", "startupCache", "crashes", "datareporting/state.json",
          "global-messages-db.sqlite", "abook.sqlite-wal", "lock", "logins.json", "key4.db",
          "abook.sqlite", "storage/default/x"})
        EXPECT_FALSE(profile->Takes(left, false)) << left;
}

TEST(ProgramCatalog, ARestoreWritesOnlyWhereProgramsKeepTheirFiles) {
    TestHome home;
    std::string h = home.Path();
    EXPECT_EQ(ProgramPlaceRoot(h + "/.thunderbird/abcd.default/prefs.js"), h);
    EXPECT_EQ(ProgramPlaceRoot(h + "/.thunderbird"), h);
    EXPECT_EQ(ProgramPlaceRoot(h + "/.config/akonadi_maildir_resource_0rc"), h + "/.config");
    EXPECT_EQ(ProgramPlaceRoot(h + "/.muttrc"), h);
    for (const std::string& refused :
         {h + "/.bashrc", h + "/.ssh/authorized_keys", h + "/.config/autostart/x.desktop",
          h + "/.thunderbird/abcd.default/.hidden/x", h + "/.muttrc2", h + "/.config",
          std::string("/etc/passwd")})
        EXPECT_FALSE(ProgramPlaceRoot(refused)) << refused;
}

TEST(ProgramCatalog, HomePathsAreRewrittenOnlyWhole) {
    std::string prefs =
        "user_pref(\"a\", \"/home/ann/.thunderbird/x/Mail\");\n"
        "user_pref(\"b\", \"/home/ann2/other\");\nuser_pref(\"c\", \"/home/ann\");\n";
    EXPECT_EQ(RewriteHome(prefs, "/home/ann", "/home/bob"),
              "user_pref(\"a\", \"/home/bob/.thunderbird/x/Mail\");\n"
              "user_pref(\"b\", \"/home/ann2/other\");\nuser_pref(\"c\", \"/home/bob\");\n");
    EXPECT_EQ(RewriteHome(prefs, "/home/ann", "/home/ann"), prefs);
    EXPECT_EQ(RewriteHome(prefs, "/", "/home/bob"), prefs);
}

TEST(ProgramCatalog, ProfileListsMergeKeepingThePersonsDefault) {
    std::string existing =
        "[Profile0]\nName=default\nIsRelative=1\nPath=new1.default\nDefault=1\n\n"
        "[General]\nStartWithLastProfile=1\nVersion=2\n";
    std::string archived =
        "[Install3B60]\nDefault=abcd.default\nLocked=1\n\n"
        "[Profile0]\nName=default\nIsRelative=1\nPath=abcd.default\nDefault=1\n\n"
        "[Profile1]\nName=same\nIsRelative=1\nPath=new1.default\n\n"
        "[General]\nStartWithLastProfile=0\nVersion=2\n";
    std::string merged = MergeProfileLists(existing, archived);
    EXPECT_EQ(merged,
              "[Profile0]\nName=default\nIsRelative=1\nPath=new1.default\nDefault=1\n"
              "\n[General]\nStartWithLastProfile=1\nVersion=2\n"
              "\n[Install3B60]\nDefault=abcd.default\nLocked=1\n"
              "\n[Profile1]\nName=default\nIsRelative=1\nPath=abcd.default\n");
    EXPECT_EQ(MergeProfileLists(merged, archived), merged);  // a second restore adds nothing
}

TEST(ProgramCatalog, AProfileIsInUseWhileItsLockNamesALiveProcess) {
    TestHome home;
    std::string profile = home / ".thunderbird/abcd.default";
    WriteFile(profile + "/prefs.js", "");
    EXPECT_FALSE(InUse("notmuch", {profile}));
    ASSERT_EQ(::symlink("127.0.0.1:+999999999", (profile + "/lock").c_str()), 0);
    EXPECT_FALSE(InUse("notmuch", {profile}));  // left behind by a program that is gone
    ::unlink((profile + "/lock").c_str());
    std::string mine = "127.0.0.1:+" + std::to_string(::getpid());
    ASSERT_EQ(::symlink(mine.c_str(), (profile + "/lock").c_str()), 0);
    auto why = InUse("Thunderbird", {profile});
    ASSERT_TRUE(why);
    EXPECT_NE(why->find("Thunderbird is running"), std::string::npos);
}

TEST(ProgramCatalog, FirefoxBookmarksLeaveAsItsOwnBackupWithoutTheHistory) {
    TestHome home;
    MakeFirefoxPlaces(home / "places.sqlite");
    auto bookmarks = ReadFirefoxBookmarks(home / "places.sqlite");
    ASSERT_TRUE(bookmarks);
    EXPECT_EQ(bookmarks->bookmarks, 1u);
    auto root = nlohmann::json::parse(bookmarks->json);
    EXPECT_EQ(root["root"], "placesRoot");
    auto toolbar = root["children"][1];
    EXPECT_EQ(toolbar["root"], "toolbarFolder");
    ASSERT_EQ(toolbar["children"].size(), 2u);
    EXPECT_EQ(toolbar["children"][0]["uri"], "https://www.debian.org/");
    EXPECT_EQ(toolbar["children"][0]["title"], "Debian \"home\"");
    EXPECT_EQ(toolbar["children"][1]["type"], "text/x-moz-place-separator");
    EXPECT_EQ(bookmarks->json.find("secret.example"), std::string::npos);
    EXPECT_EQ(FirefoxBookmarksBackupName(1796886482), "bookmarks-2026-12-10.json");
    EXPECT_FALSE(ReadFirefoxBookmarks(home / "missing.sqlite"));
}
