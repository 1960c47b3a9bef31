#include "platform/MailStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>
#include <utility>

#include "base/AtomicFile.h"
#include "platform/IdMap.h"

#include "base/Text.h"
#include "platform/FolderNames.h"
#include "platform/Identities.h"
#include "platform/MessageHeaders.h"
#include "platform/ShellFolders.h"

namespace tindale::store {

namespace {

constexpr const char* kFolderMap = ".tindale-folders";
constexpr const char16_t* kInboxName = u"Inbox";

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRead(const std::string& subdir, const std::string& name) {
    if (subdir == "new") return false;
    auto info = name.find(":2,");
    return info != std::string::npos && name.find('S', info + 3) != std::string::npos;
}

// "P<pid>Q" and ".<host>" are the same for every message of this process: made once.
struct NameParts {
    std::string pid = "P" + std::to_string(::getpid()) + "Q";
    std::string host = [] {
        char name[256] = "localhost";
        ::gethostname(name, sizeof name - 1);
        for (char* c = name; *c; ++c)
            if (*c == '/' || *c == ':') *c = '_';
        return "." + std::string(name);
    }();
};

std::string NewUniqueName() {
    static std::atomic<unsigned> counter{0};
    static const NameParts parts;
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    return std::to_string(tv.tv_sec) + ".M" + std::to_string(tv.tv_usec) + parts.pid +
           std::to_string(++counter) + parts.host;
}

}  // namespace

bool IsMaildir(const std::string& dir) {
    return IsDirectory(dir + "/cur") && IsDirectory(dir + "/new");
}

bool EnsureMaildir(const std::string& dir, bool isSubfolder) {
    ::mkdir(dir.c_str(), 0700);
    for (const char* sub : {"/cur", "/new", "/tmp"}) ::mkdir((dir + sub).c_str(), 0700);
    if (isSubfolder)
        ::close(::open((dir + "/maildirfolder").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    return IsDirectory(dir + "/cur") && IsDirectory(dir + "/new") && IsDirectory(dir + "/tmp");
}

int32_t SpecialFolderType(const std::vector<std::u16string>& path) {
    if (path.size() != 1) return kNotSpecial;
    const std::u16string& n = path[0];
    if (n == kInboxName) return kInbox;
    auto is = [&](const char16_t* name) { return text::EqualsNoCase(n, name); };
    if (is(u"Outbox")) return kOutbox;
    if (is(u"Sent") || is(u"Sent Items")) return kSentItems;
    if (is(u"Trash") || is(u"Deleted Items")) return kDeletedItems;
    if (is(u"Drafts")) return kDrafts;
    return kNotSpecial;
}

namespace {

std::string RealPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    std::string out = real ? real : "";
    std::free(real);
    return out;
}

bool Inside(const std::string& path, const std::string& root) {
    return !path.empty() && !root.empty() &&
           (path == root || path.compare(0, root.size() + 1, root + "/") == 0);
}

// A message temporary of this program: "<seconds>.M<usec>P<pid>Q<count>.<host>" (NewUniqueName).
bool OurTemporaryName(const std::string& name) {
    size_t at = name.find(".M");
    size_t p = name.find('P', at == std::string::npos ? 0 : at);
    size_t q = name.find('Q', p == std::string::npos ? 0 : p);
    return at != std::string::npos && p != std::string::npos && q != std::string::npos &&
           name.find('.', q) != std::string::npos && name.find_first_not_of("0123456789", 0) == at;
}

// Removes this program's message temporaries that no live writer holds (each is locked
// while it is written): what a killed restore or move left behind.
void RemoveStaleTemporaries(const std::string& tmp) {
    DIR* d = ::opendir(tmp.c_str());
    if (!d) return;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (!OurTemporaryName(name)) continue;
        int fd = ::openat(::dirfd(d), name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(d), name.c_str(), 0);
        ::close(fd);
    }
    ::closedir(d);
}

}  // namespace

namespace {

// Whether an open file holds exactly `bytes` (read from its start).
bool SameBytes(std::span<const uint8_t> bytes, int fd) {
    constexpr size_t kChunk = 65536;
    std::vector<uint8_t> x(kChunk);
    size_t at = 0;
    for (;;) {
        ssize_t n = ::pread(fd, x.data(), kChunk, static_cast<off_t>(at));
        if (n < 0) return false;
        if (n == 0) return at == bytes.size();
        if (static_cast<size_t>(n) > bytes.size() - at ||
            std::memcmp(x.data(), bytes.data() + at, static_cast<size_t>(n)) != 0)
            return false;
        at += static_cast<size_t>(n);
    }
}

// Whether two open files hold the same bytes (both read from their start).
bool SameBytes(int a, int b) {
    constexpr size_t kChunk = 65536;
    std::vector<char> x(kChunk), y(kChunk);
    for (off_t at = 0;; at += static_cast<off_t>(kChunk)) {
        ssize_t n = ::pread(a, x.data(), kChunk, at);
        ssize_t m = ::pread(b, y.data(), kChunk, at);
        if (n != m || n < 0) return false;
        if (n == 0) return true;
        if (std::memcmp(x.data(), y.data(), static_cast<size_t>(n)) != 0) return false;
    }
}

// A 64-bit FNV-1a of a file's bytes: cheap, and only a first sieve (equal ones are then
// compared byte for byte). 0 when it cannot be read.
constexpr uint64_t kHashStart = 14695981039346656037ull;

uint64_t ContentHash(std::span<const uint8_t> bytes, uint64_t hash = kHashStart) {
    for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
    return hash;
}

uint64_t ContentHash(int fd) {
    uint64_t hash = kHashStart;
    uint8_t buffer[65536];
    off_t at = 0;
    for (ssize_t n; (n = ::pread(fd, buffer, sizeof buffer, at)) > 0; at += n)
        hash = ContentHash({buffer, static_cast<size_t>(n)}, hash);
    return hash;
}

}  // namespace

namespace {

std::unique_ptr<StoreNamespace::FolderContents> FilesBySize(const std::string& dir) {
    auto out = std::make_unique<StoreNamespace::FolderContents>();
    for (const char* sub : {"cur", "new"}) {
        int folder = ::open((dir + "/" + sub).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ForEachMessageFile(dir + "/" + sub, [&](const char* name) {
            struct stat st {};
            if (folder < 0 || ::fstatat(folder, name, &st, 0) != 0 || !S_ISREG(st.st_mode)) return;
            out->bySize.push_back(
                {static_cast<uint64_t>(st.st_size), 0, static_cast<uint32_t>(out->names.size())});
            out->names.append(sub).append("/").append(name).push_back('\0');
        });
        if (folder >= 0) ::close(folder);
    }
    std::sort(out->bySize.begin(), out->bySize.end(),
              [](const auto& a, const auto& b) { return a.size < b.size; });
    return out;
}

}  // namespace

bool StoreNamespace::HoldsCopy(const std::string& dir, int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    return HoldsCopy(
        dir, static_cast<uint64_t>(st.st_size), [fd] { return ContentHash(fd); },
        [fd](int other) { return SameBytes(fd, other); });
}

bool StoreNamespace::HoldsCopy(const std::string& dir, std::span<const uint8_t> bytes) {
    return HoldsCopy(
        dir, bytes.size(), [bytes] { return ContentHash(bytes); },
        [bytes](int other) { return SameBytes(bytes, other); });
}

bool StoreNamespace::HoldsCopy(const std::string& dir, uint64_t size,
                               const std::function<uint64_t()>& hashOfCandidate,
                               const std::function<bool(int)>& sameAsCandidate) {
    auto known = contents_.find(dir);
    if (known == contents_.end()) known = contents_.emplace(dir, FilesBySize(dir)).first;
    auto& contents = *known->second;
    auto [first, last] = std::equal_range(
        contents.bySize.begin(), contents.bySize.end(), FolderContents::File{size, 0, 0},
        [](const auto& a, const auto& b) { return a.size < b.size; });
    if (first == last) return false;
    uint64_t hash = hashOfCandidate();
    // Each file of the folder is read at most once for its hash, however many messages of
    // its size are restored; only a matching hash costs a comparison.
    auto open = [&](const FolderContents::File& file) {
        std::string path = dir + "/" + (contents.names.data() + file.name);
        return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    };
    for (auto it = first; it != last; ++it) {
        auto& file = *it;
        if (file.hash == 0) {
            int other = open(file);
            if (other < 0) continue;  // renamed by another client meanwhile: not counted
            file.hash = ContentHash(other);
            ::close(other);
        }
        if (file.hash != hash) continue;
        int other = open(file);
        bool same = other >= 0 && sameAsCandidate(other);
        if (other >= 0) ::close(other);
        if (same) return true;
    }
    return false;
}

bool StoreNamespace::ReadyForWriting(const std::string& dir) {
    if (kind_ == StoreKind::Mbox) return WriteRefusal().empty();  // asked each time: it may quit
    auto known = writable_.find(dir);
    if (known != writable_.end()) return known->second;
    // A folder implied by a nested one, or made by a careless client, may lack its maildir.
    bool inside = EnsureMaildir(dir, dir != root_ && kind_ == StoreKind::MaildirPlusPlus);
    std::string root = RealPath(root_);
    for (const char* sub : {"", "/tmp", "/new", "/cur"})
        inside = inside && Inside(RealPath(dir + sub), root);
    if (inside) RemoveStaleTemporaries(dir + "/tmp");
    writable_[dir] = inside;
    return inside;
}

PendingMessage::~PendingMessage() {
    if (fd_ >= 0) ::close(fd_);
    if (!tmpPath_.empty()) ::unlink(tmpPath_.c_str());
}

HRESULT StoreNamespace::Initialize() {
    identities::EnsureDefaultIdentity();
    auto current = identities::Current();
    if (!current) return E_FAIL;
    std::string root = identities::StoreRoot(*current);
    if (root.empty()) return E_FAIL;
    return InitializeAt(root, identities::StoreKindOf(*current));
}

HRESULT StoreNamespace::InitializeAt(const std::string& storeRoot, StoreKind kind) {
    // Only a Maildir++ store's root is a maildir (its Inbox); the others' root only holds
    // folders.
    if (kind == StoreKind::MaildirPlusPlus
            ? !EnsureMaildir(storeRoot, false)
            : ::mkdir(storeRoot.c_str(), 0700) != 0 && !IsDirectory(storeRoot))
        return E_FAIL;
    root_ = storeRoot;
    kind_ = kind;
    return S_OK;
}

StoreNamespace::~StoreNamespace() {
    Flush();
}

int StoreNamespace::Flush() {
    int error = indexes_.SaveAll();
    int mboxError = mboxes_.SaveAll();
    return error ? error : mboxError;
}

const std::vector<StoreNamespace::Folder>& StoreNamespace::Folders() {
    if (!folders_) folders_ = ReadFolders();
    return *folders_;
}

const std::vector<StoreNamespace::Unmapped>& StoreNamespace::UnmappedDirectories() {
    Folders();
    return unmapped_;
}

std::vector<StoreNamespace::Folder> StoreNamespace::FindMaildirPlusPlusFolders() {
    std::vector<Folder> found;  // every maildir below the root, by directory
    std::set<std::vector<std::u16string>> paths;
    unmapped_.clear();
    if (DIR* d = ::opendir(root_.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == ".." || name.rfind(".tindale", 0) == 0 ||
                !IsDirectory(root_ + "/" + name))
                continue;
            auto path = foldernames::PathFor(name);
            if (!path) {
                // A maildir whose name maps to no folder must be said, never passed over.
                if (name[0] == '.' && IsMaildir(root_ + "/" + name))
                    unmapped_.push_back({name,
                                         "its name is not a folder name this program can "
                                         "read (an empty level, or bytes that are neither "
                                         "UTF-8 nor modified UTF-7)"});
                continue;
            }
            if (path->size() == 1 && (*path)[0] == kInboxName) {
                // The Inbox is the store's root maildir; a directory of that name beside it
                // would be a second Inbox, which no folder can stand for.
                if (IsMaildir(root_ + "/" + name))
                    unmapped_.push_back({name,
                                         "it would be a second Inbox beside the store's "
                                         "own (the root maildir); move its messages "
                                         "into the Inbox"});
                continue;
            }
            bool backslash = std::any_of(path->begin(), path->end(), [](const auto& part) {
                return part.find(u'\\') != std::u16string::npos;
            });
            if (backslash) {
                unmapped_.push_back({name,
                                     "a folder name holds a backslash, which an archive's "
                                     "folder path cannot hold"});
                continue;
            }
            if (!paths.insert(*path).second) {
                unmapped_.push_back({name,
                                     "another directory of the store names the same "
                                     "folder"});
                continue;
            }
            found.push_back({0, std::move(*path), name});
        }
        ::closedir(d);
    }
    // Parents that exist only because a nested folder implies them.
    for (const auto& f : std::vector<Folder>(found))
        for (size_t n = 1; n < f.path.size(); ++n) {
            std::vector<std::u16string> prefix(f.path.begin(), f.path.begin() + long(n));
            if (prefix.size() == 1 && prefix[0] == kInboxName) continue;
            if (paths.insert(prefix).second)
                found.push_back({0, prefix, foldernames::DirectoryFor(prefix)});
        }
    std::vector<Folder> folders{{0, {kInboxName}, "."}};
    for (auto& f : found) folders.push_back(std::move(f));
    return folders;
}

std::vector<StoreNamespace::Folder> StoreNamespace::FindNestedFolders() {
    std::vector<SkippedDirectory> skipped;
    std::vector<Folder> folders;
    auto found = kind_ == StoreKind::Mbox ? ListMboxFolders(root_, skipped)
                                          : ListNestedFolders(root_, kind_, skipped);
    for (auto& f : found) folders.push_back({0, std::move(f.path), std::move(f.dir)});
    unmapped_.clear();
    for (auto& s : skipped) unmapped_.push_back({std::move(s.directory), std::move(s.reason)});
    return folders;
}

std::vector<StoreNamespace::Folder> StoreNamespace::ReadFolders() {
    auto folders =
        kind_ == StoreKind::MaildirPlusPlus ? FindMaildirPlusPlusFolders() : FindNestedFolders();
    std::stable_sort(folders.begin(), folders.end(), [](const Folder& a, const Folder& b) {
        bool aInbox = a.path.size() == 1 && a.path[0] == kInboxName;
        bool bInbox = b.path.size() == 1 && b.path[0] == kInboxName;
        return std::tie(bInbox, a.path, a.dir) < std::tie(aInbox, b.path, b.dir);
    });
    // Each folder's parent is the first folder with the parent's path (paths sort before
    // their extensions), so a folder is listed once even when two directories share a path.
    std::map<std::vector<std::u16string>, int> firstWithPath;
    for (size_t i = 0; i < folders.size(); ++i) {
        auto& f = folders[i];
        firstWithPath.emplace(f.path, static_cast<int>(i));
        if (f.path.size() > 1) {
            std::vector<std::u16string> parent(f.path.begin(), f.path.end() - 1);
            auto it = firstWithPath.find(parent);
            f.parent = it == firstWithPath.end() ? -1 : it->second;
            if (f.parent >= 0) ++folders[static_cast<size_t>(f.parent)].children;
        }
    }
    std::string meta = MetaDirectory();
    DirLock lock(meta);
    std::string mapPath = meta + "/" + kFolderMap;
    IdMap map = IdMap::Load(mapPath);
    std::string before = map.Serialize();
    std::set<std::string> keys;
    for (auto& f : folders) {
        keys.insert(f.dir);
        f.id = map.Assign(f.dir);
        f.dir = f.dir == "." ? root_ : root_ + "/" + f.dir;
    }
    map.Retain([&](std::string_view key, uint32_t) { return keys.count(std::string(key)) > 0; });
    if (map.Serialize() != before) map.Save(mapPath);
    return folders;
}

FolderProps StoreNamespace::PropsOf(const Folder& folder) {
    FolderProps p;
    p.folderId = folder.id;
    p.type = SpecialFolderType(folder.path);
    p.name = text::ToUtf8(folder.path.back());
    p.subFolders = folder.children;
    return p;  // message counts come from GetFolderProps: listing a folder tree stays cheap
}

std::vector<FolderProps> StoreNamespace::ChildrenOf(uint32_t parentId) {
    const auto& all = Folders();
    int parent = -1;
    if (parentId != kRootFolderId) {
        auto it =
            std::find_if(all.begin(), all.end(), [&](const Folder& f) { return f.id == parentId; });
        if (it == all.end()) return {};
        parent = static_cast<int>(it - all.begin());
    }
    std::vector<FolderProps> children;
    for (const auto& f : all) {
        bool child = parent < 0 ? f.path.size() == 1 : f.parent == parent;
        if (child) children.push_back(PropsOf(f));
    }
    return children;
}

HRESULT StoreNamespace::GetFirstSubFolder(uint32_t parentId, FolderProps& props,
                                          std::unique_ptr<FolderEnum>& handle) {
    if (root_.empty()) return E_FAIL;
    handle = std::make_unique<FolderEnum>();
    handle->items = ChildrenOf(parentId);
    return GetNextSubFolder(*handle, props);
}

HRESULT StoreNamespace::GetNextSubFolder(FolderEnum& handle, FolderProps& props) {
    if (handle.next >= handle.items.size()) return S_FALSE;
    props = handle.items[handle.next++];
    return S_OK;
}

HRESULT StoreNamespace::OpenFolder(uint32_t folderId, std::unique_ptr<StoreFolder>& folder) {
    if (root_.empty() || folderId == kRootFolderId) return E_FAIL;  // the root holds no messages
    for (const auto& f : Folders())
        if (f.id == folderId) {
            folder.reset(new StoreFolder(*this, f.id, f.dir, PropsOf(f)));
            return S_OK;
        }
    return E_NOT_FOUND;
}

HRESULT StoreNamespace::CreateFolder(uint32_t parentId, const std::string& name, uint32_t& newId) {
    if (root_.empty() || name.empty()) return E_FAIL;
    folders_.reset();  // look at the disk as it is now before creating anything
    std::vector<std::u16string> path;
    std::string parentDir;  // relative to the root; empty at the top
    if (parentId != kRootFolderId) {
        const auto& all = Folders();
        auto it =
            std::find_if(all.begin(), all.end(), [&](const Folder& f) { return f.id == parentId; });
        if (it == all.end()) return E_NOT_FOUND;
        path = it->path;
        parentDir = it->dir == root_ ? std::string() : it->dir.substr(root_.size() + 1);
    }
    path.push_back(text::ToUtf16(name));
    auto find = [&]() -> bool {
        for (const auto& f : Folders())
            if (f.path == path) {
                newId = f.id;
                return true;
            }
        return false;
    };
    if (find()) return S_OK;
    if (kind_ != StoreKind::MaildirPlusPlus) {
        auto dir = NestedChildDirectory(kind_, parentDir, path.back());
        if (!dir) return E_FAIL;
        std::string full = root_ + "/" + *dir;
        // KMail's ".X.directory" or an mbox's "X.sbd" (and any level above) may not exist yet.
        for (size_t slash = full.find('/', root_.size() + 1); slash != std::string::npos;
             slash = full.find('/', slash + 1))
            ::mkdir(full.substr(0, slash).c_str(), 0700);
        if (kind_ == StoreKind::Mbox) {
            if (!WriteRefusal().empty()) return E_FAIL;
            int fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd < 0) return E_FAIL;
            ::close(fd);
        } else if (!EnsureMaildir(full, false)) {
            return E_FAIL;
        }
        folders_.reset();
        return find() ? S_OK : E_FAIL;
    }
    // A name that would read back as another folder (a second "INBOX") cannot be made.
    std::string dir = foldernames::DirectoryFor(path);
    if (foldernames::PathFor(dir) != path || !EnsureMaildir(root_ + "/" + dir, true)) return E_FAIL;
    folders_.reset();
    return find() ? S_OK : E_FAIL;
}

