#pragma once
// How a mail store lays its folders out on disk. Every kind keeps each folder's messages in
// a maildir (cur/, new/, tmp/); they differ in where a folder's subfolders live:
//   maildir++  ".A.B" directories directly under the root, the root itself is the Inbox
//              (Dovecot, Courier, Evolution's local store, mbsync "SubFolders Maildir++");
//   verbatim   a folder's subfolders are directories inside its maildir: "A/B"
//              (mbsync "SubFolders Verbatim");
//   legacy     as verbatim, each level below the top starting with a dot: "A/.B"
//              (mbsync "SubFolders Legacy");
//   kmail      a folder's subfolders sit in ".NAME.directory" beside it: "A", ".A.directory/B"
//              (KMail's local folders);
//   mbox       each folder is an mbox file and its subfolders sit in "NAME.sbd" beside it:
//              "A", "A.sbd/B" (a Thunderbird account's folder under its profile's Mail/).
// In the nested kinds the Inbox is the top-level folder named "inbox" in any letter case.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tindale::store {

enum class StoreKind { MaildirPlusPlus, Verbatim, Legacy, KMail, Mbox };

std::string KindName(StoreKind kind);  // "maildir++", "verbatim", "legacy", "kmail", "mbox"
std::optional<StoreKind> KindNamed(std::string_view name);

// A folder directory found in a store of a nested kind.
struct NestedFolder {
    std::vector<std::u16string> path;  // folder names from the top
    std::string dir;                   // relative to the store's root
};
struct SkippedDirectory {
    std::string directory;  // relative to the store's root
    std::string reason;
};

// Every folder of a store of a nested kind, parents before their children; a directory that
// is no maildir but holds folders below it is a folder too (without messages). Maildirs whose
// names no folder can stand for go to `skipped`.
std::vector<NestedFolder> ListNestedFolders(const std::string& root, StoreKind kind,
                                            std::vector<SkippedDirectory>& skipped);
// Where a new folder named `name` goes (relative to the root): below the folder whose
// directory is `parentDir`, or at the top when it is empty. None for a name no directory
// can carry (empty, ".", "..", starting with a dot, or holding a slash).
std::optional<std::string> NestedChildDirectory(StoreKind kind, const std::string& parentDir,
                                                std::u16string_view name);

// Every folder of an mbox store: "dir" is the mbox file's path relative to the root (a
// folder that only has a "NAME.sbd" has a file that does not exist yet).
std::vector<NestedFolder> ListMboxFolders(const std::string& root,
                                          std::vector<SkippedDirectory>& skipped);
// Whether a file is an mbox folder: empty, or starting with a "From " line.
bool IsMboxFile(const std::string& path);

// The kind of an existing store directory: maildir++ when it is a maildir or holds ".X"
// maildirs, kmail when it holds ".X.directory" folders, verbatim when maildirs sit in it,
// mbox when it holds mbox files (with Thunderbird's .msf indexes or a ".sbd" folder);
// none when it holds no mail store at all.
std::optional<StoreKind> DetectKind(const std::string& root);

}  // namespace tindale::store
