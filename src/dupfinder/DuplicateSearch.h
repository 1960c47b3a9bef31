#pragma once
// Finds messages stored more than once in the same folder: in each folder, messages are
// sorted by received time, normalised subject and digest, and of every run of adjacent
// messages with equal received time and subject all but the last are duplicates.
//
// Received times have one-second precision (or are a file's time), so distinct mail can
// share a time and subject. Two safeguards keep it: copies whose Message-ID headers differ
// are not duplicates, and where the time came from the file rather than a header, copies
// are duplicates only when their bytes are equal.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "model/Outcome.h"
#include "model/Worker.h"
#include "platform/StoreProps.h"

// MD5 over the 272-byte block: received time, sent time, normalised subject (255 bytes
// at most, zero-terminated, zero-padded).
std::array<uint8_t, 16> MessageDigest(const tindale::store::MessageProps& props);

// A digest of a message's bytes, by message id; none when it cannot be read.
using ContentDigest = std::function<std::optional<std::array<uint8_t, 32>>(uint32_t messageId)>;

// Sorts one folder's messages (a strict weak ordering) and returns the ids of the surplus
// copies in sorted order. `contentOf` is asked only for messages whose time came from
// their file and that tie with another on everything else.
std::vector<uint32_t> FindDuplicatesInFolder(std::vector<tindale::store::MessageProps> messages,
                                             const ContentDigest& contentOf = {});

// One surplus copy of a message.
struct DuplicateEntry {
    std::u16string identityId;
    uint32_t folderId = 0;
    uint32_t messageId = 0;
};

// Fills `found` (emptied first) from every folder of every identity.
v::Outcome SearchDuplicates(std::vector<DuplicateEntry>& found, v::WorkerReport& report,
                            std::stop_token stop);
