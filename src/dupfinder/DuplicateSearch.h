#pragma once
// Finds messages stored more than once in the same folder. Candidates share their received
// time and normalised subject (sorted on those, so only neighbours are compared); of those,
// copies are the messages whose Message-ID headers are equal (or both missing) and whose
// bodies, everything after the header block, are byte for byte the same. Headers added in
// transport (Received, Delivered-To, X-...) may differ. Where the time came from the file
// rather than a header, the whole message must be equal. Only candidates are read.
//
// Of each group of copies, the one with the most state stays (most flags, cur/ before new/,
// then the earliest arrival) and takes the flags of the copies that go.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "model/Outcome.h"
#include "model/Worker.h"
#include "platform/MailStore.h"
#include "platform/StoreProps.h"

// MD5 over the 272-byte block: received time, sent time, normalised subject (255 bytes
// at most, zero-terminated, zero-padded).
std::array<uint8_t, 16> MessageDigest(const tindale::store::MessageProps& props);

// A digest of a message's body (`whole`: of all its bytes), by message id; none when it
// cannot be read.
using ContentDigest =
    std::function<std::optional<std::array<uint8_t, 32>>(uint32_t messageId, bool whole)>;
// A message's Maildir state, by message id.
using StateLookup = std::function<tindale::store::MessageState(uint32_t messageId)>;

// One group of copies in a folder: the message that stays, the ones that go, and the flags
// the one that stays ends with.
struct DuplicateGroup {
    uint32_t kept = 0;
    std::vector<uint32_t> surplus;
    std::string flags;
};

// What the search keeps of a message: its id, received time, whether that came from the file,
// and a digest of its normalised subject and Message-ID, so that a folder of a million
// messages takes a few dozen megabytes.
struct DuplicateCandidate {
    uint32_t messageId = 0;
    bool receivedFromFile = false;
    uint64_t received = 0;
    std::array<uint8_t, 16> key{};
    static DuplicateCandidate Of(const tindale::store::MessageProps& props);
};

// The groups of copies among one folder's messages. `contentOf` and `stateOf` are asked
// only about candidates; without `contentOf` nothing counts as a copy.
std::vector<DuplicateGroup> FindDuplicatesInFolder(std::vector<DuplicateCandidate> messages,
                                                   const ContentDigest& contentOf,
                                                   const StateLookup& stateOf = {});

// One surplus copy of a message, with what a person needs to check it.
struct DuplicateEntry {
    std::u16string identityId;
    uint32_t folderId = 0;
    uint32_t messageId = 0;
    uint32_t keptId = 0;     // the copy that stays
    std::string keptFlags;   // the flags it ends with
    std::string folderName;  // "Identity/Inbox/Sub"
    std::string file;        // this copy's file, and the kept one's (relative to the maildir)
    std::string keptFile;
    std::string subject, from;
    uint64_t received = 0;  // FILETIME
};

// Fills `found` (emptied first) from every folder of every identity.
v::Outcome SearchDuplicates(std::vector<DuplicateEntry>& found, v::WorkerReport& report,
                            std::stop_token stop);
