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
    writable_.erase(full);  // made anew, checked anew
    if (!ReadyForWriting(full)) return std::nullopt;
    return dir;
}

std::optional<std::string> MaildirStore::PlaceParent(const std::string& parentDir,
                                                     const std::vector<std::u16string>& path) {
    // Made on disk when something is first written into it (ReadyForWriting).
    return MaildirFolderDirectory(layout_, parentDir, path);
}

std::unique_ptr<StoreFolder> MaildirStore::OpenFolder(uint32_t id, const std::string& location,
                                                      FolderProps props) {
    return std::make_unique<MaildirFolder>(*this, id, location, std::move(props));
}

void MaildirStore::ReleaseAll() {
    indexes_.SaveAndClear();
    copies_.Clear();  // the folders' sizes and hashes, kept for a restore into them
    keywords_.clear();
}

KeywordTable& MaildirStore::KeywordsOf(const std::string& dir) {
    auto known = keywords_.find(dir);
    if (known == keywords_.end()) known = keywords_.emplace(dir, KeywordTable::Load(dir)).first;
    return known->second;
}

bool MaildirStore::ReadyForWriting(const std::string& dir) {
    auto known = writable_.find(dir);
    if (known != writable_.end()) return known->second;
    // A folder made by this job, implied by a nested one, or made by a careless client may
    // lack its maildir (and, nested, its parents: KMail's ".X.directory").
    bool inside = dir == root_ || MakeParentsBelow(root_, dir);
    inside = inside && EnsureMaildir(dir, dir != root_ && layout_ == MaildirLayout::PlusPlus);
    for (const char* sub : {"", "/tmp", "/new", "/cur"})
        inside = inside && ResolvesInside(dir + sub, root_);
    if (inside) RemoveStaleTemporaries(dir + "/tmp");
    writable_[dir] = inside;
    return inside;
}

}  // namespace tindale::store
