#pragma once
// The mail stores one job works on. A job (backup, restore, duplicate search or handling)
// installs a session on its thread; every store it touches is then opened once, by its
// identity's store root, and kept open for the job, so that folder lists and message
// indexes are read once. Opening a store never changes which identity is current.
#include <map>
#include <memory>
#include <string>

#include "platform/MailStore.h"

namespace tindale::store {

// Opens the store of a registered identity by its store root; null when the identity is
// not registered or its store cannot be opened.
std::unique_ptr<StoreNamespace> OpenIdentityStore(std::u16string_view identityId);

class StoreSession {
  public:
    StoreSession();
    ~StoreSession();
    StoreSession(const StoreSession&) = delete;
    StoreSession& operator=(const StoreSession&) = delete;

    // The identity's store, opened on first use. A registered identity's store that could
    // not be opened is not tried again in this job (a server that refused the login would
    // be asked, and the person prompted, for every message).
    std::shared_ptr<StoreNamespace> Open(std::u16string_view identityId);
    // Why the identity's store could not be opened in this job; empty when it was, or when
    // its kind said no more.
    std::string FailureOf(std::u16string_view identityId) const;
    // Writes back every changed id map; 0 or an errno value.
    int Flush();
    // Saves and drops every loaded message index (a job moving on to other folders).
    void ReleaseIndexes();

  private:
    std::map<std::u16string, std::shared_ptr<StoreNamespace>> stores_;
    std::map<std::u16string, std::string> failed_;
    StoreSession* previous_;
};

// The session installed on this thread, or null.
StoreSession* CurrentStoreSession();

}  // namespace tindale::store
