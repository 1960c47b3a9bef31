#pragma once
// Finds messages stored more than once in the same folder: in each folder, messages are
// sorted by received time, normalised subject and digest, and of every run of adjacent
// messages with equal received time and subject all but the last are duplicates.
#include <array>
#include <cstdint>
#include <stop_token>
#include <vector>

#include "model/Outcome.h"
#include "model/WizardState.h"
#include "model/Worker.h"
#include "platform/StoreProps.h"

// MD5 over the 272-byte block: received time, sent time, normalised subject (255 bytes
// at most, zero-terminated, zero-padded).
std::array<uint8_t, 16> MessageDigest(const tindale::store::MessageProps& props);

// Sorts one folder's messages (a strict weak ordering) and returns the ids of the surplus
// copies in sorted order.
std::vector<uint32_t> FindDuplicatesInFolder(std::vector<tindale::store::MessageProps> messages);

// Fills state.duplicates (emptied first) from every folder of every identity.
v::Outcome SearchDuplicates(WizardState& state, v::WorkerReport& report, std::stop_token stop);
