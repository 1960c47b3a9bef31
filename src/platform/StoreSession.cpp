#include "platform/StoreSession.h"

#include "platform/Identities.h"

namespace tindale::store {

namespace {
thread_local StoreSession* tCurrentSession = nullptr;
}

std::unique_ptr<StoreNamespace> OpenIdentityStore(std::u16string_view identityId) {
    auto identity = identityId.empty() ? std::nullopt : identities::Find(identityId);
    if (!identity) return nullptr;
    std::string root = identities::StoreRoot(identity->id);
    auto ns = std::make_unique<StoreNamespace>();
    if (root.empty() || ns->InitializeAt(root, identities::StoreKindOf(identity->id)) != S_OK)
        return nullptr;
    return ns;
}

StoreSession::StoreSession() : previous_(tCurrentSession) {
    tCurrentSession = this;
}

StoreSession::~StoreSession() {
    Flush();
    tCurrentSession = previous_;
}

std::shared_ptr<StoreNamespace> StoreSession::Open(std::u16string_view identityId) {
    std::u16string key(identityId);
    if (auto it = stores_.find(key); it != stores_.end()) return it->second;
    if (failed_.count(key)) return nullptr;
    std::shared_ptr<StoreNamespace> ns = OpenIdentityStore(identityId);
    if (ns)
        stores_.emplace(key, ns);
    else if (identities::Find(identityId))
        failed_.emplace(key, LastOpenProblem());
    return ns;
}

std::string StoreSession::FailureOf(std::u16string_view identityId) const {
    auto it = failed_.find(std::u16string(identityId));
    return it == failed_.end() ? std::string() : it->second;
}

int StoreSession::Flush() {
    int error = 0;
    for (auto& [id, ns] : stores_)
        if (int e = ns->Flush(); e && !error) error = e;
    return error;
}

StoreSession* CurrentStoreSession() {
    return tCurrentSession;
}

void StoreSession::ReleaseIndexes() {
    for (auto& [identity, store] : stores_) store->ReleaseIndexes();
}

}  // namespace tindale::store
