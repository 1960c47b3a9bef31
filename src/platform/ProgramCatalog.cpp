#include "platform/ProgramCatalog.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>

#include "platform/FirefoxBookmarks.h"
#include "platform/ProgramFileHelpers.h"
#include "platform/ShellFolders.h"
#include "platform/StoreDiscovery.h"

namespace tindale::programs {

using detail::Matches;
using detail::Names;
using detail::ReadText;

// Which entries of a profile folder one part takes.
struct FolderRule {
    std::vector<const char*> only;          // top-level entries this part takes whole
    std::vector<const char*> keep;          // paths taken even below a skipped one
    std::vector<const char*> skip;          // paths left out, with everything below them
    std::vector<const char*> skipNames;     // names left out at any depth
    std::vector<const FolderRule*> others;  // parts that take their `only` entries instead
};

namespace {

bool AnyMatches(const std::vector<const char*>& patterns, std::string_view path) {
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const char* p) { return Matches(p, path); });
}

// Whether `relative` or a folder above it matches one of `patterns`.
bool SelfOrAboveMatches(const std::vector<const char*>& patterns, std::string_view relative) {
    for (size_t end = relative.find('/');; end = relative.find('/', end + 1)) {
        if (AnyMatches(patterns, relative.substr(0, end))) return true;
        if (end == std::string_view::npos) return false;
    }
}

// Never worth saving, whatever the program: journals and lock files of a database in use,
// temporary files.
const std::vector<const char*> kTransient = {"*.sqlite-wal", "*.sqlite-shm", "*.sqlite-journal",
                                             "*-journal",    "*.tmp",        "lock",
                                             "parent.lock",  "Singleton*",   "*.lock"};

const FolderRule kThunderbirdSecrets{
    {"logins.json", "logins-backup.json", "logins.db", "key4.db", "key3.db", "cert9.db", "cert8.db",
     "pkcs11.txt", "signons.sqlite", "cookies.sqlite", "encrypted-openpgp-passphrase.txt"},
    {},
    {},
    kTransient,
    {}};
const FolderRule kThunderbirdContacts{
    {"abook.sqlite", "abook-*.sqlite", "history.sqlite", "*.mab"}, {}, {}, kTransient, {}};
// Everything but caches, indexes, telemetry, crash reports and the mail itself (which the
// message store saves); an account folder keeps its filters and its POP state.
const FolderRule kThunderbirdSettings{
    {},
    {"Mail/*/msgFilterRules.dat", "Mail/*/popstate.dat", "ImapMail/*/msgFilterRules.dat",
     "News/*/msgFilterRules.dat"},
    {"Mail/*/*",
     "ImapMail/*/*",
     "News/*/*",
     "cache2",
     "startupCache",
     "crashes",
     "minidumps",
     "datareporting",
     "Crash Reports",
     "Pending Pings",
     "saved-telemetry-pings",
     "safebrowsing",
     "thumbnails",
     "shader-cache",
     "OfflineCache",
     "storage",
     "gmp-*",
     "security_state",
     "global-messages-db.sqlite",
     "settings",
     "addonStartup.json.lz4",
     "sessionCheckpoints.json",
     "storage.sqlite",
     "places.sqlite",
     "favicons.sqlite",
     "formhistory.sqlite",
     "panacea.dat",
     "folderCache.json",
     "sessionstore-backups",
     "session.json.backup"},
    [] {
        auto names = kTransient;
        names.push_back("*.msf");
        return names;
    }(),
    {&kThunderbirdSecrets, &kThunderbirdContacts}};

const FolderRule kFirefoxSettings{
    {"prefs.js", "user.js", "handlers.json", "search.json.mozlz4", "containers.json",
     "xulstore.json", "permissions.sqlite", "content-prefs.sqlite", "extensions.json",
     "extension-preferences.json", "extension-settings.json", "extensions", "chrome",
     "browser-extension-data", "times.json"},
    {},
    {},
    kTransient,
    {}};
const FolderRule kFirefoxHistory{{"places.sqlite", "favicons.sqlite", "formhistory.sqlite",
                                  "sessionstore.jsonlz4", "sessionstore-backups"},
                                 {},
                                 {},
                                 kTransient,
                                 {}};
const FolderRule kFirefoxSecrets{{"logins.json", "logins-backup.json", "logins.db", "key4.db",
                                  "cert9.db", "pkcs11.txt", "cookies.sqlite"},
                                 {},
                                 {},
                                 kTransient,
                                 {}};
const FolderRule kFirefoxBookmarks{{"bookmarkbackups"}, {}, {}, kTransient, {}};

