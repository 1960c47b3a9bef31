#include "platform/StoreLayout.h"

#include <dirent.h>
#include <sys/stat.h>

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
    }
    return "maildir++";
}

std::optional<StoreKind> KindNamed(std::string_view name) {
    for (auto kind :
         {StoreKind::MaildirPlusPlus, StoreKind::Verbatim, StoreKind::Legacy, StoreKind::KMail})
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
    if (top && text::EqualsNoCase(name, u"inbox"))
        utf8 = kind == StoreKind::KMail ? "inbox" : "INBOX";
    if (kind == StoreKind::Legacy && !top) utf8 = "." + utf8;
    return Join(ChildrenPlace(kind, parentDir), utf8);
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
    if (directories) return StoreKind::KMail;
    if (nested) return StoreKind::Verbatim;
    return std::nullopt;
}

}  // namespace tindale::store
