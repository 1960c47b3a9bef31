#pragma once
// What an identity's record says of it, so that a restore gives each identity's mail to its
// own identity here, and makes an identity the home lacks again, with its store of the same
// kind where it was:
//   0 "TZMI" | 4 version (1) | 5 store kind (0 Maildir++, 1 verbatim, 2 legacy, 3 KMail,
//   4 mbox, 5 Thunderbird's file per message) | 6 two zero bytes | 8 strings, each a u16
//   length and UTF-8 bytes: the identity's id, its name, its store's root (archive form).
#include <optional>
#include <string>
#include <vector>

#include "platform/StoreLayout.h"

namespace v {

struct IdentityRecord {
    std::u16string id;
    std::u16string name;
    std::u16string storedRoot;  // "%USERPROFILE%\\Mail\\archive"
    tindale::store::StoreKind kind = tindale::store::StoreKind::MaildirPlusPlus;

    std::vector<uint8_t> Encode() const;
    static std::optional<IdentityRecord> Decode(const std::vector<uint8_t>& bytes);
};

}  // namespace v
