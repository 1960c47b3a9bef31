#pragma once
// Byte streams: every byte between a source, the archive and a restore target passes
// through one of these.
#include <cstdint>
#include <string>
#include <vector>

namespace v {

class BasicStream {
  public:
    virtual ~BasicStream() = default;
    // Accepts up to `length` bytes; returns the number accepted.
    virtual int32_t Write(const uint8_t* data, int32_t length) = 0;
    // Delivers up to `length` bytes; returns the number delivered, 0 at the end.
    virtual int32_t Read(uint8_t* buffer, int32_t length) = 0;
    virtual uint64_t GetSize() = 0;
    // True when bytes the stream should have delivered were lost (a damaged archive frame).
    virtual bool Damaged() const { return false; }
};

// A stream over a POSIX file descriptor, which it owns. -1 means no file: reads and writes
// then do nothing and return 0.
class FileStream : public BasicStream {
  public:
    explicit FileStream(int fd = -1) : fd_(fd) {}
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Opens a file for reading only, never creating it; -1 on failure (errno kept).
    static int OpenForReading(const std::string& path);

    int32_t Write(const uint8_t* data, int32_t length) override;
    int32_t Read(uint8_t* buffer, int32_t length) override;
    uint64_t GetSize() override;

    int Fd() const { return fd_; }
    bool IsOpen() const { return fd_ >= 0; }
    int LastError() const { return lastError_; }  // errno of the last failed call, 0 if none
    bool Close();                                 // false when the close reported an error

  private:
    int fd_;
    int lastError_ = 0;
};

// An in-memory stream: everything written so far is readable in order from the read position.
class MemoryStream : public BasicStream {
  public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<uint8_t> content) : buffer_(std::move(content)) {}

    int32_t Write(const uint8_t* data, int32_t length) override;
    int32_t Read(uint8_t* buffer, int32_t length) override;
    uint64_t GetSize() override { return buffer_.size(); }

    const std::vector<uint8_t>& Data() const { return buffer_; }
    void Rewind() { position_ = 0; }

  private:
    std::vector<uint8_t> buffer_;
    size_t position_ = 0;
};

// Exactly `size` bytes of another stream: it ends there, and is damaged when the other
// stream ends sooner or has more to give (a record that declared one size and carries
// another). The surplus is never delivered.
class DeclaredSizeStream : public BasicStream {
  public:
    DeclaredSizeStream(BasicStream& inner, uint64_t size) : inner_(inner), left_(size) {}
    int32_t Write(const uint8_t*, int32_t) override { return 0; }
    int32_t Read(uint8_t* buffer, int32_t length) override;
    uint64_t GetSize() override { return left_; }
    bool Damaged() const override { return damaged_ || inner_.Damaged(); }

  private:
    BasicStream& inner_;
    uint64_t left_;
    bool damaged_ = false;
};

// Reads everything `from` delivers, in pieces of 20480 bytes, and writes it to `to`;
// returns the sum of what the writes accepted.
uint64_t CopyStream(BasicStream& from, BasicStream& to);

// Reads until `length` bytes arrived or the stream ended; returns how many arrived.
size_t ReadFully(BasicStream& in, uint8_t* buffer, size_t length);
// Writes all of `data` to a file descriptor (again after a short write or a signal).
bool WriteAllToFd(int fd, const void* data, size_t size);

inline constexpr int32_t kCopyPieceSize = 20480;

}  // namespace v
