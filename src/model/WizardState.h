#pragma once
// The one record through which the pages of a mode, and the engines, pass choices along.
#include <cstdint>
#include <string>
#include <vector>

#include "archive/NodeRecord.h"
#include "model/Node.h"

struct DuplicateEntry {
    std::u16string identityId;
    uint32_t folderId = 0;
    uint32_t messageId = 0;
};

// What the duplicate finder does with the duplicates it found (stored as 1 and 2).
enum class DuplicateAction : int32_t { None = 0, Delete = 1, Move = 2 };

struct WizardState {
    std::u16string archivePath;
    std::u16string password;
    std::vector<v::BasicNode*> backupSources;  // owned by the source tree
    std::vector<v::NodeRecord> restoreItems;
    bool compress = false;
    bool encrypt = false;
    bool legacyEncryption = false;  // the original format's weak scheme instead of a sealed archive
    bool clearIdentity = false;
    std::u16string restoreIdentity;
    std::vector<DuplicateEntry> duplicates;
    DuplicateAction duplicateAction = DuplicateAction::None;
    std::u16string moveTargetIdentity;
    uint32_t moveTargetFolder = 0;
};
