#include "platform/MessageIndex.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <tuple>
#include <unordered_set>
#include <vector>

namespace tindale::store {

namespace {
constexpr const char* kUidList = ".tindale-uids";
constexpr const char* kLockFile = ".tindale-lock";

std::string UniquePart(const std::string& name) {
    return name.substr(0, name.find(':'));
}
}  // namespace

DirLock::DirLock(const std::string& dir)
    : fd_(::open((dir + "/" + kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
}

DirLock::~DirLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

std::vector<std::string> ListMessageFiles(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.' && e->d_type != DT_DIR) names.emplace_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

void MessageIndex::Load() {
    Save();  // ids given out since the last load stay theirs
    struct Found {
        std::string unique, sub, name;
    };
    std::vector<Found> found;
    for (const char* sub : {"cur", "new"})
        for (auto& name : ListMessageFiles(dir_ + "/" + sub))
            found.push_back({UniquePart(name), sub, std::move(name)});
    // Sorted, so that when two files share a unique part the same one keeps the plain key.
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return std::tie(a.unique, a.sub, a.name) < std::tie(b.unique, b.sub, b.name);
    });
    DirLock lock(dir_);
    ids_ = IdMap::Load(dir_ + "/" + kUidList);
    files_.clear();
    size_t before = ids_.Size();
    uint64_t nextBefore = ids_.Next();
    std::unordered_set<std::string> present;
    for (const auto& f : found) {
        std::string relative = f.sub + "/" + f.name;
        std::string key = present.count(f.unique) ? relative : f.unique;
        present.insert(key);
        uint32_t id = ids_.Assign(key);
        files_[id] = relative;
    }
    loaded_ = true;
    bool pruned = ids_.Retain([&](const std::string& key) { return present.count(key) > 0; });
    dirty_ = false;
    if (pruned || ids_.Size() != before || ids_.Next() != nextBefore)
        ids_.Save(dir_ + "/" + kUidList);  // a failure here only costs a repair next time
}

std::optional<std::string> MessageIndex::PathOf(uint32_t id) const {
    auto it = files_.find(id);
    if (it == files_.end()) return std::nullopt;
    return dir_ + "/" + it->second;
}

uint32_t MessageIndex::Add(const std::string& relative) {
    std::string name = relative.substr(relative.find('/') + 1);
    std::string key = UniquePart(name);
    if (auto known = ids_.Find(key)) {
        if (files_.count(*known) && files_[*known] == relative) return *known;
        key = relative;
    }
    uint32_t id = ids_.Assign(key);
    files_[id] = relative;
    dirty_ = true;
    return id;
}

// A file's key in the id map: the unique part of its name, or (when another file holds that)
// its whole relative path. Worked out from the name rather than kept, which for a folder of
// many messages would cost as much memory as the names themselves.
std::optional<std::string> MessageIndex::KeyOf(uint32_t id) const {
    auto file = files_.find(id);
    if (file == files_.end()) return std::nullopt;
    std::string unique = UniquePart(file->second.substr(file->second.find('/') + 1));
    if (ids_.Find(unique) == id) return unique;
    if (ids_.Find(file->second) == id) return file->second;
    return std::nullopt;
}

void MessageIndex::Remove(uint32_t id) {
    if (auto key = KeyOf(id)) ids_.Erase(*key);
    if (files_.erase(id)) dirty_ = true;
}

void MessageIndex::Moved(uint32_t id, const std::string& relative) {
    auto file = files_.find(id);
    if (file == files_.end()) return;
    // A file keyed by its whole path keeps its id under the new path.
    if (auto key = KeyOf(id); key && *key == file->second) {
        ids_.Rename(*key, relative);
        dirty_ = true;
    }
    file->second = relative;
}

int MessageIndex::Save() {
    if (!dirty_) return 0;
    DirLock lock(dir_);
    ids_.MergeFrom(IdMap::Load(dir_ + "/" + kUidList));
    int error = ids_.Save(dir_ + "/" + kUidList);
    if (error == 0) dirty_ = false;
    return error;
}

}  // namespace tindale::store
