#include "archive/EntryWriter.h"

#include <memory>

#include "archive/ArchiveWriter.h"
#include "archive/PieceCodec.h"
#include "archive/Seal.h"
#include "base/Guid.h"

void EntryWriter::Begin(const v::NodeRecord& record) {
    record_ = record;
    recordOffset_ = writer_.Position();
    frameBytes_ = 0;
    tooLarge_ = false;
    writer_.Write(record.bytes.data(), record.bytes.size());
}

void EntryWriter::Frame(const std::vector<uint8_t>& frame) {
    if (tooLarge_) return;
    if (frameBytes_ + frame.size() > maxPayload_) {
        tooLarge_ = true;  // the source is still read to its end, but the file stops growing
        return;
    }
    writer_.Write(frame.data(), frame.size());
    frameBytes_ += frame.size();
}

EntryWriter::End EntryWriter::Finish(bool leftOut) {
    if (leftOut || tooLarge_) {
        writer_.TruncateTo(recordOffset_);
        return tooLarge_ ? End::TooLarge : End::LeftOut;
    }
    writer_.PatchU64(recordOffset_ + v::NodeRecord::kPayloadLengthAt, frameBytes_);
    if (chain_) {
        record_.SetPayloadLength(frameBytes_);
        chain_->Add(record_.bytes.data());
    }
    ++written_;
    return End::Written;
}

void EntryWriter::WriteClosingRecord(const SealKey& seal, bool compress) {
    if (!chain_) return;
    v::NodeRecord rec;
    rec.SetTypeGuid(kSealClosingType);
    rec.SetInstanceGuid(tindale::Guid::NewRandom());
    rec.SetFlags(compress, true);  // encoded like every other record
    auto closing = chain_->Closing();
    std::vector<uint8_t> frame;
    auto record = std::make_shared<const v::RecordBytes>(rec.bytes);
    ProcessPiece({compress, true, {}, &seal}, closing.data(), closing.size(), frame,
                 {record, 0, true});
    rec.SetPayloadLength(frame.size());
    writer_.Write(rec.bytes.data(), rec.bytes.size());
    writer_.Write(frame.data(), frame.size());
}
