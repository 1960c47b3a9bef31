#include "platform/MailStore.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "base/Text.h"
#include "platform/IdMap.h"
#include "platform/Identities.h"
#include "platform/stores/StoreBooks.h"

namespace tindale::store {

namespace {
constexpr const char16_t* kInboxName = u"Inbox";
// Where an earlier version kept a store's folder ids: at its root.
constexpr const char* kLegacyFolderIds = "/.tindale-folders";

bool IsInbox(const std::vector<std::u16string>& path) {
    return path.size() == 1 && path[0] == kInboxName;
}
}  // namespace

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

HRESULT StoreNamespace::Initialize() {
    identities::EnsureDefaultIdentity();
    auto current = identities::Current();
    if (!current) return E_FAIL;
    std::string root = identities::StoreRoot(*current);
    if (root.empty()) return E_FAIL;
    return InitializeAt(root, identities::StoreKindOf(*current));
}

namespace {
thread_local std::string tLastOpenProblem;
}

std::string LastOpenProblem() {
    return tLastOpenProblem;
}

HRESULT StoreNamespace::InitializeAt(const std::string& storeRoot, StoreKind kind) {
    tLastOpenProblem.clear();
    auto backend = MakeStoreBackend(kind, storeRoot, StoreBooks(storeRoot));
    if (!backend || !backend->Prepare()) {
        if (backend) tLastOpenProblem = backend->OpenProblem();
        return E_FAIL;
    }
    root_ = storeRoot;
    kind_ = kind;
    backend_ = std::move(backend);
    folders_.reset();
    return S_OK;
}

StoreNamespace::~StoreNamespace() {
    Flush();
}

int StoreNamespace::Flush() {
    return backend_ ? backend_->Flush() : 0;
}

std::string StoreNamespace::WriteRefusal() {
    return backend_ ? backend_->WriteRefusal() : std::string();
}

void StoreNamespace::ReleaseIndex(const std::string& location) {
    if (backend_) backend_->ReleaseFolder(location);
}

void StoreNamespace::ReleaseIndexes() {
    if (backend_) backend_->ReleaseAll();
}

const std::vector<StoreNamespace::Folder>& StoreNamespace::Folders() {
    if (!folders_) folders_ = ReadFolders();
    return *folders_;
}

const std::vector<StoreNamespace::Unmapped>& StoreNamespace::UnmappedDirectories() {
    Folders();
    reported_ = unmapped_;
    if (backend_)
        reported_.insert(reported_.end(), backend_->Skipped().begin(), backend_->Skipped().end());
    return reported_;
}

std::vector<StoreNamespace::Folder> StoreNamespace::ReadFolders() {
    unmapped_.clear();
    std::vector<Folder> folders;
    std::set<std::vector<std::u16string>> listed;
    for (auto& f : backend_->ListFolders(unmapped_)) {
        listed.insert(f.path);
        folders.push_back({0, std::move(f.path), std::move(f.dir), -1, 0, f.selectable, f.type});
    }
    for (const auto& f : made_)
        if (listed.insert(f.path).second)
            folders.push_back({0, f.path, f.dir, -1, 0, true, std::nullopt});
    std::stable_sort(folders.begin(), folders.end(), [](const Folder& a, const Folder& b) {
        bool aInbox = IsInbox(a.path), bInbox = IsInbox(b.path);
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
    AssignIds(folders);
    return folders;
}

// Folder ids are kept per store, keyed by the folder's place relative to the root.
void StoreNamespace::AssignIds(std::vector<Folder>& folders) {
    StoreBooks books(root_);
    FileLock lock(books.LockFile());
    std::string mapPath = books.FolderIds();
    TakeOverLegacyIds(root_ + kLegacyFolderIds, mapPath);
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
}

FolderProps StoreNamespace::PropsOf(const Folder& folder) {
    FolderProps p;
    p.folderId = folder.id;
    p.type = folder.type.value_or(SpecialFolderType(folder.path));
    p.name = text::ToUtf8(folder.path.back());
    p.subFolders = folder.children;
    p.selectable = folder.selectable;
    return p;  // message counts come from GetFolderProps: listing a folder tree stays cheap
}

const StoreNamespace::Folder* StoreNamespace::FindFolder(uint32_t id) {
    const auto& all = Folders();
    auto it = std::find_if(all.begin(), all.end(), [&](const Folder& f) { return f.id == id; });
    return it == all.end() ? nullptr : &*it;
}

std::optional<uint32_t> StoreNamespace::FindPath(const std::vector<std::u16string>& path) {
    for (const auto& f : Folders())
        if (f.path == path) return f.id;
    return std::nullopt;
}

std::vector<FolderProps> StoreNamespace::ChildrenOf(uint32_t parentId) {
    const auto& all = Folders();
    int parent = -1;
    if (parentId != kRootFolderId) {
        const Folder* found = FindFolder(parentId);
        if (!found) return {};
        parent = static_cast<int>(found - all.data());
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
    if (!backend_) return E_FAIL;
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
    if (!backend_ || folderId == kRootFolderId) return E_FAIL;  // the root holds no messages
    const Folder* found = FindFolder(folderId);
    if (!found) return E_NOT_FOUND;
    folder = backend_->OpenFolder(found->id, found->dir, PropsOf(*found));
    return folder ? S_OK : E_FAIL;
}

HRESULT StoreNamespace::CreateFolder(uint32_t parentId, const std::string& name, uint32_t& newId,
                                     bool asParent) {
    if (!backend_ || name.empty()) return E_FAIL;
    folders_.reset();  // look at the disk as it is now before creating anything
    std::vector<std::u16string> path;
    std::string parentDir;  // relative to the root; empty at the top
    if (parentId != kRootFolderId) {
        const Folder* parent = FindFolder(parentId);
        if (!parent) return E_NOT_FOUND;
        path = parent->path;
        parentDir = parent->dir == root_ ? std::string() : parent->dir.substr(root_.size() + 1);
    }
    path.push_back(text::ToUtf16(name));
    if (auto id = FindPath(path)) {
        newId = *id;
        return S_OK;
    }
    auto made =
        asParent ? backend_->PlaceParent(parentDir, path) : backend_->MakeFolder(parentDir, path);
    if (!made) return E_FAIL;
    if (asParent) made_.push_back({path, *made, true, std::nullopt});
    folders_.reset();
    auto id = FindPath(path);
    if (!id) return E_FAIL;
    newId = *id;
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

}  // namespace tindale::store
