#include "platform/stores/common/MessageIndex.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "platform/stores/StoreBooks.h"

namespace tindale::store {

namespace {
// Where an earlier version kept a maildir's ids: inside the maildir.
constexpr const char* kLegacyIds = ".tindale-uids";
}  // namespace

void ForEachMessageFile(const std::string& dir, const std::function<void(const char*)>& visit,
                        const std::function<void(const char*)>& link) {
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            unsigned char type = e->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st {};
                if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
            }
            // A link is never a message of the store: it may lead anywhere (/etc/shadow).
            if (type == DT_LNK) {
                if (link) link(e->d_name);
            } else if (type != DT_DIR) {
                visit(e->d_name);
            }
        }
        ::closedir(d);
    }
}

std::vector<std::string> ListMessageFiles(const std::string& dir) {
    std::vector<std::string> names;
    ForEachMessageFile(dir, [&](const char* name) { names.emplace_back(name); });
    return names;
}

namespace {

// "cur/NAME" split into its folder, its name and the name's unique part.
struct FileName {
    std::string_view sub, name, unique;
    explicit FileName(std::string_view relative)
        : sub(relative.substr(0, 3)),
          name(relative.substr(4)),
          unique(name.substr(0, name.find(':'))) {}
    bool operator<(const FileName& o) const {
        return std::tie(unique, sub, name) < std::tie(o.unique, o.sub, o.name);
    }
};

}  // namespace

void MessageIndex::Load() {
    Save();  // ids given out since the last load stay theirs
    links_.clear();
    MessageFiles found;
    for (const char* sub : {"cur", "new"}) {
        std::string prefix = std::string(sub) + "/";
        ForEachMessageFile(
            dir_ + "/" + sub, [&](const char* name) { found.Append(prefix + name); },
            [&](const char* name) { links_.push_back(prefix + name); });
    }
    // Sorted, so that when two files share a unique part the same one keeps the plain key.
    auto& entries = found.Pending();
    std::sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
        return FileName(found.PathAt(a)) < FileName(found.PathAt(b));
    });
    FileLock lock(lockPath_);
    if (!loaded_) TakeOverLegacyIds(dir_ + "/" + kLegacyIds, idsPath_);
    ids_ = IdMap::Load(idsPath_);
    size_t before = ids_.Size();
    uint64_t nextBefore = ids_.Next();
    std::string_view previousUnique;
    for (auto& entry : entries) {
        std::string_view relative = found.PathAt(entry);
        FileName file(relative);
        // The unique part is taken by the file before: this one is keyed by its path.
        entry.id = ids_.Assign(file.unique == previousUnique ? relative : file.unique);
        previousUnique = file.unique;
    }
    found.SortById();
    files_ = std::move(found);
    loaded_ = true;
    // Each id names one key, so a key whose id no listed file got names a file that is gone.
    bool pruned =
        ids_.Retain([&](std::string_view, uint32_t id) { return files_.Find(id).has_value(); });
    dirty_ = false;
    if (pruned || ids_.Size() != before || ids_.Next() != nextBefore)
        ids_.Save(idsPath_);  // a failure here only costs a repair next time
}

std::optional<std::string> MessageIndex::PathOf(uint32_t id) const {
    auto file = files_.Find(id);
    if (!file) return std::nullopt;
    return dir_ + "/" + std::string(*file);
}

std::optional<std::string> MessageIndex::FileNamed(std::string_view unique) const {
    auto id = ids_.Find(unique);
    if (!id) return std::nullopt;
    auto file = files_.Find(*id);
    if (!file || FileName(*file).unique != unique) return std::nullopt;
    return std::string(*file);
}

uint32_t MessageIndex::Add(const std::string& relative) {
    std::string_view key = FileName(relative).unique;
    if (auto known = ids_.Find(key)) {
        if (files_.Find(*known) == std::string_view(relative)) return *known;
        key = relative;
    }
    uint32_t id = ids_.Assign(key);
    files_.Set(id, relative);
    dirty_ = true;
    return id;
}

// A file's key in the id map: the unique part of its name, or (when another file holds that)
// its whole relative path. Worked out from the name rather than kept, which for a folder of
// many messages would cost as much memory as the names themselves.
std::optional<std::string> MessageIndex::KeyOf(uint32_t id) const {
    auto file = files_.Find(id);
    if (!file) return std::nullopt;
    std::string_view unique = FileName(*file).unique;
    if (ids_.Find(unique) == id) return std::string(unique);
    if (ids_.Find(*file) == id) return std::string(*file);
    return std::nullopt;
}

void MessageIndex::Remove(uint32_t id) {
    if (auto key = KeyOf(id)) ids_.Erase(*key);
    if (files_.Erase(id)) dirty_ = true;
}

void MessageIndex::Moved(uint32_t id, const std::string& relative) {
    auto file = files_.Find(id);
    if (!file) return;
    // A file keyed by its whole path keeps its id under the new path.
    if (auto key = KeyOf(id); key && *key == *file) {
        ids_.Rename(*key, relative);
        dirty_ = true;
    }
    files_.Set(id, relative);
}

int MessageIndex::Save() {
    if (!dirty_) return 0;
    FileLock lock(lockPath_);
    ids_.MergeFrom(IdMap::Load(idsPath_));
    int error = ids_.Save(idsPath_);
    if (error == 0) dirty_ = false;
    return error;
}

}  // namespace tindale::store
