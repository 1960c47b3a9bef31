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
    std::memcpy(h.bytes.data(), "kw-vqz", 6);
    h.bytes[8] = compress ? 1 : 0;
    h.bytes[9] = encrypt ? 1 : 0;
    text::PutFixedUtf16(std::span(h.bytes).subspan(10, 4096), archivePath);
    if (encrypt && password.size() <= kMaxPasswordUnits) {
        int32_t len = MakePasswordCheck(password, h.bytes.data() + 4106);
        text::PutU32(h.bytes.data() + 4172, static_cast<uint32_t>(len));
    }
    return h;
}

bool ArchiveHeader::HasMagic(bool sealedSupport) const {
    return std::memcmp(bytes.data(), "kw-vqz", 6) == 0 &&
           (bytes[6] == 0 || (sealedSupport && Sealed()));
}

bool ArchiveHeader::Sealed() const {
    return bytes[6] == kSealedFormat;
}

std::u16string ArchiveHeader::ArchivePath() const {
    return text::GetFixedUtf16(std::span(bytes).subspan(10, 4096));
}

bool ArchiveHeader::CheckPassword(std::u16string_view candidate) const {
    if (Sealed()) return SealKey::Unlock(*this, candidate).has_value();
    return CheckArchivePassword(candidate, bytes.data() + 4106, text::GetU32(bytes.data() + 4172));
}
