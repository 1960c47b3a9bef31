// Programs' files through a backup and a restore into a new home, as a person moving to a
// new computer meets them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "backup/BackupEngine.h"
#include "backup/SourceTree.h"
#include "base/Text.h"
#include "model/ProgramNodes.h"
#include "model/Worker.h"
#include "platform/Identities.h"
#include "platform/StoreDiscovery.h"
#include "restore/RecordTree.h"
#include "restore/RestoreEngine.h"
#include "support/ProgramProfiles.h"
#include "support/TestHome.h"

using namespace tindale;
namespace fs = std::filesystem;

namespace {

const std::u16string kPassword = u"correct horse";

v::Outcome BackUp(const std::string& archive, bool sealed, bool withSecrets) {
    identities::RegisterLocalStores();
    SourceTree tree;
    if (withSecrets)
        for (const auto& root : tree.Roots())
            for (const auto& child : root->children)
                if (auto* p = dynamic_cast<v::ProgramNode*>(child->node); p && p->HoldsSecrets())
                    tree.SetState(*child, SourceTree::kChecked);
    BackupRequest request;
    request.archivePath = text::ToUtf16(archive);
    request.encrypt = sealed;
    if (sealed) request.password = kPassword;
    request.sources = tree.Selected();
    request.withoutOwnItems = tree.WithoutOwnItems();
    v::NullReport report;
    return BackupWorker(request, report, {});
}

v::Outcome RestoreAll(const std::string& archive, bool sealed) {
    RestoreRequest request;
    request.archivePath = text::ToUtf16(archive);
    if (sealed) request.password = kPassword;
    request.everything = true;
    v::NullReport report;
    return RestoreWorker(request, report, {});
}

bool Holds(const RecordTree& tree, const std::string& path) {
    return tree.Find(path) != nullptr;
}

bool Noted(const v::Outcome& outcome, const std::string& text) {
    for (const auto& note : outcome.notes)
        if (note.find(text) != std::string::npos) return true;
    return false;
}

const std::string kTb =
    "Outlook Express Settings/Thunderbird (default)/~/.thunderbird/abcd.default";

}  // namespace

TEST(ProgramSettings, ABackupSavesSettingsWithoutCachesAndSecretsOnlyWhenSealedAndTicked) {
    TestHome home;
    MakeThunderbirdProfile(home);
    MakeBrowserProfiles(home);
    auto outcome = BackUp(home / "plain.vqz", false, false);
    ASSERT_TRUE(outcome.Clean()) << (outcome.problems.empty() ? outcome.error
                                                              : outcome.problems[0].item + ": " +
                                                                    outcome.problems[0].reason);
    auto plain = RecordTree::Load(home / "plain.vqz");
    for (const std::string& saved :
         {kTb + "/prefs.js", kTb + "/Mail/127.0.0.1/popstate.dat",
          kTb + "/Mail/127.0.0.1/msgFilterRules.dat", kTb + "/calendar-data/local.sqlite",
          std::string("Outlook Express Settings/Thunderbird (default)/profiles.ini"),
          std::string("Contacts/Thunderbird (default): address books/~/.thunderbird/"
                      "abcd.default/abook.sqlite"),
          std::string("IE Settings/Firefox (default-esr)/~/.mozilla/firefox/xyz9.default-esr/"
                      "prefs.js"),
          std::string("My Favorites/Firefox (default-esr): bookmarks/~/.mozilla/firefox/"
                      "xyz9.default-esr/bookmarkbackups"),
          std::string("My Favorites/Chromium (Default): bookmarks/~/.config/chromium/Default/"
                      "Bookmarks")})
        EXPECT_TRUE(Holds(plain, saved)) << saved;
    for (const std::string& left :
         {kTb + "/cache2", kTb + "/global-messages-db.sqlite", kTb + "/Mail/127.0.0.1/Inbox",
          kTb + "/Mail/127.0.0.1/Inbox.msf", kTb + "/logins.json",
          std::string("Outlook Express Settings/Thunderbird (default): saved passwords and keys"),
          std::string("IE Settings/Firefox (default-esr): history")})
        EXPECT_FALSE(Holds(plain, left)) << left;
    // The mail itself is the message store's.
    EXPECT_TRUE(Holds(plain, "Message Store/Thunderbird - 127.0.0.1/Inbox/Message 1"));

    // Ticked, but the archive is not sealed: left out, and said so.
    auto unsealed = BackUp(home / "unsealed.vqz", false, true);
    EXPECT_TRUE(Noted(unsealed, "go only into sealed archives"));
    EXPECT_FALSE(Holds(RecordTree::Load(home / "unsealed.vqz"),
                       "Outlook Express Settings/Thunderbird (default): saved passwords and keys"));
    auto sealed = BackUp(home / "sealed.vqz", true, true);
    EXPECT_TRUE(sealed.Clean());
    EXPECT_TRUE(Holds(RecordTree::Load(home / "sealed.vqz"),
                      "Outlook Express Settings/Thunderbird (default): saved passwords and keys/"
                      "~/.thunderbird/abcd.default/logins.json"));
}

