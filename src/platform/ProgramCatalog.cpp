#include "platform/ProgramCatalog.h"

#include <dirent.h>
#include <fnmatch.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>

#include "platform/FirefoxBookmarks.h"
#include "platform/ShellFolders.h"
#include "platform/StoreDiscovery.h"

namespace tindale::programs {

// Which entries of a profile folder one part takes.
struct FolderRule {
    std::vector<const char*> only;          // top-level entries this part takes whole
    std::vector<const char*> keep;          // paths taken even below a skipped one
    std::vector<const char*> skip;          // paths left out, with everything below them
    std::vector<const char*> skipNames;     // names left out at any depth
    std::vector<const FolderRule*> others;  // parts that take their `only` entries instead
};

namespace {

bool Matches(const char* pattern, std::string_view path) {
    return ::fnmatch(pattern, std::string(path).c_str(), FNM_PATHNAME) == 0;
}

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

std::string ReadText(const std::string& path, size_t limit = 1 << 20) {
    std::ifstream in(path, std::ios::binary);
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* d = ::readdir(dir))
            if (d->d_name[0] != '.') names.emplace_back(d->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
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

namespace {

// The places a restore may write programs' files to, as patterns over absolute paths.
std::vector<std::string> PlacePatterns() {
    std::string home = shell::HomeFolder(), config = shell::ConfigFolder(),
                data = shell::DataFolder();
    return {home + "/.thunderbird",
            home + "/.mozilla-thunderbird",
            home + "/.mozilla/firefox",
            config + "/mozilla/firefox",
            config + "/chromium",
            config + "/google-chrome",
            config + "/evolution",
            data + "/evolution",
            config + "/kmail2rc",
            config + "/emailidentities",
            config + "/emaildefaults",
            config + "/mailtransports",
            config + "/akonadi_*_resource_*rc",
            data + "/contacts",
            home + "/.muttrc",
            home + "/.mutt",
            config + "/mutt",
            home + "/.neomuttrc",
            config + "/neomutt",
            home + "/.mbsyncrc",
            config + "/isyncrc",
            home + "/.notmuch-config",
            config + "/notmuch",
            home + "/.msmtprc",
            config + "/msmtp",
            data + "/keyrings",
            data + "/kwalletd"};
}

size_t PartsOf(std::string_view path) {
    return static_cast<size_t>(std::count(path.begin(), path.end(), '/'));
}

// The first `parts` parts of an absolute path ("/a/b/c", 2 -> "/a/b").
std::string_view Leading(std::string_view path, size_t parts) {
    size_t end = 0;
    for (size_t i = 0; i < parts && end != std::string_view::npos; ++i)
        end = path.find('/', end + 1);
    return path.substr(0, end);
}

}  // namespace

std::optional<std::string> ProgramPlaceRoot(const std::string& path) {
    for (const auto& pattern : PlacePatterns()) {
        size_t parts = PartsOf(pattern);
        std::string_view place = Leading(path, parts);
        if (PartsOf(place) != parts || !Matches(pattern.c_str(), place)) continue;
        std::string_view below = std::string_view(path).substr(place.size());
        if (below.find("/.") != std::string_view::npos) return std::nullopt;
        return std::string(place.substr(0, place.rfind('/')));
    }
    return std::nullopt;
}

namespace {

// Whether a process of this user is alive with that id.
bool Alive(long pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// The process id a profile's lock link names ("127.0.1.1:+4242", "host-4242"), or 0.
long LockHolder(const std::string& link) {
    char target[512];
    ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) return 0;
    std::string text(target, static_cast<size_t>(n));
    auto at = text.find_last_of("+-");
    if (at == std::string::npos) return 0;
    return std::strtol(text.c_str() + at + 1, nullptr, 10);
}

std::vector<std::string> ProcessNames(const std::string& program) {
    if (program == "Thunderbird") return {"thunderbird", "thunderbird-bin"};
    if (program == "Firefox") return {"firefox", "firefox-esr", "firefox-bin"};
    if (program == "Chromium") return {"chromium", "chromium-browse"};
    if (program == "Chrome") return {"chrome", "google-chrome"};
    if (program == "Evolution") return {"evolution"};
    if (program == "KMail") return {"kmail"};
    if (program == "mutt") return {"mutt"};
    if (program == "NeoMutt") return {"neomutt"};
    if (program == "mbsync") return {"mbsync"};
    return {};
}

bool RunningByName(const std::vector<std::string>& names) {
    if (names.empty()) return false;
    uid_t me = ::getuid();
    for (const auto& entry : Names("/proc")) {
        if (entry.find_first_not_of("0123456789") != std::string::npos) continue;
        struct stat st {};
        if (::stat(("/proc/" + entry).c_str(), &st) != 0 || st.st_uid != me) continue;
        std::string comm = ReadText("/proc/" + entry + "/comm", 64);
        while (!comm.empty() && comm.back() == '\n') comm.pop_back();
        if (std::find(names.begin(), names.end(), comm) == names.end()) continue;
        // The same program for another home (another account's session, a test) uses other
        // files.
        const std::string nul(1, '\0');
        std::string environ = nul + ReadText("/proc/" + entry + "/environ", 1 << 16);
        bool otherHome =
            environ.find(nul + "HOME=") != std::string::npos &&
            environ.find(nul + "HOME=" + shell::HomeFolder() + nul) == std::string::npos;
        if (!otherHome) return true;
    }
    return false;
}

}  // namespace

std::optional<std::string> InUse(const std::string& program,
                                 const std::vector<std::string>& places) {
    for (const auto& place : places) {
        for (const char* lock : {"/lock", "/SingletonLock", "/../SingletonLock"})
            if (Alive(LockHolder(place + lock)))
                return program + " is running (" + place + " is in use)";
    }
    if (RunningByName(ProcessNames(program))) return program + " is running";
    return std::nullopt;
}

bool IsTextSettingsFile(std::string_view name) {
    static const std::vector<const char*> patterns = {
        "prefs.js",        "user.js",       "*.ini",         "*rc",         ".muttrc",
        ".neomuttrc",      "*.source",      "*.muttrc",      "muttrc*",     "*.conf",
        "config",          "*.xml",         "*-config",      "Preferences", "Local State",
        "emailidentities", "emaildefaults", "mailtransports"};
    return AnyMatches(patterns, name);
}

std::string RewriteHome(std::string_view text, const std::string& oldHome,
                        const std::string& newHome) {
    if (oldHome.empty() || oldHome == "/" || oldHome == newHome) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0;;) {
        size_t found = text.find(oldHome, at);
        if (found == std::string_view::npos) {
            out.append(text.substr(at));
            return out;
        }
        size_t end = found + oldHome.size();
        // Only the home folder itself or a path below it, not "/home/ann2" for "/home/ann".
        bool whole = end == text.size() || std::string_view("/\"'\\ \t\r\n,;)]").find(text[end]) !=
                                               std::string_view::npos;
        out.append(text.substr(at, found - at));
        out.append(whole ? newHome : oldHome);
        at = end;
    }
}

bool HoldsPlainPassword(std::string_view text) {
    static const std::regex pattern(R"(^\s*(Pass|password|set\s+(imap|smtp|pop)_pass)\s*[ =])",
                                    std::regex::multiline | std::regex::icase);
    return std::regex_search(text.begin(), text.end(), pattern);
}

bool IsProfileList(std::string_view name) {
    return name == "profiles.ini" || name == "installs.ini";
}

namespace {

struct IniSection {
    std::string header;  // "[Profile0]"; empty for lines before the first section
    std::vector<std::string> lines;
    std::string Value(const std::string& key) const {
        for (const auto& line : lines)
            if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
        return {};
    }
};

std::vector<IniSection> ParseIni(std::string_view text) {
    std::vector<IniSection> sections(1);
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        while (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[')
            sections.push_back({line, {}});
        else if (!line.empty())
            sections.back().lines.push_back(line);
    }
    return sections;
}

}  // namespace

std::string MergeProfileLists(std::string_view existing, std::string_view archived) {
    auto merged = ParseIni(existing);
    auto has = [&](auto predicate) { return std::any_of(merged.begin(), merged.end(), predicate); };
    int nextProfile = 0;
    for (const auto& s : merged)
        if (s.header.rfind("[Profile", 0) == 0)
            nextProfile = std::max(nextProfile, std::atoi(s.header.c_str() + 8) + 1);
    for (auto section : ParseIni(archived)) {
        if (section.header.empty()) continue;
        if (section.header.rfind("[Profile", 0) == 0) {
            std::string path = section.Value("Path");
            if (has([&](const IniSection& s) {
                    return s.header.rfind("[Profile", 0) == 0 && s.Value("Path") == path;
                }))
                continue;
            // The person's current default stays the default.
            std::erase(section.lines, std::string("Default=1"));
            section.header = "[Profile" + std::to_string(nextProfile++) + "]";
        } else if (has([&](const IniSection& s) { return s.header == section.header; })) {
            continue;
        }
        merged.push_back(std::move(section));
    }
    std::string out;
    for (const auto& s : merged) {
        if (!s.header.empty()) out += (out.empty() ? "" : "\n") + s.header + "\n";
        for (const auto& line : s.lines) out += line + "\n";
    }
    return out;
}

}  // namespace tindale::programs
