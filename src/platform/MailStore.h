#pragma once
#include <sys/stat.h>
// The mail store component over Maildir++. A namespace works on one store: folder id 0 is the
// store's root and holds no messages; "Inbox" is the root maildir itself; every other folder
// is a maildir ".A.B" directly under the root, and the Inbox's subfolders are ".INBOX.X" as
// Dovecot makes them (".Inbox.X" in any letter case is read the same way). Folder and message
// ids are 32-bit, persistent and never reused within a store: folders are mapped in
// ".tindale-folders" at the root, messages in ".tindale-uids" of each maildir (see
// MessageIndex). Id files are locked (flock).
//
// A namespace is meant to live for a whole job: it reads the folder list once and each
// folder's message list once, and writes changed id maps back in Flush (or when destroyed).
// Results: S_OK, S_FALSE, failures negative.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/MboxFolder.h"
#include "platform/MessageIndex.h"
#include "platform/RecentlyUsed.h"
#include "platform/StoreLayout.h"
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

// A listing of a folder's messages: ids first, properties read a chunk at a time (on every
// core) as the listing advances, so a folder of a million messages is never held whole.
struct MessageEnum {
    std::vector<uint32_t> ids;  // in id order
    std::vector<MessageProps> chunk;
    size_t chunkStart = 0;
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

// What a message file says beyond its bytes: its Maildir info flags ("D F P R S T" and the
// lowercase keyword letters after ":2,"), whether it still sat in new/, and its arrival time
// (the file's modification time, which IMAP servers report as INTERNALDATE).
struct MessageState {
    std::string flags;  // letters only, each once, in ASCII order
    bool inNew = false;
    int64_t arrivalSeconds = 0;
    uint32_t arrivalNanos = 0;
    bool known = false;  // false: nothing is known, the store's defaults apply

    // The state a message file's path ("…/cur/NAME:2,FS") and its stat give.
    static MessageState Of(const std::string& path, const struct stat& st);
    // Flags cleaned to what a Maildir name may carry.
    static std::string CleanFlags(std::string_view flags);
    // The name a message with this state gets, relative to its maildir ("cur/U:2,FS").
    std::string RelativeName(const std::string& unique) const;
};

class StoreFolder {
  public:
    // Counts the folder's messages when asked (opening a folder does not list it).
    HRESULT GetFolderProps(FolderProps& props);
    // Lists messages with ids >= firstId (in id order); flags are not used.
    HRESULT GetFirstMessage(uint32_t flags, uint32_t firstId, MessageProps& props,
                            std::unique_ptr<MessageEnum>& handle);
    HRESULT GetNextMessage(MessageEnum& handle, MessageProps& props);
    void GetMessageClose(std::unique_ptr<MessageEnum>& handle) { handle.reset(); }
    // Opens a message's complete source for reading; the caller owns the descriptor. Its
    // flags and arrival time go to `state` when given.
    HRESULT OpenMessage(uint32_t messageId, int& fd, MessageState* state = nullptr);
    HRESULT CreateStream(std::unique_ptr<PendingMessage>& out);
    // Whether this folder already holds a message with the pending message's bytes, or with
    // exactly `bytes`.
    bool HoldsCopyOf(const PendingMessage& message);
    bool HoldsCopyOf(std::span<const uint8_t> bytes);
    // Whether messages may be written here now (CreateStream asks the same).
    bool Writable();
    // Files the message: in new/ without flags by default; with a known `state`, in cur/ with
    // its flags (new/ when it had none and came from there) and with its arrival time.
    HRESULT CommitStream(PendingMessage& message, uint32_t& messageId,
                         const MessageState* state = nullptr);
    HRESULT DeleteMessages(const std::vector<uint32_t>& ids);
    // Gives a message these Maildir flags (filing it under cur/, as a client that has seen
    // it does); it keeps its id.
    HRESULT SetFlags(uint32_t messageId, const std::string& flags);
    // The message files by id (paths relative to the maildir), without reading any header.
    const store::MessageFiles& MessageFiles();

    uint32_t Id() const { return id_; }
    const std::string& Directory() const { return dir_; }

  private:
    friend class StoreNamespace;
    StoreFolder(StoreNamespace& ns, uint32_t id, std::string dir, FolderProps props)
        : ns_(ns), id_(id), dir_(std::move(dir)), props_(std::move(props)) {}
    MessageIndex& Index();
    MboxFolder& Mbox();
    bool IsMbox() const;
    void ReadChunk(MessageEnum& handle);
    HRESULT OpenMboxMessage(uint32_t messageId, int& fd, MessageState* state);
    // The file of a message, looking again once when it moved (another client renamed it,
    // or it was committed in a batch not yet published).
    std::optional<std::string> LocateMessage(uint32_t messageId);

    StoreNamespace& ns_;
    uint32_t id_;
    std::string dir_;  // the maildir's full path
    FolderProps props_;
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
    // Opens the store at a given root, laid out as `kind` says.
    HRESULT InitializeAt(const std::string& storeRoot, StoreKind kind = StoreKind::MaildirPlusPlus);
    StoreKind Kind() const { return kind_; }

