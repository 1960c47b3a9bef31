#include "platform/MailStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "platform/FolderNames.h"
#include "platform/Identities.h"
#include "platform/MessageHeaders.h"
#include "platform/Text.h"

namespace tindale::store {

namespace {

constexpr const char* kFolderMap = ".tindale-folders";
constexpr const char* kUidList = ".tindale-uids";
constexpr const char* kLockFile = ".tindale-lock";
constexpr const char16_t* kInboxName = u"Inbox";

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> ListNames(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

// Holds an exclusive lock on a store directory's id files for its lifetime.
class DirLock {
  public:
    explicit DirLock(const std::string& dir)
        : fd_(::open((dir + "/" + kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~DirLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }

  private:
    int fd_;
};

// A persistent key -> id map ("next N" then "id<TAB>key" lines). Ids are never reused:
// "next" only grows. Call under DirLock.
class IdMap {
  public:
    explicit IdMap(std::string path) : path_(std::move(path)) {
        std::ifstream in(path_);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("next ", 0) == 0) {
                next_ = static_cast<uint32_t>(std::stoul(line.substr(5)));
                continue;
            }
            auto tab = line.find('\t');
            if (tab == std::string::npos) continue;
            uint32_t id = static_cast<uint32_t>(std::stoul(line.substr(0, tab)));
            ids_[line.substr(tab + 1)] = id;
            next_ = std::max(next_, id + 1);
        }
    }

    // Ids for `keys` in order, assigning new ones; with prune, forgets keys not listed.
    std::vector<uint32_t> Assign(const std::vector<std::string>& keys, bool prune) {
        std::vector<uint32_t> out;
        bool changed = false;
        for (const auto& key : keys) {
            auto [it, inserted] = ids_.emplace(key, next_);
            if (inserted) {
                ++next_;
                changed = true;
            }
            out.push_back(it->second);
        }
        if (prune) {
            std::set<std::string> present(keys.begin(), keys.end());
            for (auto it = ids_.begin(); it != ids_.end();)
                if (!present.count(it->first)) {
                    it = ids_.erase(it);
                    changed = true;
                } else {
                    ++it;
                }
        }
        if (changed) Save();
        return out;
    }

  private:
    void Save() {
        std::string tmp = path_ + ".new";
        {
            std::ofstream out(tmp, std::ios::trunc);
            out << "next " << next_ << "\n";
            for (const auto& [key, id] : ids_) out << id << "\t" << key << "\n";
        }
        ::rename(tmp.c_str(), path_.c_str());
    }

    std::string path_;
    std::map<std::string, uint32_t> ids_;
    uint32_t next_ = 1;
};

// The unique part of a Maildir file name: everything before the info separator.
std::string UniquePart(const std::string& name) {
    return name.substr(0, name.find(':'));
}

bool IsRead(const std::string& subdir, const std::string& name) {
    if (subdir == "new") return false;
    auto info = name.find(":2,");
    return info != std::string::npos && name.find('S', info + 3) != std::string::npos;
}

std::string NewUniqueName() {
    static std::atomic<unsigned> counter{0};
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    char host[256] = "localhost";
    ::gethostname(host, sizeof host - 1);
    for (char* c = host; *c; ++c)
        if (*c == '/' || *c == ':') *c = '_';
    std::ostringstream s;
    s << tv.tv_sec << ".M" << tv.tv_usec << "P" << ::getpid() << "Q" << ++counter << "." << host;
    return s.str();
}

}  // namespace

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
    return InitializeAt(root);
}

HRESULT StoreNamespace::InitializeAt(const std::string& storeRoot) {
    if (!EnsureMaildir(storeRoot, false)) return E_FAIL;
    root_ = storeRoot;
    return S_OK;
}

const std::vector<StoreNamespace::Folder>& StoreNamespace::Folders() {
    if (!folders_) folders_ = ReadFolders();
    return *folders_;
}

std::vector<StoreNamespace::Folder> StoreNamespace::ReadFolders() {
    std::map<std::vector<std::u16string>, std::string> byPath;  // path -> directory key
    if (DIR* d = ::opendir(root_.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name.rfind(".tindale", 0) == 0 || !IsDirectory(root_ + "/" + name)) continue;
            auto path = foldernames::PathFor(name);
            if (!path || (*path)[0] == kInboxName) continue;  // ".Inbox..." would shadow the Inbox
            for (size_t n = 1; n < path->size(); ++n) {       // parents implied by a nested folder
                std::vector<std::u16string> prefix(path->begin(),
                                                   path->begin() + static_cast<long>(n));
                byPath.emplace(prefix, foldernames::DirectoryFor(prefix));
            }
            byPath[*path] = name;
        }
        ::closedir(d);
    }
    std::vector<Folder> folders{{0, {kInboxName}, root_}};
    std::vector<std::string> keys{"."};
    for (const auto& [path, key] : byPath) {
        folders.push_back({0, path, root_ + "/" + key});
        keys.push_back(key);
    }
    DirLock lock(root_);
    auto ids = IdMap(root_ + "/" + kFolderMap).Assign(keys, true);
    for (size_t i = 0; i < folders.size(); ++i) folders[i].id = ids[i];
    return folders;
}

