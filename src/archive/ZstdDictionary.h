#pragma once
// A zstd dictionary shared by the small items of one sealed archive. Compressed one by one,
// messages lose what makes mail compressible: the headers, signatures and list footers they
// share. A dictionary trained at the backup from a sample of the archive's own messages gives
// each of them that context back while every item still decodes alone.
//
// The dictionary is kept in the archive's first record (sealed like any frame), so every
// reader has it before the first item that needs it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/Guid.h"

struct ZSTD_CDict_s;
struct ZSTD_DDict_s;

// The type of the record that holds an archive's dictionary.
extern const tindale::Guid kZstdDictionaryType;

class ZstdDictionary {
  public:
    // Dictionaries are at most this large, so that one fits in one sealed piece.
    static constexpr size_t kMaxBytes = 112 * 1024;

    ~ZstdDictionary();
    ZstdDictionary(const ZstdDictionary&) = delete;
    ZstdDictionary& operator=(const ZstdDictionary&) = delete;

    // Trains a dictionary from sample items (a few hundred KiB to a few MiB of them); none
    // when the samples are too few or too alike for zstd to find anything worth sharing.
    static std::shared_ptr<const ZstdDictionary> Train(const std::vector<uint8_t>& samples,
                                                       const std::vector<size_t>& sizes);
    // A dictionary as an archive holds it; none when the bytes are not a zstd dictionary
    // (with its magic number and an id) no larger than kMaxBytes.
    static std::shared_ptr<const ZstdDictionary> FromBytes(const uint8_t* data, size_t length);

    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    uint32_t Id() const { return id_; }
    const ZSTD_CDict_s* ForCompression() const { return compress_; }
    const ZSTD_DDict_s* ForDecompression() const { return decompress_; }

  private:
    ZstdDictionary() = default;
    std::vector<uint8_t> bytes_;
    uint32_t id_ = 0;
    ZSTD_CDict_s* compress_ = nullptr;
    ZSTD_DDict_s* decompress_ = nullptr;
};
