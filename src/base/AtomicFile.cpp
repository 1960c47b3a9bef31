#include "base/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <random>
#include <set>
#include <utility>

namespace tindale::durable {

namespace {

constexpr size_t kMaxNameBytes = 255;
// A batch publishes itself past these, so a crash never leaves much unpublished and the
// list of pending names stays small.
constexpr size_t kBatchFiles = 2000;
constexpr uint64_t kBatchBytes = 256ull << 20;
// Folders a job keeps open for writing into (each one descriptor).
constexpr size_t kOpenFolders = 64;

// A batch holds a descriptor for each unnamed temporary and for the folder it goes into (at
// most one each), and two batches may be held at once (one publishing): together they keep
// within half the process's limit of open files.
size_t MaxHeldUnnamed() {
    static const size_t limit = [] {
        struct rlimit files {};
        if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
            return kBatchFiles;
        return std::clamp<size_t>(static_cast<size_t>(files.rlim_cur) / 8, 16, kBatchFiles);
    }();
    return limit;
}

std::string DirectoryOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Cuts a UTF-8 name to at most `limit` bytes without splitting a character.
std::string ShortenName(const std::string& name, size_t limit) {
    if (name.size() <= limit) return name;
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return name.substr(0, cut);
}

// Gives an open file the permission bits of the file at `target`; false when there is none.
bool CopyModeOfTarget(int fd, const Place& target) {
    struct stat st {};
    if (::fstatat(target.DirFd(), target.Name(), &st, 0) != 0) return false;
    ::fchmod(fd, st.st_mode & 07777);
    return true;
}

int SyncFd(int fd) {
    while (::fsync(fd) != 0)
        if (errno != EINTR) return errno;
    return 0;
}

}  // namespace

Folder::~Folder() {
    if (fd_ >= 0) ::close(fd_);
}

int Place::DirFd() const {
    return folder ? folder->Fd() : AT_FDCWD;
}

Place Place::Sibling(const std::string& other) const {
    if (folder) return {folder, other};
    auto slash = name.find_last_of('/');
    return {nullptr, slash == std::string::npos ? other : name.substr(0, slash + 1) + other};
}

std::string Place::Path() const {
    return folder ? folder->Path() + "/" + name : name;
}

bool SyncParentDirectory(const Place& place) {
    if (!place.folder) return SyncParentDirectory(place.name);
    return SyncFd(place.folder->Fd()) == 0;
}

bool SyncParentDirectory(const std::string& path) {
    int fd = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = SyncFd(fd) == 0;
    ::close(fd);
    return ok;
}

namespace {

struct TempName {
    std::string dir;     // with its trailing slash, or empty
    std::string prefix;  // ".<name>.<tag>-"
};

TempName TempNameFor(const std::string& target, std::string_view tag) {
    auto slash = target.find_last_of('/');
    std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string suffix = std::string(".").append(tag).append("-");
    std::string prefix = ".";
    prefix.append(ShortenName(name, kMaxNameBytes - 1 - suffix.size() - 6)).append(suffix);
    return {dir, prefix};
}

}  // namespace

namespace {

// Unnamed temporaries are named through /proc/self/fd where the kernel does not let their
// opener link them by descriptor (see LinkUnnamed).
bool CanNameUnnamedFiles() {
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}

// An unnamed temporary in `target`'s folder, with the mode a new file gets; -1 when the
// file system cannot make one.
int OpenUnnamed(const Place& target) {
    if (!CanNameUnnamedFiles()) return -1;
    if (target.folder)
        return ::openat(target.folder->Fd(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    return ::open(DirectoryOf(target.name).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
}

std::string RandomSuffix() {
    static constexpr char kChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 random{std::random_device{}()};
    std::string suffix(6, ' ');
    for (char& c : suffix) c = kChars[random() % (sizeof kChars - 1)];
    return suffix;
}

}  // namespace

namespace {

// Gives the unnamed file `fd` the name `path`; 0 or errno. Since Linux 6.10 the file's own
// opener may link it by its descriptor; older kernels want a privilege for that and are
// given the file by its name in /proc instead (once refused, always).
int LinkUnnamed(int fd, const Place& place) {
    static std::atomic<bool> byDescriptor{true};
    if (byDescriptor.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", place.DirFd(), place.Name(), AT_EMPTY_PATH) == 0) return 0;
        // ENOENT is also what a missing folder gives: only a link by name tells them apart.
        if (errno != ENOENT && errno != EPERM) return errno;
    }
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), place.DirFd(), place.Name(), AT_SYMLINK_FOLLOW) != 0)
        return errno;
    byDescriptor.store(false, std::memory_order_relaxed);
    return 0;
}

}  // namespace

int LinkIntoPlace(int fd, const Place& target, std::string_view tag) {
    int linked = LinkUnnamed(fd, target);
    if (linked != EEXIST) return linked;
    // Named beside the file it replaces, then renamed over it: the lock keeps a sweep for
    // stale temporaries from taking the name meanwhile.
    ::flock(fd, LOCK_EX | LOCK_NB);
    auto name = TempNameFor(BaseName(target.name), tag);
    for (int attempt = 0; attempt < 64; ++attempt) {
        Place temp = target.Sibling(name.prefix + RandomSuffix());
        if (int error = LinkUnnamed(fd, temp)) {
            if (error == EEXIST) continue;
            return error;
        }
        if (::renameat(temp.DirFd(), temp.Name(), target.DirFd(), target.Name()) == 0) return 0;
        int error = errno;
        ::unlinkat(temp.DirFd(), temp.Name(), 0);
        return error;
    }
    return EEXIST;
}

TempFile::TempFile(const std::string& target, std::string_view tag, Naming naming)
    : TempFile(Place::At(target), tag, naming) {}

TempFile::TempFile(Place target, std::string_view tag, Naming naming)
    : target_(std::move(target)), tag_(tag) {
    if (naming == Naming::Unnamed && (fd_ = OpenUnnamed(target_)) >= 0) return;
    OpenNamed();
}

// A named temporary beside the target, made with O_EXCL under a random name (mkostemp's way,
// but relative to the target's folder).
void TempFile::OpenNamed() {
    auto name = TempNameFor(BaseName(target_.name), tag_);
    for (int attempt = 0; attempt < 64; ++attempt) {
        Place temp = target_.Sibling(name.prefix + RandomSuffix());
        fd_ = ::openat(temp.DirFd(), temp.Name(),
                       O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_EX | LOCK_NB);  // a fresh file: nobody else can hold it
            temp_ = std::move(temp);
            return;
        }
        if (errno != EEXIST) break;
    }
    error_ = errno;
}

