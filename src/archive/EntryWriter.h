#pragma once
// The writer's half of an entry: the node's record, its frames, and the record's payload
// length patched in once the frames are written. A payload that would reach 4 GiB cannot be
// described by the record's length field; such an entry is taken back out of the archive.
//
// Every call arrives in archive order (through the piece pipeline's ordered actions), so
// frames belong to the entry last begun.
#include <cstdint>
#include <vector>

#include "archive/NodeRecord.h"
#include "base/Guid.h"

class ArchiveWriter;
class SealChain;
class SealKey;
class ZstdDictionary;

class EntryWriter {
  public:
    enum class End { Written, LeftOut, TooLarge };

    explicit EntryWriter(ArchiveWriter& writer,
                         uint64_t maxPayload = v::NodeRecord::kMaxPayloadLength)
        : writer_(writer), maxPayload_(maxPayload) {}
    // A sealed archive keeps a hash over its records for its closing record.
    void Chain(SealChain& chain) { chain_ = &chain; }

    void Begin(const v::NodeRecord& record);
    void Frame(const std::vector<uint8_t>& frame);
    // Completes the entry begun last, or takes it back out when `leftOut` or too large.
    End Finish(bool leftOut);
    uint64_t Written() const { return written_; }

    // The last record of a sealed archive: how many records came before it and a hash over
    // them all, sealed like any frame, so that a cut, reordered or spliced archive is found.
    // Needs the chain given to Chain.
    void WriteClosingRecord(const SealKey& seal, bool compress);
    // The first record of a sealed archive whose small items share a dictionary: the
    // dictionary, sealed, so that every reader has it before any item needs it.
    void WriteDictionaryRecord(const SealKey& seal, const ZstdDictionary& dictionary);

  private:
    v::NodeRecord WriteSealedRecord(const tindale::Guid& type,
                                    const std::vector<uint8_t>& plaintext, const SealKey& seal,
                                    bool compress);
    ArchiveWriter& writer_;
    uint64_t maxPayload_;
    uint64_t recordOffset_ = 0;
    uint64_t frameBytes_ = 0;
    bool tooLarge_ = false;
    uint64_t written_ = 0;
    v::NodeRecord record_;
    SealChain* chain_ = nullptr;
};
