#include "base/AtomicFile.h"
#include "base/AtomicFileParts.h"

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

// A batch holds a descriptor for each unnamed temporary and for the folder it goes into (at
// most one each), and two batches may be held at once (one publishing): together they keep
// within half the process's limit of open files.
}  // namespace

namespace detail {

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

}  // namespace detail

namespace {

// Cuts a UTF-8 name to at most `limit` bytes without splitting a character.
std::string ShortenName(const std::string& name, size_t limit) {
    if (name.size() <= limit) return name;
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    return name.substr(0, cut);
}

}  // namespace

namespace detail {

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

}  // namespace detail

using namespace detail;

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

namespace detail {

TempName TempNameFor(const std::string& target, std::string_view tag) {
    auto slash = target.find_last_of('/');
    std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string suffix = std::string(".").append(tag).append("-");
    std::string prefix = ".";
    prefix.append(ShortenName(name, kMaxNameBytes - 1 - suffix.size() - 6)).append(suffix);
    return {dir, prefix};
}

}  // namespace detail

namespace {

// Unnamed temporaries are named through /proc/self/fd where the kernel does not let their
// opener link them by descriptor (see LinkUnnamed).
bool CanNameUnnamedFiles() {
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}

}  // namespace

namespace detail {

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

}  // namespace detail

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

}  // namespace tindale::durable
