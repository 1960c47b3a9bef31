#include "archive/ArchiveHeader.h"

#include <cstring>
#include <span>

#include "archive/Processors.h"
#include "archive/Seal.h"
#include "base/Text.h"

using namespace tindale;

ArchiveHeader ArchiveHeader::Build(bool compress, bool encrypt, std::u16string_view archivePath,
                                   std::u16string_view password) {
    ArchiveHeader h;
    std::memcpy(h.bytes.data(), kMagic, kMagicLength);
    h.bytes[kCompressAt] = compress ? 1 : 0;
    h.bytes[kEncryptAt] = encrypt ? 1 : 0;
    text::PutFixedUtf16(std::span(h.bytes).subspan(kPathAt, kPathBytes), archivePath);
    if (encrypt && password.size() <= kMaxPasswordUnits) {
        int32_t len = MakePasswordCheck(password, h.bytes.data() + kPasswordCheckAt);
        text::PutU32(h.bytes.data() + kPasswordCheckLengthAt, static_cast<uint32_t>(len));
    }
    return h;
}

bool ArchiveHeader::HasMagic(bool sealedSupport) const {
    return std::memcmp(bytes.data(), kMagic, kMagicLength) == 0 &&
           (bytes[kSealedMarkAt] == 0 || (sealedSupport && Sealed()));
}

bool ArchiveHeader::Sealed() const {
    return bytes[kSealedMarkAt] == kSealedFormat;
}

const char* ArchiveHeader::CompressionName() const {
    if (!Compressed()) return "none";
    return Sealed() && bytes[kSealSchemeAt] == static_cast<uint8_t>(SealScheme::ZstdPieces)
               ? "zstd"
               : "LZMA";
}

std::u16string ArchiveHeader::ArchivePath() const {
    return text::GetFixedUtf16(std::span(bytes).subspan(kPathAt, kPathBytes));
}

bool ArchiveHeader::CheckPassword(std::u16string_view candidate) const {
    if (Sealed()) return SealKey::Unlock(*this, candidate).has_value();
    return CheckArchivePassword(candidate, bytes.data() + kPasswordCheckAt,
                                text::GetU32(bytes.data() + kPasswordCheckLengthAt));
}
