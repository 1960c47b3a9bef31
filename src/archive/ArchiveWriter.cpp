#include "archive/ArchiveWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/Text.h"

ArchiveWriter::~ArchiveWriter() {
    Abort();
}

bool ArchiveWriter::Fail(const std::string& what, int error) {
    if (error_.empty()) error_ = what + ": " + std::strerror(error);
    return false;
}

bool ArchiveWriter::Open(const std::string& targetPath) {
    target_ = targetPath;
    // A backup of the same target that was killed left its partial file; a live one holds
    // a lock on it and is left alone.
    tindale::durable::TempFile::RemoveStale(targetPath, "partial");
    // The temporary is private (0600) and stays so: archives hold private mail.
    file_ = std::make_unique<tindale::durable::TempFile>(targetPath, "partial");
    if (!file_->IsOpen()) {
        auto slash = targetPath.find_last_of('/');
        std::string dir = slash == std::string::npos ? "." : targetPath.substr(0, slash + 1);
        return Fail("cannot create the archive in " + dir, file_->Error());
    }
    return true;
}

namespace {
constexpr size_t kBufferSize = 1 << 20;
}

bool ArchiveWriter::FlushBuffer() {
    if (buffer_.empty()) return true;
    if (!file_->Write(buffer_.data(), buffer_.size()))
        return Fail("cannot write the archive", file_->Error());
    flushed_ += buffer_.size();
    buffer_.clear();
    return true;
}

bool ArchiveWriter::Write(const uint8_t* data, size_t length) {
    if (!file_ || Failed()) return false;
    if (buffer_.size() + length > kBufferSize && !FlushBuffer()) return false;
    if (length >= kBufferSize) {
        if (!file_->Write(data, length)) return Fail("cannot write the archive", file_->Error());
        flushed_ += length;
    } else {
        buffer_.insert(buffer_.end(), data, data + length);
    }
    position_ += length;
    return true;
}

bool ArchiveWriter::PatchU64(uint64_t offset, uint64_t value) {
    if (!file_ || Failed()) return false;
    uint8_t bytes[8];
    tindale::text::PutU64(bytes, value);
    if (offset >= flushed_ && offset + 8 <= position_) {
        std::copy(bytes, bytes + 8, buffer_.begin() + static_cast<long>(offset - flushed_));
        return true;
    }
    if (!FlushBuffer()) return false;
    if (::pwrite(file_->Fd(), bytes, 8, static_cast<off_t>(offset)) != 8)
        return Fail("cannot write the archive", errno);
    return true;
}

bool ArchiveWriter::TruncateTo(uint64_t offset) {
    if (!file_ || Failed()) return false;
    if (offset >= flushed_ && offset <= position_) {
        buffer_.resize(offset - flushed_);
        position_ = offset;
        return true;
    }
    buffer_.clear();
    flushed_ = offset;
    if (::ftruncate(file_->Fd(), static_cast<off_t>(offset)) != 0 ||
        ::lseek(file_->Fd(), static_cast<off_t>(offset), SEEK_SET) < 0)
        return Fail("cannot write the archive", errno);
    position_ = offset;
    return true;
}

bool ArchiveWriter::Commit() {
    if (!file_ || Failed() || !FlushBuffer()) return false;
    if (!file_->PublishNow()) return Fail("cannot write " + target_, file_->Error());
    file_.reset();
    return true;
}

void ArchiveWriter::Abort() {
    file_.reset();  // removes the temporary
}
