#include "base/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace v {

FileStream::~FileStream() {
    Close();
}

int FileStream::OpenForReading(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
}

bool FileStream::Close() {
    if (fd_ < 0) return true;
    bool ok = ::close(fd_) == 0;
    if (!ok) lastError_ = errno;
    fd_ = -1;
    return ok;
}

int32_t FileStream::Write(const uint8_t* data, int32_t length) {
    if (fd_ < 0 || length <= 0) return 0;
    int32_t done = 0;
    while (done < length) {
        ssize_t n = ::write(fd_, data + done, static_cast<size_t>(length - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            lastError_ = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<int32_t>(n);
    }
    return done;
}

int32_t FileStream::Read(uint8_t* buffer, int32_t length) {
    if (fd_ < 0 || length <= 0) return 0;
    int32_t done = 0;
    while (done < length) {
        ssize_t n = ::read(fd_, buffer + done, static_cast<size_t>(length - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) lastError_ = errno;
        if (n <= 0) break;
        done += static_cast<int32_t>(n);
    }
    return done;
}

uint64_t FileStream::GetSize() {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

int32_t MemoryStream::Write(const uint8_t* data, int32_t length) {
    if (length <= 0) return 0;
    buffer_.insert(buffer_.end(), data, data + length);
    return length;
}

int32_t MemoryStream::Read(uint8_t* buffer, int32_t length) {
    if (length <= 0) return 0;
    size_t n = std::min(static_cast<size_t>(length), buffer_.size() - position_);
    if (n) std::memcpy(buffer, buffer_.data() + position_, n);
    position_ += n;
    return static_cast<int32_t>(n);
}

int32_t DeclaredSizeStream::Read(uint8_t* buffer, int32_t length) {
    if (left_ == 0) {
        uint8_t probe = 0;
        if (!damaged_ && inner_.Read(&probe, 1) > 0) damaged_ = true;  // more than declared
        return 0;
    }
    auto want = static_cast<int32_t>(std::min<uint64_t>(left_, static_cast<uint64_t>(length)));
    int32_t n = inner_.Read(buffer, want);
    if (n <= 0) {
        damaged_ = true;  // less than declared
        return 0;
    }
    left_ -= static_cast<uint64_t>(n);
    return n;
}

uint64_t CopyStream(BasicStream& from, BasicStream& to) {
    std::vector<uint8_t> piece(kCopyPieceSize);
    uint64_t total = 0;
    for (;;) {
        int32_t got = from.Read(piece.data(), kCopyPieceSize);
        if (got <= 0) break;
        total += static_cast<uint64_t>(std::max(0, to.Write(piece.data(), got)));
    }
    return total;
}

size_t ReadFully(BasicStream& in, uint8_t* buffer, size_t length) {
    size_t done = 0;
    while (done < length) {
        size_t want = std::min<size_t>(length - done, 1u << 20);
        int32_t n = in.Read(buffer + done, static_cast<int32_t>(want));
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

bool WriteAllToFd(int fd, const void* data, size_t size) {
    const auto* at = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, at, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace v
