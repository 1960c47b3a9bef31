#pragma once
// Which identity here receives each archived identity's mail when none was chosen: the one
// with its id, else the one with its name (after the programs' settings restored so far have
// had their stores registered), else the identity made again with its store of the same kind
// where it was, else the current identity (said once), else a new "Main Identity". The
// person may choose another identity here for any of them.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "archive/NodeRecord.h"
#include "platform/Identities.h"

#include "restore/MailSources.h"

class IdentityMap {
  public:
    // The identities the person chose for archived identities (by name), taken first.
    void Choose(std::map<std::u16string, std::u16string> chosen) { chosen_ = std::move(chosen); }
    // The identity here for an archived one (none: the archive did not say whose it is).
    std::u16string For(const MailSources::Identity* archived);

  private:
    std::u16string Map(const MailSources::Identity& archived);
    std::optional<std::u16string> MadeAgain(const v::IdentityRecord& said);
    std::optional<std::u16string> MadeAgainOnServer(const v::IdentityRecord& said);
    std::u16string Current(const std::u16string& name);
    std::u16string Default();

    bool storesLookedFor_ = false;
    std::optional<std::u16string> madeDefault_;
    std::map<tindale::Guid, std::u16string> mapped_;
    std::map<std::u16string, std::u16string> chosen_;
};

// Where each archived identity among `records` goes, as far as names tell before a restore:
// the identity here of the same name, or none (it will be made again). Identity records in
// archive order; other records are passed over.
struct IdentityPair {
    std::u16string archived;
    std::optional<tindale::identities::Identity> here;
};
// An identity the person chose for an archived one (`chosen`, by name) is taken first.
std::vector<IdentityPair> PairIdentitiesByName(
    const std::vector<v::NodeRecord>& records,
    const std::map<std::u16string, std::u16string>& chosen = {});
// The identities here that receive mail by those pairs: what "Delete all messages" empties
// when each identity goes to its own.
std::vector<tindale::identities::Identity> ReceivingIdentities(
    const std::vector<v::NodeRecord>& records,
    const std::map<std::u16string, std::u16string>& chosen = {});
