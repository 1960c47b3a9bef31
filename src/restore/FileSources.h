#pragma once
// Which file source each record of an archive belongs to, learnt as the restore walks the
// archive: a source's root record (My Documents, Contacts, the address-book folder,
// Favorites) says which of the restoring person's folders its items go back to, and every
// record below it inherits that. Records of no known source get no root and are refused.
#include <map>
#include <optional>
#include <vector>

#include "archive/NodeRecord.h"
#include "model/FileNodes.h"

class FileSources {
  public:
    // Whether a record is a source's root whose payload names its stored folder.
    static bool NeedsPayload(const v::NodeRecord& record);
    // Notes a record; `payload` is the decoded payload of a root that NeedsPayload.
    void Observe(const v::NodeRecord& record, const std::vector<uint8_t>* payload = nullptr);
    std::optional<v::FileRestoreRoot> RootFor(const v::NodeRecord& record) const;

  private:
    std::vector<std::optional<v::FileRestoreRoot>> roots_;
    std::map<tindale::Guid, size_t> sourceOf_;  // instance GUID -> index into roots_
};
