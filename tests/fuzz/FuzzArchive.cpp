// The archive walk with every payload decoded: records, frames, LZMA blocks and DES frames,
// with the password and without it (the test's shape checks), as restore and test read them.
// Each input is decoded twice, on the reader's thread alone and with frames decoded ahead on
// other threads; the two must give the same bytes and the same damage. The record scanner
// (listing, the Explorer) must see the same records and the same end as the reader.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/ArchiveReader.h"
#include "archive/RecordScanner.h"
#include "restore/ArchiveTest.h"

namespace {
int MemoryFile(const uint8_t* data, size_t size) {
    int fd = ::memfd_create("archive", MFD_CLOEXEC);
    if (fd < 0) return -1;
    if (::write(fd, data, size) != static_cast<ssize_t>(size)) {
        ::close(fd);
        return -1;
    }
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}
struct Payload {
    std::vector<uint8_t> prefix;  // hostile blocks may decode to a lot: a bounded prefix
    uint64_t length = 0;
    uint32_t damaged = 0;
    bool operator==(const Payload&) const = default;
};
using Decoded = std::vector<Payload>;

Decoded DecodeEvery(const uint8_t* data, size_t size, unsigned threads) {
    Decoded out;
    int fd = MemoryFile(data, size);
    if (fd < 0) return out;
    v::FileStream file(fd);
    ArchiveReader reader;
    if (!reader.OpenArchiveFile(&file)) return out;
    if (threads > 1)
        reader.DecodeAhead(
            u"pass", nullptr, [](const v::NodeRecord&) { return true; }, threads);
    for (; !reader.AtEnd(); reader.Advance()) {
        FrameDecodingStream frames(reader, u"pass", nullptr);
        Payload p;
        uint8_t buffer[16384];
        while (int32_t n = frames.Read(buffer, sizeof buffer)) {
            if (p.prefix.size() < (1u << 20)) p.prefix.insert(p.prefix.end(), buffer, buffer + n);
            p.length += static_cast<uint64_t>(n);
        }
        p.damaged = frames.DamagedFrames();
        out.push_back(std::move(p));
    }
    return out;
}

// The records as the reader walks them and as the scanner does: offsets, bytes and the end.
void CompareScanner(const uint8_t* data, size_t size) {
    int fd = MemoryFile(data, size);
    if (fd < 0) return;
    v::FileStream file(fd);
    ArchiveReader reader;
    if (!reader.OpenArchiveFile(&file)) return;
    RecordScanner scan(fd, size, reader.Header().Sealed());
    for (; !reader.AtEnd(); reader.Advance()) {
        if (!scan.Next() || scan.Record().bytes != reader.Record().bytes ||
            scan.Offset() + v::NodeRecord::kSize != reader.PayloadPosition())
            std::abort();
    }
    if (scan.Next() || scan.Reason() != reader.Reason()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (DecodeEvery(data, size, 1) != DecodeEvery(data, size, 2)) std::abort();
    CompareScanner(data, size);
    int again = MemoryFile(data, size);
    if (again >= 0) {
        std::string path = "/proc/self/fd/" + std::to_string(again);
        TestArchive(path, u"", nullptr, {});
        ::close(again);
    }
    return 0;
}
