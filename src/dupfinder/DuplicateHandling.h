#pragma once
// Deletes the duplicates found, or moves each into a chosen folder (copy into the target,
// commit, and only then delete the source).
#include <set>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "dupfinder/DuplicateSearch.h"
#include "model/Outcome.h"
#include "model/Worker.h"

// A mail folder: its identity and its folder id.
using FolderKey = std::pair<std::u16string, uint32_t>;

// The entries that lie in one of `folders`, in their order.
std::vector<DuplicateEntry> KeepInFolders(const std::vector<DuplicateEntry>& all,
                                          const std::set<FolderKey>& folders);

bool DeleteDuplicate(const DuplicateEntry& entry, std::string& why);
bool MoveDuplicate(const DuplicateEntry& entry, const std::u16string& targetIdentity,
                   uint32_t targetFolder, std::string& why);

// Why a move into one of the folders whose copies are moved is refused.
inline constexpr char kMoveIntoSearchedFolder[] =
    "the target folder is one of the folders whose duplicates are moved; choose a folder "
    "outside them (a new folder, for example)";

// What is done with the duplicates found (stored as 1 and 2).
enum class DuplicateAction : int32_t { None = 0, Delete = 1, Move = 2 };

struct DuplicateRequest {
    std::vector<DuplicateEntry> duplicates;
    DuplicateAction action = DuplicateAction::Delete;
    // Where Move puts them.
    std::u16string targetIdentity;
    uint32_t targetFolder = 0;
};

// Handles every entry of the request by its action; itemsDone counts the copies handled,
// problems name the ones that could not be.
v::Outcome ProcessDuplicates(const DuplicateRequest& request, v::WorkerReport& report,
                             std::stop_token stop);
