#pragma once
// The 4176-byte archive header:
//   0 "kw-vqz" | 6 zero (1: sealed) | 7 zero (sealed: the seal scheme) | 8 compress flag | 9
//   encrypt flag | 10 archive path (2048 UTF-16 units) | 4106 password check block (66) | 4172 its
//   length (u32)
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "archive/NodeRecord.h"

// A record's payload must end within the file, and no writer makes one of 4 GiB or more: a
// reader stops at a record that breaks this before it allocates or reads anything for it.
inline bool PayloadFitsFile(uint64_t length, uint64_t payloadStart, uint64_t fileSize) {
    return length <= v::NodeRecord::kMaxPayloadLength && payloadStart <= fileSize &&
           length <= fileSize - payloadStart;
}

class ArchiveHeader {
  public:
    static constexpr size_t kSize = 4176;
    static constexpr char kMagic[] = "kw-vqz";
    static constexpr size_t kMagicLength = 6;
    static constexpr size_t kSealedMarkAt = 6;
    static constexpr size_t kSealSchemeAt = 7;
    static constexpr size_t kCompressAt = 8;
    static constexpr size_t kEncryptAt = 9;
    static constexpr size_t kPathAt = 10;
    static constexpr size_t kPathBytes = 4096;
    static constexpr size_t kMaxPathUnits = kPathBytes / 2 - 1;  // and its terminator
    static constexpr size_t kPasswordCheckAt = 4106;
    static constexpr size_t kPasswordCheckBytes = 66;
    static constexpr size_t kPasswordCheckLengthAt = 4172;
    std::array<uint8_t, kSize> bytes{};

    static ArchiveHeader Build(bool compress, bool encrypt, std::u16string_view archivePath,
                               std::u16string_view password);

    // The magic with byte 6 zero (the original format), or, when `sealedSupport`, marking a
    // sealed archive.
    bool HasMagic(bool sealedSupport = true) const;
    bool Sealed() const;
    bool Compressed() const { return bytes[kCompressAt] != 0; }
    // "zstd", "LZMA" or "none": how the payload pieces are compressed.
    const char* CompressionName() const;
    bool Encrypted() const { return bytes[kEncryptAt] != 0; }
    std::u16string ArchivePath() const;
    bool CheckPassword(std::u16string_view candidate) const;
};
