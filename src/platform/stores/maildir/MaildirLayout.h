#pragma once
// How a store of the Maildir family lays its folders out. Every folder's messages sit in a
// maildir (cur/, new/, tmp/); the layouts differ in where a folder's subfolders live:
//   Maildir++  ".A.B" directories directly under the root, the root itself is the Inbox
//              (Dovecot, Courier, Evolution's local store, mbsync "SubFolders Maildir++");
//   verbatim   a folder's subfolders are directories inside its maildir: "A/B"
//              (mbsync "SubFolders Verbatim");
//   legacy     as verbatim, each level below the top starting with a dot: "A/.B"
//              (mbsync "SubFolders Legacy");
//   kmail      a folder's subfolders sit in ".NAME.directory" beside it: "A", ".A.directory/B"
//              (KMail's local folders).
// In the nested layouts the Inbox is the top-level folder named "inbox" in any letter case.
#include <optional>
#include <string>
#include <vector>

#include "platform/stores/StoreBackend.h"

namespace tindale::store {

enum class MaildirLayout { PlusPlus, Verbatim, Legacy, KMail };

// Every folder of the store, parents before their children; in the nested layouts a
// directory that is no maildir but holds folders below it is a folder too (without
// messages). Maildirs whose names no folder can stand for go to `unmapped`.
std::vector<FolderEntry> ListMaildirFolders(const std::string& root, MaildirLayout layout,
                                            std::vector<Unmapped>& unmapped);
// Where the folder `path` goes (relative to the root) when its parent's directory is
// `parentDir` (empty at the top); none for a name no directory of this layout can carry.
std::optional<std::string> MaildirFolderDirectory(MaildirLayout layout,
                                                  const std::string& parentDir,
                                                  const std::vector<std::u16string>& path);
// What a directory shows of the Maildir layouts: whether it is a maildir itself, holds ".X"
// maildirs, ".X.directory" folders, or maildirs with plain names.
struct MaildirSigns {
    bool maildir = false, dotted = false, directories = false, nested = false;
};
MaildirSigns ReadMaildirSigns(const std::string& root);
// The layout of an existing store directory: Maildir++ when it is a maildir or holds ".X"
// maildirs, kmail when it holds ".X.directory" folders, verbatim when maildirs sit in it;
// none when it holds no maildir at all.
std::optional<MaildirLayout> DetectMaildirLayout(const std::string& root);

}  // namespace tindale::store
