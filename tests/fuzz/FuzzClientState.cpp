// What an archive and a mail folder say about mail clients' state: a folder record's payload
// (its clients' files), a message header's names and keywords, Dovecot's keyword table and
// subscriptions, and the state lines of an mbox header. Any bytes are read without a crash;
// only known client files come out, under plain names; what is written reads back the same.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "model/FolderState.h"
#include "model/MessageNodes.h"
#include "platform/stores/common/ClientFiles.h"
#include "platform/stores/maildir/KeywordTable.h"
#include "platform/stores/mbox/MboxStatus.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tindale::store;
    std::string_view text(reinterpret_cast<const char*>(data), size);

    v::MemoryStream payload(std::vector<uint8_t>(data, data + size));
    if (auto state = v::ReadFolderState(payload))
        for (const auto& file : state->files)
            if (!ClientFileRoleOf(file.name) || file.name.find('/') != std::string::npos)
                std::abort();

    uint8_t header[v::kMessageHeaderSize] = {};
    std::memcpy(header + v::kMessageNamesAt, data, std::min(size, v::kMessageNamesBytes));
    std::memcpy(header + v::kMessageStateAt, "TZMS\x01", 5);
    if (auto state = v::ReadMessageState(header)) {
        if (!state->fileName.empty() && !MessageState::UsableFileName(state->fileName))
            std::abort();
        uint8_t again[v::kMessageHeaderSize] = {};
        std::memcpy(again + v::kMessageStateAt, "TZMS\x01", 5);
        if (!v::WriteMessageNames(again, *state)) std::abort();
        auto back = v::ReadMessageState(again);
        if (!back || back->fileName != state->fileName || back->keywords != state->keywords)
            std::abort();
    }

    auto table = KeywordTable::Parse(text);
    if (KeywordTable::Parse(table.Serialize()).Serialize() != table.Serialize()) std::abort();
    MessageState state;
    state.flags = MessageState::CleanFlags(text.substr(0, 40));
    state.keywords = table.NamesOf(state.flags);
    table.FlagsFor(state);

    // Every name of a list is kept once merged with any other list.
    std::string merged = "\n" + MergeSubscriptions(text.substr(0, size / 2), text.substr(size / 2));
    std::string_view second = text.substr(size / 2);
    for (size_t at = 0; at < second.size();) {
        size_t end = std::min(second.find('\n', at), second.size());
        std::string_view line = second.substr(at, end - at);
        bool header = at == 0 && line.starts_with("V\t");
        if (!line.empty() && !header &&
            merged.find("\n" + std::string(line) + "\n") == std::string::npos)
            std::abort();
        at = end + 1;
    }
    std::string stripped = WithoutMboxState(text);
    if (WithoutMboxState(stripped) != stripped) std::abort();
    return 0;
}