    // Subfolders with id, type, name and subfolder count (message counts: GetFolderProps).
    HRESULT GetFirstSubFolder(uint32_t parentId, FolderProps& props,
                              std::unique_ptr<FolderEnum>& handle);
    HRESULT GetNextSubFolder(FolderEnum& handle, FolderProps& props);
    void GetSubFolderClose(std::unique_ptr<FolderEnum>& handle) { handle.reset(); }
    HRESULT OpenFolder(uint32_t folderId, std::unique_ptr<StoreFolder>& folder);
    HRESULT CreateFolder(uint32_t parentId, const std::string& name, uint32_t& newId);

    const std::string& Root() const { return root_; }
    // Whether the maildir `dir` already holds a message with exactly the bytes of `fd`
    // (read from its start). The folder is listed once per job (sizes first, so only files
    // of the same size are read); messages added since are not counted, so copies the
    // person had in one folder come back as they were.
    bool HoldsCopy(const std::string& dir, int fd);
    bool HoldsCopy(const std::string& dir, std::span<const uint8_t> bytes);
    // Whether messages may be written into the maildir `dir` of this store: it must resolve
    // to a place inside the store (a folder that is a link leading out of it is refused), and
    // temporaries a killed run left in its tmp/ are removed first. Checked once per folder.
    bool ReadyForWriting(const std::string& dir);
    // Why messages cannot be written into this store now (a Thunderbird profile that
    // Thunderbird has open), or empty.
    std::string WriteRefusal();
    // Writes the id maps of folders whose messages changed; 0 or an errno value.
    int Flush();
    // Saves and drops the loaded index of the maildir `dir` (a job done with a folder): its
    // memory is given back before the next folder is read.
    void ReleaseIndex(const std::string& dir);
    // All of them, and what HoldsCopy learnt of the folders.
    void ReleaseIndexes();
    // Maildirs of the store that no folder stands for, and why (read with the folder list).
    struct Unmapped {
        std::string directory;  // its name below the root
        std::string reason;
    };
    const std::vector<Unmapped>& UnmappedDirectories();

  private:
    friend class StoreFolder;
    struct Folder {
        uint32_t id = 0;
        std::vector<std::u16string> path;  // names from the root; {"Inbox"} is the root maildir
        std::string dir;                   // full path of its maildir
        int parent = -1;                   // index in the list; -1 for the root
        int32_t children = 0;
    };
    // The folder list, read once per namespace (a namespace lives for one operation).
    const std::vector<Folder>& Folders();
    std::vector<Folder> ReadFolders();
    std::vector<Folder> FindMaildirPlusPlusFolders();
    std::vector<Folder> FindNestedFolders();
    std::optional<std::vector<Folder>> folders_;
    std::vector<FolderProps> ChildrenOf(uint32_t parentId);
    static FolderProps PropsOf(const Folder& folder);
    // The loaded message index of a maildir, and the loaded mbox folders: a job goes through
    // folders one after the other, and each costs memory in proportion to its messages, so
    // only the two used last are kept.
    MessageIndex& IndexOf(const std::string& dir);
    RecentlyUsed<MessageIndex, &MessageIndex::Directory, &MessageIndex::Save, 2> indexes_;
    MboxFolder& MboxOf(const std::string& path);
    RecentlyUsed<MboxFolder, &MboxFolder::Path, &MboxFolder::SaveIds, 2> mboxes_;
    // Where the store's own id files go: its root, except for an mbox store, whose folder is
    // the mail client's own (they go to a folder of this program's data, one per store).
    std::string MetaDirectory();

    std::string root_;
    StoreKind kind_ = StoreKind::MaildirPlusPlus;
    std::map<std::string, bool> writable_;  // ReadyForWriting's answers
    std::vector<Unmapped> unmapped_;

  public:
    // A maildir's message files by size, with a hash of each once it has been read. Packed
    // like the message index: names end to end in one buffer, 24 bytes a file beside them.
    struct FolderContents {
        struct File {
            uint64_t size;
            uint64_t hash;  // 0 until needed
            uint32_t name;  // offset of "cur/NAME" in names
        };
        std::vector<File> bySize;  // ascending by size
        std::string names;
    };

  private:
    bool HoldsCopy(const std::string& dir, uint64_t size,
                   const std::function<uint64_t()>& hashOfCandidate,
                   const std::function<bool(int)>& sameAsCandidate);
    // Per maildir, its message files as they were when first asked about.
    std::map<std::string, std::unique_ptr<FolderContents>> contents_;
};

// Every subfolder of a folder (the whole enumeration, closed).
std::vector<FolderProps> ListSubFolders(StoreNamespace& ns, uint32_t parentId);
// Every message of a folder, from the first (the whole enumeration, closed).
// `keepGoing`, when given, is called with the number listed so far after every few hundred
// messages; the listing ends there when it returns false.
std::vector<MessageProps> ListMessages(StoreFolder& folder,
                                       const std::function<bool(size_t)>& keepGoing = {});

// Creates cur/, new/ and tmp/ (and maildirfolder for a subfolder) when missing.
// Whether `dir` is a maildir (has cur/ and new/).
bool IsMaildir(const std::string& dir);
bool EnsureMaildir(const std::string& dir, bool isSubfolder);
// The special-folder type of a top-level folder name.
int32_t SpecialFolderType(const std::vector<std::u16string>& path);

}  // namespace tindale::store
