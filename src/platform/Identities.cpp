#include "platform/Identities.h"

#include <filesystem>

#include "base/Guid.h"
#include "base/Text.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"
#include "platform/StoreDiscovery.h"
#include "platform/stores/imap/ImapAccount.h"

namespace tindale::identities {

namespace {
constexpr const char16_t* kIdentities = u"Identities";
const std::u16string kStoreKey = u"\\Software\\Microsoft\\Outlook Express\\5.0";

std::u16string UsernameOf(std::u16string_view id) {
    auto key = reg::Key::Open(reg::kHkeyCurrentUser,
                              std::u16string(kIdentities) + u"\\" + std::u16string(id));
    if (!key) return {};
    return key->QueryString(u"Username").value_or(u"");
}
}  // namespace

std::vector<Identity> List() {
    std::vector<Identity> out;
    auto key = reg::Key::Open(reg::kHkeyCurrentUser, kIdentities);
    if (!key) return out;
    for (uint32_t i = 0; auto sub = key->SubkeyName(i); ++i)
        out.push_back({*sub, UsernameOf(*sub)});
    return out;
}

std::optional<std::u16string> Add(std::u16string_view name, std::string_view storeRoot,
                                  store::StoreKind kind) {
    std::u16string id = Guid::NewRandom().ToString16();
    reg::Transaction batch;
    auto key = reg::Key::Create(reg::kHkeyCurrentUser, std::u16string(kIdentities) + u"\\" + id);
    auto store = reg::Key::Create(reg::kHkeyCurrentUser,
                                  std::u16string(kIdentities) + u"\\" + id + kStoreKey);
    auto stored = store::IsImapUrl(storeRoot) ? std::nullopt : shell::ToArchivePath(storeRoot);
    auto root = reg::Key::Open(reg::kHkeyCurrentUser, kIdentities);
    bool ok =
        key && store && key->SetString(u"Username", name) &&
        store->SetString(u"Store Root", stored.value_or(text::ToUtf16(storeRoot))) &&
        (kind == store::StoreKind::MaildirPlusPlus ||
         store->SetString(u"Store Kind", text::ToUtf16(store::KindName(kind)))) &&
        (!root || root->QueryString(u"Default User ID") || root->SetString(u"Default User ID", id));
    if (!ok) {
        batch.Abandon();
        return std::nullopt;
    }
    if (!batch.Commit()) return std::nullopt;  // a full disk: nothing was stored
    return id;
}

std::optional<Identity> Find(std::u16string_view idOrName) {
    for (const auto& identity : List())
        if (text::EqualsNoCase(identity.id, idOrName) || identity.name == idOrName) return identity;
    return std::nullopt;
}

std::optional<std::u16string> Current() {
    auto key = reg::Key::Open(reg::kHkeyCurrentUser, kIdentities);
    if (!key) return std::nullopt;
    if (auto last = key->QueryString(u"Last User ID"); last && !last->empty()) return last;
    return key->QueryString(u"Default User ID");
}

std::string StoreRoot(std::u16string_view id) {
    auto key = reg::Key::Open(reg::kHkeyCurrentUser,
                              std::u16string(kIdentities) + u"\\" + std::u16string(id) + kStoreKey);
    if (!key) return {};
    auto value = key->QueryString(u"Store Root");
    if (!value) return {};
    if (store::IsImapUrl(text::ToUtf8(*value))) return text::ToUtf8(*value);  // not a path
    return shell::ExpandArchivePath(*value).value_or("");
}

store::StoreKind StoreKindOf(std::u16string_view id) {
    auto key = reg::Key::Open(reg::kHkeyCurrentUser,
                              std::u16string(kIdentities) + u"\\" + std::u16string(id) + kStoreKey);
    auto value = key ? key->QueryString(u"Store Kind") : std::nullopt;
    auto kind = value ? store::KindNamed(text::ToUtf8(*value)) : std::nullopt;
    return kind.value_or(store::StoreKind::MaildirPlusPlus);
}

bool MakeIdentityCurrent(std::u16string_view id) {
    auto key = reg::Key::Open(reg::kHkeyCurrentUser, kIdentities);
    // Naming an identity that does not exist would leave the mail client without a usable
    // current identity, and every later store access would reach the wrong store.
    if (!key || id.empty() ||
        !reg::Key::Open(reg::kHkeyCurrentUser,
                        std::u16string(kIdentities) + u"\\" + std::u16string(id)))
        return false;
    reg::Transaction batch;
    key->SetString(u"Start As", id);
    key->SetString(u"Last User ID", id);
    key->SetString(u"Last Username", UsernameOf(id));
    key->SetString(u"Default User ID", id);
    return true;
}

namespace {
std::string DefaultStoreRoot() {
    return shell::HomeFolder() + "/Maildir";
}
}  // namespace

void EnsureDefaultIdentity() {
    std::error_code ec;
    if (List().empty() && std::filesystem::is_directory(DefaultStoreRoot(), ec))
        Add(u"Main Identity", DefaultStoreRoot());
    RegisterLocalStores();
}

std::optional<std::u16string> CreateDefaultIdentity() {
    if (!List().empty()) return std::nullopt;
    return Add(u"Main Identity", DefaultStoreRoot());
}

}  // namespace tindale::identities
