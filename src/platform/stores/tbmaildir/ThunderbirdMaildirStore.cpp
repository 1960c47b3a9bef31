#include "platform/stores/tbmaildir/ThunderbirdMaildirStore.h"

#include <sys/stat.h>

#include "platform/stores/common/MessageDirs.h"
#include "platform/stores/tbmaildir/ThunderbirdMaildirFolder.h"
#include "platform/stores/thunderbird/FolderTree.h"
#include "platform/stores/thunderbird/MozillaStatus.h"
#include "platform/stores/thunderbird/Profile.h"

namespace tindale::store {

namespace {

// A folder is a directory with cur/ (Thunderbird makes cur/ and tmp/; new/ may be missing).
EntryVerdict IsFolderDirectory(const std::string& full, const std::string& name) {
    return {!name.ends_with(".sbd") && IsRealDirectory(full) && IsRealDirectory(full + "/cur"), {}};
}

std::vector<FolderEntry> Folders(const std::string& root, std::vector<Unmapped>& unmapped) {
    return ListThunderbirdFolders(root, IsFolderDirectory, unmapped);
}

bool MakeFolderDirectory(const std::string& dir) {
    ::mkdir(dir.c_str(), 0700);
    for (const char* sub : {"/cur", "/new", "/tmp"}) ::mkdir((dir + sub).c_str(), 0700);
    return IsRealDirectory(dir + "/cur") && IsRealDirectory(dir + "/tmp");
}

}  // namespace

uint64_t StatelessHash(std::string_view message) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : WithoutMozillaState(message)) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

bool HoldsThunderbirdMaildirFolders(const std::string& root) {
    // A plain maildir store has folders with cur/ too; Thunderbird's has a summary or a
    // .sbd beside at least one of them.
    std::vector<Unmapped> ignored;
    for (const auto& folder : Folders(root, ignored)) {
        std::string full = root + "/" + folder.dir;
        struct stat st {};
        if (::lstat((full + ".msf").c_str(), &st) == 0 || IsRealDirectory(full + ".sbd"))
            return true;
    }
    return false;
}

bool ThunderbirdMaildirStore::Prepare() {
    // An account's folder ("Mail/Local Folders") comes back when the profile lost its "Mail".
    return EnsureDirectoryBelow(root_, 1);
}

std::vector<FolderEntry> ThunderbirdMaildirStore::ListFolders(std::vector<Unmapped>& unmapped) {
    return Folders(root_, unmapped);
}

std::optional<std::string> ThunderbirdMaildirStore::MakeFolder(
    const std::string& parentDir, const std::vector<std::u16string>& path) {
    auto dir = ThunderbirdChildPath(parentDir, path.back());
    if (!dir || !WriteRefusal().empty()) return std::nullopt;
    std::string full = root_ + "/" + *dir;
    MakeParentsBelow(root_, full);
    if (!MakeFolderDirectory(full)) return std::nullopt;
    return dir;
}

std::unique_ptr<StoreFolder> ThunderbirdMaildirStore::OpenFolder(uint32_t id,
                                                                 const std::string& location,
                                                                 FolderProps props) {
    return std::make_unique<ThunderbirdMaildirFolder>(*this, id, location, std::move(props));
}

std::string ThunderbirdMaildirStore::WriteRefusal() {
    return ThunderbirdWriteRefusal(root_);
}

bool ThunderbirdMaildirStore::ReadyForWriting(const std::string& dir) {
    if (!WriteRefusal().empty()) return false;
    auto known = inside_.find(dir);
    if (known != inside_.end()) return known->second;
    ::mkdir((dir + "/tmp").c_str(), 0700);
    bool inside = IsRealDirectory(dir + "/cur") && ResolvesInside(dir + "/cur", root_) &&
                  ResolvesInside(dir + "/tmp", root_);
    if (inside) RemoveStaleTemporaries(dir + "/tmp");
    inside_[dir] = inside;
    return inside;
}

void ThunderbirdMaildirStore::ReleaseFolder(const std::string& location) {
    indexes_.Release(location);
    contents_.erase(location);
}

void ThunderbirdMaildirStore::ReleaseAll() {
    indexes_.SaveAndClear();
    contents_.clear();
}

}  // namespace tindale::store
