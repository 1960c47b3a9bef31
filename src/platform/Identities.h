#pragma once
// Mail identities, kept in the registry: one subkey of "Identities" per identity, named by
// its GUID in braces, with the string value "Username". An identity's store root is the
// value "Store Root" under Identities\{id}\Software\Microsoft\Outlook Express\5.0.
#include <optional>
#include <string>
#include <vector>

#include "platform/StoreLayout.h"

namespace tindale::identities {

struct Identity {
    std::u16string id;    // "{GUID}"
    std::u16string name;  // "Username"
};

std::vector<Identity> List();
// Registers an identity whose store is at `storeRoot`, laid out as `kind` says (kept as the
// value "Store Kind" beside "Store Root" when it is not Maildir++); returns its id.
std::optional<std::u16string> Add(std::u16string_view name, std::string_view storeRoot,
                                  store::StoreKind kind = store::StoreKind::MaildirPlusPlus);
// Finds an identity by GUID or by name.
std::optional<Identity> Find(std::u16string_view idOrName);
// The identity the mail client uses: "Last User ID", else "Default User ID".
std::optional<std::u16string> Current();
// The identity's store, expanded; empty when it has none.
std::string StoreRoot(std::u16string_view id);
store::StoreKind StoreKindOf(std::u16string_view id);
// Writes "Start As", "Last User ID", "Last Username" and "Default User ID", in that order;
// false, and nothing written, when the identity is not registered.
bool MakeIdentityCurrent(std::u16string_view id);
// With no identity at all and an existing ~/Maildir, registers "Main Identity" for it; then
// registers the other mail clients' local stores found in the home (see StoreDiscovery).
void EnsureDefaultIdentity();
// With no identity at all, registers "Main Identity" with its store at ~/Maildir (made when
// first opened) and returns its id; nullopt when an identity exists or none can be added.
std::optional<std::u16string> CreateDefaultIdentity();

}  // namespace tindale::identities
