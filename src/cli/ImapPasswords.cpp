#include "cli/ImapPasswords.h"

#include <iostream>

#include "cli/Password.h"
#include "platform/stores/imap/ImapPassword.h"

using namespace tindale;

void InstallImapPasswords(const std::string& passwordFile, bool keyring) {
    store::SetKeyringAllowed(keyring, keyring);
    store::SetImapPasswordAsker(
        [passwordFile](const store::ImapAccount& account,
                       const std::string& refusal) -> std::optional<std::string> {
            if (!passwordFile.empty()) {
                if (!refusal.empty()) return std::nullopt;  // the file's password was refused
                std::string error;
                auto password = ReadSecretFile(passwordFile, error);
                if (!password) std::cerr << "tindale-cli: " << error << "\n";
                return password;
            }
            if (!refusal.empty()) std::cerr << "tindale-cli: " << refusal << "\n";
            std::string prompt = "Password of " + account.user + " at " + account.host + ": ";
            auto password = PromptHidden(prompt.c_str());
            if (!password)
                std::cerr << "tindale-cli: the IMAP account " << account.Url()
                          << " needs a password: give --imap-password-file FILE, set "
                             "TINDALE_IMAP_PASSWORD or take it from the keyring with --keyring\n";
            return password;
        });
}
