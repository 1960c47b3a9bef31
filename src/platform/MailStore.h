#pragma once
// The mail store component: a namespace works on one store of any kind. Folder id 0 is the
// store's root and holds no messages; folder and message ids are 32-bit, persistent and
// never reused within a store, kept in this program's data folder (StoreBooks), never in the
// person's mail folders. How a kind lays its folders and messages out is its own business
// (stores/ holds one folder per kind); the namespace keeps the folder tree and its ids.
//
// A namespace is meant to live for a whole job: it reads the folder list once and each
// folder's message list once, and writes changed id maps back in Flush (or when destroyed).
// Results: S_OK, S_FALSE, failures negative.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/StoreLayout.h"
#include "platform/StoreProps.h"
#include "platform/stores/StoreBackend.h"
#include "platform/stores/StoreFolder.h"

namespace tindale::store {

struct FolderEnum {
    std::vector<FolderProps> items;
    size_t next = 0;
};

class StoreNamespace {
  public:
    StoreNamespace() = default;
    ~StoreNamespace();
    StoreNamespace(const StoreNamespace&) = delete;
    StoreNamespace& operator=(const StoreNamespace&) = delete;

    // Opens the store of the current identity (registering "Main Identity" for an existing
    // ~/Maildir when there is no identity at all).
    HRESULT Initialize();
    // Opens the store at a given root, of the given kind.
    HRESULT InitializeAt(const std::string& storeRoot, StoreKind kind = StoreKind::MaildirPlusPlus);
    StoreKind Kind() const { return kind_; }

    // Subfolders with id, type, name and subfolder count (message counts: GetFolderProps).
    HRESULT GetFirstSubFolder(uint32_t parentId, FolderProps& props,
                              std::unique_ptr<FolderEnum>& handle);
    HRESULT GetNextSubFolder(FolderEnum& handle, FolderProps& props);
    void GetSubFolderClose(std::unique_ptr<FolderEnum>& handle) { handle.reset(); }
    HRESULT OpenFolder(uint32_t folderId, std::unique_ptr<StoreFolder>& folder);
    // `asParent`: wanted only as the parent of a subfolder (StoreBackend::PlaceParent).
    HRESULT CreateFolder(uint32_t parentId, const std::string& name, uint32_t& newId,
                         bool asParent = false);

    const std::string& Root() const { return root_; }
    // Why messages cannot be written into this store now (a Thunderbird profile that
    // Thunderbird has open), or empty.
    std::string WriteRefusal();
    // Writes the id maps of folders whose messages changed; 0 or an errno value.
    int Flush();
    // Saves and drops what was loaded for the folder at `location` (StoreFolder::Directory):
    // its memory is given back before the next folder is read.
    void ReleaseIndex(const std::string& location);
    // All of them, and what was learnt of the folders' contents.
    void ReleaseIndexes();
    // Directories of the store that no folder stands for, and entries its folders passed
    // over (links), and why: read with the folder list and as folders are listed.
    using Unmapped = store::Unmapped;
    const std::vector<Unmapped>& UnmappedDirectories();
    // Messages marked deleted that wait for their client to compact the folder, in the
    // folders listed so far: not mail, left out of every listing.
    size_t DeletedWaiting() const { return backend_ ? backend_->DeletedWaiting() : 0; }

  private:
    struct Folder {
        uint32_t id = 0;
        std::vector<std::u16string> path;  // names from the root; {"Inbox"} is the Inbox
        std::string dir;                   // its full path
        int parent = -1;                   // index in the list; -1 for the top
        int32_t children = 0;
        bool selectable = true;
        std::optional<int32_t> type;  // as the store says it; else by name
    };
    // The folder list, read once per namespace (a namespace lives for one operation).
    const std::vector<Folder>& Folders();
    std::vector<Folder> ReadFolders();
    void AssignIds(std::vector<Folder>& folders);
    const Folder* FindFolder(uint32_t id);
    std::optional<uint32_t> FindPath(const std::vector<std::u16string>& path);
    std::vector<FolderProps> ChildrenOf(uint32_t parentId);
    static FolderProps PropsOf(const Folder& folder);

    std::string root_;
    StoreKind kind_ = StoreKind::MaildirPlusPlus;
    std::unique_ptr<StoreBackend> backend_;
    std::optional<std::vector<Folder>> folders_;
    std::vector<Unmapped> unmapped_;
    std::vector<Unmapped> reported_;  // unmapped_ and what the folders passed over
    // Folders made by this namespace that the kind makes on disk only when written into.
    std::vector<FolderEntry> made_;
};

// Why the last store this thread failed to open (InitializeAt) could not be opened, where
// its kind says more than "it could not"; else empty.
std::string LastOpenProblem();
// Every subfolder of a folder (the whole enumeration, closed).
std::vector<FolderProps> ListSubFolders(StoreNamespace& ns, uint32_t parentId);
// The special-folder type of a top-level folder name.
int32_t SpecialFolderType(const std::vector<std::u16string>& path);

}  // namespace tindale::store
