#include "platform/stores/imap/ImapPassword.h"

#include <libsecret/secret.h>

#include <cstdlib>
#include <map>
#include <mutex>

namespace tindale::store {

namespace {

struct Passwords {
    std::mutex lock;
    ImapPasswordAsker asker;
    bool keyringRead = false;
    bool keyringKeep = false;
    std::map<std::string, std::string> worked;  // by account URL
    std::map<std::string, bool> refused;
};

Passwords& State() {
    static Passwords state;
    return state;
}

const SecretSchema* KeyringSchema() {
    static const SecretSchema schema = {
        "org.tindale.ImapAccount",
        SECRET_SCHEMA_NONE,
        {{"url", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr};
    return &schema;
}

std::optional<std::string> FromKeyring(const std::string& url) {
    GError* error = nullptr;
    gchar* found =
        secret_password_lookup_sync(KeyringSchema(), nullptr, &error, "url", url.c_str(), nullptr);
    if (error) g_error_free(error);
    if (!found) return std::nullopt;
    std::string password = found;
    secret_password_free(found);
    return password;
}

void IntoKeyring(const std::string& url, const std::string& password) {
    GError* error = nullptr;
    std::string label = "Tindale: " + url;
    secret_password_store_sync(KeyringSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(),
                               password.c_str(), nullptr, &error, "url", url.c_str(), nullptr);
    if (error) g_error_free(error);
}

}  // namespace

void SetImapPasswordAsker(ImapPasswordAsker asker) {
    std::lock_guard guard(State().lock);
    State().asker = std::move(asker);
}

void SetKeyringAllowed(bool read, bool keep) {
    std::lock_guard guard(State().lock);
    State().keyringRead = read;
    State().keyringKeep = keep;
}

std::optional<std::string> ImapPasswordFor(const ImapAccount& account, const std::string& refusal) {
    std::string url = account.Url();
    ImapPasswordAsker asker;
    {
        std::lock_guard guard(State().lock);
        auto& state = State();
        if (auto it = state.worked.find(url); it != state.worked.end()) return it->second;
        bool refusedBefore = state.refused.count(url) > 0;
        if (!refusedBefore) {
            if (const char* env = std::getenv("TINDALE_IMAP_PASSWORD"); env && *env)
                return std::string(env);
            if (state.keyringRead)
                if (auto kept = FromKeyring(url)) return kept;
        }
        asker = state.asker;
    }
    if (!asker) return std::nullopt;
    return asker(account, refusal);
}

void ImapPasswordWorked(const ImapAccount& account, const std::string& password) {
    std::lock_guard guard(State().lock);
    State().worked[account.Url()] = password;
    State().refused.erase(account.Url());
    if (State().keyringKeep) IntoKeyring(account.Url(), password);
}

void ImapPasswordRefused(const ImapAccount& account) {
    std::lock_guard guard(State().lock);
    State().worked.erase(account.Url());
    State().refused[account.Url()] = true;
}

}  // namespace tindale::store
