#pragma once
// How an mbox folder keys its messages for their ids: a hash of a message's bytes as stored
// (without the client's state lines) and their length. Shared by reading and writing.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace tindale::store::mboxkeys {

inline constexpr uint64_t kFnvStart = 14695981039346656037ull;

inline uint64_t Fnv(uint64_t hash, std::string_view bytes) {
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

inline std::string KeyFor(uint64_t hash, uint64_t length) {
    char key[48];
    std::snprintf(key, sizeof key, "%016llx-%llu", static_cast<unsigned long long>(hash),
                  static_cast<unsigned long long>(length));
    return key;
}

}  // namespace tindale::store::mboxkeys
