#pragma once
// A folder of the Maildir family: a maildir whose files are the messages, their flags in
// the name (":2,FS") and their arrival time in the file's modification time. A message is
// written under tmp/ and moved into new/ or cur/ only when committed.
#include "platform/stores/StoreFolder.h"
#include "platform/stores/maildir/MaildirStore.h"

namespace tindale::store {

class MaildirFolder : public StoreFolder {
  public:
    MaildirFolder(MaildirStore& store, uint32_t id, std::string dir, FolderProps props)
        : StoreFolder(id, std::move(dir), std::move(props)), store_(store) {}

    HRESULT GetFolderProps(FolderProps& props) override;
    HRESULT OpenMessage(uint32_t messageId, int& fd, MessageState* state = nullptr) override;
    HRESULT CreateStream(std::unique_ptr<PendingMessage>& out) override;
    bool HoldsCopyOf(const PendingMessage& message) override;
    bool HoldsCopyOf(std::span<const uint8_t> bytes) override;
    bool HoldsUnderItsName(std::span<const uint8_t> bytes, const MessageState& state) override;
    bool HoldsUnderItsName(const PendingMessage& message, const MessageState& state) override;
    bool Writable() override { return store_.ReadyForWriting(Directory()); }
    HRESULT CommitStream(PendingMessage& message, uint32_t& messageId,
                         const MessageState* state = nullptr) override;
    HRESULT DeleteMessages(const std::vector<uint32_t>& ids) override;
    HRESULT SetFlags(uint32_t messageId, const std::string& flags) override;
    const store::MessageFiles& MessageFiles() override { return Index().Files(); }
    std::vector<std::string> ClientFiles() override;
    void ContinueArchivedFolder() override { store_.ContinuesArchivedFolder(Directory()); }
    int PutClientFile(const std::string& name, std::string_view content) override;

  protected:
    std::vector<uint32_t> ListIds(uint32_t firstId) override;
    void ReadProps(std::span<const uint32_t> ids, std::span<MessageProps> out) override;

  private:
    MessageIndex& Index();
    // The file of a message, looking again once when it moved (another client renamed it,
    // or it was committed in a batch not yet published).
    std::optional<std::string> LocateMessage(uint32_t messageId);
    // The message file named `state.fileName` (any flags), opened; -1 when there is none.
    int OpenNamed(const MessageState& state);
    // The name a committed message gets: the one it had when that is free here, else `fresh`.
    std::string NameFor(const MessageState* state, const std::string& fresh);

    MaildirStore& store_;
};

}  // namespace tindale::store
