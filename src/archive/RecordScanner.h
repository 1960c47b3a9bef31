#pragma once
// Walks an archive's records without reading their payloads, through a window of the file
// read in large blocks. Where payloads are small (messages), the records come from one
// sequential pass instead of a read and a seek each: listing an archive of a million
// messages costs a read of the file, not two million system calls. Ends as ArchiveReader
// does: cleanly at the end of the file, truncated at a short record or payload, forged at a
// record of a sealed archive that claims not to be sealed.
#include <cstdint>
#include <vector>

#include "archive/ArchiveReader.h"
#include "archive/NodeRecord.h"

class RecordScanner {
  public:
    // `fd` (not owned) is read by position only; records start after the header.
    RecordScanner(int fd, uint64_t fileSize, bool sealed);
    // Moves to the next record (the first, on the first call); false at the end.
    bool Next();
    const v::NodeRecord& Record() const { return record_; }
    uint64_t Offset() const { return offset_; }  // of the current record
    ArchiveReader::EndReason Reason() const { return reason_; }

  private:
    bool Fill(uint64_t at, size_t length);  // makes [at, at + length) readable in the window
    int fd_;
    uint64_t fileSize_;
    bool sealed_;
    bool started_ = false;
    uint64_t offset_ = 0;
    v::NodeRecord record_;
    std::vector<uint8_t> window_;
    uint64_t windowAt_ = 0;
    size_t windowLength_ = 0;
    ArchiveReader::EndReason reason_ = ArchiveReader::EndReason::None;
};