MessageIndex& StoreNamespace::IndexOf(const std::string& dir) {
    return indexes_.Get(dir, [&] { return std::make_unique<MessageIndex>(dir); });
}

void StoreNamespace::ReleaseIndex(const std::string& dir) {
    mboxes_.Release(dir);
    indexes_.Release(dir);
}

void StoreNamespace::ReleaseIndexes() {
    indexes_.SaveAndClear();
    mboxes_.SaveAndClear();
    contents_.clear();  // the folders' sizes and hashes, kept for a restore into them
}

MessageIndex& StoreFolder::Index() {
    auto& index = ns_.IndexOf(dir_);
    if (!index.Loaded()) index.Load();
    return index;
}

std::optional<std::string> StoreFolder::LocateMessage(uint32_t messageId) {
    auto path = Index().PathOf(messageId);
    if (path && ::access(path->c_str(), F_OK) == 0) return path;
    if (auto* batch = durable::CurrentBatch(); batch && !batch->Empty()) {
        batch->Flush();  // it may be one of ours, committed but not yet published
        if (path && ::access(path->c_str(), F_OK) == 0) return path;
    }
    Index().Load();  // another client may have renamed it; its id follows the unique part
    return Index().PathOf(messageId);
}

HRESULT StoreFolder::GetFolderProps(FolderProps& props) {
    props = props_;
    if (IsMbox()) {
        props.messages = static_cast<uint32_t>(Mbox().Files().size());
        props.unread = static_cast<uint32_t>(Mbox().Unread());
        return S_OK;
    }
    for (const char* sub : {"cur", "new"})
        for (const auto& name : ListMessageFiles(dir_ + "/" + sub)) {
            ++props.messages;
            if (!IsRead(sub, name)) ++props.unread;
        }
    return S_OK;
}

