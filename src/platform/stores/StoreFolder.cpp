#include "platform/stores/StoreFolder.h"

#include <algorithm>

namespace tindale::store {

HRESULT StoreFolder::GetFirstMessage(uint32_t, uint32_t firstId, MessageProps& props,
                                     std::unique_ptr<MessageEnum>& handle) {
    if (firstId == 0xFFFFFFFFu) firstId = 0;
    handle = std::make_unique<MessageEnum>();
    handle->ids = ListIds(firstId);
    return GetNextMessage(*handle, props);
}

HRESULT StoreFolder::GetNextMessage(MessageEnum& handle, MessageProps& props) {
    constexpr size_t kChunk = 4096;
    if (handle.next >= handle.ids.size()) return S_FALSE;
    if (handle.next >= handle.chunkStart + handle.chunk.size()) {
        handle.chunkStart = handle.next;
        size_t count = std::min(kChunk, handle.ids.size() - handle.next);
        handle.chunk.assign(count, MessageProps{});
        ReadProps(std::span<const uint32_t>(handle.ids).subspan(handle.next, count), handle.chunk);
    }
    props = std::move(handle.chunk[handle.next++ - handle.chunkStart]);
    return S_OK;
}

std::vector<MessageProps> ListMessages(StoreFolder& folder,
                                       const std::function<bool(size_t)>& keepGoing) {
    constexpr size_t kBetweenCalls = 256;
    std::vector<MessageProps> out;
    std::unique_ptr<MessageEnum> handle;
    MessageProps props;
    for (HRESULT hr = folder.GetFirstMessage(0, 0xFFFFFFFF, props, handle); hr == S_OK;
         hr = folder.GetNextMessage(*handle, props)) {
        out.push_back(std::move(props));
        if (keepGoing && out.size() % kBetweenCalls == 0 && !keepGoing(out.size())) break;
    }
    folder.GetMessageClose(handle);
    return out;
}

}  // namespace tindale::store
