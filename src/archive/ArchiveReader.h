#pragma once
// Reads an archive record by record, strictly forward. A record is accepted only when its
// whole payload is in the file; a short record or payload ends the walk. Payloads are read
// on demand through PayloadStream(), so no payload is ever held whole in memory.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "archive/ArchiveHeader.h"
#include "archive/FrameLookahead.h"
#include "archive/NodeRecord.h"
#include "archive/PieceCodec.h"
#include "archive/Seal.h"
#include "base/Streams.h"

class ArchiveReader {
  public:
    // Forged: a record of a sealed archive claims not to be sealed. No writer makes one, and
    // reading it as plain would hand unauthenticated bytes on, so the walk ends there.
    enum class EndReason { None, NotAnArchive, CleanEnd, Truncated, Forged };

    // Opens the file read-only, never creating it; an archive on read-only media reads fine.
    static int OpenArchiveFd(const std::string& path);

    // DamagedHeader: a sealed header whose fields no writer makes (limits, algorithm), so no
    // password can open it; Cancelled: a stop ended the key's derivation.
    enum class OpenStatus {
        Readable,
        CannotOpen,
        NotAnArchive,
        WrongPassword,
        DamagedHeader,
        Cancelled
    };
    // Opens the archive at `path` (a regular file only) and reads its header and first
    // record; the reader owns the file.
    OpenStatus Open(const std::string& path);
    // Checks a password against the header (before anything else is read): Readable when it
    // is right or the archive is not encrypted. A sealed archive's key is derived once here
    // and kept for the walk (Key()).
    OpenStatus Unlock(std::u16string_view password, std::stop_token stop = {});
    // Open, then Unlock: the first status that is not Readable, or Readable.
    OpenStatus Open(const std::string& path, std::u16string_view password,
                    std::stop_token stop = {});
    const SealKey* Key() const { return key_ ? &*key_ : nullptr; }
    // A sealed archive's key, already derived for this archive.
    void UseKey(const SealKey& key);

    // Reads the header and the first record; false when the file is not an archive (too
    // short, or a wrong magic). The reader does not own the stream. The header stays
    // readable after the walk ends.
    // Without `sealedSupport` it reads as a reader of the original format does.
    bool OpenArchiveFile(v::FileStream* stream, bool sealedSupport = true);
    // Decodes the frames of the records `wanted` accepts ahead of the walk, on `threads`
    // workers (0: as many as this machine has cores, none where it has one); a
    // FrameDecodingStream made from this reader takes them from there. Call after
    // OpenArchiveFile.
    void DecodeAhead(std::u16string password, const SealKey* seal, FrameLookahead::Wanted wanted,
                     unsigned threads = 0);
    FrameLookahead* Lookahead() const { return ahead_.get(); }
    // Moves to the next record, passing over what is left of the current payload.
    bool Advance();
    bool AtEnd() const { return stream_ == nullptr; }

    const ArchiveHeader& Header() const { return header_; }
    const v::NodeRecord& Record() const { return record_; }
    uint64_t PayloadLength() const { return payloadLength_; }
    // The current record's raw payload (its frames); reading it consumes the file.
    v::BasicStream& PayloadStream() { return payload_; }
    // The file offset of the next unread byte of the current payload.
    uint64_t PayloadPosition() const { return payloadEnd_ - payload_.remaining; }
    uint64_t PayloadRemaining() const { return payload_.remaining; }
    // Passes over `n` bytes of the current payload (at most what remains) without reading.
    void SkipPayload(uint64_t n);
    // Reads the whole current payload into memory (for small payloads and tests).
    std::vector<uint8_t> LoadPayload();

    uint64_t RecordIndex() const { return index_; }
    EndReason Reason() const { return reason_; }
    // The end reason as words, for a report ("it is truncated after 3 items").
    std::string DescribeEnd() const;
    // Bytes from the start of the file to the end of the last complete record.
    uint64_t GoodBytes() const { return goodBytes_; }
    uint64_t FileSize() const { return fileSize_; }

  private:
    class Payload : public v::BasicStream {
      public:
        int32_t Write(const uint8_t*, int32_t) override { return 0; }
        int32_t Read(uint8_t* buffer, int32_t length) override;
        uint64_t GetSize() override { return total; }
        v::FileStream* file = nullptr;
        uint64_t remaining = 0;
        uint64_t total = 0;
        uint64_t skipped = 0;  // passed over but not yet sought past
    };