namespace {

// Opens a message file for reading: only a regular file, and without waiting on a FIFO
// (O_NONBLOCK changes nothing for a regular file's reads, so it stays set).
int OpenRegularFile(const std::string& path, struct stat& st) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

MessageProps ReadProps(uint32_t id, const std::string& path) {
    MessageProps p;
    p.messageId = id;
    struct stat st {};
    int fd = OpenRegularFile(path, st);
    if (fd >= 0) p.size = static_cast<uint32_t>(st.st_size);
    auto info = mail::ParseHeaders(fd >= 0 ? mail::ReadHeaderBlock(fd) : std::string());
    if (fd >= 0) ::close(fd);
    p.subject = info.subject;
    p.normalSubject = info.normalSubject;
    p.displayFrom = info.from;
    p.displayTo = info.to;
    p.internetMessageId = info.messageId;
    p.receivedFromFile = !info.received;
    p.received = FileTimeFromUnix(info.received.value_or(st.st_mtime));
    p.sent = FileTimeFromUnix(info.sent.value_or(info.received.value_or(st.st_mtime)));
    auto slash = path.find_last_of('/');
    std::string sub = path.substr(slash - 3, 3);
    if (IsRead(sub, path.substr(slash + 1))) p.state |= kMessageRead;
    return p;
}

MessageProps MboxProps(uint32_t id, const MboxFolder::Message& message,
                       const std::string& headers) {
    MessageProps p;
    p.messageId = id;
    p.size = static_cast<uint32_t>(std::min<uint64_t>(message.length, UINT32_MAX));
    auto info = mail::ParseHeaders(headers);
    p.subject = info.subject;
    p.normalSubject = info.normalSubject;
    p.displayFrom = info.from;
    p.displayTo = info.to;
    p.internetMessageId = info.messageId;
    int64_t arrival = message.arrival != 0 ? message.arrival : info.received.value_or(0);
    p.receivedFromFile = !info.received;
    p.received = FileTimeFromUnix(info.received.value_or(arrival));
    p.sent = FileTimeFromUnix(info.sent.value_or(info.received.value_or(arrival)));
    if (message.status & 1) p.state |= kMessageRead;
    return p;
}

}  // namespace

