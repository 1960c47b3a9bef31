#include "archive/PieceCutter.h"

#include <algorithm>

#include "archive/PiecePipeline.h"

PieceCutter::PieceCutter(PiecePipeline& pipeline, std::stop_token stop,
                         std::shared_ptr<const v::RecordBytes> record)
    : pipeline_(pipeline),
      stop_(stop),
      record_(std::move(record)),
      pieceSize_(pipeline.PieceSize()) {
    buffer_.reserve(pieceSize_);
}

int32_t PieceCutter::Write(const uint8_t* data, int32_t length) {
    if (stop_.stop_requested()) return 0;
    int32_t done = 0;
    while (done < length) {
        if (buffer_.size() == pieceSize_) Submit(false);
        size_t n = std::min<size_t>(pieceSize_ - buffer_.size(), length - done);
        buffer_.insert(buffer_.end(), data + done, data + done + n);
        done += static_cast<int32_t>(n);
    }
    return done;
}

void PieceCutter::Finish() {
    if (!buffer_.empty()) Submit(true);
}

void PieceCutter::Submit(bool last) {
    pipeline_.SubmitPiece(buffer_.data(), buffer_.size(), {record_, index_++, last});
    buffer_.clear();
}
