#pragma once
// Writes an archive into a temporary file beside its target and renames it over the target
// only when complete: a failed or cancelled backup never destroys an earlier archive and
// leaves no partial file.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/AtomicFile.h"

class ArchiveWriter {
  public:
    ArchiveWriter() = default;
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    bool Open(const std::string& targetPath);
    bool Write(const uint8_t* data, size_t length);
    bool PatchU64(uint64_t offset, uint64_t value);
    bool TruncateTo(uint64_t offset);
    bool Commit();
    void Abort();

    uint64_t Position() const { return position_; }
    // The temporary file being written (empty when none).
    std::string TempPath() const { return file_ ? file_->Path() : std::string(); }
    bool Failed() const { return !error_.empty(); }
    const std::string& Error() const { return error_; }

  private:
    bool Fail(const std::string& what, int error);
    bool FlushBuffer();
    // Writes are gathered here, so that an archive of many small entries costs few system
    // calls; a length patch of an entry still in the buffer is made in the buffer.
    std::vector<uint8_t> buffer_;
    uint64_t flushed_ = 0;  // bytes already in the file
    std::unique_ptr<tindale::durable::TempFile> file_;
    std::string target_;
    uint64_t position_ = 0;
    std::string error_;
};
