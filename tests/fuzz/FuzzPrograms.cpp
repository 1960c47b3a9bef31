// What an archive says about a program's files: a program record's payload, the stored path
// of one of its files, and the profile lists and settings text a restore adapts. Any bytes are
// read without a crash; a file goes nowhere but where programs keep their files; merging a
// profile list twice adds nothing the second time.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/Text.h"
#include "model/FileNodes.h"
#include "model/ProgramNodes.h"
#include "platform/ProgramCatalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tindale::programs;
    setenv("HOME", "/home/ann", 1);
    std::string_view text(reinterpret_cast<const char*>(data), size);

    if (auto payload = v::ProgramPayload::Decode(std::vector<uint8_t>(data, data + size))) {
        auto again = v::ProgramPayload::Decode(payload->Encode());
        if (!again || again->program != payload->program || again->home != payload->home ||
            again->places != payload->places || again->part != payload->part)
            std::abort();
    }

    v::FileRestoreRoot root{u"", "", true, "/home/old"};
    std::string why;
    if (auto target = v::RestoreTargetFor(root, tindale::text::ToUtf16(text), why)) {
        if (!ProgramPlaceRoot(target->path) || target->path.rfind(target->openFrom + "/", 0) != 0 ||
            target->path.find("/../") != std::string::npos ||
            target->path.find("/./") != std::string::npos)
            std::abort();
    }

    std::string_view existing = text.substr(0, size / 2), archived = text.substr(size / 2);
    std::string merged = MergeProfileLists(existing, archived);
    if (MergeProfileLists(merged, archived) != merged) std::abort();

    std::string moved = RewriteHome(text, "/home/ann", "/home/bob");
    if (RewriteHome(moved, "/home/ann", "/home/bob") != moved) std::abort();
    HoldsPlainPassword(text);
    return 0;
}
