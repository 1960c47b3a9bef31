#include "model/IdentityRecord.h"

#include <algorithm>

#include "base/Text.h"

namespace v {

using namespace tindale;

namespace {

constexpr uint8_t kMagic[4] = {'T', 'Z', 'M', 'I'};
constexpr uint8_t kVersion = 1;
constexpr uint8_t kLastKind = static_cast<uint8_t>(store::StoreKind::ThunderbirdMaildir);

void PutString(std::vector<uint8_t>& out, const std::u16string& s) {
    std::string utf8 = text::ToUtf8(s);
    utf8.resize(std::min<size_t>(utf8.size(), 0xFFFF));
    uint8_t size[2];
    text::PutU16(size, static_cast<uint16_t>(utf8.size()));
    out.insert(out.end(), size, size + 2);
    out.insert(out.end(), utf8.begin(), utf8.end());
}

}  // namespace

std::vector<uint8_t> IdentityRecord::Encode() const {
    std::vector<uint8_t> out = {
        kMagic[0], kMagic[1], kMagic[2], kMagic[3], kVersion, static_cast<uint8_t>(kind), 0, 0};
    for (const auto& s : {id, name, storedRoot}) PutString(out, s);
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
        if (bytes.size() - at < 2) return std::nullopt;
        size_t size = text::GetU16(&bytes[at]);
        at += 2;
        if (bytes.size() - at < size) return std::nullopt;
        *field = text::ToUtf16(std::string(reinterpret_cast<const char*>(&bytes[at]), size));
        at += size;
    }
    return record;
}

}  // namespace v
