#pragma once
// Finds the local mail stores of the mail clients on this desktop and registers each once as
// an identity, under a name a person recognises:
//   "Thunderbird - ACCOUNT"  each account of each Thunderbird profile whose mail is kept on
//                       this computer (Local Folders, POP accounts: PROFILE/Mail/ACCOUNT),
//                       as mbox files or one file per message, as the profile's prefs.js
//                       says (storeContractID);
//                       IMAP accounts' caches (PROFILE/ImapMail) are copies of the server's
//                       mail and are left out: each IMAP account of prefs.js is registered
//                       itself, as an account on its server (imaps://USER@HOST:PORT)
//   "KMail"             KMail's local folders ($XDG_DATA_HOME/local-mail)
//   "Evolution"         Evolution's local store ($XDG_DATA_HOME/evolution/mail/local)
//   "Evolution - NAME"  each IMAP account of Evolution ($XDG_CONFIG_HOME/evolution/sources)
//   "KMail - HOST"      each IMAP account of KMail (akonadi_imap_resource_N rc files)
//   "mbsync - NAME"     each MaildirStore of ~/.mbsyncrc (or $XDG_CONFIG_HOME/isyncrc), laid
//                       out as its SubFolders says; an Inbox kept outside its Path becomes
//                       "mbsync - NAME Inbox"
// A store once registered is remembered, so an identity the person removed is not added back.
#include <map>
#include <string>
#include <vector>

#include "platform/StoreLayout.h"

namespace tindale::identities {

struct FoundStore {
    std::u16string name;
    std::string root;
    store::StoreKind kind;
};

// The stores found in the current home, whether registered or not.
std::vector<FoundStore> FindLocalStores();
// Mail stores found in the current home that this program cannot read, and why: a backup
// names them rather than leaving their mail out in silence.
struct UnreadableStore {
    std::string root;
    std::string reason;
};
std::vector<UnreadableStore> FindUnreadableStores();
// Parses an mbsync configuration: one store per MaildirStore with a Path (or an Inbox).
std::vector<FoundStore> ParseMbsyncConfig(const std::string& text, const std::string& home);
// A Thunderbird profile of profiles.ini.
struct ThunderbirdProfile {
    std::string name;
    std::string folder;
    bool isDefault = false;     // the one Thunderbird opens
    std::string pathAsWritten;  // its Path= value
};
// Parses a Thunderbird profiles.ini: the profiles' folders, with their names; exactly one is
// the default (the installation's choice, else the one marked Default=1, else the first).
std::vector<ThunderbirdProfile> ParseProfilesIni(const std::string& text, const std::string& base);
// Parses a Thunderbird prefs.js: every user_pref's name and value (strings unquoted).
std::map<std::string, std::string> ParsePrefsJs(const std::string& text);
// Registers the stores found that were never registered before.
void RegisterLocalStores();

}  // namespace tindale::identities
