#pragma once
// The mail side of an archive's records, learnt as a restore walks them: each mail folder's
// path and the identity (by its name in the archive) it came from. Empty folders are made
// again from their records, and when no destination identity was chosen each identity's
// mail goes to the identity of the same name. Only folders are remembered, not messages, so
// memory stays small however many messages the archive holds.
#include <map>
#include <optional>
#include <string>

#include "archive/NodeRecord.h"
#include "base/Guid.h"

class MailSources {
  public:
    void Observe(const v::NodeRecord& record);
    // The folder path ("Inbox\\Sub") of a mail folder record.
    std::optional<std::u16string> FolderPath(const v::NodeRecord& record) const;
    // The name, in the archive, of the identity a mail folder or message record belongs to.
    std::u16string IdentityName(const v::NodeRecord& record) const;

  private:
    struct Folder {
        std::u16string path;
        std::u16string identityName;
    };
    const Folder* Find(const tindale::Guid& guid) const;
    std::map<tindale::Guid, Folder> folders_;  // identity and folder records
};
