#pragma once
// One mail folder of a store, whatever kind of store it is. Every kind (the Maildir family,
// mbox, Thunderbird's file-per-message store) implements this interface in its own folder
// below stores/; the engines and nodes see only this.
// Results: S_OK, S_FALSE, failures negative.
#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/MessageFiles.h"
#include "platform/StoreProps.h"
#include "platform/stores/MessageState.h"
#include "platform/stores/PendingMessage.h"
#include "platform/stores/Results.h"

namespace tindale::store {

// A listing of a folder's messages: ids first, properties read a chunk at a time as the
// listing advances, so a folder of a million messages is never held whole.
struct MessageEnum {
    std::vector<uint32_t> ids;  // in id order
    std::vector<MessageProps> chunk;
    size_t chunkStart = 0;
    size_t next = 0;
};

class StoreFolder {
  public:
    StoreFolder(uint32_t id, std::string location, FolderProps props)
        : id_(id), location_(std::move(location)), props_(std::move(props)) {}
    virtual ~StoreFolder() = default;
    StoreFolder(const StoreFolder&) = delete;
    StoreFolder& operator=(const StoreFolder&) = delete;

    // Counts the folder's messages when asked (opening a folder does not list it).
    virtual HRESULT GetFolderProps(FolderProps& props) = 0;
    // Lists messages with ids >= firstId (in id order); flags are not used.
    HRESULT GetFirstMessage(uint32_t flags, uint32_t firstId, MessageProps& props,
                            std::unique_ptr<MessageEnum>& handle);
    HRESULT GetNextMessage(MessageEnum& handle, MessageProps& props);
    void GetMessageClose(std::unique_ptr<MessageEnum>& handle) { handle.reset(); }
    // Opens a message's complete source for reading; the caller owns the descriptor. Its
    // flags and arrival time go to `state` when given.
    virtual HRESULT OpenMessage(uint32_t messageId, int& fd, MessageState* state = nullptr) = 0;
    virtual HRESULT CreateStream(std::unique_ptr<PendingMessage>& out) = 0;
    // Whether this folder already holds a message with the pending message's bytes, or with
    // exactly `bytes`.
    virtual bool HoldsCopyOf(const PendingMessage& message) = 0;
    virtual bool HoldsCopyOf(std::span<const uint8_t> bytes) = 0;
    // Whether the folder holds the message under the name it had (`state.fileName`) with
    // the same bytes: found without listing the folder's other messages. Always false in a
    // kind that keeps no names.
    virtual bool HoldsUnderItsName(std::span<const uint8_t>, const MessageState&) { return false; }
    virtual bool HoldsUnderItsName(const PendingMessage&, const MessageState&) { return false; }
    // Whether messages may be written here now (CreateStream asks the same).
    virtual bool Writable() = 0;
    // Files the message, as new mail by default; with a known `state`, with its flags,
    // keywords and arrival time, and under the name it had where that name is free.
    virtual HRESULT CommitStream(PendingMessage& message, uint32_t& messageId,
                                 const MessageState* state = nullptr) = 0;
    // S_FALSE: some ids named no message (already gone).
    virtual HRESULT DeleteMessages(const std::vector<uint32_t>& ids) = 0;
    // Gives a message these flags (Maildir letters); it keeps its id.
    virtual HRESULT SetFlags(uint32_t messageId, const std::string& flags) = 0;
    // The files the folder's mail clients keep beside its messages (ClientFiles.h), by name
    // in Directory(); none in a kind whose clients keep none there.
    virtual std::vector<std::string> ClientFiles() { return {}; }
    // Writes one such file back, making the folder on disk first (a list of subscriptions is
    // merged, any other file never replaces one there); 0, EEXIST, or an errno value.
    virtual int PutClientFile(const std::string& /*name*/, std::string_view /*content*/) {
        return ENOTSUP;
    }
    // The mail already in the folder is the archived folder's own (the same mailbox of the
    // same client, partly restored before): restored messages keep their names whole.
    virtual void ContinueArchivedFolder() {}
    // Why the last operation that failed did, in a sentence, where the kind knows more than
    // its result says (a server's answer); empty otherwise.
    virtual std::string Problem() const { return {}; }
    // The messages by id with where each sits in the folder (for reports), without reading
    // any of them.
    virtual const store::MessageFiles& MessageFiles() = 0;

    uint32_t Id() const { return id_; }
    // Where the folder lives (its directory or file): what reports name, and what a job
    // hands back to ReleaseFolder when it is done with the folder.
    const std::string& Directory() const { return location_; }

  protected:
    // The ids of the folder's messages from `firstId` on, listed afresh.
    virtual std::vector<uint32_t> ListIds(uint32_t firstId) = 0;
    // The properties of these messages (ids from ListIds), one per id.
    virtual void ReadProps(std::span<const uint32_t> ids, std::span<MessageProps> out) = 0;
    const FolderProps& Props() const { return props_; }

  private:
    uint32_t id_;
    std::string location_;
    FolderProps props_;
};

// Every message of a folder, from the first (the whole enumeration, closed).
// `keepGoing`, when given, is called with the number listed so far after every few hundred
// messages; the listing ends there when it returns false.
std::vector<MessageProps> ListMessages(StoreFolder& folder,
                                       const std::function<bool(size_t)>& keepGoing = {});

}  // namespace tindale::store
