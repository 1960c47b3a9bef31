// IMAP account URLs and mailbox names: any text parses as an account or is refused, and an
// account's URL parses back to itself; every UTF-8 name survives the wire's modified UTF-7;
// any bytes as a server's certificate chain are refused, never trusted.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/Text.h"
#include "platform/stores/imap/ImapAccount.h"
#include "platform/stores/imap/ImapConnection.h"
#include "platform/stores/imap/ServerCertificate.h"

using namespace tindale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    if (auto account = store::ImapAccount::Parse(text)) {
        auto again = store::ImapAccount::Parse(account->Url());
        if (!again || again->Url() != account->Url() || again->user != account->user ||
            again->host != account->host || again->port != account->port)
            std::abort();
    }
    bool utf8 = text::ToUtf8(text::ToUtf16(text)) == text;
    if (utf8 && store::ImapConnection::FromWire(store::ImapConnection::ToWire(text)) != text)
        std::abort();
    store::ImapConnection::FromWire(text);
    if (store::CheckServerCertificate({text}, "example.org").empty()) std::abort();
    return 0;
}
