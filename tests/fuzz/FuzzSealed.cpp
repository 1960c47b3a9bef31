// A sealed archive's reading side with a key: frames opened and checked for their place,
// the last-frame rule, and the closing record, over any bytes. The key comes from cheap
// Argon2id limits once, so that each input costs only its own decoding; the header's byte 7
// picks the seal scheme (LZMA pieces, zstd pieces, zstd pieces with a dictionary) the key
// reads by.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <optional>

#include "archive/ArchiveHeader.h"
#include "archive/ArchiveReader.h"
#include "archive/Seal.h"

namespace {
std::optional<SealKey> g_key, g_lzmaKey, g_sharedKey;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SealParams params;  // an all-zero salt and the smallest limits: a fixed, cheap key
    params.opsLimit = 1;
    params.memLimit = 8192;
    g_key = SealKey::Derive(u"pass", params);
    if (g_key) {
        g_lzmaKey = g_key;
        ArchiveHeader scratch;
        g_lzmaKey->Stamp(scratch, params, SealScheme::LzmaPieces);
        g_sharedKey = SealKey::Derive(u"pass", params);
        if (g_sharedKey) g_sharedKey->Stamp(scratch, params, SealScheme::ZstdShared);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = ::memfd_create("sealed", MFD_CLOEXEC);
    if (fd < 0 || !g_key || !g_sharedKey) return 0;
    if (::write(fd, data, size) != static_cast<ssize_t>(size)) {
        ::close(fd);
        return 0;
    }
    ::lseek(fd, 0, SEEK_SET);
    v::FileStream file(fd);
    ArchiveReader reader;
    if (!reader.OpenArchiveFile(&file)) return 0;
    uint8_t scheme = size > 7 ? data[7] : 1;
    // A key with a dictionary slot of this input's own: the reader fills it from the first
    // record, and nothing of one input reaches the next.
    g_sharedKey->UseDictionary(nullptr);
    if (scheme == 2) reader.UseKey(*g_sharedKey);
    const SealKey& key = scheme == 0 ? *g_lzmaKey : scheme == 2 ? *g_sharedKey : *g_key;
    SealWalk walk(key);
    for (; !reader.AtEnd(); reader.Advance()) {
        if (walk.Observe(reader)) continue;
        FrameDecodingStream frames(reader.PayloadStream(), reader.Record(), u"", &key);
        frames.Drain();
    }
    walk.Finish(reader);
    // The pre-restore check over the same bytes: records only, from the start again.
    ::lseek(fd, 0, SEEK_SET);
    ArchiveReader again;
    if (again.OpenArchiveFile(&file)) SealWalk::CheckChain(again, key);
    return 0;
}
