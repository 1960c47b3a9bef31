// Temporary files beside their targets, and their publication.
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

void TempFile::SetPermissions(unsigned mode) {
    if (fd_ < 0) return;
    modeOfTarget_ = false;
    ::fchmod(fd_, static_cast<mode_t>(mode & 0777));
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

int ReplaceFileContents(const std::string& path, std::string_view content) {
    TempFile file(path, "new");
    if (!file.IsOpen()) return file.Error();
    if (!file.Write(reinterpret_cast<const uint8_t*>(content.data()), content.size()) ||
        !file.PublishNow())
        return file.Error() ? file.Error() : EIO;
    return 0;
}

}  // namespace tindale::durable
