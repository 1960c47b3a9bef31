#include "platform/stores/mbox/MboxFolder.h"

#include <sys/mman.h>
#include <unistd.h>

#include <utility>

#include "platform/stores/common/MessageFile.h"
#include "platform/stores/mbox/MboxStatus.h"

namespace tindale::store {

MboxFile& MboxFolder::File() {
    auto& file = store_.FileOf(Directory());
    if (!file.Loaded()) file.Load();
    return file;
}

HRESULT MboxFolder::GetFolderProps(FolderProps& props) {
    props = Props();
    props.messages = static_cast<uint32_t>(File().Files().size());
    props.unread = static_cast<uint32_t>(File().Unread());
    return S_OK;
}

std::vector<uint32_t> MboxFolder::ListIds(uint32_t firstId) {
    auto& file = store_.FileOf(Directory());
    file.Load();  // read afresh: the client may have written the folder meanwhile
    store_.NoteDeletedWaiting(Directory(), file.Hidden());
    for (const auto& huge : file.Oversized())
        store_.NoteSkipped({store_.RelativeToRoot(Directory()) + "@" + std::to_string(huge.from),
                            "a message of " + std::to_string(huge.length >> 20) +
                                " MB, larger than any mail server takes (a damaged or sparse "
                                "file?); it was not read"});
    return file.Files().IdsFrom(firstId);
}

void MboxFolder::ReadProps(std::span<const uint32_t> ids, std::span<MessageProps> out) {
    for (size_t i = 0; i < ids.size(); ++i) {
        auto message = File().Find(ids[i]);
        if (!message) continue;
        auto info = mail::ParseHeaders(File().ReadHeaders(*message));
        int64_t arrival = message->arrival != 0 ? message->arrival : info.received.value_or(0);
        out[i] = PropsFromHeaders(ids[i], info, message->length, arrival);
        if ((message->status & 1) || (message->mboxStatus & kMboxRead))
            out[i].state |= kMessageRead;
    }
}

HRESULT MboxFolder::OpenMessage(uint32_t messageId, int& fd, MessageState* state) {
    auto message = File().Find(messageId);
    if (!message) {
        File().Load();  // the client may have written the folder meanwhile
        message = File().Find(messageId);
    }
    if (!message) return E_NOT_FOUND;
    fd = File().OpenCopy(*message);
    if (fd < 0) return E_FAIL;
    if (state) *state = File().StateOf(*message);
    return S_OK;
}

HRESULT MboxFolder::CreateStream(std::unique_ptr<PendingMessage>& out) {
    if (!Writable()) return E_FAIL;
    out = PendingMessage::InMemory();
    return out ? S_OK : E_FAIL;
}

bool MboxFolder::HoldsCopyOf(const PendingMessage& message) {
    return message.Fd() >= 0 && File().Holds(message.Fd());
}

bool MboxFolder::HoldsCopyOf(std::span<const uint8_t> bytes) {
    return File().Holds({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

HRESULT MboxFolder::CommitStream(PendingMessage& message, uint32_t& messageId,
                                 const MessageState* state) {
    if (message.Fd() < 0) return E_FAIL;
    int fd = message.TakeFd();
    auto id = File().Append(fd, state);
    ::close(fd);
    if (!id) return E_FAIL;
    messageId = *id;
    return S_OK;
}

HRESULT MboxFolder::DeleteMessages(const std::vector<uint32_t>& ids) {
    if (!Writable()) return E_FAIL;
    size_t missing = 0;
    for (uint32_t id : ids) missing += !File().Find(id);
    if (File().Remove(ids) != 0) return E_FAIL;
    return missing > 0 ? S_FALSE : S_OK;
}

HRESULT MboxFolder::SetFlags(uint32_t messageId, const std::string& flags) {
    return File().SetFlags(messageId, flags) ? S_OK : S_FALSE;
}

}  // namespace tindale::store