FolderProps StoreNamespace::PropsOf(const Folder& folder, const std::vector<Folder>& all) {
    FolderProps p;
    p.folderId = folder.id;
    p.type = SpecialFolderType(folder.path);
    p.name = text::ToUtf8(folder.path.back());
    for (const auto& other : all)
        if (other.path.size() == folder.path.size() + 1 &&
            std::equal(folder.path.begin(), folder.path.end(), other.path.begin()))
            ++p.subFolders;
    return p;  // message counts come from GetFolderProps: listing a folder tree stays cheap
}

std::vector<FolderProps> StoreNamespace::ChildrenOf(uint32_t parentId) {
    const auto& all = Folders();
    std::vector<std::u16string> parentPath;
    if (parentId != kRootFolderId) {
        auto it =
            std::find_if(all.begin(), all.end(), [&](const Folder& f) { return f.id == parentId; });
        if (it == all.end()) return {};
        parentPath = it->path;
    }
    std::vector<FolderProps> children;
    for (const auto& f : all)
        if (f.path.size() == parentPath.size() + 1 &&
            std::equal(parentPath.begin(), parentPath.end(), f.path.begin()))
            children.push_back(PropsOf(f, all));
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
    const auto& all = Folders();
    for (const auto& f : all)
        if (f.id == folderId) {
            folder.reset(new StoreFolder(*this, f.id, f.dir, PropsOf(f, all)));
            return S_OK;
        }
    return E_NOT_FOUND;
}

HRESULT StoreNamespace::CreateFolder(uint32_t parentId, const std::string& name, uint32_t& newId) {
    if (root_.empty() || name.empty()) return E_FAIL;
    folders_.reset();  // look at the disk as it is now before creating anything
    auto all = Folders();
    std::vector<std::u16string> path;
    if (parentId != kRootFolderId) {
        auto it =
            std::find_if(all.begin(), all.end(), [&](const Folder& f) { return f.id == parentId; });
        if (it == all.end()) return E_NOT_FOUND;
        path = it->path;
    }
    path.push_back(text::ToUtf16(name));
    for (const auto& f : all)
        if (f.path == path) {
            newId = f.id;
            return S_OK;
        }
    if (!EnsureMaildir(root_ + "/" + foldernames::DirectoryFor(path), true)) return E_FAIL;
    folders_.reset();
    for (const auto& f : Folders())
        if (f.path == path) {
            newId = f.id;
            return S_OK;
        }
    return E_FAIL;
}

std::vector<std::pair<uint32_t, std::string>> StoreFolder::Scan() {
    std::vector<std::pair<std::string, std::string>> files;  // unique part, path
    for (const char* sub : {"cur", "new"})
        for (const auto& name : ListNames(dir_ + "/" + sub))
            files.emplace_back(UniquePart(name), dir_ + "/" + sub + "/" + name);
    std::sort(files.begin(), files.end());
    std::vector<std::string> keys;
    for (const auto& f : files) keys.push_back(f.first);
    std::vector<uint32_t> ids;
    {
        DirLock lock(dir_);
        ids = IdMap(dir_ + "/" + kUidList).Assign(keys, true);
    }
    std::vector<std::pair<uint32_t, std::string>> out;
    for (size_t i = 0; i < files.size(); ++i) out.emplace_back(ids[i], files[i].second);
    std::sort(out.begin(), out.end());
    return out;
}

std::string StoreFolder::PathOf(uint32_t messageId) {
    for (auto& [id, path] : Scan())
        if (id == messageId) return path;
    return {};
}

HRESULT StoreFolder::GetFolderProps(FolderProps& props) {
    props = props_;
    for (const char* sub : {"cur", "new"})
        for (const auto& name : ListNames(dir_ + "/" + sub)) {
            ++props.messages;
            if (!IsRead(sub, name)) ++props.unread;
        }
    return S_OK;
}

