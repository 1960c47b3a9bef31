#pragma once
// Passes one item's payload through to or from another stream and tells the report how far
// a large item has got, so that a 3 GB file does not sit behind a still bar. A file's payload
// names the file's size in its header, so for files the total is known; for other payloads
// only the bytes so far are told (total 0).
#include <cstdint>

#include "base/Streams.h"
#include "model/FileNodes.h"
#include "model/Worker.h"

namespace v {

class ItemProgressStream : public BasicStream {
  public:
    static constexpr uint64_t kLargeItem = 16ull << 20;   // smaller items are not told
    static constexpr uint64_t kReportEvery = 4ull << 20;  // bytes between two reports

    ItemProgressStream(BasicStream& inner, WorkerReport& report, bool filePayload)
        : inner_(inner), report_(report), filePayload_(filePayload) {}
    ~ItemProgressStream() override;

    int32_t Write(const uint8_t* data, int32_t length) override;
    int32_t Read(uint8_t* buffer, int32_t length) override;
    uint64_t GetSize() override { return inner_.GetSize(); }
    bool Damaged() const override { return inner_.Damaged(); }

  private:
    void Count(const uint8_t* data, int32_t length);

    BasicStream& inner_;
    WorkerReport& report_;
    bool filePayload_;
    uint8_t header_[kFileHeaderSize] = {};
    uint64_t passed_ = 0;
    uint64_t total_ = 0;
    uint64_t nextReport_ = kLargeItem;
    bool reported_ = false;
};

}  // namespace v
