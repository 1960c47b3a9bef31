#include "restore/MailSources.h"

#include "model/MessageNodes.h"

bool MailSources::NeedsPayload(const v::NodeRecord& record) {
    return record.TypeGuid() == v::MsgStoreIden::kTypeGuid && record.PayloadLength() <= 65536;
}

const MailSources::Folder* MailSources::Find(const tindale::Guid& guid) const {
    auto it = folders_.find(guid);
    return it == folders_.end() ? nullptr : &it->second;
}

void MailSources::Observe(const v::NodeRecord& record, const std::vector<uint8_t>* payload) {
    if (record.TypeGuid() == v::MsgStoreIden::kTypeGuid) {
        folders_[record.InstanceGuid()] = {u"", record.InstanceGuid()};
        identities_[record.InstanceGuid()] = {
            record.InstanceGuid(), record.DisplayName(),
            payload ? v::IdentityRecord::Decode(*payload) : std::nullopt};
    } else if (record.TypeGuid() == v::MsgFolder::kTypeGuid) {
        const Folder* parent = Find(record.ParentGuid());
        if (!parent) return;  // its identity was not backed up with it
        std::u16string path = parent->path.empty() ? record.DisplayName()
                                                   : parent->path + u"\\" + record.DisplayName();
        folders_[record.InstanceGuid()] = {std::move(path), parent->identity};
    }
}

std::optional<std::u16string> MailSources::FolderPath(const v::NodeRecord& record) const {
    const Folder* folder = Find(record.InstanceGuid());
    if (!folder || record.TypeGuid() != v::MsgFolder::kTypeGuid) return std::nullopt;
    return folder->path;
}

const MailSources::Identity* MailSources::IdentityOf(const v::NodeRecord& record) const {
    const Folder* own = Find(record.InstanceGuid());
    const Folder* folder = own ? own : Find(record.ParentGuid());
    if (!folder) return nullptr;
    auto it = identities_.find(folder->identity);
    return it == identities_.end() ? nullptr : &it->second;
}
