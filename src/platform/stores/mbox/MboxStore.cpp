#include "platform/stores/mbox/MboxStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/stores/common/MessageDirs.h"
#include "platform/stores/mbox/MboxFolder.h"
#include "platform/stores/thunderbird/FolderTree.h"
#include "platform/stores/thunderbird/Profile.h"

namespace tindale::store {

namespace {

std::vector<FolderEntry> MboxFolders(const std::string& root, std::vector<Unmapped>& unmapped) {
    return ListThunderbirdFolders(
        root,
        [](const std::string& full, const std::string&) {
            if (IsMboxFile(full)) return EntryVerdict{true, {}};
            struct stat st {};
            bool file = ::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode);
            return EntryVerdict{false, file ? "it is not an mbox folder (it does not start with a "
                                              "\"From \" line); its content was not backed up"
                                            : ""};
        },
        unmapped);
}

}  // namespace

bool HoldsMboxFolders(const std::string& root) {
    std::vector<Unmapped> ignored;
    return !MboxFolders(root, ignored).empty();
}

bool MboxStore::Prepare() {
    // An account's folder ("Mail/Local Folders") comes back when the profile lost its "Mail".
    return EnsureDirectoryBelow(root_, 1);
}

std::vector<FolderEntry> MboxStore::ListFolders(std::vector<Unmapped>& unmapped) {
    return MboxFolders(root_, unmapped);
}

std::optional<std::string> MboxStore::MakeFolder(const std::string& parentDir,
                                                 const std::vector<std::u16string>& path) {
    auto dir = ThunderbirdChildPath(parentDir, path.back());
    if (!dir || !WriteRefusal().empty()) return std::nullopt;
    std::string full = root_ + "/" + *dir;
    // The parent's "X.sbd" (and any level above) may not exist yet.
    MakeParentsBelow(root_, full);
    int fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return std::nullopt;
    ::close(fd);
    return dir;
}

std::unique_ptr<StoreFolder> MboxStore::OpenFolder(uint32_t id, const std::string& location,
                                                   FolderProps props) {
    return std::make_unique<MboxFolder>(*this, id, location, std::move(props));
}

std::string MboxStore::WriteRefusal() {
    return ThunderbirdWriteRefusal(root_);
}

MboxFile& MboxStore::FileOf(const std::string& path) {
    return files_.Get(path,
                      [&] { return std::make_unique<MboxFile>(path, books_.MessageIds(path)); });
}

}  // namespace tindale::store
