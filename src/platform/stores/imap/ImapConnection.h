#pragma once
// One logged-in connection to an IMAP server, spoken through libetpan. Every operation that
// only reads or that can be repeated without harm (LIST, SELECT, FETCH, SEARCH, STORE) is
// run again on a new connection when the old one is lost, up to a few times, with the folder
// that was selected selected again; APPEND is not (its caller first looks whether the
// message arrived). Mailbox names are given and returned as UTF-8; the wire's modified
// UTF-7 is this class's business.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/stores/imap/ImapAccount.h"
#include "platform/stores/imap/ImapAttributes.h"

struct mailimap;

namespace tindale::store {

struct ImapMailbox {
    std::string name;  // UTF-8
    char delimiter = '/';
    bool selectable = true;
    std::string specialUse;  // "\Sent", "\Trash"... or empty
};

class ImapConnection {
  public:
    explicit ImapConnection(ImapAccount account);
    ~ImapConnection();
    ImapConnection(const ImapConnection&) = delete;
    ImapConnection& operator=(const ImapConnection&) = delete;

    // Connects, checks the server's certificate and logs in; empty on success, otherwise
    // why not, in a sentence a person can act on.
    std::string Open(std::string password);
    const std::string& LastError() const { return error_; }
    const ImapAccount& Account() const { return account_; }

    std::optional<std::vector<ImapMailbox>> List();
    // Selects a mailbox (read-only with EXAMINE); its UIDVALIDITY, none on failure. The
    // mailbox selected already is selected again only when `again` (to see new mail).
    std::optional<uint32_t> Select(const std::string& mailbox, bool readOnly, bool again = false);
    // Every message of the selected mailbox with its flags, date and size.
    std::optional<std::vector<ImapMessage>> FetchAll();
    // The header of each of these messages, handed to `take` as it arrives (BODY.PEEK).
    bool FetchHeaders(const std::vector<uint32_t>& uids,
                      const std::function<void(uint32_t, std::string_view)>& take);
    // The complete bytes of these messages (BODY.PEEK[]: none is marked read), each handed
    // to `take` as it arrives; false when the fetch failed. A message the server no longer
    // has is simply not handed over.
    bool FetchBodies(const std::vector<uint32_t>& uids,
                     const std::function<void(uint32_t, std::string_view)>& take);
    // Appends a message; its new UID (0 when the server does not say: no UIDPLUS), none on
    // failure. Never retried here.
    std::optional<uint32_t> Append(const std::string& mailbox, std::string_view bytes,
                                   const ImapFlags& flags, int64_t internalDate);
    bool Create(const std::string& mailbox);
    bool Subscribe(const std::string& mailbox);
    bool SetFlags(uint32_t uid, const ImapFlags& flags);
    // Marks the messages \Deleted and expunges exactly them (UID EXPUNGE). Refused without
    // UIDPLUS: a plain EXPUNGE would also remove what another client marked.
    bool ExpungeUids(const std::vector<uint32_t>& uids);
    bool HasUidPlus();
    // The prefix of the account's own folders (NAMESPACE's first personal namespace, UTF-8):
    // "INBOX." on servers that keep every folder below the Inbox, "" on most others.
    std::string PersonalPrefix();
    // Drops the connection (what a lost network does); the next operation reconnects.
    void Drop();

    static std::string ToWire(const std::string& utf8);
    static std::string FromWire(const std::string& wire);

  private:
    bool Connect();
    bool Reopen();
    // Runs `op` (a libetpan call's result) and, when the connection was lost, reconnects
    // and runs it again; true when it finally succeeded.
    bool Run(const std::function<int()>& op, const char* what);
    // UID FETCH of these messages' section (the whole message when `section` is null).
    bool FetchSections(const std::vector<uint32_t>& uids, bool header,
                       const std::function<void(uint32_t, std::string_view)>& take,
                       const char* what);
    std::string Describe(int code, const char* what) const;

    ImapAccount account_;
    std::string password_;
    mailimap* imap_ = nullptr;
    std::string selected_;
    bool selectedReadOnly_ = true;
    std::string error_;
};

}  // namespace tindale::store
