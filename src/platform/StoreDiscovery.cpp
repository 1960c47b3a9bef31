#include "platform/StoreDiscovery.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>

#include "base/Text.h"
#include "platform/Identities.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"
#include "platform/stores/imap/ImapAccount.h"
#include "platform/stores/thunderbird/FolderTree.h"

namespace tindale::identities {

namespace {

constexpr const char16_t* kDiscoveredKey = u"Software\\Tindale\\Discovered Stores";

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string Expand(std::string path, const std::string& home) {
    if (path.rfind("~/", 0) == 0 || path == "~") path = home + path.substr(1);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// A configuration value: the rest of the line, without quotes around it.
std::string ValueOf(std::istringstream& line) {
    std::string value;
    std::getline(line >> std::ws, value);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
        value.pop_back();
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return value;
}

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::vector<FoundStore> ParseMbsyncConfig(const std::string& text, const std::string& home) {
    struct Section {
        std::string name, path, inbox, subFolders;
    };
    std::vector<Section> sections;
    bool inStore = false;
    std::istringstream lines(text);
    for (std::string raw; std::getline(lines, raw);) {
        std::istringstream line(raw);
        std::string keyword;
        if (!(line >> keyword) || keyword[0] == '#') continue;
        std::string lower = LowerAscii(keyword);
        if (lower.ends_with("store") || lower == "channel" || lower == "group" ||
            lower == "imapaccount") {
            inStore = lower == "maildirstore";
            if (inStore) sections.push_back({ValueOf(line), {}, {}, {}});
            continue;
        }
        if (!inStore) continue;
        if (lower == "path") sections.back().path = Expand(ValueOf(line), home);
        if (lower == "inbox") sections.back().inbox = Expand(ValueOf(line), home);
        if (lower == "subfolders") sections.back().subFolders = LowerAscii(ValueOf(line));
    }
    std::vector<FoundStore> stores;
    for (const auto& s : sections) {
        std::u16string name = u"mbsync - " + text::ToUtf16(s.name);
        store::StoreKind kind = s.subFolders == "maildir++" ? store::StoreKind::MaildirPlusPlus
                                : s.subFolders == "legacy"  ? store::StoreKind::Legacy
                                                            : store::StoreKind::Verbatim;
        std::string path = kind == store::StoreKind::MaildirPlusPlus && !s.inbox.empty()
                               ? s.inbox  // a Maildir++ store's root is its Inbox
                               : s.path;
        if (!path.empty()) stores.push_back({name, path, kind});
        bool inboxInside = s.inbox.empty() || s.inbox == path ||
                           (!path.empty() && s.inbox.rfind(path + "/", 0) == 0);
        if (!inboxInside)
            stores.push_back({name + u" Inbox", s.inbox, store::StoreKind::MaildirPlusPlus});
    }
    return stores;
}

std::map<std::string, std::string> ParsePrefsJs(const std::string& text) {
    // user_pref("NAME", "VALUE"); or a number or boolean VALUE.
    static const std::regex pref(
        R"re(^\s*user_pref\(\s*"([^"\\]*)"\s*,\s*("((?:[^"\\]|\\.)*)"|[^)\s]+)\s*\)\s*;)re");
    std::map<std::string, std::string> prefs;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, pref)) continue;
        prefs[m[1]] = m[3].matched ? std::regex_replace(m[3].str(), std::regex(R"(\\(.))"), "$1")
                                   : m[2].str();
    }
    return prefs;
}

