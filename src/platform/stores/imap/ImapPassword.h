#pragma once
// Where the password of an IMAP account comes from, asked in this order:
//   1. $TINDALE_IMAP_PASSWORD;
//   2. the desktop's keyring (libsecret), when the person allowed this program to look
//      there (SetKeyringAllowed; and to keep there a password that worked);
//   3. the asker the program installed: a terminal prompt, a file (--password-file), the
//      wizard's dialog.
// A password that worked is kept in memory for the rest of the run, never on disk in plain.
#include <functional>
#include <optional>
#include <string>

#include "platform/stores/imap/ImapAccount.h"

namespace tindale::store {

// Asked with the account and, when a password was refused before, why; none: the person
// gave none (cancelled).
using ImapPasswordAsker =
    std::function<std::optional<std::string>(const ImapAccount&, const std::string& refusal)>;

void SetImapPasswordAsker(ImapPasswordAsker asker);
// `read`: passwords are looked up in the keyring; `keep`: one that worked is kept there.
void SetKeyringAllowed(bool read, bool keep);

// The password to try for `account`; none when there is none to try.
std::optional<std::string> ImapPasswordFor(const ImapAccount& account, const std::string& refusal);
// The password worked: kept for the run (and in the keyring when allowed).
void ImapPasswordWorked(const ImapAccount& account, const std::string& password);
// The password was refused: not offered again from memory or the keyring.
void ImapPasswordRefused(const ImapAccount& account);

}  // namespace tindale::store