namespace {

// Removes the unlocked temporaries in `dir` whose names `matches` accepts.
// Removes the unlocked temporaries in `dir` (a place whose name is the folder's path with
// its slash, or "" for an open folder itself) whose names `matches` accepts.
template <typename Match>
void RemoveUnlocked(const Place& dir, Match matches) {
    int dirFd = dir.folder ? ::dup(dir.folder->Fd())
                           : ::open(dir.name.empty() ? "." : dir.name.c_str(),
                                    O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = dirFd >= 0 ? ::fdopendir(dirFd) : nullptr;
    if (!d) {
        if (dirFd >= 0) ::close(dirFd);
        return;
    }
    ::rewinddir(d);
    PublishBatch* batch = CurrentBatch();
    while (dirent* e = ::readdir(d)) {
        std::string entry = e->d_name;
        if (entry[0] != '.' || !matches(entry)) continue;
        Place temp = dir.folder ? Place::In(dir.folder, entry) : Place::At(dir.name + entry);
        if (batch && batch->Holds(temp)) continue;
        int fd =
            ::openat(::dirfd(d), entry.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(d), entry.c_str(), 0);  // unlocked: its writer is gone
        ::close(fd);
    }
    ::closedir(d);
}

template <typename Match>
void RemoveUnlocked(const std::string& dir, Match matches) {
    RemoveUnlocked(Place::At(dir), matches);
}

// Whether `entry` is a temporary with `tag` of any target.
bool IsTemporaryWithTag(const std::string& entry, std::string_view tag) {
    std::string marker = std::string(".").append(tag).append("-");
    return entry.size() > marker.size() + 7 &&
           entry.compare(entry.size() - 6 - marker.size(), marker.size(), marker) == 0;
}

}  // namespace

void TempFile::RemoveStale(const std::string& target, std::string_view tag) {
    auto name = TempNameFor(target, tag);
    RemoveUnlocked(name.dir, [&](const std::string& entry) {
        return entry.size() == name.prefix.size() + 6 && entry.rfind(name.prefix, 0) == 0;
    });
}

void TempFile::RemoveStaleBeside(const std::string& target, std::string_view tag) {
    auto name = TempNameFor(target, tag);
    PublishBatch* batch = CurrentBatch();
    if (batch && !batch->FirstVisit(name.dir)) return;
    RemoveUnlocked(name.dir,
                   [&](const std::string& entry) { return IsTemporaryWithTag(entry, tag); });
}

void TempFile::RemoveStaleBeside(const Place& target, std::string_view tag) {
    if (!target.folder) return RemoveStaleBeside(target.name, tag);
    PublishBatch* batch = CurrentBatch();
    if (batch && !batch->FirstVisit(target.folder->Path() + "/")) return;
    RemoveUnlocked(Place::In(target.folder, ""),
                   [&](const std::string& entry) { return IsTemporaryWithTag(entry, tag); });
}

TempFile::~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!temp_.name.empty()) ::unlinkat(temp_.DirFd(), temp_.Name(), 0);
}

