#include "platform/StoreLayout.h"

namespace tindale::store {

namespace {
constexpr StoreKind kKinds[] = {StoreKind::MaildirPlusPlus,
                                StoreKind::Verbatim,
                                StoreKind::Legacy,
                                StoreKind::KMail,
                                StoreKind::Mbox,
                                StoreKind::ThunderbirdMaildir,
                                StoreKind::Imap};
}

std::string KindName(StoreKind kind) {
    switch (kind) {
        case StoreKind::MaildirPlusPlus:
            return "maildir++";
        case StoreKind::Verbatim:
            return "verbatim";
        case StoreKind::Legacy:
            return "legacy";
        case StoreKind::KMail:
            return "kmail";
        case StoreKind::Mbox:
            return "mbox";
        case StoreKind::ThunderbirdMaildir:
            return "thunderbird-maildir";
        case StoreKind::Imap:
            return "imap";
    }
    return "maildir++";
}

std::optional<StoreKind> KindNamed(std::string_view name) {
    for (auto kind : kKinds)
        if (KindName(kind) == name) return kind;
    return std::nullopt;
}

}  // namespace tindale::store