namespace {
MessageProps ReadProps(uint32_t id, const std::string& path) {
    MessageProps p;
    p.messageId = id;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0) p.size = static_cast<uint32_t>(st.st_size);
    auto info = mail::ParseHeaders(fd >= 0 ? mail::ReadHeaderBlock(fd) : std::string());
    if (fd >= 0) ::close(fd);
    p.subject = info.subject;
    p.normalSubject = info.normalSubject;
    p.displayFrom = info.from;
    p.displayTo = info.to;
    p.received = FileTimeFromUnix(info.received.value_or(st.st_mtime));
    p.sent = FileTimeFromUnix(info.sent.value_or(info.received.value_or(st.st_mtime)));
    auto slash = path.find_last_of('/');
    std::string sub = path.substr(slash - 3, 3);
    if (IsRead(sub, path.substr(slash + 1))) p.state |= kMessageRead;
    return p;
}
}  // namespace

HRESULT StoreFolder::GetFirstMessage(uint32_t, uint32_t firstId, MessageProps& props,
                                     std::unique_ptr<MessageEnum>& handle) {
    if (firstId == 0xFFFFFFFFu) firstId = 0;
    std::vector<std::pair<uint32_t, std::string>> files;
    for (auto& file : Scan())
        if (file.first >= firstId) files.push_back(std::move(file));
    handle = std::make_unique<MessageEnum>();
    handle->items.resize(files.size());
    // Reading headers is independent per message: large folders use every core.
    unsigned threads =
        files.size() < 256 ? 1 : std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
    auto work = [&](unsigned stripe) {
        for (size_t i = stripe; i < files.size(); i += threads)
            handle->items[i] = ReadProps(files[i].first, files[i].second);
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work, t);
    work(0);
    for (auto& t : pool) t.join();
    return GetNextMessage(*handle, props);
}

HRESULT StoreFolder::GetNextMessage(MessageEnum& handle, MessageProps& props) {
    if (handle.next >= handle.items.size()) return S_FALSE;
    props = handle.items[handle.next++];
    return S_OK;
}

HRESULT StoreFolder::OpenMessage(uint32_t messageId, int& fd) {
    std::string path = PathOf(messageId);
    if (path.empty()) return E_NOT_FOUND;
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd >= 0 ? S_OK : E_FAIL;
}

HRESULT StoreFolder::CreateStream(std::unique_ptr<PendingMessage>& out) {
    // A folder implied by a nested one, or made by a careless client, may lack its maildir.
    if (!EnsureMaildir(dir_, dir_ != ns_.Root())) return E_FAIL;
    auto message = std::make_unique<PendingMessage>();
    message->uniqueName_ = NewUniqueName();
    std::string tmp = dir_ + "/tmp/" + message->uniqueName_;
    message->fd_ = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (message->fd_ < 0) return E_FAIL;
    message->tmpPath_ = tmp;
    out = std::move(message);
    return S_OK;
}

HRESULT StoreFolder::CommitStream(PendingMessage& message, uint32_t& messageId) {
    if (message.fd_ < 0) return E_FAIL;
    bool ok = ::fsync(message.fd_) == 0;
    ok = ::close(message.fd_) == 0 && ok;
    message.fd_ = -1;
    std::string target = dir_ + "/new/" + message.uniqueName_;
    if (!ok || ::rename(message.tmpPath_.c_str(), target.c_str()) != 0) return E_FAIL;
    message.tmpPath_.clear();
    for (const auto& [id, path] : Scan())
        if (path == target) {
            messageId = id;
            return S_OK;
        }
    return E_FAIL;
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

std::vector<MessageProps> ListMessages(StoreFolder& folder) {
    std::vector<MessageProps> out;
    std::unique_ptr<MessageEnum> handle;
    MessageProps props;
    for (HRESULT hr = folder.GetFirstMessage(0, 0xFFFFFFFF, props, handle); hr == S_OK;
         hr = folder.GetNextMessage(*handle, props))
        out.push_back(std::move(props));
    folder.GetMessageClose(handle);
    return out;
}

HRESULT StoreFolder::DeleteMessages(const std::vector<uint32_t>& ids) {
    std::set<uint32_t> wanted(ids.begin(), ids.end());
    size_t found = 0;
    HRESULT result = S_OK;
    for (const auto& [id, path] : Scan()) {
        if (!wanted.count(id)) continue;
        ++found;
        if (::unlink(path.c_str()) != 0) result = E_FAIL;
    }
    // S_FALSE: some ids named no message (already gone).
    return result == S_OK && found < wanted.size() ? S_FALSE : result;
}

}  // namespace tindale::store