std::vector<ThunderbirdProfile> ParseProfilesIni(const std::string& text, const std::string& base) {
    std::vector<ThunderbirdProfile> profiles;
    std::string name, path, installDefault;
    bool relative = true, inProfile = false, inInstall = false, marked = false;
    auto flush = [&] {
        if (inProfile && !path.empty())
            profiles.push_back({name, relative ? base + "/" + path : path, marked, path});
        name.clear();
        path.clear();
        relative = true;
        marked = false;
    };
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[') {
            flush();
            inProfile = line.rfind("[Profile", 0) == 0;
            inInstall = line.rfind("[Install", 0) == 0;
            continue;
        }
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (inInstall && key == "Default" && installDefault.empty()) installDefault = value;
        if (!inProfile) continue;
        if (key == "Name") name = value;
        if (key == "Path") path = value;
        if (key == "IsRelative") relative = value != "0";
        if (key == "Default") marked = value == "1";
    }
    flush();
    // The profile Thunderbird opens: its installation's choice, else the one marked, else
    // the first.
    auto chosen = std::find_if(profiles.begin(), profiles.end(), [&](const auto& p) {
        return !installDefault.empty() && p.pathAsWritten == installDefault;
    });
    if (chosen == profiles.end())
        chosen = std::find_if(profiles.begin(), profiles.end(),
                              [](const auto& p) { return p.isDefault; });
    if (chosen == profiles.end()) chosen = profiles.begin();
    for (auto it = profiles.begin(); it != profiles.end(); ++it) it->isDefault = it == chosen;
    return profiles;
}

namespace {

constexpr std::string_view kMboxContract = "@mozilla.org/msgstore/berkeleystore;1";
constexpr std::string_view kMaildirContract = "@mozilla.org/msgstore/maildirstore;1";

// The store contract of each account folder a profile's prefs.js names: Thunderbird keeps an
// account's mail one file per message under the maildir store, as mbox files under the
// berkeley store (the default when nothing is said).
std::map<std::string, std::string> ThunderbirdStoreContracts(const std::string& profile) {
    auto prefs = ParsePrefsJs(ReadText(profile + "/prefs.js"));
    std::string fallback = prefs.count("mail.serverDefaultStoreContractID")
                               ? prefs["mail.serverDefaultStoreContractID"]
                               : std::string(kMboxContract);
    std::map<std::string, std::string> contracts;
    for (const auto& [key, value] : prefs) {
        constexpr std::string_view kServer = "mail.server.";
        bool relative = key.ends_with(".directory-rel");
        if (key.rfind(kServer, 0) != 0 || !(relative || key.ends_with(".directory"))) continue;
        std::string server = key.substr(0, key.rfind('.'));
        std::string dir = value;
        if (dir.rfind("[ProfD]", 0) == 0) dir = profile + "/" + dir.substr(7);
        if (!relative && contracts.count(dir)) continue;
        auto contract = prefs.find(server + ".storeContractID");
        contracts[dir] = contract != prefs.end() ? contract->second : fallback;
    }
    return contracts;
}

// Whether an account folder holds anything but Thunderbird's own files beside its folders.
bool HoldsAnyFolder(const std::string& root) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(root, ec)) {
        std::string name = entry.path().filename().string();
        if (!store::IsThunderbirdCompanion(name) && !name.ends_with(".sbd")) return true;
    }
    return false;
}

// An IMAP account from the settings a mail program keeps; none when they name no server.
std::optional<store::ImapAccount> ImapAccountOf(const std::string& host, const std::string& port,
                                                const std::string& user, bool tls) {
    if (host.empty() || user.empty()) return std::nullopt;
    store::ImapAccount account;
    account.host = host;
    account.user = user;
    account.security = tls ? store::ImapSecurity::Tls : store::ImapSecurity::StartTls;
    account.port = tls ? 993 : 143;
    if (!port.empty() && port.find_first_not_of("0123456789") == std::string::npos &&
        port.size() <= 5 && std::stoi(port) > 0 && std::stoi(port) <= 65535)
        account.port = std::stoi(port);
    return account;
}

