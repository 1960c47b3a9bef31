#include "cli/Commands.h"

#include <iostream>

#include "base/Text.h"
#include "cli/CommandHelpers.h"
#include "platform/Identities.h"

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
    auto id = identities::Add(text::ToUtf16(name), Absolute(store));
    if (!id) return Error("the identity could not be registered");
    std::cout << text::ToUtf8(*id) << "\n";
    return kExitOk;
}
