#include "restore/RecordTree.h"

#include <map>

#include "archive/ArchiveReader.h"
#include "archive/Seal.h"
#include "base/Text.h"

std::string RecordTree::Entry::Path() const {
    std::string path = tindale::text::ToUtf8(record.DisplayName());
    for (const Entry* p = parent; p; p = p->parent)
        path = tindale::text::ToUtf8(p->record.DisplayName()) + "/" + path;
    return path;
}

RecordTree RecordTree::Load(const std::string& archivePath) {
    RecordTree tree;
    ArchiveReader reader;
    if (reader.Open(archivePath) != ArchiveReader::OpenStatus::Readable) return tree;
    tree.readable = true;
    std::map<tindale::Guid, Entry*> byGuid;
    tree.sealed = reader.Header().Sealed();
    for (; !reader.AtEnd(); reader.Advance()) {
        if (reader.Record().TypeGuid() == kSealClosingType) continue;  // nothing to restore
        auto entry = std::make_unique<Entry>();
        entry->record = reader.Record();
        entry->payloadLength = reader.PayloadLength();
        auto parent = byGuid.find(entry->record.ParentGuid());
        if (!entry->record.ParentGuid().IsZero() && parent != byGuid.end()) {
            entry->parent = parent->second;
            parent->second->children.push_back(entry.get());
        } else {
            tree.roots.push_back(entry.get());
        }
        byGuid.emplace(entry->record.InstanceGuid(), entry.get());
        tree.entries.push_back(std::move(entry));
    }
    tree.complete = reader.Reason() == ArchiveReader::EndReason::CleanEnd;
    return tree;
}

const RecordTree::Entry* RecordTree::Find(const std::string& path) const {
    for (const auto& e : entries)
        if (e->Path() == path) return e.get();
    return nullptr;
}

std::vector<v::NodeRecord> RecordTree::Selection(const Entry& chosen) {
    std::vector<v::NodeRecord> out{chosen.record};
    for (const Entry* child : chosen.children) out.push_back(child->record);
    return out;
}
