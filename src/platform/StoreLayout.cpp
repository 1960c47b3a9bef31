#include "platform/StoreLayout.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>

#include <algorithm>
#include <functional>

#include "base/Text.h"

namespace tindale::store {

namespace {

constexpr std::string_view kDirectorySuffix = ".directory";

bool IsRealDirectory(const std::string& path) {
    struct stat st {};
    // Not following links: a link back up the tree would make the walk endless.
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool HoldsMaildir(const std::string& dir) {
    return IsRealDirectory(dir + "/cur") && IsRealDirectory(dir + "/new");
}

std::vector<std::string> SubDirectories(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != ".." && IsRealDirectory(dir + "/" + name))
                names.push_back(std::move(name));
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool IsMaildirPart(const std::string& name) {
    return name == "cur" || name == "new" || name == "tmp";
}

// Files beside the mbox folders that are no folders (Thunderbird's own and ours).
bool IsMboxCompanion(const std::string& name) {
    for (const char* suffix : {".msf", ".dat", ".html", ".json", ".js", ".sqlite", ".snm", ".toc",
                               ".rdf", ".tindale-new"})
        if (name.ends_with(suffix)) return true;
    return name.empty() || name[0] == '.';
}

std::string Join(const std::string& dir, const std::string& name) {
    return dir.empty() ? name : dir + "/" + name;
}

std::string Parent(const std::string& dir) {
    auto slash = dir.rfind('/');
    return slash == std::string::npos ? std::string() : dir.substr(0, slash);
}

std::string Base(const std::string& dir) {
    auto slash = dir.rfind('/');
    return slash == std::string::npos ? dir : dir.substr(slash + 1);
}

// Where the subfolders of the folder at `dir` live.
std::string ChildrenPlace(StoreKind kind, const std::string& dir) {
    if (kind != StoreKind::KMail || dir.empty()) return dir;
    return Join(Parent(dir), "." + Base(dir) + std::string(kDirectorySuffix));
}

class NestedWalk {
  public:
    NestedWalk(const std::string& root, StoreKind kind, std::vector<SkippedDirectory>& skipped)
        : root_(root), kind_(kind), skipped_(skipped) {}

    std::vector<NestedFolder> Run() {
        Visit("", {});
        return std::move(found_);
    }

  private:
    // Lists the folders whose directories sit in `place`; true when any was found (so that
    // a directory holding folders counts as a folder itself).
    bool Visit(const std::string& place, const std::vector<std::u16string>& parentPath) {
        bool any = false;
        for (const auto& entry : SubDirectories(Join(root_, place))) {
            auto name = FolderNameOf(place, parentPath, entry);
            if (!name) continue;
            std::string dir = Join(place, entry);
            if (!Acceptable(*name, dir)) continue;
            std::vector<std::u16string> path = parentPath;
            path.push_back(text::ToUtf16(*name));
            if (path.size() == 1 && text::EqualsNoCase(path[0], u"inbox")) {
                if (inboxSeen_) {
                    skipped_.push_back({dir, "it would be a second Inbox beside " + inboxDir_});
                    continue;
                }
                inboxSeen_ = true;
                inboxDir_ = dir;
                path[0] = u"Inbox";
            }
            size_t at = found_.size();
            found_.push_back({path, dir});
            bool holds = HoldsMaildir(Join(root_, dir));
            bool below = Visit(ChildrenPlace(kind_, dir), path);
            if (!holds && !below) found_.erase(found_.begin() + long(at), found_.end());
            any = any || holds || below;
        }
        if (kind_ == StoreKind::KMail) any = VisitOrphanedDirectories(place, parentPath) || any;
        return any;
    }

    // The folder name a directory entry stands for in `place`, or none for an entry that is
    // no folder (a maildir's own parts, hidden files, a KMail ".X.directory").
    std::optional<std::string> FolderNameOf(const std::string& place,
                                            const std::vector<std::u16string>& parentPath,
                                            const std::string& entry) const {
        if (entry.rfind(".tindale", 0) == 0) return std::nullopt;
        bool inFolder = !parentPath.empty() && kind_ != StoreKind::KMail;
        if (inFolder && IsMaildirPart(entry)) return std::nullopt;
        if (kind_ == StoreKind::Legacy && inFolder) {
            if (entry.size() < 2 || entry[0] != '.') return std::nullopt;
            return entry.substr(1);
        }
        (void)place;
        if (entry[0] == '.') return std::nullopt;
        return entry;
    }

    // KMail keeps ".X.directory" even where the folder X itself is gone: its subfolders
    // still count, below a folder X without messages.
    bool VisitOrphanedDirectories(const std::string& place,
                                  const std::vector<std::u16string>& parentPath) {
        bool any = false;
        for (const auto& entry : SubDirectories(Join(root_, place))) {
            if (entry.size() <= kDirectorySuffix.size() + 1 || entry[0] != '.' ||
                !entry.ends_with(kDirectorySuffix))
                continue;
            std::string name = entry.substr(1, entry.size() - 1 - kDirectorySuffix.size());
            if (IsRealDirectory(Join(root_, Join(place, name)))) continue;  // seen as a folder
            std::string dir = Join(place, name);
            if (!Acceptable(name, dir)) continue;
            std::vector<std::u16string> path = parentPath;
            path.push_back(text::ToUtf16(name));
            size_t at = found_.size();
            found_.push_back({path, dir});
            if (!Visit(Join(place, entry), path))
                found_.erase(found_.begin() + long(at), found_.end());
            else
                any = true;
        }
        return any;
    }

    bool Acceptable(const std::string& name, const std::string& dir) {
        if (text::ToUtf8(text::ToUtf16(name)) != name) {
            skipped_.push_back({dir, "its name is not UTF-8, which a folder name must be"});
            return false;
        }
        if (name.find('\\') != std::string::npos) {
            skipped_.push_back(
                {dir, "its name holds a backslash, which an archive's folder path cannot hold"});
            return false;
        }
        return true;
    }

    const std::string& root_;
    StoreKind kind_;
    std::vector<SkippedDirectory>& skipped_;
    std::vector<NestedFolder> found_;
    bool inboxSeen_ = false;
    std::string inboxDir_;
};

}  // namespace

std::string KindName(StoreKind kind) {
    switch (kind) {
        case StoreKind::MaildirPlusPlus:
            return "maildir++";
        case StoreKind::Verbatim:
            return "verbatim";
        case StoreKind::Legacy:
            return "legacy";
        case StoreKind::KMail:
            return "kmail";
        case StoreKind::Mbox:
            return "mbox";
    }
    return "maildir++";
}

std::optional<StoreKind> KindNamed(std::string_view name) {
    for (auto kind : {StoreKind::MaildirPlusPlus, StoreKind::Verbatim, StoreKind::Legacy,
                      StoreKind::KMail, StoreKind::Mbox})
        if (KindName(kind) == name) return kind;
    return std::nullopt;
}

std::vector<NestedFolder> ListNestedFolders(const std::string& root, StoreKind kind,
                                            std::vector<SkippedDirectory>& skipped) {
    return NestedWalk(root, kind, skipped).Run();
}

std::optional<std::string> NestedChildDirectory(StoreKind kind, const std::string& parentDir,
                                                std::u16string_view name) {
    std::string utf8 = text::ToUtf8(name);
    if (utf8.empty() || utf8[0] == '.' || utf8.find('/') != std::string::npos) return std::nullopt;
    bool top = parentDir.empty();
    if (kind == StoreKind::Mbox) {
        if (top && text::EqualsNoCase(name, u"inbox")) utf8 = "Inbox";
        if (IsMboxCompanion(utf8) || utf8.ends_with(".sbd")) return std::nullopt;
        return top ? utf8 : parentDir + ".sbd/" + utf8;
    }
    if (top && text::EqualsNoCase(name, u"inbox"))
        utf8 = kind == StoreKind::KMail ? "inbox" : "INBOX";
    if (kind == StoreKind::Legacy && !top) utf8 = "." + utf8;
    return Join(ChildrenPlace(kind, parentDir), utf8);
}

bool IsMboxFile(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (st.st_size == 0) return true;
    char head[5] = {};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    size_t n = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return n == 5 && std::string_view(head, 5) == "From ";
}

namespace {

void ListMboxLevel(const std::string& root, const std::string& place,
                   const std::vector<std::u16string>& parentPath, std::vector<NestedFolder>& found,
                   std::vector<SkippedDirectory>& skipped) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(Join(root, place).c_str())) {
        while (dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> folders;
    for (const auto& name : names) {
        std::string full = Join(root, Join(place, name));
        if (name.size() > 4 && name.ends_with(".sbd") && IsRealDirectory(full)) {
            std::string folder = name.substr(0, name.size() - 4);
            if (!std::binary_search(names.begin(), names.end(), folder)) folders.push_back(folder);
        } else if (!IsMboxCompanion(name) && IsMboxFile(full)) {
            folders.push_back(name);
        }
    }
    std::sort(folders.begin(), folders.end());
    for (const auto& name : folders) {
        std::string dir = Join(place, name);
        if (text::ToUtf8(text::ToUtf16(name)) != name || name.find('\\') != std::string::npos) {
            skipped.push_back({dir,
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
            ListMboxLevel(root, children, path, found, skipped);
    }
}

}  // namespace

std::vector<NestedFolder> ListMboxFolders(const std::string& root,
                                          std::vector<SkippedDirectory>& skipped) {
    std::vector<NestedFolder> found;
    ListMboxLevel(root, "", {}, found, skipped);
    return found;
}

std::optional<StoreKind> DetectKind(const std::string& root) {
    if (HoldsMaildir(root)) return StoreKind::MaildirPlusPlus;
    bool dotted = false, directories = false, nested = false;
    for (const auto& entry : SubDirectories(root)) {
        bool maildir = HoldsMaildir(root + "/" + entry);
        if (entry[0] == '.' && entry.ends_with(kDirectorySuffix))
            directories = true;
        else if (entry[0] == '.' && maildir)
            dotted = true;
        else if (entry[0] != '.' && maildir)
            nested = true;
    }
    if (dotted) return StoreKind::MaildirPlusPlus;
    std::vector<SkippedDirectory> ignored;
    if (!nested && !ListMboxFolders(root, ignored).empty()) return StoreKind::Mbox;
    if (directories) return StoreKind::KMail;
    if (nested) return StoreKind::Verbatim;
    return std::nullopt;
}

}  // namespace tindale::store
