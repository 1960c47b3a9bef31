#include "platform/stores/maildir/MaildirStore.h"

#include <sys/stat.h>

#include "platform/stores/common/MessageDirs.h"
#include "platform/stores/maildir/MaildirFolder.h"

namespace tindale::store {

bool MaildirStore::Prepare() {
    // Only a Maildir++ store's root is a maildir (its Inbox); the others' root only holds
    // folders.
    if (layout_ == MaildirLayout::PlusPlus) return EnsureMaildir(root_, false);
    return EnsureDirectory(root_);
}

std::vector<FolderEntry> MaildirStore::ListFolders(std::vector<Unmapped>& unmapped) {
    return ListMaildirFolders(root_, layout_, unmapped);
}

std::optional<std::string> MaildirStore::MakeFolder(const std::string& parentDir,
                                                    const std::vector<std::u16string>& path) {
    auto dir = MaildirFolderDirectory(layout_, parentDir, path);
    if (!dir) return std::nullopt;
    std::string full = root_ + "/" + *dir;
    MakeParentsBelow(root_, full);  // KMail's ".X.directory" may not exist yet
    if (!EnsureMaildir(full, layout_ == MaildirLayout::PlusPlus)) return std::nullopt;
    return dir;
}

std::unique_ptr<StoreFolder> MaildirStore::OpenFolder(uint32_t id, const std::string& location,
                                                      FolderProps props) {
    return std::make_unique<MaildirFolder>(*this, id, location, std::move(props));
}

void MaildirStore::ReleaseAll() {
    indexes_.SaveAndClear();
    copies_.Clear();  // the folders' sizes and hashes, kept for a restore into them
}

bool MaildirStore::ReadyForWriting(const std::string& dir) {
    auto known = writable_.find(dir);
    if (known != writable_.end()) return known->second;
    // A folder implied by a nested one, or made by a careless client, may lack its maildir.
    bool inside = EnsureMaildir(dir, dir != root_ && layout_ == MaildirLayout::PlusPlus);
    for (const char* sub : {"", "/tmp", "/new", "/cur"})
        inside = inside && ResolvesInside(dir + sub, root_);
    if (inside) RemoveStaleTemporaries(dir + "/tmp");
    writable_[dir] = inside;
    return inside;
}

}  // namespace tindale::store
