#pragma once
#include <string>

// Installs where the command line's IMAP passwords come from: the file given
// (--imap-password-file, tried once), else $TINDALE_IMAP_PASSWORD, else a prompt on the
// terminal (three tries); `keyring`: the desktop's keyring is asked first and keeps a
// password that worked.
void InstallImapPasswords(const std::string& passwordFile, bool keyring);