const FolderRule kChromiumSettings{
    {"Preferences", "Secure Preferences", "Custom Dictionary.txt"}, {}, {}, kTransient, {}};
const FolderRule kChromiumHistory{
    {"History", "Favicons", "Top Sites", "Shortcuts", "Visited Links"}, {}, {}, kTransient, {}};
const FolderRule kChromiumSecrets{
    {"Login Data", "Login Data For Account", "Cookies", "Web Data"}, {}, {}, kTransient, {}};
const FolderRule kChromiumBookmarks{{"Bookmarks"}, {}, {}, kTransient, {}};

const FolderRule kEvolutionData{{}, {}, {"mail", "addressbook", "cache"}, kTransient, {}};
const FolderRule kConfigFolder{{},
                               {},
                               {},
                               [] {
                                   auto names = kTransient;
                                   names.push_back("*cache*");
                                   return names;
                               }(),
                               {}};

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class Finder {
  public:
    explicit Finder(Shelf shelf) : shelf_(shelf) {}

    // Adds a part with the places among `places` that exist; nothing when none does.
    void Add(const std::string& program, const std::string& profile, Shelf shelf, Part part,
             std::vector<Place> places) {
        if (shelf != shelf_) return;
        std::erase_if(places, [](const Place& p) {
            return !Exists(p.madeFrom.empty() ? p.path : p.madeFrom);
        });
        if (places.empty()) return;
        found_.push_back({program, profile, shelf, part, std::move(places)});
    }

    // A program of configuration files: files holding a password in plain make a part of
    // their own, among the secrets.
    void AddConfig(const std::string& program, std::vector<Place> places) {
        std::vector<Place> settings, secrets;
        for (auto& place : places) {
            bool secret = !IsFolder(place.path) && HoldsPlainPassword(ReadText(place.path));
            (secret ? secrets : settings).push_back(std::move(place));
        }
        Add(program, "", Shelf::MailSettings, Part::Settings, std::move(settings));
        Add(program, "", Shelf::MailSettings, Part::Secrets, std::move(secrets));
    }

    std::vector<ProgramPart> Take() { return std::move(found_); }

  private:
    Shelf shelf_;
    std::vector<ProgramPart> found_;
};

// Thunderbird and Firefox keep their profiles the same way: profiles.ini names them.
struct MozillaRules {
    const FolderRule* settings;
    const FolderRule* history;
    const FolderRule* secrets;
    const FolderRule* contacts;
    const FolderRule* bookmarks;
    Shelf settingsShelf;
};

void AddMozilla(Finder& finder, const std::string& program, const std::string& base,
                const MozillaRules& rules) {
    auto profiles = identities::ParseProfilesIni(ReadText(base + "/profiles.ini"), base);
    for (const auto& profile : profiles) {
        if (!IsFolder(profile.folder)) continue;
        std::string name = profile.name.empty() ? profile.pathAsWritten : profile.name;
        auto part = [&](Shelf shelf, Part kind, const FolderRule* rule, bool withLists) {
            if (!rule) return;
            std::vector<Place> places;
            if (withLists) places = {{base + "/profiles.ini"}, {base + "/installs.ini"}};
            places.push_back({profile.folder, rule});
            // Firefox's bookmarks live beside its history in places.sqlite: they are saved as
            // one of its own bookmark backups, which it restores when it has no places.sqlite.
            if (kind == Part::Bookmarks && rules.history)
                places.push_back({profile.folder + "/bookmarkbackups/" +
                                      FirefoxBookmarksBackupName(std::time(nullptr)),
                                  nullptr, profile.folder + "/places.sqlite"});
            finder.Add(program, name, shelf, kind, std::move(places));
        };
        part(rules.settingsShelf, Part::Settings, rules.settings, true);
        part(rules.settingsShelf, Part::History, rules.history, false);
        part(rules.settingsShelf, Part::Secrets, rules.secrets, false);
        part(Shelf::Contacts, Part::Contacts, rules.contacts, false);
        part(Shelf::Favorites, Part::Bookmarks, rules.bookmarks, false);
    }
}

void AddChromium(Finder& finder, const std::string& program, const std::string& base) {
    for (const auto& name : Names(base)) {
        std::string folder = base + "/" + name;
        if (!(name == "Default" || name.rfind("Profile ", 0) == 0) ||
            !Exists(folder + "/Preferences"))
            continue;
        finder.Add(program, name, Shelf::BrowserSettings, Part::Settings,
                   {{base + "/Local State"}, {folder, &kChromiumSettings}});
        finder.Add(program, name, Shelf::BrowserSettings, Part::History,
                   {{folder, &kChromiumHistory}});
        finder.Add(program, name, Shelf::BrowserSettings, Part::Secrets,
                   {{folder, &kChromiumSecrets}});
        finder.Add(program, name, Shelf::Favorites, Part::Bookmarks,
                   {{folder, &kChromiumBookmarks}});
    }
}