HRESULT StoreFolder::GetFirstMessage(uint32_t, uint32_t firstId, MessageProps& props,
                                     std::unique_ptr<MessageEnum>& handle) {
    if (firstId == 0xFFFFFFFFu) firstId = 0;
    if (IsMbox()) {
        Mbox().Load();
        handle = std::make_unique<MessageEnum>();
        handle->ids = Mbox().Files().IdsFrom(firstId);
        return GetNextMessage(*handle, props);
    }
    if (auto* batch = durable::CurrentBatch()) batch->Flush();  // list what is really there
    auto& index = ns_.IndexOf(dir_);
    index.Load();  // one scan per listing; opening, committing and deleting use what it found
    handle = std::make_unique<MessageEnum>();
    handle->ids = index.Files().IdsFrom(firstId);
    return GetNextMessage(*handle, props);
}

HRESULT StoreFolder::GetNextMessage(MessageEnum& handle, MessageProps& props) {
    if (handle.next >= handle.ids.size()) return S_FALSE;
    if (handle.next >= handle.chunkStart + handle.chunk.size()) ReadChunk(handle);
    props = std::move(handle.chunk[handle.next++ - handle.chunkStart]);
    return S_OK;
}

// Reads the headers of the listing's next messages; reading is independent per message, so
// a large folder uses every core.
void StoreFolder::ReadChunk(MessageEnum& handle) {
    constexpr size_t kChunk = 4096;
    handle.chunkStart = handle.next;
    size_t count = std::min(kChunk, handle.ids.size() - handle.next);
    if (IsMbox()) {
        handle.chunk.assign(count, MessageProps{});
        for (size_t i = 0; i < count; ++i) {
            uint32_t id = handle.ids[handle.next + i];
            if (auto message = Mbox().Find(id))
                handle.chunk[i] = MboxProps(id, *message, Mbox().ReadHeaders(*message));
        }
        return;
    }
    std::vector<std::string> paths(count);
    for (size_t i = 0; i < count; ++i)
        paths[i] = Index().PathOf(handle.ids[handle.next + i]).value_or(std::string());
    handle.chunk.assign(count, MessageProps{});
    unsigned threads =
        count < 256 ? 1 : std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
    auto work = [&](unsigned stripe) {
        for (size_t i = stripe; i < count; i += threads)
            handle.chunk[i] = ReadProps(handle.ids[handle.chunkStart + i], paths[i]);
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work, t);
    work(0);
    for (auto& t : pool) t.join();
}

