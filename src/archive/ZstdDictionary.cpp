#include "archive/ZstdDictionary.h"

#define ZDICT_STATIC_LINKING_ONLY
#include <zdict.h>
#include <zstd.h>

#include <cstdlib>

const tindale::Guid kZstdDictionaryType =
    tindale::Guid::FromText("{C4D1A7E2-3B58-4F96-8E0D-7A21B9F3E654}");

namespace {

// The level pieces are compressed at (ZstdPiece).
constexpr int kLevel = 3;
// Smaller dictionaries did as well on mail as the largest ones, and cost less to train and
// to load.
constexpr size_t kTrainedBytes = 32 * 1024;

}  // namespace

ZstdDictionary::~ZstdDictionary() {
    ZSTD_freeCDict(compress_);
    ZSTD_freeDDict(decompress_);
}

std::shared_ptr<const ZstdDictionary> ZstdDictionary::Train(const std::vector<uint8_t>& samples,
                                                            const std::vector<size_t>& sizes) {
    if (sizes.empty()) return nullptr;
    std::vector<uint8_t> dictionary(kTrainedBytes);
    // Fixed segment and d-mer sizes: searching for the best ones (as zstd's default trainer
    // does) cost a tenth of a second per backup and found dictionaries no better on mail.
    ZDICT_fastCover_params_t params{};
    params.k = 1000;
    params.d = 8;
    params.f = 16;  // 6 << f bytes of tables: a few hundred KiB
    params.accel = 1;
    params.zParams.compressionLevel = kLevel;
    size_t made =
        ZDICT_trainFromBuffer_fastCover(dictionary.data(), dictionary.size(), samples.data(),
                                        sizes.data(), static_cast<unsigned>(sizes.size()), params);
    if (ZDICT_isError(made)) return nullptr;
    return FromBytes(dictionary.data(), made);
}

std::shared_ptr<const ZstdDictionary> ZstdDictionary::FromBytes(const uint8_t* data,
                                                                size_t length) {
    if (length < 8 || length > kMaxBytes) return nullptr;
    // A dictionary in zstd's own format names itself: its id is what frames refer to.
    uint32_t id = ZDICT_getDictID(data, length);
    if (id == 0) return nullptr;
    std::shared_ptr<ZstdDictionary> dictionary(new ZstdDictionary);
    dictionary->bytes_.assign(data, data + length);
    dictionary->id_ = id;
    dictionary->compress_ = ZSTD_createCDict(data, length, kLevel);
    dictionary->decompress_ = ZSTD_createDDict(data, length);
    if (!dictionary->compress_ || !dictionary->decompress_) return nullptr;
    return dictionary;
}
