#include "platform/stores/thunderbird/FolderTree.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "base/Text.h"

namespace tindale::store {

namespace {

constexpr const char* kLinkNotFollowed =
    "a link: it was not followed (a store's messages and folders are never read through one)";

std::string Join(const std::string& dir, const std::string& name) {
    return dir.empty() ? name : dir + "/" + name;
}

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(std::move(name));
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void ListLevel(const std::string& root, const std::string& place,
               const std::vector<std::u16string>& parentPath, const IsFolderEntry& isFolder,
               std::vector<FolderEntry>& found, std::vector<Unmapped>& unmapped) {
    auto names = Entries(Join(root, place));
    std::vector<std::string> folders;
    for (const auto& name : names) {
        std::string full = Join(root, Join(place, name));
        if (name.size() > 4 && name.ends_with(".sbd") && IsRealDirectory(full)) {
            std::string folder = name.substr(0, name.size() - 4);
            if (!std::binary_search(names.begin(), names.end(), folder)) folders.push_back(folder);
        } else if (!IsThunderbirdCompanion(name)) {
            struct stat st {};
            if (::lstat(full.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
                unmapped.push_back({Join(place, name), kLinkNotFollowed});
                continue;
            }
            auto verdict = isFolder(full, name);
            if (verdict.folder)
                folders.push_back(name);
            else if (!verdict.leftOutBecause.empty())
                unmapped.push_back({Join(place, name), verdict.leftOutBecause});
        }
    }
    std::sort(folders.begin(), folders.end());
    for (const auto& name : folders) {
        std::string dir = Join(place, name);
        if (text::ToUtf8(text::ToUtf16(name)) != name || name.find('\\') != std::string::npos) {
            unmapped.push_back({dir,
                                "its name cannot be a folder name in an archive (not UTF-8, "
                                "or a backslash)"});
            continue;
        }
        std::vector<std::u16string> path = parentPath;
        path.push_back(text::ToUtf16(name));
        if (path.size() == 1 && text::EqualsNoCase(path[0], u"inbox")) path[0] = u"Inbox";
        found.push_back({path, dir});
        std::string children = dir + ".sbd";
        if (IsRealDirectory(Join(root, children)))
            ListLevel(root, children, path, isFolder, found, unmapped);
    }
}

}  // namespace

bool IsRealDirectory(const std::string& path) {
    struct stat st {};
    // Not following links: a link back up the tree would make the walk endless.
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsThunderbirdCompanion(const std::string& name) {
    for (const char* suffix : {".msf", ".dat", ".html", ".json", ".js", ".sqlite", ".snm", ".toc",
                               ".rdf", ".tindale-new"})
        if (name.ends_with(suffix)) return true;
    return name.empty() || name[0] == '.';
}

std::vector<FolderEntry> ListThunderbirdFolders(const std::string& root,
                                                const IsFolderEntry& isFolder,
                                                std::vector<Unmapped>& unmapped) {
    std::vector<FolderEntry> found;
    ListLevel(root, "", {}, isFolder, found, unmapped);
    return found;
}

std::optional<std::string> ThunderbirdChildPath(const std::string& parentDir,
                                                std::u16string_view name) {
    std::string utf8 = text::ToUtf8(name);
    if (utf8.empty() || utf8[0] == '.' || utf8.find('/') != std::string::npos) return std::nullopt;
    bool top = parentDir.empty();
    if (top && text::EqualsNoCase(name, u"inbox")) utf8 = "Inbox";
    if (IsThunderbirdCompanion(utf8) || utf8.ends_with(".sbd")) return std::nullopt;
    return top ? utf8 : parentDir + ".sbd/" + utf8;
}

}  // namespace tindale::store
