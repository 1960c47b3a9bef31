#include "archive/NodeRecord.h"

#include <algorithm>
#include <span>

#include "base/Text.h"

namespace v {

using namespace tindale;

tindale::Guid NodeRecord::GuidAt(size_t offset) const {
    Guid g;
    std::copy_n(bytes.begin() + offset, 16, g.bytes.begin());
    return g;
}

void NodeRecord::SetGuidAt(size_t offset, const Guid& g) {
    std::copy(g.bytes.begin(), g.bytes.end(), bytes.begin() + offset);
}

uint64_t NodeRecord::PayloadLength() const {
    return text::GetU64(bytes.data() + kPayloadLengthAt);
}
void NodeRecord::SetPayloadLength(uint64_t length) {
    text::PutU64(bytes.data() + kPayloadLengthAt, length);
}

void NodeRecord::SetFlags(bool compressed, bool encrypted) {
    bytes[kCompressAt] = compressed ? 1 : 0;
    bytes[kEncryptAt] = encrypted ? 1 : 0;
}

std::u16string NodeRecord::DisplayName() const {
    return text::GetFixedUtf16(std::span(bytes).subspan(kDisplayNameAt, kDisplayNameBytes));
}
void NodeRecord::SetDisplayName(std::u16string_view name) {
    text::PutFixedUtf16(std::span(bytes).subspan(kDisplayNameAt, kDisplayNameBytes), name);
}
std::u16string NodeRecord::IconKey() const {
    return text::GetFixedUtf16(std::span(bytes).subspan(kIconKeyAt, kIconKeyBytes));
}
void NodeRecord::SetIconKey(std::u16string_view key) {
    text::PutFixedUtf16(std::span(bytes).subspan(kIconKeyAt, kIconKeyBytes), key);
}

}  // namespace v
