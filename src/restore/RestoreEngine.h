#pragma once
// Restores the records a request chooses: each chosen record's payload is decoded frame by
// frame and handed to a node recreated by the factory registry.
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "archive/NodeRecord.h"
#include "archive/Seal.h"
#include "model/FileNodes.h"
#include "model/Outcome.h"
#include "model/Worker.h"

struct RestoreRequest {
    std::u16string archivePath;
    std::u16string password;
    std::vector<v::NodeRecord> items;  // the records chosen, as read from the archive
    // The identity whose store restored messages go to; emptied first when `clearIdentity`.
    std::u16string identity;
    bool clearIdentity = false;
    // A sealed archive's key, when the caller derived it already to check the password:
    // used when it fits the archive, which spares a second derivation.
    std::optional<SealKey> key;
    // Every record of the archive (`items` is then not used): nothing is held per record, so
    // an archive of a million messages restores in little memory.
    bool everything = false;
    // Existing files changed since the backup are kept rather than replaced.
    bool keepNewer = false;
    // Set: nothing is restored; the existing files the restore would replace are listed here.
    v::RestorePlan* plan = nullptr;
    // Without `identity` (each identity to its own): the identity here the person chose for an
    // archived identity, by its name; the others go to their own.
    std::map<std::u16string, std::u16string> identityFor = {};
};

v::Outcome RestoreWorker(const RestoreRequest& request, v::WorkerReport& report,
                         std::stop_token stop);
