#pragma once
// The programs around the mail whose own files a backup saves: mail programs (Thunderbird,
// Evolution, KMail, mutt and NeoMutt, mbsync, notmuch, msmtp), browsers (Firefox, Chromium,
// Chrome) and the address books and bookmarks they keep. Each program, or each profile of
// one, is found by itself and offered in parts: its settings, its history, its saved
// passwords and keys, its contacts, its bookmarks.
//
// What a part takes of a profile folder is a rule over paths relative to the folder; caches,
// indexes, crash reports, telemetry and lock files are never taken, and neither is the mail
// itself (which the message store saves as an identity).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tindale::programs {

// Where a program's part sits in the tree of sources.
enum class Shelf { MailSettings, BrowserSettings, Favorites, Contacts };

// What of a program a part holds. Settings are chosen by default; history and secrets only
// when ticked, and secrets go only into sealed archives.
enum class Part : uint8_t { Settings = 1, History = 2, Secrets = 3, Contacts = 4, Bookmarks = 5 };

struct FolderRule;

// One file or folder of a program. A folder with a rule holds what the rule takes; without
// one, everything below it.
struct Place {
    Place(std::string path, const FolderRule* rule = nullptr, std::string madeFrom = {})
        : path(std::move(path)), rule(rule), madeFrom(std::move(madeFrom)) {}

    std::string path;
    const FolderRule* rule = nullptr;
    // A file made at backup time from another (Firefox's bookmarks from its places.sqlite):
    // it exists when that one does.
    std::string madeFrom;
    // Whether an entry at `relative` (below `path`, "/"-separated) belongs to this place.
    bool Takes(std::string_view relative, bool isFolder) const;
};

struct ProgramPart {
    std::string program;  // "Thunderbird"
    std::string profile;  // "default-release"; empty when the program has one set of files
    Shelf shelf = Shelf::MailSettings;
    Part part = Part::Settings;
    std::vector<Place> places;  // existing files and folders only

    // "Thunderbird (default-release)", "Firefox (default-esr): history".
    std::string Label() const;
};

// Every part of every program found in the current home that belongs on `shelf`.
std::vector<ProgramPart> FindPrograms(Shelf shelf);

// Whether a restore may write `path` (absolute, already expanded) as a program's file: it is
// one of the places programs keep their files, or below one, with no name beginning with a
// dot below it. Gives the folder to open for writing (the place's parent), from which nothing
// below may be a link.
std::optional<std::string> ProgramPlaceRoot(const std::string& path);

// Says why `program`'s files must not be written now (it is running, or a profile among
// `places` is in use), or nothing when it is closed.
std::optional<std::string> InUse(const std::string& program,
                                 const std::vector<std::string>& places);

// Files that hold settings as text, in which a restore into another home rewrites the old
// home folder's path.
bool IsTextSettingsFile(std::string_view name);

// The text with every path below `oldHome` moved below `newHome`.
std::string RewriteHome(std::string_view text, const std::string& oldHome,
                        const std::string& newHome);

// Whether a text configuration file holds a password in plain (mbsync's Pass, msmtp's
// password, mutt's *_pass): it counts as a secret then.
bool HoldsPlainPassword(std::string_view text);

// Profile lists (Thunderbird's and Firefox's profiles.ini and installs.ini): a restore into
// a home that has one adds the archived sections it lacks instead of replacing it.
bool IsProfileList(std::string_view name);
std::string MergeProfileLists(std::string_view existing, std::string_view archived);

}  // namespace tindale::programs