std::string MessageState::CleanFlags(std::string_view flags) {
    std::string out;
    for (char c : flags)
        if (((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && out.find(c) == std::string::npos)
            out.push_back(c);
    std::sort(out.begin(), out.end());
    return out;
}

MessageState MessageState::Of(const std::string& path, const struct stat& st) {
    MessageState state;
    auto slash = path.find_last_of('/');
    std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    std::string folder = slash == std::string::npos ? "" : path.substr(0, slash);
    state.inNew = folder == "new" || (folder.size() > 4 && folder.ends_with("/new"));
    if (auto info = name.find(":2,"); info != std::string::npos)
        state.flags = CleanFlags(std::string_view(name).substr(info + 3));
    state.arrivalSeconds = st.st_mtim.tv_sec;
    state.arrivalNanos = static_cast<uint32_t>(st.st_mtim.tv_nsec);
    state.known = true;
    return state;
}

std::string MessageState::RelativeName(const std::string& unique) const {
    if (!known || (inNew && flags.empty())) return "new/" + unique;
    return "cur/" + unique + ":2," + CleanFlags(flags);
}

HRESULT StoreFolder::OpenMessage(uint32_t messageId, int& fd, MessageState* state) {
    if (IsMbox()) return OpenMboxMessage(messageId, fd, state);
    struct stat st {};
    std::optional<std::string> path;
    auto open = [&] {
        path = Index().PathOf(messageId);
        errno = ENOENT;
        return path ? OpenRegularFile(*path, st) : -1;
    };
    fd = open();
    if (fd < 0 && errno == ENOENT && LocateMessage(messageId)) fd = open();  // it had moved
    if (fd >= 0) {
        if (state) *state = MessageState::Of(*path, st);
        return S_OK;
    }
    return errno == ENOENT ? E_NOT_FOUND : E_FAIL;
}

HRESULT StoreFolder::CreateStream(std::unique_ptr<PendingMessage>& out) {
    if (!ns_.ReadyForWriting(dir_)) return E_FAIL;
    auto message = std::make_unique<PendingMessage>();
    if (IsMbox()) {
        // Held unnamed until it is appended: nothing but the mbox itself is ever written
        // into the mail client's folder.
        message->fd_ = ::memfd_create("tindale-message", MFD_CLOEXEC);
        if (message->fd_ < 0) return E_FAIL;
        out = std::move(message);
        return S_OK;
    }
    message->uniqueName_ = NewUniqueName();
    std::string tmp = dir_ + "/tmp/" + message->uniqueName_;
    // Read back as well: a restore compares it with the folder's messages before filing it.
    message->fd_ = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (message->fd_ < 0) return E_FAIL;
    ::flock(message->fd_, LOCK_EX | LOCK_NB);  // held while written: a later run spares it
    message->tmpPath_ = tmp;
    out = std::move(message);
    return S_OK;
}

bool StoreFolder::HoldsCopyOf(const PendingMessage& message) {
    if (IsMbox()) return message.fd_ >= 0 && Mbox().Holds(message.fd_);
    return message.fd_ >= 0 && ns_.HoldsCopy(dir_, message.fd_);
}

bool StoreFolder::HoldsCopyOf(std::span<const uint8_t> bytes) {
    if (!IsMbox()) return ns_.HoldsCopy(dir_, bytes);
    return Mbox().Holds({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

bool StoreFolder::Writable() {
    return ns_.ReadyForWriting(dir_);
}

HRESULT StoreFolder::CommitStream(PendingMessage& message, uint32_t& messageId,
                                  const MessageState* state) {
    if (message.fd_ < 0) return E_FAIL;
    if (IsMbox()) {
        auto id = Mbox().Append(message.fd_, state);
        ::close(std::exchange(message.fd_, -1));
        if (!id) return E_FAIL;
        messageId = *id;
        return S_OK;
    }
    if (state && state->known && state->arrivalSeconds != 0) {
        timespec times[2] = {{0, UTIME_OMIT},
                             {state->arrivalSeconds, static_cast<long>(state->arrivalNanos)}};
        ::futimens(message.fd_, times);
    }
    struct stat st {};
    bool ok = ::fstat(message.fd_, &st) == 0;
    ok = ::close(message.fd_) == 0 && ok;
    message.fd_ = -1;
    if (!ok) return E_FAIL;
    auto& index = Index();
    // Visible in new/ or cur/ only once complete; durable now, or with the job's batch.
    std::string relative =
        state ? state->RelativeName(message.uniqueName_) : "new/" + message.uniqueName_;
    std::string temp = std::exchange(message.tmpPath_, {});
    if (durable::PublishClosed(temp, dir_ + "/" + relative, st)) return E_FAIL;
    messageId = index.Add(relative);
    return S_OK;
}

std::vector<FolderProps> ListSubFolders(StoreNamespace& ns, uint32_t parentId) {
    std::vector<FolderProps> out;
    std::unique_ptr<FolderEnum> handle;
    FolderProps props;
    for (HRESULT hr = ns.GetFirstSubFolder(parentId, props, handle); hr == S_OK;
         hr = ns.GetNextSubFolder(*handle, props))
        out.push_back(props);
    ns.GetSubFolderClose(handle);
    return out;
}

std::vector<MessageProps> ListMessages(StoreFolder& folder,
                                       const std::function<bool(size_t)>& keepGoing) {
    constexpr size_t kBetweenCalls = 256;
    std::vector<MessageProps> out;
    std::unique_ptr<MessageEnum> handle;
    MessageProps props;
    for (HRESULT hr = folder.GetFirstMessage(0, 0xFFFFFFFF, props, handle); hr == S_OK;
         hr = folder.GetNextMessage(*handle, props)) {
        out.push_back(std::move(props));
        if (keepGoing && out.size() % kBetweenCalls == 0 && !keepGoing(out.size())) break;
    }
    folder.GetMessageClose(handle);
    return out;
}

HRESULT StoreFolder::SetFlags(uint32_t messageId, const std::string& flags) {
    if (IsMbox()) return Mbox().SetFlags(messageId, flags) ? S_OK : S_FALSE;
    auto path = LocateMessage(messageId);
    if (!path) return E_NOT_FOUND;
    std::string name = path->substr(path->find_last_of('/') + 1);
    std::string relative =
        "cur/" + name.substr(0, name.find(':')) + ":2," + MessageState::CleanFlags(flags);
    std::string target = dir_ + "/" + relative;
    if (target == *path) return S_OK;
    if (::rename(path->c_str(), target.c_str()) != 0) return E_FAIL;
    durable::SyncParentDirectory(target);
    Index().Moved(messageId, relative);
    return S_OK;
}

HRESULT StoreFolder::DeleteMessages(const std::vector<uint32_t>& ids) {
    if (IsMbox()) {
        if (!ns_.ReadyForWriting(dir_)) return E_FAIL;
        size_t missing = 0;
        for (uint32_t id : ids) missing += !Mbox().Find(id);
        if (Mbox().Remove(ids) != 0) return E_FAIL;
        return missing > 0 ? S_FALSE : S_OK;
    }
    size_t missing = 0;
    HRESULT result = S_OK;
    for (uint32_t id : std::set<uint32_t>(ids.begin(), ids.end())) {
        auto path = LocateMessage(id);
        if (!path) {
            ++missing;
            continue;
        }
        if (::unlink(path->c_str()) != 0) {
            if (errno == ENOENT)
                ++missing;
            else
                result = E_FAIL;
            if (errno != ENOENT) continue;
        }
        Index().Remove(id);
    }
    // S_FALSE: some ids named no message (already gone).
    return result == S_OK && missing > 0 ? S_FALSE : result;
}

}  // namespace tindale::store

namespace tindale::store {

namespace {
// A short file name that stands for a path: its 64-bit FNV-1a hash in hex.
std::string NameForPath(const std::string& path) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : path) hash = (hash ^ c) * 1099511628211ull;
    char name[24];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
    return name;
}
}  // namespace

std::string StoreNamespace::MetaDirectory() {
    if (kind_ != StoreKind::Mbox) return root_;
    std::string dir = shell::DataFolder() + "/tindale/mbox-ids/" + NameForPath(root_);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return dir;
}

std::string StoreNamespace::WriteRefusal() {
    if (kind_ != StoreKind::Mbox) return {};
    if (auto profile = RunningThunderbirdProfile(root_))
        return "Thunderbird has the profile " + *profile +
               " open; quit Thunderbird and try again (its folders are only read meanwhile)";
    return {};
}

MboxFolder& StoreNamespace::MboxOf(const std::string& path) {
    return mboxes_.Get(path, [&] {
        return std::make_unique<MboxFolder>(path,
                                            MetaDirectory() + "/" + NameForPath(path) + ".ids");
    });
}

bool StoreFolder::IsMbox() const {
    return ns_.kind_ == StoreKind::Mbox;
}

MboxFolder& StoreFolder::Mbox() {
    auto& mbox = ns_.MboxOf(dir_);
    if (!mbox.Loaded()) mbox.Load();
    return mbox;
}

const store::MessageFiles& StoreFolder::MessageFiles() {
    return IsMbox() ? Mbox().Files() : Index().Files();
}

HRESULT StoreFolder::OpenMboxMessage(uint32_t messageId, int& fd, MessageState* state) {
    auto message = Mbox().Find(messageId);
    if (!message) {
        Mbox().Load();  // the client may have written the folder meanwhile
        message = Mbox().Find(messageId);
    }
    if (!message) return E_NOT_FOUND;
    fd = Mbox().OpenCopy(*message);
    if (fd < 0) return E_FAIL;
    if (state) *state = Mbox().StateOf(*message);
    return S_OK;
}

}  // namespace tindale::store
