#include "archive/ArchiveWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Text.h"

ArchiveWriter::~ArchiveWriter() {
    Abort();
}

bool ArchiveWriter::Fail(const std::string& what) {
    if (error_.empty()) error_ = what + ": " + std::strerror(errno);
    return false;
}

bool ArchiveWriter::Open(const std::string& targetPath) {
    target_ = targetPath;
    auto slash = targetPath.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : targetPath.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? targetPath : targetPath.substr(slash + 1);
    std::string pattern = (slash == std::string::npos ? "" : dir) + "." + name + ".partial-XXXXXX";
    fd_ = ::mkstemp(pattern.data());
    if (fd_ < 0) return Fail("cannot create the archive in " + dir);
    temp_ = pattern;
    // mkstemp makes the file private; archives hold private mail, so keep it that way.
    return true;
}

bool ArchiveWriter::Write(const uint8_t* data, size_t length) {
    if (fd_ < 0 || Failed()) return false;
    size_t done = 0;
    while (done < length) {
        ssize_t n = ::write(fd_, data + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return Fail("cannot write the archive");
        }
        done += static_cast<size_t>(n);
    }
    position_ += length;
    return true;
}

bool ArchiveWriter::PatchU64(uint64_t offset, uint64_t value) {
    if (fd_ < 0 || Failed()) return false;
    uint8_t bytes[8];
    tindale::text::PutU64(bytes, value);
    if (::pwrite(fd_, bytes, 8, static_cast<off_t>(offset)) != 8)
        return Fail("cannot write the archive");
    return true;
}

bool ArchiveWriter::TruncateTo(uint64_t offset) {
    if (fd_ < 0 || Failed()) return false;
    if (::ftruncate(fd_, static_cast<off_t>(offset)) != 0 ||
        ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0)
        return Fail("cannot write the archive");
    position_ = offset;
    return true;
}

bool ArchiveWriter::Commit() {
    if (fd_ < 0 || Failed()) return false;
    if (::fsync(fd_) != 0) return Fail("cannot write the archive");
    if (::close(fd_) != 0) {
        fd_ = -1;
        return Fail("cannot write the archive");
    }
    fd_ = -1;
    if (::rename(temp_.c_str(), target_.c_str()) != 0) return Fail("cannot replace " + target_);
    temp_.clear();
    return true;
}

void ArchiveWriter::Abort() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
}
