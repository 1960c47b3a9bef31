#include "archive/ArchiveReader.h"

#include "archive/Seal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "archive/PieceCodec.h"
#include "archive/PiecePipeline.h"
#include "archive/ZstdDictionary.h"
#include "base/Text.h"

int ArchiveReader::OpenArchiveFd(const std::string& path) {
    // Only a regular file is an archive: a FIFO or a device given as one must not hang or
    // feed the reader forever. O_NONBLOCK keeps the open itself from waiting on a FIFO and
    // changes nothing for a regular file's reads.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

ArchiveReader::OpenStatus ArchiveReader::Open(const std::string& path) {
    file_ = std::make_unique<v::FileStream>(OpenArchiveFd(path));
    if (!file_->IsOpen()) return OpenStatus::CannotOpen;
    if (!OpenArchiveFile(file_.get())) return OpenStatus::NotAnArchive;
    // A sealed archive is always encrypted, with its seal fields in bounds: a header that
    // says otherwise contradicts its records (which are sealed frames) and is damaged, for
    // every job, with a password or without.
    if (header_.Sealed() && (!header_.Encrypted() || !SealKey::HeaderValid(header_)))
        return OpenStatus::DamagedHeader;
    return OpenStatus::Readable;
}

ArchiveReader::OpenStatus ArchiveReader::Open(const std::string& path, std::u16string_view password,
                                              std::stop_token stop) {
    OpenStatus status = Open(path);
    return status == OpenStatus::Readable ? Unlock(password, stop) : status;
}

ArchiveReader::OpenStatus ArchiveReader::Unlock(std::u16string_view password,
                                                std::stop_token stop) {
    if (header_.Sealed()) {
        if (!SealKey::HeaderValid(header_)) return OpenStatus::DamagedHeader;
        key_ = SealKey::Unlock(header_, password, stop);
        if (key_) {
            LoadDictionary();
            return OpenStatus::Readable;
        }
        return stop.stop_requested() ? OpenStatus::Cancelled : OpenStatus::WrongPassword;
    }
    bool right = !header_.Encrypted() || header_.CheckPassword(password);
    return right ? OpenStatus::Readable : OpenStatus::WrongPassword;
}

void ArchiveReader::UseKey(const SealKey& key) {
    key_ = key;
    LoadDictionary();
}

void ArchiveReader::LoadDictionary() {
    if (!key_ || key_->Scheme() != SealScheme::ZstdShared || index_ != 0 || AtEnd() ||
        record_.TypeGuid() != kZstdDictionaryType || payload_.remaining != payload_.total)
        return;
    std::vector<uint8_t> bytes(ZstdDictionary::kMaxBytes + 1);
    FrameDecodingStream frames(payload_, record_, u"", &*key_);
    bytes.resize(v::ReadFully(frames, bytes.data(), bytes.size()));
    // A dictionary that does not open leaves the items that need it undecodable, which every
    // job reports as damage; so does a dictionary record anywhere but first.
    if (!frames.Damaged())
        key_->UseDictionary(ZstdDictionary::FromBytes(bytes.data(), bytes.size()));
}

void ArchiveReader::End(EndReason reason) {
    stream_ = nullptr;
    record_ = v::NodeRecord();
    payloadLength_ = 0;
    payload_ = Payload();
    if (reason_ == EndReason::None) reason_ = reason;
}

bool ArchiveReader::OpenArchiveFile(v::FileStream* stream, bool sealedSupport) {
    stream_ = stream;
    fileSize_ = stream ? stream->GetSize() : 0;
    if (!stream || stream->Read(header_.bytes.data(), ArchiveHeader::kSize) !=
                       static_cast<int32_t>(ArchiveHeader::kSize)) {
        End(EndReason::NotAnArchive);
        return false;
    }
    if (!header_.HasMagic(sealedSupport)) {
        End(EndReason::NotAnArchive);
        return false;
    }
    payloadEnd_ = goodBytes_ = ArchiveHeader::kSize;
    index_ = 0;
    started_ = false;
    Advance();
    return true;
}

bool ArchiveReader::SkipRest() {
    uint64_t left = payload_.remaining + payload_.skipped;
    payload_.remaining = payload_.skipped = 0;
    return left == 0 || ::lseek(stream_->Fd(), static_cast<off_t>(left), SEEK_CUR) >= 0;
}

bool ArchiveReader::Advance() {
    if (AtEnd()) return false;
    if (started_) {
        if (!SkipRest()) {
            End(EndReason::Truncated);
            return false;
        }
        ++index_;
    }
    started_ = true;
    int32_t got = stream_->Read(record_.bytes.data(), v::NodeRecord::kSize);
    if (got != static_cast<int32_t>(v::NodeRecord::kSize)) {
        End(got == 0 ? EndReason::CleanEnd : EndReason::Truncated);
        return false;
    }
    if (header_.Sealed() && !record_.Encrypted()) {
        End(EndReason::Forged);
        return false;
    }
    uint64_t recordEnd = payloadEnd_ + v::NodeRecord::kSize;
    uint64_t length = record_.PayloadLength();
    if (!PayloadFitsFile(length, recordEnd, fileSize_)) {
        End(EndReason::Truncated);
        return false;
    }
    payloadLength_ = length;
    payload_.file = stream_;
    payload_.remaining = payload_.total = length;
    payloadEnd_ = goodBytes_ = recordEnd + length;
    return true;
}

void ArchiveReader::SkipPayload(uint64_t n) {
    n = std::min(n, payload_.remaining);
    payload_.remaining -= n;
    payload_.skipped += n;
}

int32_t ArchiveReader::Payload::Read(uint8_t* buffer, int32_t length) {
    if (!file || remaining == 0 || length <= 0) return 0;
    if (skipped != 0) {
        if (::lseek(file->Fd(), static_cast<off_t>(skipped), SEEK_CUR) < 0) return 0;
        skipped = 0;
    }
    int32_t want =
        static_cast<int32_t>(std::min<uint64_t>(remaining, static_cast<uint64_t>(length)));
    int32_t got = file->Read(buffer, want);
    remaining -= static_cast<uint64_t>(std::max(got, 0));
    return got;
}

void ArchiveReader::DecodeAhead(std::u16string password, const SealKey* seal,
                                FrameLookahead::Wanted wanted, unsigned threads) {
    if (AtEnd()) return;
    if (threads == 0) threads = PiecePipeline::DefaultThreads();
    // With a single core, decoding ahead would only take turns with the reader.
    if (threads < 2) return;
    ahead_ =
        std::make_unique<FrameLookahead>(stream_->Fd(), ArchiveHeader::kSize, fileSize_,
                                         std::move(password), seal, std::move(wanted), threads);
}

std::vector<uint8_t> ArchiveReader::LoadPayload() {
    std::vector<uint8_t> out(payload_.remaining);
    out.resize(v::ReadFully(payload_, out.data(), out.size()));
    return out;
}

FrameDecodingStream::FrameDecodingStream(v::BasicStream& frames, const v::NodeRecord& record,
                                         std::u16string password, const SealKey* seal)
    : frames_(frames), password_(std::move(password)), record_(record) {
    flags_ = {record.Compressed(), record.Encrypted(), password_, seal};
}

FrameDecodingStream::FrameDecodingStream(ArchiveReader& reader, std::u16string password,
                                         const SealKey* seal)
    : FrameDecodingStream(reader.PayloadStream(), reader.Record(), std::move(password), seal) {
    // The look-ahead passes over plain frames (nothing to decode): asking it for them would
    // only cost a round trip through its lock per frame.
    if (reader.Lookahead() && (flags_.compress || flags_.encrypt)) reader_ = &reader;
    position_ = reader.PayloadPosition();
}

// Whether a frame that decoded (`ok`) is accepted: a sealed payload's frames must not go on
// after the one that claimed to be its last.
bool FrameDecodingStream::Accept(bool ok, bool last) {
    if (!flags_.encrypt || !flags_.seal) return ok;
    if (lastSeen_) return false;
    lastSeen_ = last;
    return ok;
}

// Decodes the frame just read (number frameCount_ - 1) on this thread.
bool FrameDecodingStream::DecodeHere(const std::vector<uint8_t>& body) {
    bool last = false;
    bool ok = DecodeFrame(flags_, record_.bytes.data(), frameCount_ - 1, body.data(), body.size(),
                          piece_, last);
    return Accept(ok, last);
}

// The next frame as the look-ahead decoded it, passing over its bytes in the payload.
bool FrameDecodingStream::TakeDecodedFrame() {
    FrameLookahead::Frame* frame =
        reader_->Lookahead()->Find(position_, record_.bytes.data(), frameCount_);
    if (!frame || kFrameLengthBytes + uint64_t{frame->length} > reader_->PayloadRemaining())
        return false;
    reader_->SkipPayload(kFrameLengthBytes + uint64_t{frame->length});
    position_ += kFrameLengthBytes + uint64_t{frame->length};
    ++frameCount_;
    piece_ = std::move(frame->piece);
    piecePos_ = 0;
    if (!Accept(frame->ok, frame->last)) return Abandon();
    return true;
}

// A frame that does not decode ends the payload: what follows it is not read as content (its
// bytes would land in the wrong place), and the item counts as damaged.
bool FrameDecodingStream::Abandon() {
    ++damaged_;
    piece_.clear();
    piecePos_ = 0;
    finished_ = true;
    return false;
}

bool FrameDecodingStream::NextFrame() {
    if (finished_) return false;
    if (reader_ && reader_->PayloadRemaining() >= kFrameLengthBytes && TakeDecodedFrame())
        return true;
    if (finished_) return false;  // the decoded frame was damaged
    uint8_t prefix[kFrameLengthBytes];
    size_t got = v::ReadFully(frames_, prefix, kFrameLengthBytes);
    position_ += got;
    if (got == 0) {
        finished_ = true;
        // A sealed payload that was cut before its last frame is damaged.
        if (flags_.encrypt && flags_.seal && frameCount_ > 0 && !lastSeen_) ++damaged_;
        return false;
    }
    if (got < kFrameLengthBytes) return Abandon();
    uint32_t m = tindale::text::GetU32(prefix);
    // No writer makes a longer frame, nor an empty one (millions of those would be work for
    // nothing); nothing is allocated for either.
    if (m == 0 || m > kMaxFrameBody) return Abandon();
    std::vector<uint8_t> body(m);
    body.resize(v::ReadFully(frames_, body.data(), body.size()));
    position_ += body.size();
    ++frameCount_;
    piece_.clear();
    piecePos_ = 0;
    // A frame that runs past its payload is cut, and so damaged.
    if (body.size() < m || !DecodeHere(body)) return Abandon();
    return true;
}

int32_t FrameDecodingStream::Read(uint8_t* buffer, int32_t length) {
    int32_t done = 0;
    while (done < length) {
        if (piecePos_ == piece_.size() && !NextFrame()) break;
        size_t n = std::min<size_t>(piece_.size() - piecePos_, static_cast<size_t>(length - done));
        if (n) std::memcpy(buffer + done, piece_.data() + piecePos_, n);
        piecePos_ += n;
        done += static_cast<int32_t>(n);
    }
    return done;
}

void FrameDecodingStream::Drain(const std::function<bool()>& keepGoing) {
    constexpr size_t kBetweenCalls = 1u << 20;
    uint8_t sink[16384];
    size_t sinceCall = 0;
    for (int32_t n; (n = Read(sink, sizeof sink)) > 0;) {
        sinceCall += static_cast<size_t>(n);
        if (keepGoing && sinceCall >= kBetweenCalls) {
            sinceCall = 0;
            if (!keepGoing()) return;
        }
    }
}

std::string ArchiveReader::DescribeEnd() const {
    switch (reason_) {
        case EndReason::Truncated:
            return "it is truncated after " + std::to_string(index_) + " items";
        case EndReason::Forged:
            return "record " + std::to_string(index_ + 1) +
                   " claims not to be sealed in a sealed archive: the archive was altered";
        case EndReason::NotAnArchive:
            return "it is not an archive";
        default:
            return {};
    }
}

bool SealWalk::Observe(ArchiveReader& reader) {
    const v::NodeRecord& rec = reader.Record();
    if (rec.TypeGuid() != kSealClosingType) {
        if (closed_) matched_ = false;  // a record after the closing one was spliced in
        chain_.Add(rec.bytes.data());
        return false;
    }
    FrameDecodingStream frames(reader.PayloadStream(), rec, u"", &key_);
    std::vector<uint8_t> closing(64);
    closing.resize(static_cast<size_t>(v::ReadFully(frames, closing.data(), closing.size())));
    matched_ = !closed_ && !frames.Damaged() && closing == chain_.Closing();
    closed_ = true;
    return true;
}

SealWalk::Verdict SealWalk::Finish(const ArchiveReader& reader) const {
    if (reader.Reason() == ArchiveReader::EndReason::Forged) return Verdict::Forged;
    if (!closed_) return Verdict::NoClosingRecord;
    return matched_ ? Verdict::Sound : Verdict::Mismatch;
}

std::string SealWalk::Describe(Verdict verdict) {
    switch (verdict) {
        case Verdict::Sound:
            return "its records are the ones it was written with";
        case Verdict::NoClosingRecord:
            return "its closing record is missing: it was cut short";
        case Verdict::Mismatch:
            return "its records do not match its closing record: records were removed, "
                   "reordered, replaced or added since it was written";
        case Verdict::Forged:
            return "a record in it claims not to be sealed: the archive was altered";
    }
    return {};
}

SealWalk::Verdict SealWalk::CheckChain(ArchiveReader& reader, const SealKey& key,
                                       const std::function<bool()>& keepGoing) {
    SealWalk walk(key);
    for (; !reader.AtEnd(); reader.Advance()) {
        if (keepGoing && !keepGoing()) return Verdict::NoClosingRecord;
        walk.Observe(reader);
    }
    if (reader.Reason() == ArchiveReader::EndReason::Truncated) return Verdict::NoClosingRecord;
    return walk.Finish(reader);
}
