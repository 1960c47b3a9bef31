#include "archive/FrameLookahead.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "archive/ArchiveHeader.h"
#include "archive/PieceCodec.h"
#include "base/Text.h"

namespace {

// A chunk is decoded by one worker in one go: large enough that handing it over costs little
// next to decoding it, small enough that a few of them keep every core busy.
constexpr size_t kChunkBytes = 64u << 10;
// Frames of well-compressed text are small: a chunk of many would decode to a lot.
constexpr size_t kChunkFrames = 48;
// Room for a full chunk and the usual frame that overfills it, so that filling one rarely
// moves its bytes.
constexpr size_t kChunkReserve = kChunkBytes + (16u << 10);
// What the look-ahead may hold ahead of the reader, whatever the frames' sizes (a hostile
// frame may announce a megabyte).
constexpr size_t kMaxHeldBytes = 8u << 20;
constexpr size_t kMaxChunks = 64;
constexpr size_t kMaxChunkOutput = 1u << 20;
constexpr size_t kWindow = 1u << 20;

}  // namespace

// Reads the file forward through a window, so that walking small frames costs few calls.
class FrameLookahead::Scanner {
  public:
    explicit Scanner(int fd) : fd_(fd) {}
    bool Read(uint64_t offset, uint8_t* out, size_t n) {
        while (n > 0) {
            if (offset < start_ || offset >= start_ + window_.size()) {
                if (!Fill(offset)) return false;
            }
            size_t at = static_cast<size_t>(offset - start_);
            size_t k = std::min(n, window_.size() - at);
            std::memcpy(out, window_.data() + at, k);
            out += k;
            offset += k;
            n -= k;
        }
        return true;
    }

  private:
    bool Fill(uint64_t offset) {
        window_.resize(kWindow);
        ssize_t got;
        do {
            got = ::pread(fd_, window_.data(), kWindow, static_cast<off_t>(offset));
        } while (got < 0 && errno == EINTR);
        window_.resize(got > 0 ? static_cast<size_t>(got) : 0);
        start_ = offset;
        return got > 0;
    }

    int fd_;
    uint64_t start_ = 0;
    std::vector<uint8_t> window_;
};

FrameLookahead::FrameLookahead(int fd, uint64_t start, uint64_t fileSize, std::u16string password,
                               const SealKey* seal, Wanted wanted, unsigned threads)
    : fd_(fd),
      start_(start),
      fileSize_(fileSize),
      password_(std::move(password)),
      seal_(seal),
      wanted_(std::move(wanted)),
      readerOffset_(start) {
    threads_.emplace_back([this] { ScanLoop(); });
    for (unsigned i = 0; i < std::max(threads, 1u); ++i)
        threads_.emplace_back([this] { WorkerLoop(); });
}

FrameLookahead::~FrameLookahead() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    room_.notify_all();
    work_.notify_all();
    for (auto& t : threads_) t.join();
}

void FrameLookahead::ScanLoop() {
    Scanner file(fd_);
    v::NodeRecord rec;
    uint64_t at = start_;
    while (fileSize_ - std::min(at, fileSize_) >= v::NodeRecord::kSize &&
           file.Read(at, rec.bytes.data(), v::NodeRecord::kSize)) {
        uint64_t from = at + v::NodeRecord::kSize;
        uint64_t length = rec.PayloadLength();
        if (!PayloadFitsFile(length, from, fileSize_)) break;  // the reader stops here too
        at = from + length;
        // Plain frames cost nothing to decode: the reader takes them as they are.
        if ((rec.Compressed() || rec.Encrypted()) && wanted_(rec) &&
            !ScanPayload(file, rec, from, at))
            return;
    }
    Publish();
}

// Adds a payload's frames to chunks, publishing each chunk once it is full; false when the
// look-ahead is stopping. A frame that does not walk ends the scan of its payload: the reader
// meets it and judges it.
bool FrameLookahead::ScanPayload(Scanner& file, const v::NodeRecord& rec, uint64_t pos,
                                 uint64_t end) {
    auto record = std::make_shared<const RecordBytes>(rec.bytes);
    for (uint64_t index = 0; end - pos >= kFrameLengthBytes; ++index) {
        uint8_t prefix[kFrameLengthBytes];
        if (!file.Read(pos, prefix, kFrameLengthBytes)) break;
        uint32_t m = tindale::text::GetU32(prefix);
        if (m == 0 || m > kMaxFrameBody || m > end - pos - kFrameLengthBytes) break;
        if (!pending_) {
            pending_ = std::make_shared<Chunk>();
            pending_->raw.reserve(kChunkReserve);
        }
        Chunk& chunk = *pending_;
        size_t at = chunk.raw.size();
        chunk.raw.resize(at + m);
        if (!file.Read(pos + kFrameLengthBytes, chunk.raw.data() + at, m)) {
            chunk.raw.resize(at);
            break;
        }
        if (chunk.frames.empty()) chunk.start = pos;
        chunk.frames.push_back({pos, m, {}, false, false, false});
        chunk.sources.push_back({record, index, rec.Compressed(), rec.Encrypted(), at});
        pos += kFrameLengthBytes + m;
        chunk.end = pos;
        bool full = chunk.raw.size() >= kChunkBytes || chunk.frames.size() >= kChunkFrames;
        if (full && !Publish()) return false;
    }
    return true;
}

