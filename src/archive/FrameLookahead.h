#pragma once
// Decodes an archive's frames ahead of its reader on a small pool of threads, so that
// restoring and testing a compressed or encrypted archive use every core.
//
// A scanning thread walks the file on its own (by pread, so the reader's position is
// untouched), record by record and frame by frame across payloads, and cuts the payloads of
// the records it is asked for into chunks of whole frames; the workers decode the chunks.
// The reader then takes each frame's result in order instead of reading and decoding it. A
// result is handed over only for the frame the reader is at, of the same record bytes and
// frame index, so the look-ahead changes how soon a frame is decoded, never what it decodes
// to; for any frame it does not have, the reader reads and decodes the frame itself. Memory
// stays bounded: the scan waits while enough bytes are held ahead of the reader.
#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/NodeRecord.h"

class SealKey;

class FrameLookahead {
  public:
    using Wanted = std::function<bool(const v::NodeRecord&)>;

    // Decodes, from the record at file offset `start` on, the frames of the records that
    // `wanted` accepts, with the password or key the reader uses. `fd` and `seal` must
    // outlive the look-ahead, and `wanted` must own what it reads: the scanning thread
    // calls it until the look-ahead is destroyed.
    FrameLookahead(int fd, uint64_t start, uint64_t fileSize, std::u16string password,
                   const SealKey* seal, Wanted wanted, unsigned threads);
    ~FrameLookahead();
    FrameLookahead(const FrameLookahead&) = delete;
    FrameLookahead& operator=(const FrameLookahead&) = delete;

    struct Frame {
        uint64_t offset = 0;  // of its length prefix in the file
        uint32_t length = 0;  // of its body
        std::vector<uint8_t> piece;
        bool decoded = false;
        bool ok = false;
        bool last = false;  // a sealed frame's claim to end its payload
    };
    // The decoded frame whose length prefix is at `offset`, when it was decoded as frame
    // `index` of a payload whose record has the bytes `record`; null when the caller must
    // read and decode it itself. Frames before `offset` are dropped; the frame returned
    // stays valid until the next call.
    Frame* Find(uint64_t offset, const uint8_t* record, uint64_t index);

  private:
    using RecordBytes = v::RecordBytes;
    // A run of frames, of one payload or of several small ones, decoded in one go.
    struct Chunk {
        struct Source {
            std::shared_ptr<const RecordBytes> record;
            uint64_t index = 0;
            bool compress = false;
            bool encrypt = false;
            size_t bodyAt = 0;  // in raw
        };
        uint64_t start = 0, end = 0;  // from its first frame to the end of its last
        std::vector<uint8_t> raw;     // the frames' bodies, until decoded
        std::vector<Frame> frames;
        std::vector<Source> sources;  // one per frame
        size_t held = 0;              // bytes counted against the cap while queued
        bool queued = false;
        bool claimed = false;
        bool done = false;
    };
    class Scanner;

    void ScanLoop();
    bool ScanPayload(Scanner& file, const v::NodeRecord& rec, uint64_t from, uint64_t to);
    bool Publish();
    void WorkerLoop();
    void Decode(Chunk& chunk) const;
    void Finish(Chunk& chunk);
    bool Acquire(uint64_t offset);

    int fd_;
    uint64_t start_;
    uint64_t fileSize_;
    std::u16string password_;
    const SealKey* seal_;
    Wanted wanted_;

    std::mutex mutex_;
    std::condition_variable room_;               // the scan waits here for room
    std::condition_variable work_;               // workers wait here for a chunk
    std::condition_variable ready_;              // the reader waits here for a chunk being decoded
    std::deque<std::shared_ptr<Chunk>> chunks_;  // in file order
    size_t heldBytes_ = 0;
    uint64_t readerOffset_ = 0;  // chunks before it are of no use any more
    bool stopping_ = false;

    std::shared_ptr<Chunk> pending_;  // the scan's, being filled
    std::shared_ptr<Chunk> current_;  // the reader's, used outside the lock
    size_t cursor_ = 0;

    std::vector<std::thread> threads_;
};
