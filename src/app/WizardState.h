#pragma once
// The one record through which the pages of a mode pass the user's choices along; the
// progress page turns it into the request of the engine it starts.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "archive/NodeRecord.h"
#include "backup/BackupEngine.h"
#include "dupfinder/DuplicateHandling.h"
#include "model/Node.h"
#include "restore/RestoreEngine.h"

struct WizardState {
    std::u16string archivePath;
    std::u16string password;
    std::optional<SealKey> sealKey;  // derived from `password` for the archive being restored
    std::vector<v::BasicNode*> backupSources;  // owned by the source tree
    std::set<const v::BasicNode*> backupWithoutOwnItems;
    std::vector<v::NodeRecord> restoreItems;
    bool compress = false;
    bool encrypt = false;
    bool legacyEncryption = false;  // the original format's weak scheme instead of a sealed archive
    bool quickCompression = false;  // LZMA's faster setting
    bool clearIdentity = false;
    bool keepNewer = false;  // existing files changed since the backup are kept
    std::u16string restoreIdentity;
    std::map<std::u16string, std::u16string> identityFor;  // each to its own: chosen otherwise
    std::u16string restoreIdentityName;                    // as the person saw it
    uint64_t restoreIdentityMessages = 0;                  // in its store when it was chosen
    std::vector<DuplicateEntry> duplicates;
    DuplicateAction duplicateAction = DuplicateAction::None;
    std::u16string moveTargetIdentity;
    uint32_t moveTargetFolder = 0;

    BackupRequest ForBackup() const {
        return {archivePath, password,         backupSources,         compress,
                encrypt,     legacyEncryption, backupWithoutOwnItems, quickCompression};
    }
    RestoreRequest ForRestore() const {
        RestoreRequest request{archivePath,     password,      restoreItems,
                               restoreIdentity, clearIdentity, sealKey};
        request.keepNewer = keepNewer;
        request.identityFor = identityFor;
        return request;
    }
    DuplicateRequest ForDuplicates() const {
        return {duplicates, duplicateAction, moveTargetIdentity, moveTargetFolder};
    }
};