// Queues the pending chunk once there is room; false when the look-ahead is stopping.
bool FrameLookahead::Publish() {
    if (!pending_) return true;
    std::shared_ptr<Chunk> chunk = std::move(pending_);
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] {
        return stopping_ || (heldBytes_ < kMaxHeldBytes && chunks_.size() < kMaxChunks);
    });
    if (stopping_) return false;
    if (chunk->end <= readerOffset_) return true;  // the reader is past it already
    chunk->held = chunk->raw.size();
    chunk->queued = true;
    heldBytes_ += chunk->held;
    chunks_.push_back(std::move(chunk));
    work_.notify_one();
    return true;
}

// Decodes the chunk's frames until their output reaches a bound: a few bytes of a hostile
// frame may stand for a megabyte, and the frames left undecoded are decoded by the reader.
void FrameLookahead::Decode(Chunk& chunk) const {
    size_t output = 0;
    for (size_t i = 0; i < chunk.frames.size() && output < kMaxChunkOutput; ++i) {
        Frame& f = chunk.frames[i];
        const Chunk::Source& from = chunk.sources[i];
        CodecFlags flags{from.compress, from.encrypt, password_, seal_};
        f.ok = DecodeFrame(flags, from.record->data(), from.index, chunk.raw.data() + from.bodyAt,
                           f.length, f.piece, f.last);
        f.decoded = true;
        output += f.piece.size();
    }
    chunk.raw = {};
}

// Counts what a decoded chunk holds now (its pieces instead of its frames) while it is
// still queued; the lock is held.
void FrameLookahead::Finish(Chunk& chunk) {
    size_t held = 0;
    for (const Frame& f : chunk.frames) held += f.piece.size();
    if (chunk.queued) heldBytes_ = heldBytes_ - chunk.held + held;
    chunk.held = held;
    chunk.done = true;
    ready_.notify_all();
    room_.notify_one();
}

void FrameLookahead::WorkerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        std::shared_ptr<Chunk> job;
        // Decoded chunks count against the cap too: no more are decoded while they fill it.
        work_.wait(lock, [&] {
            if (stopping_) return true;
            if (heldBytes_ >= kMaxHeldBytes) return false;
            for (auto& c : chunks_)
                if (!c->claimed) {
                    job = c;
                    return true;
                }
            return false;
        });
        if (stopping_) return;
        job->claimed = true;
        lock.unlock();
        Decode(*job);
        lock.lock();
        Finish(*job);
    }
}

// Makes the chunk that holds `offset` the reader's, dropping those before it; false when no
// chunk holds it (the scan is behind the reader, or skipped that frame).
bool FrameLookahead::Acquire(uint64_t offset) {
    current_.reset();
    cursor_ = 0;
    std::unique_lock lock(mutex_);
    readerOffset_ = std::max(readerOffset_, offset);
    std::shared_ptr<Chunk> chunk;
    bool dropped = false;
    while (!chunks_.empty() && chunks_.front()->start <= offset) {
        chunk = std::move(chunks_.front());
        chunks_.pop_front();
        heldBytes_ -= chunk->held;
        chunk->queued = false;
        dropped = true;
        if (offset < chunk->end) break;
        chunk.reset();
    }
    if (dropped) {  // room for the scan, and perhaps for the workers to decode more
        room_.notify_one();
        work_.notify_all();
    }
    if (!chunk) return false;
    if (!chunk->claimed) {  // every worker is busy: decode it here rather than wait
        chunk->claimed = true;
        lock.unlock();
        Decode(*chunk);
        lock.lock();
        Finish(*chunk);
    }
    ready_.wait(lock, [&] { return chunk->done; });
    current_ = std::move(chunk);
    return true;
}

FrameLookahead::Frame* FrameLookahead::Find(uint64_t offset, const uint8_t* record,
                                            uint64_t index) {
    if ((!current_ || offset < current_->start || offset >= current_->end) && !Acquire(offset))
        return nullptr;
    auto& frames = current_->frames;
    while (cursor_ < frames.size() && frames[cursor_].offset < offset) ++cursor_;
    if (cursor_ == frames.size() || frames[cursor_].offset != offset || !frames[cursor_].decoded)
        return nullptr;
    const Chunk::Source& from = current_->sources[cursor_];
    if (from.index != index || std::memcmp(from.record->data(), record, v::NodeRecord::kSize) != 0)
        return nullptr;
    return &frames[cursor_];
}
