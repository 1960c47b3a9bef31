#pragma once
// Deletes the duplicates found, or moves each into a chosen folder (copy into the target,
// commit, and only then delete the source).
#include <set>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "model/Outcome.h"
#include "model/WizardState.h"
#include "model/Worker.h"

// A mail folder: its identity and its folder id.
using FolderKey = std::pair<std::u16string, uint32_t>;

// The entries that lie in one of `folders`, in their order.
std::vector<DuplicateEntry> KeepInFolders(const std::vector<DuplicateEntry>& all,
                                          const std::set<FolderKey>& folders);

bool DeleteDuplicate(const DuplicateEntry& entry, std::string& why);
bool MoveDuplicate(const DuplicateEntry& entry, const std::u16string& targetIdentity,
                   uint32_t targetFolder, std::string& why);

// Handles every entry of state.duplicates by state.duplicateAction; itemsDone counts the
// copies handled, problems name the ones that could not be.
v::Outcome ProcessDuplicates(const WizardState& state, v::WorkerReport& report,
                             std::stop_token stop);
