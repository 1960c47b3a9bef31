// The one place that knows every kind of store: it makes a kind's implementation and asks
// each kind in turn whether a directory is one of its stores.
#include "platform/StoreLayout.h"
#include "platform/stores/StoreBackend.h"
#include "platform/stores/imap/ImapStore.h"
#include "platform/stores/maildir/MaildirStore.h"
#include "platform/stores/mbox/MboxStore.h"
#include "platform/stores/tbmaildir/ThunderbirdMaildirStore.h"

namespace tindale::store {

namespace {

std::optional<MaildirLayout> LayoutOf(StoreKind kind) {
    switch (kind) {
        case StoreKind::MaildirPlusPlus:
            return MaildirLayout::PlusPlus;
        case StoreKind::Verbatim:
            return MaildirLayout::Verbatim;
        case StoreKind::Legacy:
            return MaildirLayout::Legacy;
        case StoreKind::KMail:
            return MaildirLayout::KMail;
        default:
            return std::nullopt;
    }
}

StoreKind KindOf(MaildirLayout layout) {
    switch (layout) {
        case MaildirLayout::PlusPlus:
            return StoreKind::MaildirPlusPlus;
        case MaildirLayout::Verbatim:
            return StoreKind::Verbatim;
        case MaildirLayout::Legacy:
            return StoreKind::Legacy;
        case MaildirLayout::KMail:
            return StoreKind::KMail;
    }
    return StoreKind::MaildirPlusPlus;
}

}  // namespace

std::unique_ptr<StoreBackend> MakeStoreBackend(StoreKind kind, const std::string& root,
                                               const StoreBooks& books) {
    if (auto layout = LayoutOf(kind)) return std::make_unique<MaildirStore>(root, *layout, books);
    if (kind == StoreKind::Mbox) return std::make_unique<MboxStore>(root, books);
    if (kind == StoreKind::ThunderbirdMaildir)
        return std::make_unique<ThunderbirdMaildirStore>(root, books);
    if (kind == StoreKind::Imap) return std::make_unique<ImapStore>(root, books);
    return nullptr;
}

std::optional<StoreKind> DetectKind(const std::string& root) {
    if (IsImapUrl(root)) return StoreKind::Imap;
    // Thunderbird's stores first: a Thunderbird maildir folder is a maildir too.
    if (HoldsThunderbirdMaildirFolders(root)) return StoreKind::ThunderbirdMaildir;
    auto signs = ReadMaildirSigns(root);
    if (signs.maildir || signs.dotted) return StoreKind::MaildirPlusPlus;
    if (!signs.nested && HoldsMboxFolders(root)) return StoreKind::Mbox;
    if (auto layout = DetectMaildirLayout(root)) return KindOf(*layout);
    return std::nullopt;
}

}  // namespace tindale::store
