#pragma once
// Which identity here receives each archived identity's mail when none was chosen: the one
// with its id, else the one with its name (after the programs' settings restored so far have
// had their stores registered), else the identity made again with its store of the same kind
// where it was, else the current identity (said once), else a new "Main Identity".
#include <map>
#include <optional>
#include <string>

#include "restore/MailSources.h"

class IdentityMap {
  public:
    // The identity here for an archived one (none: the archive did not say whose it is).
    std::u16string For(const MailSources::Identity* archived);

  private:
    std::u16string Map(const MailSources::Identity& archived);
    std::optional<std::u16string> MadeAgain(const v::IdentityRecord& said);
    std::u16string Current(const std::u16string& name);
    std::u16string Default();

    bool storesLookedFor_ = false;
    std::optional<std::u16string> madeDefault_;
    std::map<tindale::Guid, std::u16string> mapped_;
};
