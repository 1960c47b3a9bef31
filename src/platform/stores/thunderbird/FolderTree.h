#pragma once
// Thunderbird's folder tree, the same for every store Thunderbird keeps: a folder NAME sits
// beside NAME.sbd/, the place of its subfolders, and a NAME.sbd without a NAME still makes
// NAME a folder (one without messages). Whether an entry is a folder of its own is the
// store kind's to say (an mbox file, or a directory of message files).
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/stores/StoreBackend.h"

namespace tindale::store {

// Whether the entry `name` at the full path `full` is a folder of this store kind; when it is
// not but holds mail that cannot be read, why (said among what was left out).
struct EntryVerdict {
    bool folder = false;
    std::string leftOutBecause;
};
using IsFolderEntry = std::function<EntryVerdict(const std::string& full, const std::string& name)>;

std::vector<FolderEntry> ListThunderbirdFolders(const std::string& root,
                                                const IsFolderEntry& isFolder,
                                                std::vector<Unmapped>& unmapped);
// Where a new folder `name` goes (relative to the root): in the .sbd of the folder at
// `parentDir`, or at the top when it is empty. None for a name Thunderbird would not read
// as a folder.
std::optional<std::string> ThunderbirdChildPath(const std::string& parentDir,
                                                std::u16string_view name);
// Files Thunderbird keeps beside its folders that are no folders (.msf and the like).
bool IsThunderbirdCompanion(const std::string& name);
bool IsRealDirectory(const std::string& path);

}  // namespace tindale::store
