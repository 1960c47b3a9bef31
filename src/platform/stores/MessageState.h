#pragma once
// What a message says beyond its bytes, in every store kind's terms alike: its flags as
// Maildir info letters ("D F P R S T" and lowercase keyword letters), whether it was still
// new (never seen by a client), and its arrival time (what IMAP servers report as
// INTERNALDATE).
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace tindale::store {

struct MessageState {
    std::string flags;  // letters only, each once, in ASCII order
    bool inNew = false;
    int64_t arrivalSeconds = 0;
    uint32_t arrivalNanos = 0;
    bool known = false;  // false: nothing is known, the store's defaults apply

    // The state a Maildir message file's path ("…/cur/NAME:2,FS") and its stat give.
    static MessageState Of(const std::string& path, const struct stat& st);
    // Flags cleaned to what a Maildir name may carry.
    static std::string CleanFlags(std::string_view flags);
    // The name a message with this state gets in a maildir, relative to it ("cur/U:2,FS").
    std::string RelativeName(const std::string& unique) const;
};

}  // namespace tindale::store
