#pragma once
// A folder of a Thunderbird mbox store: one mbox file (see MboxFile). A message being added
// is held in an unnamed file until it is appended, so nothing but the mbox itself is ever
// written into the mail client's folder.
#include "platform/stores/StoreFolder.h"
#include "platform/stores/mbox/MboxStore.h"

namespace tindale::store {

class MboxFolder : public StoreFolder {
  public:
    MboxFolder(MboxStore& store, uint32_t id, std::string path, FolderProps props)
        : StoreFolder(id, std::move(path), std::move(props)), store_(store) {}

    HRESULT GetFolderProps(FolderProps& props) override;
    HRESULT OpenMessage(uint32_t messageId, int& fd, MessageState* state = nullptr) override;
    HRESULT CreateStream(std::unique_ptr<PendingMessage>& out) override;
    bool HoldsCopyOf(const PendingMessage& message) override;
    bool HoldsCopyOf(std::span<const uint8_t> bytes) override;
    // Asked each time: Thunderbird may have quit meanwhile.
    bool Writable() override { return store_.WriteRefusal().empty(); }
    HRESULT CommitStream(PendingMessage& message, uint32_t& messageId,
                         const MessageState* state = nullptr) override;
    HRESULT DeleteMessages(const std::vector<uint32_t>& ids) override;
    HRESULT SetFlags(uint32_t messageId, const std::string& flags) override;
    const store::MessageFiles& MessageFiles() override { return File().Files(); }

  protected:
    std::vector<uint32_t> ListIds(uint32_t firstId) override;
    void ReadProps(std::span<const uint32_t> ids, std::span<MessageProps> out) override;

  private:
    MboxFile& File();
    MboxStore& store_;
};

}  // namespace tindale::store