    void End(EndReason reason);
    bool SkipRest();
    // Gives the key the dictionary a compressed sealed archive keeps in its first record
    // (reading that record's payload), so that every later frame can be decoded, by this
    // reader, its look-ahead or any copy of the key.
    void LoadDictionary();

    v::FileStream* stream_ = nullptr;
    ArchiveHeader header_;
    v::NodeRecord record_;
    uint64_t payloadLength_ = 0;
    Payload payload_;
    uint64_t index_ = 0;
    uint64_t payloadEnd_ = 0;
    bool started_ = false;
    uint64_t fileSize_ = 0;
    uint64_t goodBytes_ = 0;
    EndReason reason_ = EndReason::None;
    // Declared before the look-ahead, which uses both: it is stopped first.
    std::unique_ptr<v::FileStream> file_;
    std::optional<SealKey> key_;
    std::unique_ptr<FrameLookahead> ahead_;
};

// Decodes a payload's frames on demand: reading it yields the node's payload bytes.
class FrameDecodingStream : public v::BasicStream {
  public:
    // Encrypted frames are opened with `seal` when given (a sealed archive), else decrypted
    // with the legacy scheme and `password`.
    FrameDecodingStream(v::BasicStream& frames, const v::NodeRecord& record,
                        std::u16string password, const SealKey* seal = nullptr);
    // The current payload of `reader`, using the frames it decoded ahead.
    FrameDecodingStream(ArchiveReader& reader, std::u16string password, const SealKey* seal);
    int32_t Write(const uint8_t*, int32_t) override { return 0; }
    int32_t Read(uint8_t* buffer, int32_t length) override;
    uint64_t GetSize() override { return 0; }

    // Frames that did not decode or were cut short; their bytes are missing from the output.
    uint32_t DamagedFrames() const { return damaged_; }
    bool Damaged() const override { return damaged_ != 0; }
    uint32_t Frames() const { return frameCount_; }
    // Reads to the end, discarding the output (a test of every frame). `keepGoing`, when
    // given, is called after each megabyte; the read ends there when it returns false.
    void Drain(const std::function<bool()>& keepGoing = {});

  private:
    bool NextFrame();
    bool TakeDecodedFrame();
    bool DecodeHere(const std::vector<uint8_t>& body);
    bool Accept(bool ok, bool last);
    bool Abandon();

    v::BasicStream& frames_;
    std::u16string password_;
    CodecFlags flags_;
    std::vector<uint8_t> piece_;
    size_t piecePos_ = 0;
    bool finished_ = false;
    uint32_t damaged_ = 0;
    uint32_t frameCount_ = 0;
    v::NodeRecord record_;
    bool lastSeen_ = false;            // a sealed payload's last frame was read
    ArchiveReader* reader_ = nullptr;  // set when frames come from a reader with a look-ahead
    uint64_t position_ = 0;            // the file offset of the next frame
};

// Follows a sealed archive's records as a reader walks them, and checks its closing record:
// the number of records before it and the hash over them must match, and nothing may follow.
// The closing record's plaintext is sealed under the archive key like every frame, so nobody
// without the password can make one that matches other records.
class SealWalk {
  public:
    enum class Verdict { Sound, NoClosingRecord, Mismatch, Forged };
    explicit SealWalk(const SealKey& key) : key_(key) {}
    // Call for every record before anything reads its payload; true for the closing record,
    // whose payload this reads and checks (it holds nothing to restore).
    bool Observe(ArchiveReader& reader);
    // The verdict once the reader has ended (a forged record ends it early).
    Verdict Finish(const ArchiveReader& reader) const;
    static std::string Describe(Verdict verdict);

    // Walks the records of an opened sealed archive to its end, reading no payload but the
    // closing record's, and says whether they are the records the archive was written with.
    // Cheap enough to run before anything is written or deleted.
    static Verdict CheckChain(ArchiveReader& reader, const SealKey& key,
                              const std::function<bool()>& keepGoing = {});

  private:
    const SealKey& key_;
    SealChain chain_;
    bool closed_ = false;
    bool matched_ = false;
};
