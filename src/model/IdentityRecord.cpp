#include "model/IdentityRecord.h"

#include <algorithm>

#include "base/Text.h"

namespace v {

using namespace tindale;

namespace {

constexpr uint8_t kMagic[4] = {'T', 'Z', 'M', 'I'};
constexpr uint8_t kVersion = 1;
constexpr uint8_t kLastKind = static_cast<uint8_t>(store::StoreKind::Imap);

}  // namespace

std::vector<uint8_t> IdentityRecord::Encode() const {
    std::vector<uint8_t> out = {
        kMagic[0], kMagic[1], kMagic[2], kMagic[3], kVersion, static_cast<uint8_t>(kind), 0, 0};
    for (const auto& s : {id, name, storedRoot}) text::PutShortString(out, text::ToUtf8(s));
    return out;
}

std::optional<IdentityRecord> IdentityRecord::Decode(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 8 || !std::equal(kMagic, kMagic + 4, bytes.begin()) ||
        bytes[4] != kVersion || bytes[5] > kLastKind)
        return std::nullopt;
    IdentityRecord record;
    record.kind = static_cast<store::StoreKind>(bytes[5]);
    std::u16string* fields[] = {&record.id, &record.name, &record.storedRoot};
    size_t at = 8;
    for (auto* field : fields) {
        auto s = text::TakeShortString(bytes, at);
        if (!s) return std::nullopt;
        *field = text::ToUtf16(*s);
    }
    return record;
}

}  // namespace v
