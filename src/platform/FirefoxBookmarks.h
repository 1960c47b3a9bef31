#pragma once
// Firefox keeps bookmarks and history in one database (places.sqlite). A backup saves the
// bookmarks alone as one of Firefox's own bookmark backups (bookmarkbackups/*.json, the
// layout Firefox writes and reads), which Firefox restores by itself when it starts with no
// places.sqlite, so that bookmarks come back without the history.
#include <optional>
#include <string>

namespace tindale::programs {

struct FirefoxBookmarks {
    std::string json;      // Firefox's bookmark backup
    size_t bookmarks = 0;  // how many bookmarks it holds (folders and separators aside)
};

// The bookmarks of a places.sqlite, read without changing it; nothing when it cannot be read.
std::optional<FirefoxBookmarks> ReadFirefoxBookmarks(const std::string& placesPath);

// A name Firefox reads as a bookmark backup made on `unixSeconds`'s day
// ("bookmarks-2026-12-10.json").
std::string FirefoxBookmarksBackupName(long long unixSeconds);

}  // namespace tindale::programs
