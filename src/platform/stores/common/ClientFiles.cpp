#include "platform/stores/common/ClientFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "base/AtomicFile.h"
#include "platform/stores/common/MessageFile.h"

namespace tindale::store {

namespace {

struct Known {
    std::string_view name;
    ClientFileRole role;
    bool prefix = false;
};

constexpr Known kKnown[] = {
    {".mbsyncstate", ClientFileRole::SyncState},
    {".mbsyncstate.journal", ClientFileRole::SyncState},
    {".uidvalidity", ClientFileRole::Table},
    {".isyncuidmap.db", ClientFileRole::Table},
    {"dovecot-uidlist", ClientFileRole::Table},
    {"dovecot-keywords", ClientFileRole::Table},
    {"dovecot-uidvalidity", ClientFileRole::Table},
    {"dovecot-uidvalidity.", ClientFileRole::Table, true},
    {"courierimapuiddb", ClientFileRole::Table},
    {"subscriptions", ClientFileRole::Subscriptions},
    {"courierimapsubscribed", ClientFileRole::Subscriptions},
};

bool IsRegularFile(int dirFd, const char* name) {
    struct stat st {};
    return ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

// A file made whole beside `target` and linked into place only when `target` does not exist.
int CreateOnly(const std::string& target, std::string_view content) {
    std::string temp = target + ".tindale-new";
    ::unlink(temp.c_str());
    if (int error = durable::ReplaceFileContents(temp, content)) return error;
    int error = ::link(temp.c_str(), target.c_str()) == 0 ? 0 : errno;
    ::unlink(temp.c_str());
    if (error == 0) durable::SyncParentDirectory(target);
    return error;
}

}  // namespace

std::optional<ClientFileRole> ClientFileRoleOf(std::string_view name) {
    for (const auto& known : kKnown) {
        if (known.prefix ? name.size() > known.name.size() && name.starts_with(known.name)
                         : name == known.name)
            return known.role;
    }
    return std::nullopt;
}

std::vector<std::string> ListClientFiles(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = ::readdir(d)) {
        std::string_view name = e->d_name;
        if (name.find('/') == std::string_view::npos && ClientFileRoleOf(name) &&
            IsRegularFile(::dirfd(d), e->d_name))
            names.emplace_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string MergeSubscriptions(std::string_view existing, std::string_view added) {
    std::string header;  // Dovecot's list starts "V\t2" and an empty line
    std::vector<std::string_view> names;
    std::set<std::string_view> seen;
    for (auto text : {existing, added}) {
        auto lines = Lines(text);
        for (size_t i = 0; i < lines.size(); ++i) {
            if (i == 0 && lines[i].starts_with("V\t")) {
                if (header.empty()) header = std::string(lines[i]) + "\n\n";
            } else if (!lines[i].empty() && seen.insert(lines[i]).second) {
                names.push_back(lines[i]);
            }
        }
    }
    std::string out = header;
    for (auto name : names) out.append(name).push_back('\n');
    return out;
}

int PutClientFile(const std::string& dir, const std::string& name, std::string_view content) {
    auto role = ClientFileRoleOf(name);
    if (!role || name.find('/') != std::string::npos) return EINVAL;
    std::string target = dir + "/" + name;
    if (*role != ClientFileRole::Subscriptions) return CreateOnly(target, content);
    auto read = ReadRegularFile(target);
    if (!read && errno != ENOENT) return errno;
    std::string existing = read.value_or("");
    std::string merged = MergeSubscriptions(existing, content);
    if (merged == existing) return 0;
    return durable::ReplaceFileContents(target, merged);
}

}  // namespace tindale::store
