#pragma once
// What one job knows of one mailbox: its messages by UID with flags, dates, sizes and the
// properties their headers give, read with a few FETCHes; message bodies read ahead in batches (one
// round trip for many small messages); and the Message-IDs, so that a message already there is
// found without asking the server again for each one.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/MessageFiles.h"
#include "platform/StoreProps.h"
#include "platform/stores/imap/ImapConnection.h"

namespace tindale::store {

class MailboxIndex {
  public:
    MailboxIndex(ImapConnection& connection, std::string mailbox)
        : connection_(connection), mailbox_(std::move(mailbox)) {}

    // Reads the listing afresh; false (and LastError() says why) when the server refused.
    bool Load();
    bool Loaded() const { return loaded_; }
    const std::vector<ImapMessage>& Messages() const { return messages_; }
    const ImapMessage* Find(uint32_t uid) const;
    // Its properties, read from its header when the mailbox was listed.
    const MessageProps* PropsOf(uint32_t uid) const;
    const store::MessageFiles& Files() const { return files_; }
    // The message's bytes, read ahead with the messages after it; none when the server no
    // longer has it or could not send it (`failed` tells which).
    std::optional<std::string> Body(uint32_t uid, bool& failed);
    // Whether the mailbox holds these bytes: a message with the same Message-ID and size,
    // or, without a Message-ID, one with the very same bytes.
    bool Holds(std::string_view bytes);
    // A message appended by this job, known from now on without reading the listing again.
    void Added(uint32_t uid, std::string_view bytes, const ImapFlags& flags, int64_t date);
    void Forget(const std::vector<uint32_t>& uids);
    // The mailbox selected for changes (SELECT rather than EXAMINE).
    bool SelectForChanges();
    const std::string& Mailbox() const { return mailbox_; }

  private:
    void ReadHeaders();
    void Absorb(size_t at, std::string_view header);
    void Index(size_t at);
    std::vector<uint32_t> BatchFrom(uint32_t uid) const;

    ImapConnection& connection_;
    std::string mailbox_;
    bool loaded_ = false;
    std::vector<ImapMessage> messages_;  // by UID
    std::vector<MessageProps> props_;    // one per message, in the same order
    store::MessageFiles files_;
    std::multimap<std::string, uint32_t> byMessageId_;  // Message-ID -> size
    std::multimap<uint32_t, uint32_t> unnamedBySize_;   // size -> UID, messages without an ID
    std::map<uint32_t, std::string> readAhead_;
};

}  // namespace tindale::store
