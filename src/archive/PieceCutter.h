#pragma once
// Cuts what a node writes into pieces and hands them to the pipeline. A full piece is held
// back until more bytes come, so that the payload's last piece is known as such (a sealed
// frame says whether it ends its payload). Refuses more bytes once a stop is requested, so
// a long copy ends early.
#include <memory>
#include <stop_token>
#include <vector>

#include "archive/NodeRecord.h"
#include "base/Streams.h"

class PiecePipeline;

class PieceCutter : public v::BasicStream {
  public:
    PieceCutter(PiecePipeline& pipeline, std::stop_token stop,
                std::shared_ptr<const v::RecordBytes> record);
    int32_t Write(const uint8_t* data, int32_t length) override;
    int32_t Read(uint8_t*, int32_t) override { return 0; }
    uint64_t GetSize() override { return 0; }
    // Hands over the payload's last piece.
    void Finish();

  private:
    void Submit(bool last);

    PiecePipeline& pipeline_;
    std::stop_token stop_;
    std::shared_ptr<const v::RecordBytes> record_;
    uint64_t index_ = 0;
    size_t pieceSize_;
    std::vector<uint8_t> buffer_;
};
