#include "restore/RecordTree.h"

#include <map>
#include <vector>

#include "archive/ArchiveReader.h"
#include "archive/RecordScanner.h"
#include "archive/Seal.h"
#include "base/Text.h"

// Names collected going up, joined once: linear in the depth (prepending each one would
// copy the path at every level).
std::string RecordTree::Entry::Path() const {
    std::vector<std::string> names;
    for (const Entry* e = this; e; e = e->parent)
        names.push_back(tindale::text::ToUtf8(e->record.DisplayName()));
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (it != names.rbegin()) path += '/';
        path += *it;
    }
    return path;
}

RecordTree RecordTree::Load(const std::string& archivePath, std::stop_token stop) {
    RecordTree tree;
    ArchiveReader reader;  // the header, checked as every job checks it
    if (reader.Open(archivePath) != ArchiveReader::OpenStatus::Readable) return tree;
    tree.readable = true;
    std::map<tindale::Guid, std::pair<Entry*, size_t>> byGuid;  // with its depth
    tree.sealed = reader.Header().Sealed();
    v::FileStream file(ArchiveReader::OpenArchiveFd(archivePath));
    RecordScanner scan(file.Fd(), reader.FileSize(), tree.sealed);
    while (!stop.stop_requested() && scan.Next()) {
        if (IsSealRecord(scan.Record().TypeGuid())) continue;  // nothing to restore
        auto entry = std::make_unique<Entry>();
        entry->record = scan.Record();
        entry->payloadLength = entry->record.PayloadLength();
        auto parent = byGuid.find(entry->record.ParentGuid());
        size_t depth = 1;
        if (!entry->record.ParentGuid().IsZero() && parent != byGuid.end()) {
            depth = parent->second.second + 1;
            if (depth > kMaxNesting) {
                tree.tooDeep = true;
                break;
            }
            entry->parent = parent->second.first;
            parent->second.first->children.push_back(entry.get());
        } else {
            tree.roots.push_back(entry.get());
        }
        byGuid.emplace(entry->record.InstanceGuid(), std::pair{entry.get(), depth});
        tree.entries.push_back(std::move(entry));
    }
    tree.complete = !tree.tooDeep && scan.Reason() == ArchiveReader::EndReason::CleanEnd;
    return tree;
}

std::optional<std::string> RecordPaths::Of(const v::NodeRecord& rec) {
    std::string name = tindale::text::ToUtf8(rec.DisplayName());
    auto parent =
        rec.ParentGuid().IsZero() ? containers_.end() : containers_.find(rec.ParentGuid());
    bool top = parent == containers_.end();
    size_t depth = top ? 1 : parent->second.depth + 1;
    if (depth > kMaxNesting) return std::nullopt;
    std::string path = top ? name : parent->second.path + "/" + name;
    if (path.size() > kMaxPathBytes) return std::nullopt;
    if (rec.IsContainer()) containers_[rec.InstanceGuid()] = {path, depth};
    return path;
}

std::string RecordPaths::ParentOf(const v::NodeRecord& rec) const {
    auto parent =
        rec.ParentGuid().IsZero() ? containers_.end() : containers_.find(rec.ParentGuid());
    return parent == containers_.end() ? std::string() : parent->second.path;
}

RecordTree::Summary RecordTree::Walk(const std::string& archivePath, const Visit& visit,
                                     std::stop_token stop) {
    Summary summary;
    ArchiveReader reader;  // the header, checked as every job checks it
    if (reader.Open(archivePath) != ArchiveReader::OpenStatus::Readable) return summary;
    summary.readable = true;
    summary.sealed = reader.Header().Sealed();
    v::FileStream file(ArchiveReader::OpenArchiveFd(archivePath));
    RecordScanner scan(file.Fd(), reader.FileSize(), summary.sealed);
    RecordPaths paths;
    while (!stop.stop_requested() && scan.Next()) {
        const v::NodeRecord& rec = scan.Record();
        if (IsSealRecord(rec.TypeGuid())) continue;
        ++summary.records;
        summary.anyEncrypted = summary.anyEncrypted || rec.Encrypted();
        auto path = paths.Of(rec);
        if (!path) {
            summary.tooDeep = true;
            break;
        }
        visit(rec, rec.PayloadLength(), *path, scan.Offset());
    }
    summary.complete = !summary.tooDeep && scan.Reason() == ArchiveReader::EndReason::CleanEnd;
    return summary;
}

const RecordTree::Entry* RecordTree::Find(const std::string& path) const {
    for (const auto& e : entries) {
        // Only an entry whose own name ends the path can be it: most are passed over cheaply.
        std::string name = tindale::text::ToUtf8(e->record.DisplayName());
        if (path.size() < name.size() ||
            path.compare(path.size() - name.size(), name.size(), name) != 0)
            continue;
        if (e->Path() == path) return e.get();
    }
    return nullptr;
}

std::vector<v::NodeRecord> RecordTree::Selection(const Entry& chosen) {
    std::vector<v::NodeRecord> out;
    std::vector<const Entry*> pending{&chosen};
    while (!pending.empty()) {
        const Entry* at = pending.back();
        pending.pop_back();
        out.push_back(at->record);
        for (auto it = at->children.rbegin(); it != at->children.rend(); ++it)
            pending.push_back(*it);
    }
    return out;
}
