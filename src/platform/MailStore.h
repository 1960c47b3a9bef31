#pragma once
// The mail store component over Maildir++. A namespace works on the current identity's store:
// folder id 0 is the store's root and holds no messages; "Inbox" is the root maildir itself;
// every other folder is a maildir ".A.B" directly under the root. Folder and message ids are
// 32-bit, persistent and never reused within a store: folders are mapped in ".tindale-folders"
// at the root, messages in ".tindale-uids" of each maildir, keyed by the unique part of the
// file name, so a flag rename by another client keeps the id. Id files are locked (flock).
// Results: S_OK, S_FALSE, failures negative.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/StoreProps.h"

namespace tindale::store {

using HRESULT = int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
inline constexpr HRESULT E_NOT_FOUND = static_cast<HRESULT>(0x80070002);

inline constexpr uint32_t kRootFolderId = 0;

struct FolderEnum {
    std::vector<FolderProps> items;
    size_t next = 0;
};

struct MessageEnum {
    std::vector<MessageProps> items;
    size_t next = 0;
};

// A message being added: written under tmp/ and moved into place only by CommitStream.
class PendingMessage {
  public:
    ~PendingMessage();
    int Fd() const { return fd_; }

  private:
    friend class StoreFolder;
    int fd_ = -1;
    std::string tmpPath_;
    std::string uniqueName_;
};

class StoreNamespace;

class StoreFolder {
  public:
    // Counts the folder's messages when asked (opening a folder does not list it).
    HRESULT GetFolderProps(FolderProps& props);
    // Lists messages with ids >= firstId (in id order); flags are not used.
    HRESULT GetFirstMessage(uint32_t flags, uint32_t firstId, MessageProps& props,
                            std::unique_ptr<MessageEnum>& handle);
    HRESULT GetNextMessage(MessageEnum& handle, MessageProps& props);
    void GetMessageClose(std::unique_ptr<MessageEnum>& handle) { handle.reset(); }
    // Opens a message's complete source for reading; the caller owns the descriptor.
    HRESULT OpenMessage(uint32_t messageId, int& fd);
    HRESULT CreateStream(std::unique_ptr<PendingMessage>& out);
    HRESULT CommitStream(PendingMessage& message, uint32_t& messageId);
    HRESULT DeleteMessages(const std::vector<uint32_t>& ids);

    uint32_t Id() const { return id_; }
    const std::string& Directory() const { return dir_; }

  private:
    friend class StoreNamespace;
    StoreFolder(StoreNamespace& ns, uint32_t id, std::string dir, FolderProps props)
        : ns_(ns), id_(id), dir_(std::move(dir)), props_(std::move(props)) {}
    // Every message file with its id, assigning ids to files seen for the first time.
    std::vector<std::pair<uint32_t, std::string>> Scan();
    std::string PathOf(uint32_t messageId);

    StoreNamespace& ns_;
    uint32_t id_;
    std::string dir_;  // the maildir's full path
    FolderProps props_;
};

class StoreNamespace {
  public:
    // Opens the store of the current identity (registering "Main Identity" for an existing
    // ~/Maildir when there is no identity at all).
    HRESULT Initialize();
    // Opens the store at a given root (for tests and tools).
    HRESULT InitializeAt(const std::string& storeRoot);

    // Subfolders with id, type, name and subfolder count (message counts: GetFolderProps).
    HRESULT GetFirstSubFolder(uint32_t parentId, FolderProps& props,
                              std::unique_ptr<FolderEnum>& handle);
    HRESULT GetNextSubFolder(FolderEnum& handle, FolderProps& props);
    void GetSubFolderClose(std::unique_ptr<FolderEnum>& handle) { handle.reset(); }
    HRESULT OpenFolder(uint32_t folderId, std::unique_ptr<StoreFolder>& folder);
    HRESULT CreateFolder(uint32_t parentId, const std::string& name, uint32_t& newId);

    const std::string& Root() const { return root_; }

  private:
    struct Folder {
        uint32_t id = 0;
        std::vector<std::u16string> path;  // names from the root; {"Inbox"} is the root maildir
        std::string dir;                   // full path of its maildir
    };
    // The folder list, read once per namespace (a namespace lives for one operation).
    const std::vector<Folder>& Folders();
    std::vector<Folder> ReadFolders();
    std::optional<std::vector<Folder>> folders_;
    std::vector<FolderProps> ChildrenOf(uint32_t parentId);
    FolderProps PropsOf(const Folder& folder, const std::vector<Folder>& all);

    std::string root_;
};

// Every subfolder of a folder (the whole enumeration, closed).
std::vector<FolderProps> ListSubFolders(StoreNamespace& ns, uint32_t parentId);
// Every message of a folder, from the first (the whole enumeration, closed).
std::vector<MessageProps> ListMessages(StoreFolder& folder);

// Creates cur/, new/ and tmp/ (and maildirfolder for a subfolder) when missing.
bool EnsureMaildir(const std::string& dir, bool isSubfolder);
// The special-folder type of a top-level folder name.
int32_t SpecialFolderType(const std::vector<std::u16string>& path);

}  // namespace tindale::store
