// The store's id and folder maps: any text parses without an exception, and what a parsed
// map writes reads back as the same map.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/IdMap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using tindale::store::IdMap;
    auto map = IdMap::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    std::string once = map.Serialize();
    auto again = IdMap::Parse(once);
    if (again.Serialize() != once || again.Size() != map.Size()) std::abort();
    uint32_t id = map.Assign("a new key");
    map.ForEach([&](std::string_view key, uint32_t other) {
        if (other == id && key != "a new key") std::abort();  // one id, one key
    });
    return 0;
}
