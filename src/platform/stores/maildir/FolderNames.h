#pragma once
// Mail folder names as Maildir++ directory names. Names are encoded as Courier does:
// modified UTF-7 ("&...-") for non-ASCII characters and for ".", "/" and "&", so that
// every name round-trips; levels are joined with ".", and the directory starts with ".".
#include <optional>
#include <string>
#include <vector>

namespace tindale::foldernames {

std::string Encode(std::u16string_view name);
std::optional<std::u16string> Decode(std::string_view encoded);

// The directory (below the store root) of a folder path; the Inbox is the root itself, and
// its subfolders are ".INBOX.X" as Dovecot names the IMAP folder "INBOX.X".
std::string DirectoryFor(const std::vector<std::u16string>& path);
// The folder path of a directory name such as ".Work.Projects"; none for anything else. A
// first level "INBOX" in any letter case is the Inbox ("Inbox").
std::optional<std::vector<std::u16string>> PathFor(std::string_view directory);

}  // namespace tindale::foldernames
