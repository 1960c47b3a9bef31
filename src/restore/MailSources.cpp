#include "restore/MailSources.h"

#include "model/MessageNodes.h"

const MailSources::Folder* MailSources::Find(const tindale::Guid& guid) const {
    auto it = folders_.find(guid);
    return it == folders_.end() ? nullptr : &it->second;
}

void MailSources::Observe(const v::NodeRecord& record) {
    if (record.TypeGuid() == v::MsgStoreIden::kTypeGuid) {
        folders_[record.InstanceGuid()] = {u"", record.DisplayName()};
    } else if (record.TypeGuid() == v::MsgFolder::kTypeGuid) {
        const Folder* parent = Find(record.ParentGuid());
        if (!parent) return;  // its identity was not backed up with it
        std::u16string path = parent->path.empty() ? record.DisplayName()
                                                   : parent->path + u"\\" + record.DisplayName();
        folders_[record.InstanceGuid()] = {std::move(path), parent->identityName};
    }
}

std::optional<std::u16string> MailSources::FolderPath(const v::NodeRecord& record) const {
    const Folder* folder = Find(record.InstanceGuid());
    if (!folder || record.TypeGuid() != v::MsgFolder::kTypeGuid) return std::nullopt;
    return folder->path;
}

std::u16string MailSources::IdentityName(const v::NodeRecord& record) const {
    const Folder* own = Find(record.InstanceGuid());
    const Folder* folder = own ? own : Find(record.ParentGuid());
    return folder ? folder->identityName : std::u16string();
}
