#pragma once
// The kinds of mail store this program reads and writes, each implemented in its own folder
// below stores/:
//   maildir++  Maildir++ (Dovecot, Courier, Evolution's local store, mbsync "Maildir++")
//   verbatim   maildirs nested in maildirs (mbsync "SubFolders Verbatim")
//   legacy     as verbatim, each level below the top starting with a dot (mbsync "Legacy")
//   kmail      maildirs with subfolders in ".NAME.directory" (KMail's local folders)
//   mbox       a Thunderbird account's folders kept as mbox files (NAME, NAME.sbd/)
//   thunderbird-maildir
//              a Thunderbird account's folders kept one file per message (Thunderbird's
//              "maildir" store: NAME/cur/, NAME.sbd/)
//   imap       an account on an IMAP server; its root is imaps://USER@HOST[:PORT]
#include <optional>
#include <string>
#include <string_view>

namespace tindale::store {

enum class StoreKind { MaildirPlusPlus, Verbatim, Legacy, KMail, Mbox, ThunderbirdMaildir, Imap };

std::string KindName(StoreKind kind);
std::optional<StoreKind> KindNamed(std::string_view name);

// The kind of an existing store directory, or none when it holds no mail store at all.
std::optional<StoreKind> DetectKind(const std::string& root);

}  // namespace tindale::store
