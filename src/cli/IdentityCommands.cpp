#include "cli/Commands.h"

#include <filesystem>
#include <iostream>
#include <optional>

#include "base/Text.h"
#include "cli/CommandHelpers.h"
#include "platform/Identities.h"
#include "platform/MailStore.h"
#include "platform/stores/imap/ImapAccount.h"

using namespace tindale;

int RunIdentityList(const Output& out) {
    identities::EnsureDefaultIdentity();
    auto current = identities::Current();
    if (out.AsJson()) {
        Json list = Json::array();
        for (const auto& identity : identities::List())
            list.push_back({{"id", text::ToUtf8(identity.id)},
                            {"name", text::ToUtf8(identity.name)},
                            {"store", identities::StoreRoot(identity.id)},
                            {"kind", store::KindName(identities::StoreKindOf(identity.id))},
                            {"current", identity.id == current}});
        out.Print(list);
        return kExitOk;
    }
    for (const auto& identity : identities::List())
        std::cout << text::ToUtf8(identity.id) << "\t" << text::ToUtf8(identity.name) << "\t"
                  << identities::StoreRoot(identity.id)
                  << (identity.id == current ? "\t(current)" : "") << "\n";
    return kExitOk;
}

int RunIdentityAdd(const std::string& name, const std::string& store, const std::string& kind) {
    if (identities::Find(text::ToUtf16(name)))
        return Error("an identity named \"" + name + "\" exists already", kExitUsage);
    std::optional<store::StoreKind> chosen;
    if (!kind.empty() && !(chosen = store::KindNamed(kind)))
        return Error("unknown store kind \"" + kind + "\" (maildir++, verbatim, legacy, kmail)",
                     kExitUsage);
    // An existing directory that holds no mail store of a known kind belongs to something
    // else (a documents folder, another program's data): writing cur/, new/ and id files
    // into it would change that program's data.
    std::string root = Absolute(store);
    std::error_code ec;
    bool fresh = !std::filesystem::exists(root, ec) || std::filesystem::is_empty(root, ec);
    auto detected = fresh ? std::nullopt : store::DetectKind(root);
    if (!fresh && !detected)
        return Error(root +
                         " holds no mail store this program can read (no Maildir, no "
                         "Maildir++ folders, no KMail or mbsync folder tree) and is not empty; "
                         "give a mail store, or a new or empty folder to make one in",
                     kExitUsage);
    if (chosen && detected && *chosen != *detected)
        return Error(root + " is laid out as " + store::KindName(*detected) + ", not as " + kind,
                     kExitUsage);
    auto id =
        identities::Add(text::ToUtf16(name), root,
                        chosen.value_or(detected.value_or(store::StoreKind::MaildirPlusPlus)));
    if (!id) return Error("the identity could not be registered");
    std::cout << text::ToUtf8(*id) << "\n";
    return kExitOk;
}

int RunIdentityAddImap(const std::string& name, const std::string& url) {
    if (identities::Find(text::ToUtf16(name)))
        return Error("an identity named \"" + name + "\" exists already", kExitUsage);
    auto account = store::ImapAccount::Parse(url);
    if (!account)
        return Error("\"" + url +
                         "\" is no IMAP account: write imaps://USER@HOST[:PORT] or "
                         "imap://USER@HOST[:PORT] (an '@' in the user written as %40)",
                     kExitUsage);
    store::StoreNamespace ns;
    if (ns.InitializeAt(account->Url(), store::StoreKind::Imap) != store::S_OK)
        return Error("the account could not be opened: " + store::LastOpenProblem());
    size_t folders = 0;
    for (std::vector<uint32_t> pending{store::kRootFolderId}; !pending.empty();) {
        uint32_t at = pending.back();
        pending.pop_back();
        for (const auto& sub : store::ListSubFolders(ns, at)) {
            ++folders;
            pending.push_back(sub.folderId);
        }
    }
    auto id = identities::Add(text::ToUtf16(name), account->Url(), store::StoreKind::Imap);
    if (!id) return Error("the identity could not be registered");
    std::cerr << "logged in to " << account->host << ": " << folders << " folders\n";
    std::cout << text::ToUtf8(*id) << "\n";
    return kExitOk;
}
