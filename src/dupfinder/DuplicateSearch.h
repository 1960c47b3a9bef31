#pragma once
// Finds messages stored more than once in the same folder: copies are messages a reader
// would see as the same message. They have the same Message-ID (or none on both), the same
// From, Sender, To, Cc, Date and Subject, and the same body once line ends are normalised
// (CRLF and LF). Headers added on the way or by filters may differ (Received, Delivered-To,
// Return-Path, X-Spam-*, Status, X-Mozilla-*, ...); when a time they give differs, that
// changes nothing. A message with neither Message-ID nor Date is a copy only when every
// other header but those is equal too. Candidates share a hash of those header fields
// (sorted on it, so only neighbours are compared); only candidates are read whole.
//
// Of each group of copies a live one stays: a copy marked trashed (T) stays only when every
// copy is; then the one with the most state (most flags, seen before unseen, the earliest
// arrival). It takes the flags of the copies that go, except trashed.
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

// A digest of what makes a message the message it is (the fields above and its body with
// line ends normalised), by message id; none when it cannot be read.
using ContentDigest = std::function<std::optional<std::array<uint8_t, 32>>(uint32_t messageId)>;

// A message's Maildir state, by message id.
using StateLookup = std::function<tindale::store::MessageState(uint32_t messageId)>;

// One group of copies in a folder: the message that stays, the ones that go, and the flags
// the one that stays ends with.
struct DuplicateGroup {
    uint32_t kept = 0;
    std::vector<uint32_t> surplus;
    std::string flags;
};

// What the search keeps of a message: its id and the hash of its identifying header fields,
// 16 bytes, so that a folder of a million messages takes a few dozen megabytes.
struct DuplicateCandidate {
    uint32_t messageId = 0;
    uint64_t identity = 0;
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
