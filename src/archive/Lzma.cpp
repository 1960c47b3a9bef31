#include <lzma.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "archive/PieceCodec.h"
#include "archive/Processors.h"
#include "base/Text.h"

using tindale::text::GetU64;
using tindale::text::PutU32;
using tindale::text::PutU64;

namespace {

constexpr uint8_t kPropertiesByte = 93;  // (pb * 5 + lp) * 9 + lc with lc 3, lp 0, pb 2
constexpr uint32_t kAnnouncedDictionary = 2097152;
constexpr size_t kBlockHeader = 14;  // filter byte, 5 property bytes, 8 size bytes
// The encoder's window only needs to cover one piece; a fixed size lets liblzma keep its
// buffers from one piece to the next.
constexpr uint32_t kEncoderDictionary = 16384;

// A coder kept per thread and re-initialised for each buffer, which reuses its memory.
struct CoderCache {
    lzma_stream stream = LZMA_STREAM_INIT;
    ~CoderCache() { lzma_end(&stream); }
};

thread_local CoderCache encoderCache;
thread_local CoderCache decoderCache;

// The quick setting is xz's preset 3 (hash chains, fast mode): on 10 KiB pieces of mail and
// text about four times quicker than the default, for about 5% more output. Both write the
// same properties, so any reader decodes either.
bool Encode(const uint8_t* in, size_t n, uint8_t* out, size_t outSize, size_t& written,
            bool quick) {
    lzma_options_lzma opt{};
    lzma_lzma_preset(&opt, quick ? 3 : 6);
    opt.dict_size = n <= kEncoderDictionary ? kEncoderDictionary : kAnnouncedDictionary;
    opt.lc = 3;
    opt.lp = 0;
    opt.pb = 2;
    if (!quick) {
        opt.mode = LZMA_MODE_NORMAL;
        opt.nice_len = 64;
        opt.mf = LZMA_MF_BT4;
        opt.depth = 0;
    }
    opt.ext_flags = 0;
    lzma_set_ext_size(opt, n);
    lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream& s = encoderCache.stream;
    if (lzma_raw_encoder(&s, filters) != LZMA_OK) return false;
    s.next_in = in;
    s.avail_in = n;
    s.next_out = out;
    s.avail_out = outSize;
    lzma_ret ret = lzma_code(&s, LZMA_FINISH);
    written = outSize - s.avail_out;
    return ret == LZMA_STREAM_END;
}

// Whether a piece looks like what LZMA cannot shrink (photos, archives, media): its bytes
// spread almost evenly over all 256 values, and almost no 4-byte sequence comes back. Both
// are cheap next to the encoder, and together they never pass over a piece whose repeats
// LZMA would use (random bytes written twice have an even spread, but repeat).
bool LooksIncompressible(const uint8_t* in, size_t n) {
    if (n < 1024) return false;
    uint32_t counts[256] = {};
    for (size_t i = 0; i < n; ++i) ++counts[in[i]];
    double bits = 0;
    for (uint32_t c : counts)
        if (c) bits -= c * std::log2(static_cast<double>(c) / static_cast<double>(n));
    if (bits / static_cast<double>(n) < 7.9) return false;
    constexpr size_t kSlots = 4096;
    uint32_t seen[kSlots] = {};
    size_t repeats = 0;
    for (size_t i = 0; i + 4 <= n; ++i) {
        uint32_t word;
        std::memcpy(&word, in + i, 4);
        uint32_t& slot = seen[(word * 2654435761u) >> 20];
        repeats += slot == word;
        slot = word;
    }
    return repeats < n / 256;
}

}  // namespace

int32_t LZMACompProcessor::Process(const uint8_t* in, int32_t length) {
    size_t n = static_cast<size_t>(std::max(length, 0));
    size_t scratch = 2 * n;
    output_.assign(1 + std::max(scratch, n), 0);
    size_t coded = 0;
    // A block no smaller than the stored form gains nothing: store the piece instead.
    if (scratch > kBlockHeader && !LooksIncompressible(in, n) &&
        Encode(in, n, output_.data() + 1 + kBlockHeader, scratch - kBlockHeader, coded, quick_) &&
        kBlockHeader + coded < n) {
        output_[0] = 1;
        uint8_t* block = output_.data() + 1;
        block[0] = 0;
        block[1] = kPropertiesByte;
        PutU32(block + 2, kAnnouncedDictionary);
        PutU64(block + 6, n);
        output_.resize(1 + kBlockHeader + coded);
    } else {
        output_[0] = 0;
        if (n) std::memcpy(output_.data() + 1, in, n);
        output_.resize(1 + n);
    }
    return OutputSize();
}

int32_t LZMADecompProcessor::Process(const uint8_t* in, int32_t length) {
    failed_ = true;
    output_.clear();
    if (length < 1) return 0;
    const uint8_t* rest = in + 1;
    size_t restSize = static_cast<size_t>(length - 1);
    if (in[0] == 0) {
        output_.assign(rest, rest + restSize);
        failed_ = false;
        return OutputSize();
    }
    if (restSize < kBlockHeader || rest[0] > 1) return 0;
    uint64_t size = GetU64(rest + 6);
    if (size > kMaxDecodedPiece) return 0;

    lzma_filter lzma1{LZMA_FILTER_LZMA1, nullptr};
    if (lzma_properties_decode(&lzma1, nullptr, rest + 1, 5) != LZMA_OK) return 0;
    auto* opt = static_cast<lzma_options_lzma*>(lzma1.options);
    // A window larger than the output is never referenced, so a small one decodes the same.
    opt->dict_size = std::clamp<uint32_t>(static_cast<uint32_t>(size), LZMA_DICT_SIZE_MIN,
                                          std::max<uint32_t>(opt->dict_size, LZMA_DICT_SIZE_MIN));
    opt->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    lzma_set_ext_size(*opt, size);
    lzma_filter chain[3];
    int k = 0;
    if (rest[0] == 1) chain[k++] = {LZMA_FILTER_X86, nullptr};
    chain[k++] = {LZMA_FILTER_LZMA1EXT, opt};
    chain[k] = {LZMA_VLI_UNKNOWN, nullptr};

    lzma_stream& s = decoderCache.stream;
    lzma_ret ret = lzma_raw_decoder(&s, chain);
    free(opt);
    if (ret != LZMA_OK) return 0;
    output_.resize(size);
    s.next_in = rest + kBlockHeader;
    s.avail_in = restSize - kBlockHeader;
    s.next_out = output_.data();
    s.avail_out = size;
    ret = lzma_code(&s, LZMA_FINISH);
    if (ret != LZMA_STREAM_END || s.avail_out != 0) {
        output_.clear();
        return 0;
    }
    failed_ = false;
    return OutputSize();
}
