#include "base/Guid.h"

#include <sys/random.h>
#include <uuid/uuid.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "base/Text.h"

namespace tindale {

namespace {
// Random bytes drawn from the kernel a page at a time: libuuid asks the kernel for its pid,
// uid and more on every call, which made a backup of many small messages pay five system
// calls per record.
void RandomUuid(uuid_t u) {
    thread_local uint8_t pool[4096];
    thread_local size_t used = sizeof pool;
    if (used + 16 > sizeof pool) {
        if (::getrandom(pool, sizeof pool, 0) != static_cast<ssize_t>(sizeof pool)) {
            uuid_generate_random(u);
            return;
        }
        used = 0;
    }
    std::memcpy(u, pool + used, 16);
    used += 16;
    u[6] = static_cast<uint8_t>((u[6] & 0x0F) | 0x40);  // version 4: random
    u[8] = static_cast<uint8_t>((u[8] & 0x3F) | 0x80);  // the RFC 4122 variant
}
}  // namespace

Guid Guid::NewRandom() {
    uuid_t u;
    RandomUuid(u);
    // libuuid yields RFC 4122 (big-endian) fields; store them in the standard
    // little-endian order so that ToString shows the same text libuuid would.
    Guid g;
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) g.bytes[i] = u[order[i]];
    return g;
}

std::optional<Guid> Guid::Parse(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return std::nullopt;
    std::string hex;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return std::nullopt;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        hex += c;
    }
    uint8_t raw[16];
    for (int i = 0; i < 16; ++i)
        raw[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    Guid g;
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) g.bytes[i] = raw[order[i]];
    return g;
}

Guid Guid::FromText(std::string_view text) {
    auto g = Parse(text);
    if (!g) throw std::invalid_argument("bad GUID literal");
    return *g;
}

std::string Guid::ToString() const {
    const auto& b = bytes;
    char buf[40];
    std::snprintf(buf, sizeof buf,
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                  b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return buf;
}

std::u16string Guid::ToString16() const {
    return text::ToUtf16(ToString());
}

bool Guid::IsZero() const {
    for (auto b : bytes)
        if (b) return false;
    return true;
}

}  // namespace tindale
