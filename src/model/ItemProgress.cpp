#include "model/ItemProgress.h"

#include <algorithm>
#include <cstring>

#include "base/Text.h"

namespace v {

ItemProgressStream::~ItemProgressStream() {
    if (reported_) report_.ItemBytes(0, 0);  // the large item is done
}

int32_t ItemProgressStream::Write(const uint8_t* data, int32_t length) {
    int32_t written = inner_.Write(data, length);
    Count(data, written);
    return written;
}

int32_t ItemProgressStream::Read(uint8_t* buffer, int32_t length) {
    int32_t read = inner_.Read(buffer, length);
    Count(buffer, read);
    return read;
}

void ItemProgressStream::Count(const uint8_t* data, int32_t length) {
    if (length <= 0) return;
    auto n = static_cast<uint64_t>(length);
    if (filePayload_ && passed_ < kFileHeaderSize) {
        size_t take = std::min<uint64_t>(n, kFileHeaderSize - passed_);
        std::memcpy(header_ + passed_, data, take);
        if (passed_ + take == kFileHeaderSize && header_[kFileFolderFlagAt] == 0)
            total_ = tindale::text::GetU64(header_ + kFileSizeAt);
    }
    passed_ += n;
    if (passed_ < nextReport_) return;
    uint64_t done = filePayload_ ? passed_ - std::min<uint64_t>(passed_, kFileHeaderSize) : passed_;
    report_.ItemBytes(done, total_);
    reported_ = true;
    nextReport_ = passed_ + kReportEvery;
}

}  // namespace v
