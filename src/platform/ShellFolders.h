#pragma once
// The user's special folders on Linux, and the archive's native path form.
#include <optional>
#include <string>
#include <string_view>

namespace tindale::shell {

std::string HomeFolder();       // $HOME: the profile folder
std::string DocumentsFolder();  // XDG documents folder (user-dirs.dirs), created when missing
std::string ContactsFolder();   // $HOME/Contacts (not created)
std::string FavoritesFolder();  // $HOME/Favorites (not created)
std::string TempFolder();       // $TMPDIR or /tmp
std::string DataFolder();       // $XDG_DATA_HOME, else $HOME/.local/share (not created)
std::string ConfigFolder();     // $XDG_CONFIG_HOME, else $HOME/.config (not created)

// The archive's path form: backslash separators, the home folder written as %USERPROFILE%.
// Fails for a path that cannot make the round trip (a backslash inside a name).
std::optional<std::u16string> ToArchivePath(std::string_view linuxPath);

// Expands %VAR% forms (USERPROFILE is the home folder) and turns backslashes into slashes.
// Refuses, with a reason, a result that is not absolute or that has "." or ".." components,
// so that nothing is written anywhere but where the stored path says.
std::optional<std::string> ExpandArchivePath(std::u16string_view stored,
                                             std::string* why = nullptr);

}  // namespace tindale::shell
