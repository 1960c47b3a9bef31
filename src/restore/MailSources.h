#pragma once
// The mail side of an archive's records, learnt as a restore walks them: each mail folder's
// path and the identity it came from (its name, and, from newer archives, its id and where
// its store was). Empty folders are made again from their records, and when no destination
// identity was chosen each identity's mail goes to its own identity here. Only folders are
// remembered, not messages, so memory stays small however many messages the archive holds.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "archive/NodeRecord.h"
#include "base/Guid.h"
#include "model/IdentityRecord.h"

class MailSources {
  public:
    // Whether a record's payload says what Observe needs (an identity's record).
    static bool NeedsPayload(const v::NodeRecord& record);
    void Observe(const v::NodeRecord& record, const std::vector<uint8_t>* payload = nullptr);
    // The folder path ("Inbox\\Sub") of a mail folder record.
    std::optional<std::u16string> FolderPath(const v::NodeRecord& record) const;

    // The identity, in the archive, that a mail folder or message record belongs to.
    struct Identity {
        tindale::Guid record;  // its record's instance GUID
        std::u16string name;
        std::optional<v::IdentityRecord> said;  // what its record says, from newer archives
    };
    const Identity* IdentityOf(const v::NodeRecord& record) const;

  private:
    struct Folder {
        std::u16string path;
        tindale::Guid identity;
    };
    const Folder* Find(const tindale::Guid& guid) const;
    std::map<tindale::Guid, Folder> folders_;  // identity and folder records
    std::map<tindale::Guid, Identity> identities_;
};
