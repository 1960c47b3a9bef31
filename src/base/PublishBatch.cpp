// Batches of files published together: one sync for many files, renamed into place after.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <utility>

#include "base/AtomicFile.h"
#include "base/AtomicFileParts.h"

namespace tindale::durable {

using namespace detail;

namespace {
constexpr uint64_t kBatchBytes = 256ull << 20;
// Folders a job keeps open for writing into (each one descriptor).
constexpr size_t kOpenFolders = 64;
}  // namespace

// Makes every pending file durable, renames it into place and syncs the directories that
// received one. Data first: one syncfs per file system makes every pending file durable at
// once. Where that fails (or the file system is unknown), each file is synced alone, and one
// that cannot be is not published.
void PublishBatch::PublishAll(const std::vector<Pending>& pending, std::vector<Failure>& failures) {
    // An unnamed temporary is reached through its descriptor, a named one by its name.
    auto descriptor = [](const Pending& p) {
        return p.fd >= 0 ? p.fd : ::openat(p.temp.DirFd(), p.temp.Name(), O_RDONLY | O_CLOEXEC);
    };
    auto release = [](const Pending& p, int fd) {
        if (fd >= 0 && fd != p.fd) ::close(fd);
    };
    for (const auto& p : pending)
        if (p.fd >= 0 && p.modeOfTarget) CopyModeOfTarget(p.fd, p.target);
    std::set<dev_t> synced, failed;
    for (const auto& p : pending) {
        if (p.device == 0 || synced.count(p.device) || failed.count(p.device)) continue;
        int fd = descriptor(p);
        bool ok = fd >= 0 && ::syncfs(fd) == 0;
        release(p, fd);
        (ok ? synced : failed).insert(p.device);
    }
    auto durable = [&](const Pending& p) {
        if (p.device != 0 && synced.count(p.device)) return 0;
        int fd = descriptor(p);
        if (fd < 0) return errno;
        int error = SyncFd(fd);
        release(p, fd);
        return error;
    };
    std::set<std::string> directories;
    std::set<const Folder*> folders;
    for (const auto& p : pending) {
        int error = durable(p);
        if (error == 0 && p.fd >= 0) error = LinkIntoPlace(p.fd, p.target, p.tag);
        if (error == 0 && p.fd < 0 &&
            ::renameat(p.temp.DirFd(), p.temp.Name(), p.target.DirFd(), p.target.Name()) != 0)
            error = errno;
        if (p.fd >= 0) ::close(p.fd);  // an unnamed temporary that was not linked is gone
        if (error != 0) {
            failures.push_back({p.target.Path(), error});
            if (p.fd < 0) ::unlinkat(p.temp.DirFd(), p.temp.Name(), 0);
            continue;
        }
        if (p.target.folder)
            folders.insert(p.target.folder.get());
        else
            directories.insert(DirectoryOf(p.target.name));
    }
    for (const Folder* folder : folders) SyncFd(folder->Fd());
    for (const auto& dir : directories) {
        int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            SyncFd(fd);
            ::close(fd);
        }
    }
}

PublishBatch::~PublishBatch() {
    std::lock_guard lock(mutex_);
    AwaitPublishing();
    for (const auto& p : pending_) {
        if (p.fd >= 0)
            ::close(p.fd);
        else
            ::unlinkat(p.temp.DirFd(), p.temp.Name(), 0);
    }
}

bool PublishBatch::Empty() const {
    std::lock_guard lock(mutex_);
    return pending_.empty() && publishing_.empty();
}

bool PublishBatch::FirstVisit(const std::string& folder) {
    std::lock_guard lock(mutex_);
    return visited_.insert(folder).second;
}

FolderRef PublishBatch::OpenedFolder(const std::string& folder) const {
    std::lock_guard lock(mutex_);
    auto it = opened_.find(folder);
    return it == opened_.end() ? nullptr : it->second;
}

void PublishBatch::AddOpenedFolder(const std::string& folder, FolderRef opened) {
    std::lock_guard lock(mutex_);
    // Each holds a descriptor: past a bound the job opens folders again as it needs them.
    if (opened_.size() >= kOpenFolders) opened_.clear();
    opened_[folder] = std::move(opened);
}

bool PublishBatch::Holds(const Place& temp) const {
    std::lock_guard lock(mutex_);
    for (const auto* list : {&pending_, &publishing_})
        for (const auto& p : *list)
            if (p.fd < 0 && p.temp.folder == temp.folder && p.temp.name == temp.name) return true;
    return false;
}

void PublishBatch::Add(Place temp, Place target, const struct stat& written) {
    std::lock_guard lock(mutex_);
    pending_.push_back({std::move(temp), std::move(target), written.st_dev, -1, {}});
    bytes_ += static_cast<uint64_t>(written.st_size);
    if (pending_.size() >= kBatchFiles || bytes_ >= kBatchBytes) PublishInBackground();
}

void PublishBatch::AddUnnamed(int fd, Place target, std::string tag, const struct stat& written,
                              bool modeOfTarget) {
    std::lock_guard lock(mutex_);
    pending_.push_back({{}, std::move(target), written.st_dev, fd, std::move(tag), modeOfTarget});
    bytes_ += static_cast<uint64_t>(written.st_size);
    ++unnamed_;
    if (pending_.size() >= kBatchFiles || bytes_ >= kBatchBytes || unnamed_ >= MaxHeldUnnamed())
        PublishInBackground();
}

void PublishBatch::PublishInBackground() {
    AwaitPublishing();
    publishing_ = std::exchange(pending_, {});
    bytes_ = 0;
    unnamed_ = 0;
    publication_ = std::async(std::launch::async, [list = &publishing_] {
        std::vector<Failure> failures;
        PublishAll(*list, failures);
        return failures;
    });
}

void PublishBatch::AwaitPublishing() {
    if (!publication_.valid()) return;
    for (auto& failure : publication_.get()) failures_.push_back(std::move(failure));
    publishing_.clear();
}

bool PublishBatch::Flush() {
    std::lock_guard lock(mutex_);
    AwaitPublishing();
    PublishAll(pending_, failures_);
    pending_.clear();
    bytes_ = 0;
    unnamed_ = 0;
    return failures_.empty();
}

std::vector<PublishBatch::Failure> PublishBatch::TakeFailures() {
    std::lock_guard lock(mutex_);
    return std::exchange(failures_, {});
}

int PublishClosed(std::string temp, const std::string& target, const struct stat& written) {
    if (PublishBatch* batch = CurrentBatch()) {
        batch->Add(Place::At(temp), Place::At(target), written);
        return 0;
    }
    int error = 0;
    int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) error = errno;
    if (fd >= 0) {
        error = SyncFd(fd);
        ::close(fd);
    }
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return error;
    }
    SyncParentDirectory(target);
    return 0;
}

}  // namespace tindale::durable