// An INI-style file as section -> key -> value (GLib key files, KDE config files).
std::map<std::string, std::map<std::string, std::string>> ReadKeyFile(const std::string& path) {
    std::map<std::string, std::map<std::string, std::string>> sections;
    std::istringstream in(ReadText(path));
    std::string line, section;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with('[') && line.ends_with(']')) {
            section = line.substr(1, line.size() - 2);
        } else if (auto eq = line.find('='); eq != std::string::npos && !line.starts_with('#')) {
            sections[section][line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return sections;
}

// Evolution's IMAP accounts: each sources/*.source file whose [Mail Account] uses the imapx
// backend, with its [Authentication] host, port and user and its [Security] method.
std::vector<FoundStore> EvolutionImapAccounts(const std::string& sources) {
    std::vector<FoundStore> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(sources, ec)) {
        if (entry.path().extension() != ".source") continue;
        auto file = ReadKeyFile(entry.path().string());
        if (file["Mail Account"]["BackendName"] != "imapx") continue;
        auto& auth = file["Authentication"];
        auto account = ImapAccountOf(auth["Host"], auth["Port"], auth["User"],
                                     file["Security"]["Method"] == "ssl-on-alternate-port");
        if (!account) continue;
        std::string name = file["Data Source"]["DisplayName"];
        found.push_back({text::ToUtf16("Evolution - " + (name.empty() ? account->host : name)),
                         account->Url(), store::StoreKind::Imap});
    }
    return found;
}

// KMail's IMAP accounts: one akonadi_imap_resource_N config file each ([network] ImapServer,
// ImapPort, UserName, Safety SSL or STARTTLS).
std::vector<FoundStore> KMailImapAccounts(const std::string& config) {
    std::vector<FoundStore> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(config, ec)) {
        std::string name = entry.path().filename().string();
        if (!name.starts_with("akonadi_imap_resource_") || !name.ends_with("rc")) continue;
        auto network = ReadKeyFile(entry.path().string())["network"];
        std::string host = network["ImapServer"];
        std::string port = network["ImapPort"];
        if (auto colon = host.rfind(':'); colon != std::string::npos && port.empty()) {
            port = host.substr(colon + 1);
            host.resize(colon);
        }
        auto account = ImapAccountOf(host, port, network["UserName"], network["Safety"] == "SSL");
        if (!account) continue;
        found.push_back(
            {text::ToUtf16("KMail - " + account->host), account->Url(), store::StoreKind::Imap});
    }
    return found;
}

// The IMAP accounts of a profile's prefs.js: every mail.server.serverN of type "imap",
// with its host, port, user and connection security (socketType 3: TLS, otherwise STARTTLS).
std::vector<FoundStore> ThunderbirdImapAccounts(const std::string& profile,
                                                const std::string& label) {
    std::vector<FoundStore> found;
    auto prefs = ParsePrefsJs(ReadText(profile + "/prefs.js"));
    for (const auto& [key, value] : prefs) {
        constexpr std::string_view kServer = "mail.server.";
        if (key.rfind(kServer, 0) != 0 || !key.ends_with(".type") || value != "imap") continue;
        std::string server = key.substr(0, key.size() - 5);
        auto pref = [&](const char* name) {
            auto it = prefs.find(server + "." + name);
            return it == prefs.end() ? std::string() : it->second;
        };
        auto account = ImapAccountOf(pref("hostname"), pref("port"), pref("userName"),
                                     pref("socketType") == "3");
        if (!account) continue;
        std::string name = pref("name").empty() ? account->host : pref("name");
        found.push_back({text::ToUtf16(label + name), account->Url(), store::StoreKind::Imap});
    }
    return found;
}

struct Accounts {
    std::vector<FoundStore> found;
    std::vector<UnreadableStore> unreadable;
};

// The kind of one account folder, or why it cannot be read.
std::optional<store::StoreKind> AccountKind(const std::string& root, const std::string* contract,
                                            std::vector<UnreadableStore>& unreadable) {
    auto detected = store::DetectKind(root);
    bool thunderbirds =
        detected == store::StoreKind::Mbox || detected == store::StoreKind::ThunderbirdMaildir;
    if (contract && *contract != kMboxContract && *contract != kMaildirContract) {
        unreadable.push_back({root,
                              "Thunderbird keeps its mail in a store this program cannot "
                              "read (" +
                                  *contract + ")"});
        return std::nullopt;
    }
    if (thunderbirds) return detected;
    if (contract && !HoldsAnyFolder(root))  // an account with no mail yet: its kind is known
        return *contract == kMaildirContract ? store::StoreKind::ThunderbirdMaildir
                                             : store::StoreKind::Mbox;
    if (HoldsAnyFolder(root))
        unreadable.push_back({root,
                              "it holds no mail folder this program can read (neither "
                              "mbox files nor folders of message files)"});
    return std::nullopt;
}

