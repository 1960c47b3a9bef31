#include "restore/IdentityMap.h"

#include <algorithm>
#include <filesystem>

#include "base/AtomicFile.h"
#include "base/Text.h"
#include "base/WriteQueue.h"
#include "model/MessageNodes.h"
#include "model/Outcome.h"
#include "platform/Identities.h"
#include "platform/ShellFolders.h"
#include "platform/StoreDiscovery.h"
#include "platform/stores/imap/ImapAccount.h"

using namespace tindale;

namespace {

// Makes the programs' files restored so far land on disk, then registers the mail stores
// they name: a Thunderbird profile restored into a new home receives its own mail.
void FindRestoredStores() {
    if (auto* queue = durable::CurrentWriteQueue()) queue->Drain();
    if (auto* batch = durable::CurrentBatch()) batch->Flush();
    identities::RegisterLocalStores();
}

bool IsEmptyOrMissing(const std::string& folder) {
    std::error_code ec;
    return !std::filesystem::exists(folder, ec) || std::filesystem::is_empty(folder, ec);
}

}  // namespace

std::u16string IdentityMap::For(const MailSources::Identity* archived) {
    if (!storesLookedFor_) {
        storesLookedFor_ = true;
        FindRestoredStores();
    }
    if (!archived) return Current(u"");
    auto known = mapped_.find(archived->record);
    if (known != mapped_.end()) return known->second;
    return mapped_[archived->record] = Map(*archived);
}

std::u16string IdentityMap::Map(const MailSources::Identity& archived) {
    if (auto chosen = chosen_.find(archived.name); chosen != chosen_.end())
        if (auto identity = identities::Find(chosen->second)) return identity->id;
    auto here = identities::List();
    if (archived.said && !archived.said->id.empty())
        for (const auto& identity : here)
            if (text::EqualsNoCase(identity.id, archived.said->id)) return identity.id;
    for (const auto& identity : here)
        if (!archived.name.empty() && identity.name == archived.name) return identity.id;
    if (archived.said)
        if (auto made = MadeAgain(*archived.said)) return *made;
    return Current(archived.name);
}

// Registers the archived identity again where its store was, when that folder is free (or
// already holds a store of the same kind that no identity names).
std::optional<std::u16string> IdentityMap::MadeAgain(const v::IdentityRecord& said) {
    if (said.name.empty() || said.storedRoot.empty()) return std::nullopt;
    if (said.kind == store::StoreKind::Imap) return MadeAgainOnServer(said);
    auto root = shell::ExpandArchivePath(said.storedRoot);
    if (!root) return std::nullopt;
    if (!IsEmptyOrMissing(*root) && store::DetectKind(*root) != said.kind) return std::nullopt;
    std::error_code ec;
    std::filesystem::create_directories(*root, ec);  // the store makes its own layout inside
    auto id = identities::Add(said.name, *root, said.kind);
    if (id)
        v::ReportNote("the identity \"" + text::ToUtf8(said.name) + "\" was made again, with its " +
                      store::KindName(said.kind) + " store at " + *root);
    return id;
}

// An IMAP account is registered again as the account it was (its mail goes back to its
// server, where a message already there is not added twice).
std::optional<std::u16string> IdentityMap::MadeAgainOnServer(const v::IdentityRecord& said) {
    auto account = store::ImapAccount::Parse(text::ToUtf8(said.storedRoot));
    if (!account) return std::nullopt;
    auto id = identities::Add(said.name, account->Url(), store::StoreKind::Imap);
    if (id)
        v::ReportNote("the identity \"" + text::ToUtf8(said.name) +
                      "\" was made again, as the IMAP account " + account->Url());
    return id;
}

std::u16string IdentityMap::Current(const std::u16string& name) {
    auto current = identities::Current().value_or(u"");
    if (current.empty()) return Default();
    if (!name.empty()) {
        auto found = identities::Find(current);
        v::ReportNote("no identity here is named \"" + text::ToUtf8(name) +
                      "\": its mail went to \"" + text::ToUtf8(found ? found->name : current) +
                      "\" (choose another with --identity, or on the restore page)");
    }
    return current;
}

// Where mail goes that has no identity of its own here and no current identity: a new
// default identity, made once and named.
std::u16string IdentityMap::Default() {
    if (!madeDefault_) {
        madeDefault_ = identities::CreateDefaultIdentity().value_or(u"");
        if (!madeDefault_->empty())
            v::ReportNote(
                "the messages were restored into a new identity, \"Main Identity\", "
                "with its store at ~/Maildir");
    }
    return *madeDefault_;
}

std::vector<IdentityPair> PairIdentitiesByName(
    const std::vector<v::NodeRecord>& records,
    const std::map<std::u16string, std::u16string>& chosen) {
    std::vector<IdentityPair> pairs;
    auto here = identities::List();
    for (const auto& rec : records) {
        if (rec.TypeGuid() != v::MsgStoreIden::kTypeGuid) continue;
        IdentityPair pair{rec.DisplayName(), std::nullopt};
        if (auto choice = chosen.find(pair.archived); choice != chosen.end())
            pair.here = identities::Find(choice->second);
        for (const auto& identity : here)
            if (!pair.here && identity.name == pair.archived) pair.here = identity;
        pairs.push_back(std::move(pair));
    }
    return pairs;
}

std::vector<identities::Identity> ReceivingIdentities(
    const std::vector<v::NodeRecord>& records,
    const std::map<std::u16string, std::u16string>& chosen) {
    std::vector<identities::Identity> out;
    for (auto& pair : PairIdentitiesByName(records, chosen))
        if (pair.here && std::none_of(out.begin(), out.end(),
                                      [&](const auto& i) { return i.id == pair.here->id; }))
            out.push_back(*pair.here);
    return out;
}
