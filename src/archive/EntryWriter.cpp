#include "archive/EntryWriter.h"

#include <memory>

#include "archive/ArchiveWriter.h"
#include "archive/PieceCodec.h"
#include "archive/Seal.h"
#include "archive/ZstdDictionary.h"
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
    // Encoded like every other record: compressed when the archive is.
    WriteSealedRecord(kSealClosingType, chain_->Closing(), seal, compress);
}

void EntryWriter::WriteDictionaryRecord(const SealKey& seal, const ZstdDictionary& dictionary) {
    // Compressed like every record of its archive, by itself: the key has no dictionary yet.
    v::NodeRecord rec = WriteSealedRecord(kZstdDictionaryType, dictionary.Bytes(), seal, true);
    if (chain_) chain_->Add(rec.bytes.data());  // not an item: not counted as one
}

v::NodeRecord EntryWriter::WriteSealedRecord(const tindale::Guid& type,
                                             const std::vector<uint8_t>& plaintext,
                                             const SealKey& seal, bool compress) {
    v::NodeRecord rec;
    rec.SetTypeGuid(type);
    rec.SetInstanceGuid(tindale::Guid::NewRandom());
    rec.SetFlags(compress, true);
    std::vector<uint8_t> frame;
    auto record = std::make_shared<const v::RecordBytes>(rec.bytes);
    ProcessPiece({compress, true, {}, &seal}, plaintext.data(), plaintext.size(), frame,
                 {record, 0, true});
    rec.SetPayloadLength(frame.size());
    writer_.Write(rec.bytes.data(), rec.bytes.size());
    writer_.Write(frame.data(), frame.size());
    return rec;
}
