#pragma once
// The message indexes of a store's folders, loaded when first asked for; only the two used
// last are kept (a job walks folders one after the other), so memory follows the largest
// folder, not the whole store. Their id maps are this program's (StoreBooks).
#include <memory>
#include <string>

#include "platform/RecentlyUsed.h"
#include "platform/stores/StoreBooks.h"
#include "platform/stores/common/MessageIndex.h"

namespace tindale::store {

class MessageIndexes {
  public:
    explicit MessageIndexes(const StoreBooks& books) : books_(books) {}

    MessageIndex& Of(const std::string& dir) {
        return kept_.Get(dir, [&] {
            return std::make_unique<MessageIndex>(dir, books_.MessageIds(dir), books_.LockFile());
        });
    }
    int SaveAll() { return kept_.SaveAll(); }
    void Release(const std::string& dir) { kept_.Release(dir); }
    void SaveAndClear() { kept_.SaveAndClear(); }

  private:
    StoreBooks books_;
    RecentlyUsed<MessageIndex, &MessageIndex::Directory, &MessageIndex::Save, 2> kept_;
};

}  // namespace tindale::store
