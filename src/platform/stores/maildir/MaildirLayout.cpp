#include "platform/stores/maildir/MaildirLayout.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "base/Text.h"
#include "platform/stores/maildir/FolderNames.h"

namespace tindale::store {

namespace {

constexpr const char16_t* kInboxName = u"Inbox";

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
std::string ChildrenPlace(MaildirLayout kind, const std::string& dir) {
    if (kind != MaildirLayout::KMail || dir.empty()) return dir;
    return Join(Parent(dir), "." + Base(dir) + std::string(kDirectorySuffix));
}

// The links to directories in `dir`: never followed, a folder reached through one could lie
// anywhere (outside the home, or be the store itself again).
std::vector<std::string> LinksToDirectories(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            struct stat link {
            }, target{};
            std::string full = dir + "/" + name;
            if (::lstat(full.c_str(), &link) == 0 && S_ISLNK(link.st_mode) &&
                ::stat(full.c_str(), &target) == 0 && S_ISDIR(target.st_mode))
                names.push_back(std::move(name));
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

constexpr const char* kLinkedFolder =
    "a link: it was not followed (a store's messages and folders are never read through one)";

// Maildir++: every folder is a ".A.B" maildir directly under the root.
class NestedWalk {
  public:
    NestedWalk(const std::string& root, MaildirLayout kind, std::vector<Unmapped>& skipped)
        : root_(root), kind_(kind), skipped_(skipped) {}

    std::vector<FolderEntry> Run() {
        Visit("", {});
        return std::move(found_);
    }

  private:
    // Lists the folders whose directories sit in `place`; true when any was found (so that
    // a directory holding folders counts as a folder itself).
    bool Visit(const std::string& place, const std::vector<std::u16string>& parentPath) {
        bool any = false;
        for (const auto& link : LinksToDirectories(Join(root_, place)))
            if (FolderNameOf(place, parentPath, link))
                skipped_.push_back({Join(place, link), kLinkedFolder});
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
            found_[at].selectable = holds;
            bool below = Visit(ChildrenPlace(kind_, dir), path);
            if (!holds && !below) found_.erase(found_.begin() + long(at), found_.end());
            any = any || holds || below;
        }
        if (kind_ == MaildirLayout::KMail) any = VisitOrphanedDirectories(place, parentPath) || any;
        return any;
    }

    // The folder name a directory entry stands for in `place`, or none for an entry that is
    // no folder (a maildir's own parts, hidden files, a KMail ".X.directory").
    std::optional<std::string> FolderNameOf(const std::string& place,
                                            const std::vector<std::u16string>& parentPath,
                                            const std::string& entry) const {
        bool inFolder = !parentPath.empty() && kind_ != MaildirLayout::KMail;
        if (inFolder && IsMaildirPart(entry)) return std::nullopt;
        if (kind_ == MaildirLayout::Legacy && inFolder) {
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
            found_.push_back({path, dir, false});
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
    MaildirLayout kind_;
    std::vector<Unmapped>& skipped_;
    std::vector<FolderEntry> found_;
    bool inboxSeen_ = false;
    std::string inboxDir_;
};

class PlusPlusWalk {
  public:
    PlusPlusWalk(const std::string& root, std::vector<Unmapped>& unmapped)
        : root_(root), unmapped_(unmapped) {}

    std::vector<FolderEntry> Run() {
        for (const auto& name : SubDirectories(root_)) Visit(name);
        for (const auto& name : LinksToDirectories(root_))
            if (name[0] == '.') unmapped_.push_back({name, kLinkedFolder});
        AddImpliedParents();
        std::vector<FolderEntry> folders{{{kInboxName}, "."}};
        for (auto& f : found_) folders.push_back(std::move(f));
        return folders;
    }

  private:
    void Visit(const std::string& name) {
        auto path = foldernames::PathFor(name);
        if (!path) {
            // A maildir whose name maps to no folder must be said, never passed over.
            if (name[0] == '.' && HoldsMaildir(root_ + "/" + name))
                unmapped_.push_back({name,
                                     "its name is not a folder name this program can read "
                                     "(an empty level, or bytes that are neither UTF-8 nor "
                                     "modified UTF-7)"});
            return;
        }
        if (path->size() == 1 && (*path)[0] == kInboxName) {
            // The Inbox is the store's root maildir; a directory of that name beside it
            // would be a second Inbox, which no folder can stand for.
            if (HoldsMaildir(root_ + "/" + name))
                unmapped_.push_back({name,
                                     "it would be a second Inbox beside the store's own (the "
                                     "root maildir); move its messages into the Inbox"});
            return;
        }
        bool backslash = std::any_of(path->begin(), path->end(), [](const auto& part) {
            return part.find(u'\\') != std::u16string::npos;
        });
        if (backslash) {
            unmapped_.push_back(
                {name,
                 "a folder name holds a backslash, which an archive's folder path cannot hold"});
            return;
        }
        if (!paths_.insert(*path).second) {
            unmapped_.push_back({name, "another directory of the store names the same folder"});
            return;
        }
        found_.push_back({std::move(*path), name});
    }

    // Parents that exist only because a nested folder implies them.
    void AddImpliedParents() {
        for (const auto& f : std::vector<FolderEntry>(found_))
            for (size_t n = 1; n < f.path.size(); ++n) {
                std::vector<std::u16string> prefix(f.path.begin(), f.path.begin() + long(n));
                if (prefix.size() == 1 && prefix[0] == kInboxName) continue;
                if (paths_.insert(prefix).second)
                    found_.push_back({prefix, foldernames::DirectoryFor(prefix), false});
            }
    }

    const std::string& root_;
    std::vector<Unmapped>& unmapped_;
    std::vector<FolderEntry> found_;
    std::set<std::vector<std::u16string>> paths_;
};

}  // namespace

std::vector<FolderEntry> ListMaildirFolders(const std::string& root, MaildirLayout layout,
                                            std::vector<Unmapped>& unmapped) {
    if (layout == MaildirLayout::PlusPlus) return PlusPlusWalk(root, unmapped).Run();
    return NestedWalk(root, layout, unmapped).Run();
}

std::optional<std::string> MaildirFolderDirectory(MaildirLayout layout,
                                                  const std::string& parentDir,
                                                  const std::vector<std::u16string>& path) {
    if (layout == MaildirLayout::PlusPlus) {
        // A name that would read back as another folder (a second "INBOX") cannot be made.
        std::string dir = foldernames::DirectoryFor(path);
        if (foldernames::PathFor(dir) != path) return std::nullopt;
        return dir;
    }
    std::string utf8 = text::ToUtf8(path.back());
    if (utf8.empty() || utf8[0] == '.' || utf8.find('/') != std::string::npos) return std::nullopt;
    bool top = parentDir.empty();
    if (top && text::EqualsNoCase(path.back(), u"inbox"))
        utf8 = layout == MaildirLayout::KMail ? "inbox" : "INBOX";
    if (layout == MaildirLayout::Legacy && !top) utf8 = "." + utf8;
    return Join(ChildrenPlace(layout, parentDir), utf8);
}

MaildirSigns ReadMaildirSigns(const std::string& root) {
    MaildirSigns signs;
    signs.maildir = HoldsMaildir(root);
    for (const auto& entry : SubDirectories(root)) {
        bool maildir = HoldsMaildir(root + "/" + entry);
        if (entry[0] == '.' && entry.ends_with(kDirectorySuffix))
            signs.directories = true;
        else if (entry[0] == '.' && maildir)
            signs.dotted = true;
        else if (entry[0] != '.' && maildir)
            signs.nested = true;
    }
    return signs;
}

std::optional<MaildirLayout> DetectMaildirLayout(const std::string& root) {
    auto signs = ReadMaildirSigns(root);
    if (signs.maildir || signs.dotted) return MaildirLayout::PlusPlus;
    if (signs.directories) return MaildirLayout::KMail;
    if (signs.nested) return MaildirLayout::Verbatim;
    return std::nullopt;
}

}  // namespace tindale::store
