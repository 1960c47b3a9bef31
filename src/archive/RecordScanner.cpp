#include "archive/RecordScanner.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "archive/ArchiveHeader.h"

namespace {
constexpr size_t kWindow = 1 << 20;
}

RecordScanner::RecordScanner(int fd, uint64_t fileSize, bool sealed)
    : fd_(fd), fileSize_(fileSize), sealed_(sealed), window_(kWindow) {}

bool RecordScanner::Fill(uint64_t at, size_t length) {
    if (at >= windowAt_ && at + length <= windowAt_ + windowLength_) return true;
    windowAt_ = at;
    windowLength_ = 0;
    while (windowLength_ < window_.size()) {
        ssize_t got = ::pread(fd_, window_.data() + windowLength_, window_.size() - windowLength_,
                              static_cast<off_t>(at + windowLength_));
        if (got <= 0) break;
        windowLength_ += static_cast<size_t>(got);
    }
    return length <= windowLength_;
}

bool RecordScanner::Next() {
    if (reason_ != ArchiveReader::EndReason::None) return false;
    uint64_t at =
        started_ ? offset_ + v::NodeRecord::kSize + record_.PayloadLength() : ArchiveHeader::kSize;
    started_ = true;
    if (at == fileSize_) {
        reason_ = ArchiveReader::EndReason::CleanEnd;
        return false;
    }
    if (at > fileSize_ || fileSize_ - at < v::NodeRecord::kSize ||
        !Fill(at, v::NodeRecord::kSize)) {
        reason_ = ArchiveReader::EndReason::Truncated;
        return false;
    }
    std::memcpy(record_.bytes.data(), window_.data() + (at - windowAt_), v::NodeRecord::kSize);
    offset_ = at;
    if (sealed_ && !record_.Encrypted()) {
        reason_ = ArchiveReader::EndReason::Forged;
        return false;
    }
    if (!PayloadFitsFile(record_.PayloadLength(), at + v::NodeRecord::kSize, fileSize_)) {
        reason_ = ArchiveReader::EndReason::Truncated;
        return false;
    }
    return true;
}
