#include "platform/stores/StoreBooks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "platform/ShellFolders.h"

namespace tindale::store {

namespace fs = std::filesystem;

std::string NameForPath(const std::string& path) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : path) hash = (hash ^ c) * 1099511628211ull;
    char name[24];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
    return name;
}

StoreBooks::StoreBooks(std::string root) : root_(std::move(root)) {
    std::string base = shell::DataFolder() + "/tindale";
    dir_ = base + "/stores/" + NameForPath(root_);
    // An earlier version kept an mbox store's maps in mbox-ids/ under the same name.
    std::string earlier = base + "/mbox-ids/" + NameForPath(root_);
    std::error_code ec;
    if (fs::is_directory(earlier, ec) && !fs::exists(dir_, ec)) {
        fs::create_directories(base + "/stores", ec);
        fs::rename(earlier, dir_, ec);
        fs::rename(dir_ + "/.tindale-folders", FolderIds(), ec);
    }
}

std::string StoreBooks::Place() const {
    std::error_code ec;
    fs::create_directories(dir_, ec);
    return dir_;
}

std::string StoreBooks::FolderIds() const {
    return Place() + "/folders.ids";
}

std::string StoreBooks::MessageIds(const std::string& location) const {
    return Place() + "/" + NameForPath(location) + ".ids";
}

std::string StoreBooks::LockFile() const {
    return Place() + "/lock";
}

FileLock::FileLock(const std::string& path)
    : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
}

FileLock::~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

void TakeOverLegacyIds(const std::string& legacyFile, const std::string& target) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(legacyFile, ec))) return;
    if (!fs::exists(target, ec)) {
        fs::rename(legacyFile, target, ec);
        if (ec) fs::copy_file(legacyFile, target, ec);
    }
    if (!fs::exists(target, ec)) return;  // kept where it is rather than lost
    ::unlink(legacyFile.c_str());
    std::string lock = fs::path(legacyFile).parent_path() / ".tindale-lock";
    ::unlink(lock.c_str());
}

}  // namespace tindale::store
