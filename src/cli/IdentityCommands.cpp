#include "cli/Commands.h"

#include <filesystem>
#include <iostream>

#include "base/Text.h"
#include "cli/CommandHelpers.h"
#include "platform/Identities.h"
#include "platform/MailStore.h"

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

int RunIdentityAdd(const std::string& name, const std::string& store) {
    if (identities::Find(text::ToUtf16(name)))
        return Error("an identity named \"" + name + "\" exists already", kExitUsage);
    // An existing directory that is not a Maildir belongs to something else (another mail
    // program's store, a documents folder): writing cur/, new/ and id files into it would
    // change that program's data.
    std::string root = Absolute(store);
    std::error_code ec;
    if (std::filesystem::exists(root, ec) && !store::IsMaildir(root) &&
        !std::filesystem::is_empty(root, ec))
        return Error(root +
                         " is not a Maildir (it has no cur/ and new/ folders) and is not empty; "
                         "give a Maildir, or a new or empty folder to make one in",
                     kExitUsage);
    auto id = identities::Add(text::ToUtf16(name), root);
    if (!id) return Error("the identity could not be registered");
    std::cout << text::ToUtf8(*id) << "\n";
    return kExitOk;
}