TEST(ProgramSettings, ANewHomeGetsTheProfileItsSettingsAndItsMailInItsOwnFolders) {
    TestHome home;
    MakeThunderbirdProfile(home, 3);
    MakeBrowserProfiles(home);
    std::string oldHome = home.Path();
    ASSERT_TRUE(BackUp(home / "tb.vqz", true, true).Clean());

    TestHome fresh;
    auto outcome = RestoreAll(home / "tb.vqz", true);
    EXPECT_TRUE(outcome.Clean()) << (outcome.problems.empty() ? outcome.error
                                                              : outcome.problems[0].reason);
    std::string p = fresh / ".thunderbird/abcd.default";
    EXPECT_EQ(ReadFile(fresh / ".thunderbird/profiles.ini"),
              ReadFile(oldHome + "/.thunderbird/profiles.ini"));
    std::string prefs = ReadFile(p + "/prefs.js");
    EXPECT_NE(prefs.find("\"" + p + "/Mail/127.0.0.1\""), std::string::npos) << prefs;
    EXPECT_EQ(prefs.find(oldHome), std::string::npos);
    EXPECT_EQ(ReadFile(p + "/Mail/127.0.0.1/popstate.dat"),
              ReadFile(oldHome + "/.thunderbird/abcd.default/Mail/127.0.0.1/popstate.dat"));
    EXPECT_EQ(ReadFile(p + "/logins.json"), "secret logins.json");
    EXPECT_EQ(ReadFile(p + "/abook.sqlite"), "contacts abook.sqlite");
    EXPECT_FALSE(fs::exists(p + "/cache2"));
    // The mail went into the profile's own account folder, not to a new ~/Maildir.
    std::string inbox = ReadFile(p + "/Mail/127.0.0.1/Inbox");
    EXPECT_NE(inbox.find("Subject: Message 3"), std::string::npos);
    EXPECT_FALSE(fs::exists(fresh / "Maildir"));
    EXPECT_FALSE(fs::exists(fresh / "Contacts"));  // a root kept only for what is below it
    EXPECT_TRUE(Noted(outcome, "Thunderbird (default): "));

    // Firefox gets its profile list, its settings and its bookmarks, not its history.
    std::string ff = fresh / ".mozilla/firefox";
    EXPECT_EQ(ReadFile(ff + "/installs.ini"), ReadFile(oldHome + "/.mozilla/firefox/installs.ini"));
    EXPECT_TRUE(fs::exists(ff + "/xyz9.default-esr/prefs.js"));
    EXPECT_FALSE(fs::exists(ff + "/xyz9.default-esr/places.sqlite"));
    bool bookmarks = false;
    for (const auto& e : fs::directory_iterator(ff + "/xyz9.default-esr/bookmarkbackups"))
        bookmarks =
            bookmarks || ReadFile(e.path()).find("https://www.debian.org/") != std::string::npos;
    EXPECT_TRUE(bookmarks);
    EXPECT_EQ(ReadFile(fresh / ".config/chromium/Default/Bookmarks"), "chromium Bookmarks");
}

TEST(ProgramSettings, ARunningProgramsFilesAreNotWrittenAndThatIsSaidOnce) {
    TestHome home;
    MakeThunderbirdProfile(home);
    ASSERT_TRUE(BackUp(home / "tb.vqz", false, false).Clean());

    TestHome other;
    std::string p = other / ".thunderbird/abcd.default";
    WriteFile(p + "/prefs.js", "mine");
    std::string mine = "127.0.0.1:+" + std::to_string(::getpid());
    ASSERT_EQ(::symlink(mine.c_str(), (p + "/lock").c_str()), 0);
    auto outcome = RestoreAll(home / "tb.vqz", false);
    EXPECT_EQ(ReadFile(p + "/prefs.js"), "mine");
    size_t told = 0;
    for (const auto& problem : outcome.problems)
        told += problem.reason.find("Thunderbird is running") != std::string::npos;
    EXPECT_EQ(told, 2u);  // the settings, and the address books
}