// Every account folder under PROFILE/Mail that holds mail of a kind this program reads.
Accounts ThunderbirdAccounts(const std::string& base) {
    Accounts accounts;
    auto profiles = ParseProfilesIni(ReadText(base + "/profiles.ini"), base);
    for (const auto& profile : profiles) {
        const std::string& folder = profile.folder;
        auto contracts = ThunderbirdStoreContracts(folder);
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder + "/Mail", ec)) {
            if (!entry.is_directory(ec)) continue;
            std::string root = entry.path().string();
            auto named = contracts.find(root);
            auto kind = AccountKind(root, named == contracts.end() ? nullptr : &named->second,
                                    accounts.unreadable);
            if (!kind) continue;
            std::string account = entry.path().filename().string();
            // Named the same whatever other profiles there are: the profile Thunderbird
            // opens is plain "Thunderbird", the others say which they are.
            std::string label =
                profile.isDefault ? "Thunderbird - " : "Thunderbird (" + profile.name + ") - ";
            accounts.found.push_back({text::ToUtf16(label + account), root, *kind});
        }
        std::string label =
            profile.isDefault ? "Thunderbird - " : "Thunderbird (" + profile.name + ") - ";
        for (auto& imap : ThunderbirdImapAccounts(folder, label))
            accounts.found.push_back(std::move(imap));
    }
    return accounts;
}

std::vector<std::string> ThunderbirdBases() {
    std::string home = shell::HomeFolder();
    return {home + "/.thunderbird", home + "/.mozilla-thunderbird"};
}

}  // namespace

std::vector<FoundStore> FindLocalStores() {
    std::string home = shell::HomeFolder();
    std::string data = shell::DataFolder();
    std::string config = EnvOr("XDG_CONFIG_HOME", home + "/.config");
    std::vector<FoundStore> found;
    auto add = [&](std::u16string name, const std::string& root, store::StoreKind kind) {
        if (IsDirectory(root)) found.push_back({std::move(name), root, kind});
    };
    for (const auto& base : ThunderbirdBases())
        for (auto& store : ThunderbirdAccounts(base).found) found.push_back(std::move(store));
    add(u"KMail", data + "/local-mail", store::StoreKind::KMail);
    add(u"Evolution", data + "/evolution/mail/local", store::StoreKind::MaildirPlusPlus);
    for (auto& account : EvolutionImapAccounts(config + "/evolution/sources"))
        found.push_back(std::move(account));
    for (auto& account : KMailImapAccounts(config)) found.push_back(std::move(account));
    for (const auto& file : {config + "/isyncrc", home + "/.mbsyncrc"}) {
        std::string text = ReadText(file);
        if (text.empty()) continue;
        for (auto& s : ParseMbsyncConfig(text, home)) add(s.name, s.root, s.kind);
        break;  // mbsync reads the first of the two that exists
    }
    return found;
}

std::vector<UnreadableStore> FindUnreadableStores() {
    std::vector<UnreadableStore> unreadable;
    for (const auto& base : ThunderbirdBases())
        for (auto& store : ThunderbirdAccounts(base).unreadable)
            unreadable.push_back(std::move(store));
    return unreadable;
}

void RegisterLocalStores() {
    auto found = FindLocalStores();
    if (found.empty()) return;
    auto remembered = reg::Key::Create(reg::kHkeyCurrentUser, kDiscoveredKey);
    if (!remembered) return;
    for (const auto& store : found) {
        std::u16string key = text::ToUtf16(store.root);
        if (remembered->QueryString(key)) continue;
        bool taken = false;  // registered by hand already, under any name
        for (const auto& identity : List()) taken = taken || StoreRoot(identity.id) == store.root;
        std::u16string name = store.name;
        for (int n = 2; Find(name); ++n)
            name = store.name + u" (" + text::ToUtf16(std::to_string(n)) + u")";
        if (taken || Add(name, store.root, store.kind)) remembered->SetString(key, name);
    }
}

}  // namespace tindale::identities