bool TempFile::Write(const uint8_t* data, size_t length) {
    if (fd_ < 0 || error_) return false;
    while (length > 0) {
        ssize_t n = ::write(fd_, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = n == 0 ? ENOSPC : errno;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

namespace {

// The umask can only be read by setting it; this program never changes it, so it is read once
// (a restore of many files would otherwise pay two calls per file).
mode_t ProcessUmask() {
    static const mode_t mask = [] {
        mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    return mask;
}

}  // namespace

void TempFile::TakeModeOfTarget(bool keepPrivate) {
    if (fd_ < 0) return;
    // An unnamed file takes the target's bits when it is published; a new file keeps the mode
    // it was made with, that of a new file.
    if (Unnamed() && !keepPrivate) {
        modeOfTarget_ = true;
        return;
    }
    if (CopyModeOfTarget(fd_, target_)) return;
    if (Unnamed())
        ::fchmod(fd_, 0600);
    else if (!keepPrivate)
        ::fchmod(fd_, 0666 & ~ProcessUmask());
}

bool TempFile::Close() {
    if (fd_ < 0) return !error_ && !temp_.name.empty();
    if (::close(fd_) != 0 && !error_) error_ = errno;
    fd_ = -1;
    return !error_;
}

bool TempFile::PublishNow() {
    if (modeOfTarget_) CopyModeOfTarget(fd_, target_);
    if (fd_ >= 0 && !error_) {
        if (int e = SyncFd(fd_)) error_ = e;
    }
    if (Unnamed()) {
        if (!error_) error_ = LinkIntoPlace(fd_, target_, tag_);
        if (!Close()) return false;
        SyncParentDirectory(target_);
        return true;
    }
    if (!Close()) return false;
    if (::renameat(temp_.DirFd(), temp_.Name(), target_.DirFd(), target_.Name()) != 0) {
        error_ = errno;
        return false;
    }
    temp_ = {};
    SyncParentDirectory(target_);
    return true;
}

bool TempFile::Publish() {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) st = {};
    PublishBatch* batch = CurrentBatch();
    if (!batch) return PublishNow();
    if (Unnamed()) {
        if (error_) return false;
        batch->AddUnnamed(std::exchange(fd_, -1), target_, tag_, st, modeOfTarget_);
        return true;
    }
    if (!Close()) return false;
    batch->Add(Release(), target_, st);
    return true;
}

Place TempFile::Release() {
    return std::exchange(temp_, {});
}

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

int ReplaceFileContents(const std::string& path, std::string_view content) {
    TempFile file(path, "new");
    if (!file.IsOpen()) return file.Error();
    if (!file.Write(reinterpret_cast<const uint8_t*>(content.data()), content.size()) ||
        !file.PublishNow())
        return file.Error() ? file.Error() : EIO;
    return 0;
}

}  // namespace tindale::durable
