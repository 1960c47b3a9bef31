#pragma once
// What a message says beyond its bytes, in every store kind's terms alike: its flags as
// Maildir info letters ("D F P R S T" and lowercase keyword letters), whether it was still
// new (never seen by a client), and its arrival time (what IMAP servers report as
// INTERNALDATE).
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tindale::store {

// A keyword of a message by name, with the letter that stood for it in its folder (0 when it
// had none: a store that keeps keywords by name).
struct Keyword {
    char letter = 0;
    std::string name;
    bool operator==(const Keyword&) const = default;
};

struct MessageState {
    std::string flags;  // letters only, each once, in ASCII order
    // The name the message had in its folder, without the flags (the unique part and what
    // clients add to it, such as mbsync's ",U=7" or Dovecot's ",S=1234"); empty if unknown.
    std::string fileName;
    std::vector<Keyword> keywords;  // names of its keyword letters, where its folder had them
    bool inNew = false;
    int64_t arrivalSeconds = 0;
    uint32_t arrivalNanos = 0;
    bool known = false;  // false: nothing is known, the store's defaults apply

    // The state a Maildir message file's path ("…/cur/NAME:2,FS") and its stat give.
    static MessageState Of(const std::string& path, const struct stat& st);
    // Flags cleaned to what a Maildir name may carry.
    static std::string CleanFlags(std::string_view flags);
    // The name a message with this state gets in a maildir, relative to it ("cur/U:2,FS"):
    // in new/ when it was there (with its flags, as clients such as mbsync leave them).
    std::string RelativeName(const std::string& unique) const;
    // Whether `name` can be a message file's name before its flags: no '/', no ':', no NUL,
    // not hidden, at most 200 bytes (room for the flags after it).
    static bool UsableFileName(std::string_view name);
};

}  // namespace tindale::store
