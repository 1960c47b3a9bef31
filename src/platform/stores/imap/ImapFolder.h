#pragma once
// A mailbox of an IMAP account (see ImapStore). Listing reads the mailbox with EXAMINE, so
// nothing a backup does marks mail read; messages are read with BODY.PEEK[].
#include <string>

#include "platform/stores/StoreFolder.h"
#include "platform/stores/imap/ImapStore.h"

namespace tindale::store {

class ImapFolder : public StoreFolder {
  public:
    ImapFolder(ImapStore& store, uint32_t id, std::string location, FolderProps props)
        : StoreFolder(id, std::move(location), std::move(props)), store_(store) {}

    HRESULT GetFolderProps(FolderProps& props) override;
    HRESULT OpenMessage(uint32_t messageId, int& fd, MessageState* state = nullptr) override;
    HRESULT CreateStream(std::unique_ptr<PendingMessage>& out) override;
    bool HoldsCopyOf(const PendingMessage& message) override;
    bool HoldsCopyOf(std::span<const uint8_t> bytes) override;
    bool Writable() override { return Props().selectable; }
    HRESULT CommitStream(PendingMessage& message, uint32_t& messageId,
                         const MessageState* state = nullptr) override;
    HRESULT DeleteMessages(const std::vector<uint32_t>& ids) override;
    HRESULT SetFlags(uint32_t messageId, const std::string& flags) override;
    const store::MessageFiles& MessageFiles() override;
    std::string Problem() const override { return problem_; }

  protected:
    std::vector<uint32_t> ListIds(uint32_t firstId) override;
    void ReadProps(std::span<const uint32_t> ids, std::span<MessageProps> out) override;

  private:
    MailboxIndex& Index();
    ImapStore& store_;
    std::string problem_;
};

}  // namespace tindale::store
