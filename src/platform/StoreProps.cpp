#include "platform/StoreProps.h"

#include <algorithm>
#include <cstring>

#include "base/Text.h"

namespace tindale::store {

using text::GetU32;
using text::GetU64;
using text::PutU32;
using text::PutU64;

namespace {
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
}

std::array<uint8_t, FolderProps::kSize> FolderProps::ToBytes() const {
    std::array<uint8_t, kSize> b{};
    PutU32(b.data(), kSize);
    PutU32(b.data() + 4, folderId);
    PutU32(b.data() + 8, static_cast<uint32_t>(subFolders));
    PutU32(b.data() + 12, static_cast<uint32_t>(type));
    PutU32(b.data() + 16, unread);
    PutU32(b.data() + 20, messages);
    std::memcpy(b.data() + 24, name.data(), std::min<size_t>(name.size(), 255));
    return b;
}

FolderProps FolderProps::FromBytes(const uint8_t* b) {
    FolderProps p;
    p.folderId = GetU32(b + 4);
    p.subFolders = static_cast<int32_t>(GetU32(b + 8));
    p.type = static_cast<int32_t>(GetU32(b + 12));
    p.unread = GetU32(b + 16);
    p.messages = GetU32(b + 20);
    p.name.assign(reinterpret_cast<const char*>(b + 24),
                  strnlen(reinterpret_cast<const char*>(b + 24), 256));
    return p;
}

std::array<uint8_t, MessageProps::kSize> MessageProps::ToBytes() const {
    std::array<uint8_t, kSize> b{};
    PutU32(b.data(), kSize);
    PutU32(b.data() + 8, messageId);
    b[12] = static_cast<uint8_t>(language & 0xFF);
    b[13] = static_cast<uint8_t>(language >> 8);
    PutU32(b.data() + 16, state);
    PutU32(b.data() + 20, size);
    PutU32(b.data() + 24, priority);
    PutU64(b.data() + 28, received);
    PutU64(b.data() + 36, sent);
    PutU32(b.data() + 60, flags);  // 44..59 and 64..67 are pointers: 0
    return b;
}

MessageProps MessageProps::FromBytes(const uint8_t* b) {
    MessageProps p;
    p.messageId = GetU32(b + 8);
    p.language = static_cast<uint16_t>(b[12] | (b[13] << 8));
    p.state = GetU32(b + 16);
    p.size = GetU32(b + 20);
    p.priority = GetU32(b + 24);
    p.received = GetU64(b + 28);
    p.sent = GetU64(b + 36);
    p.flags = GetU32(b + 60);
    return p;
}

uint64_t FileTimeFromUnix(int64_t seconds) {
    return static_cast<uint64_t>(seconds * 10000000 + static_cast<int64_t>(kUnixEpochAsFileTime));
}

int64_t UnixFromFileTime(uint64_t fileTime) {
    return (static_cast<int64_t>(fileTime) - static_cast<int64_t>(kUnixEpochAsFileTime)) / 10000000;
}

}  // namespace tindale::store
