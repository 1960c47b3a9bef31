#pragma once
// A folder of Thunderbird's file-per-message store: a directory whose cur/ holds one file
// per message, its state in the X-Mozilla-Status header inside the file. A message being
// added is held unnamed until committed, then written under tmp/ with its state headers
// and moved into cur/; Thunderbird's summary of the folder is removed on every change.
#include "platform/stores/StoreFolder.h"
#include "platform/stores/tbmaildir/ThunderbirdMaildirStore.h"

namespace tindale::store {

class ThunderbirdMaildirFolder : public StoreFolder {
  public:
    ThunderbirdMaildirFolder(ThunderbirdMaildirStore& store, uint32_t id, std::string dir,
                             FolderProps props)
        : StoreFolder(id, std::move(dir), std::move(props)), store_(store) {}

    HRESULT GetFolderProps(FolderProps& props) override;
    HRESULT OpenMessage(uint32_t messageId, int& fd, MessageState* state = nullptr) override;
    HRESULT CreateStream(std::unique_ptr<PendingMessage>& out) override;
    bool HoldsCopyOf(const PendingMessage& message) override;
    bool HoldsCopyOf(std::span<const uint8_t> bytes) override;
    bool Writable() override;
    HRESULT CommitStream(PendingMessage& message, uint32_t& messageId,
                         const MessageState* state = nullptr) override;
    HRESULT DeleteMessages(const std::vector<uint32_t>& ids) override;
    HRESULT SetFlags(uint32_t messageId, const std::string& flags) override;
    const store::MessageFiles& MessageFiles() override { return Index().Files(); }

  protected:
    std::vector<uint32_t> ListIds(uint32_t firstId) override;
    void ReadProps(std::span<const uint32_t> ids, std::span<MessageProps> out) override;

  private:
    MessageIndex& Index();
    std::optional<std::string> PathOf(uint32_t messageId);
    ThunderbirdMaildirStore::Contents& Contents();
    // Writes `bytes` as the message file `relative` ("cur/NAME") through tmp/; 0 or errno.
    int WriteMessageFile(const std::string& relative, std::string_view bytes,
                         const MessageState* state);

    ThunderbirdMaildirStore& store_;
};

}  // namespace tindale::store