void AddKMail(Finder& finder, const std::string& config) {
    std::vector<Place> places = {{config + "/kmail2rc"},
                                 {config + "/emailidentities"},
                                 {config + "/emaildefaults"},
                                 {config + "/mailtransports"}};
    for (const auto& name : Names(config))
        if (Matches("akonadi_*_resource_*rc", name)) places.push_back({config + "/" + name});
    finder.AddConfig("KMail", std::move(places));
}

}  // namespace

bool Place::Takes(std::string_view relative, bool) const {
    if (!rule) return true;
    auto slash = relative.rfind('/');
    std::string_view name = slash == std::string_view::npos ? relative : relative.substr(slash + 1);
    if (AnyMatches(rule->skipNames, name)) return false;
    if (!rule->only.empty()) return SelfOrAboveMatches(rule->only, relative);
    if (AnyMatches(rule->keep, relative)) return true;
    if (SelfOrAboveMatches(rule->skip, relative)) return false;
    std::string_view top = relative.substr(0, relative.find('/'));
    return std::none_of(rule->others.begin(), rule->others.end(),
                        [&](const FolderRule* other) { return AnyMatches(other->only, top); });
}

std::string ProgramPart::Label() const {
    std::string label = program;
    if (!profile.empty()) label += " (" + profile + ")";
    switch (part) {
        case Part::Settings:
            break;
        case Part::History:
            label += ": history";
            break;
        case Part::Secrets:
            label += ": saved passwords and keys";
            break;
        case Part::Contacts:
            label += ": address books";
            break;
        case Part::Bookmarks:
            label += ": bookmarks";
            break;
    }
    return label;
}

std::vector<ProgramPart> FindPrograms(Shelf shelf) {
    std::string home = shell::HomeFolder(), config = shell::ConfigFolder(),
                data = shell::DataFolder();
    Finder finder(shelf);
    MozillaRules thunderbird{&kThunderbirdSettings, nullptr, &kThunderbirdSecrets,
                             &kThunderbirdContacts, nullptr, Shelf::MailSettings};
    for (const auto& base : {home + "/.thunderbird", home + "/.mozilla-thunderbird"})
        AddMozilla(finder, "Thunderbird", base, thunderbird);
    finder.Add("Evolution", "", Shelf::MailSettings, Part::Settings,
               {{config + "/evolution", &kConfigFolder}, {data + "/evolution", &kEvolutionData}});
    AddKMail(finder, config);
    finder.AddConfig("mutt", {{home + "/.muttrc"},
                              {home + "/.mutt", &kConfigFolder},
                              {config + "/mutt", &kConfigFolder}});
    finder.AddConfig("NeoMutt", {{home + "/.neomuttrc"}, {config + "/neomutt", &kConfigFolder}});
    finder.AddConfig("mbsync", {{home + "/.mbsyncrc"}, {config + "/isyncrc"}});
    finder.AddConfig("notmuch", {{home + "/.notmuch-config"}, {config + "/notmuch"}});
    finder.AddConfig("msmtp", {{home + "/.msmtprc"}, {config + "/msmtp"}});
    finder.Add("Desktop keyring", "", Shelf::MailSettings, Part::Secrets,
               {{data + "/keyrings"}, {data + "/kwalletd"}});

    MozillaRules firefox{&kFirefoxSettings, &kFirefoxHistory,   &kFirefoxSecrets,
                         nullptr,           &kFirefoxBookmarks, Shelf::BrowserSettings};
    // Firefox keeps its profile list in ~/.mozilla/firefox, newer ones in the XDG
    // configuration folder.
    for (const auto& base : {home + "/.mozilla/firefox", config + "/mozilla/firefox"})
        AddMozilla(finder, "Firefox", base, firefox);
    AddChromium(finder, "Chromium", config + "/chromium");
    AddChromium(finder, "Chrome", config + "/google-chrome");

    finder.Add("Evolution", "", Shelf::Contacts, Part::Contacts,
               {{data + "/evolution/addressbook"}});
    finder.Add("KDE", "", Shelf::Contacts, Part::Contacts, {{data + "/contacts"}});
    return finder.Take();
}

}  // namespace tindale::programs
