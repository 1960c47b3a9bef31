// The archive walk with every payload decoded: records, frames, LZMA blocks and DES frames,
// with the password and without it (the test's shape checks), as restore and test read them.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "archive/ArchiveReader.h"
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
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = MemoryFile(data, size);
    if (fd < 0) return 0;
    {
        v::FileStream file(fd);
        ArchiveReader reader;
        if (reader.OpenArchiveFile(&file)) {
            for (; !reader.AtEnd(); reader.Advance()) {
                FrameDecodingStream frames(reader.PayloadStream(), reader.Record(), u"pass");
                frames.Drain();
            }
        }
    }
    int again = MemoryFile(data, size);
    if (again >= 0) {
        std::string path = "/proc/self/fd/" + std::to_string(again);
        TestArchive(path, u"", nullptr, {});
        ::close(again);
    }
    return 0;
}
