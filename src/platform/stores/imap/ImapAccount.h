#pragma once
// An IMAP account as an identity's store: where the server is, who logs in and how the
// connection is protected. An identity keeps it as its store root, written as a URL:
//   imaps://USER@HOST[:PORT]   TLS from the first byte (port 993 by default)
//   imap://USER@HOST[:PORT]    STARTTLS (port 143); plain text only to this computer
// The user part is percent-encoded ("me%40example.org" for a login with an '@').
#include <optional>
#include <string>
#include <string_view>

namespace tindale::store {

enum class ImapSecurity { Tls, StartTls };

struct ImapAccount {
    ImapSecurity security = ImapSecurity::Tls;
    std::string user;
    std::string host;
    int port = 993;

    static std::optional<ImapAccount> Parse(std::string_view url);
    std::string Url() const;
    // Whether the server is this computer (127.0.0.0/8, ::1, "localhost"): the only place a
    // password may travel without TLS.
    bool OnLoopback() const;
};

// Whether a store root names an IMAP account rather than a directory.
bool IsImapUrl(std::string_view root);

}  // namespace tindale::store
