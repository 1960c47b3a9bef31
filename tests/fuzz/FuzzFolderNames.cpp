// Maildir++ folder names: any directory name decodes or is refused, and every decoded
// path and every name round-trips through the encoding.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/stores/maildir/FolderNames.h"

using namespace tindale::foldernames;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto path = PathFor(text)) {
        if (PathFor(DirectoryFor(*path)) != path) std::abort();
    }
    Decode(text);
    std::u16string name;
    for (size_t i = 0; i + 1 < size; i += 2)
        name += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (Decode(Encode(name)) != name) std::abort();
    return 0;
}
