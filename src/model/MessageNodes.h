#pragma once
// The mail of every identity as nodes: one MsgStore root, a MsgStoreIden per identity,
// MsgFolders for each store's folder tree and MsgNodes for the messages. Only messages
// carry a payload:
//   0 folder path (2048 UTF-16 units, names joined by "\") | 4096 identity id (256 units)
//   | 4608 MESSAGEPROPS (68 bytes) | 4676 the message's complete source
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "model/Node.h"
#include "platform/MailStore.h"
#include "platform/StoreProps.h"

namespace v {

inline constexpr size_t kMessageHeaderSize = 4676;
inline constexpr size_t kMessageFolderPathBytes = 4096;  // at 0
inline constexpr size_t kMessageIdentityAt = 4096;
inline constexpr size_t kMessageIdentityBytes = 512;
inline constexpr size_t kMessagePropsAt = 4608;
// The message's Maildir state, in the identity field's zero padding well past any identity
// id (readers of the format stop at the id's NUL and ignore it): "TZMS", version 1, 1 when it
// was in new/, 0, the arrival time (i64 seconds, u32 nanoseconds), the number of flag letters,
// the letters. Written only when the identity id leaves that room.
inline constexpr size_t kMessageStateAt = kMessageIdentityAt + 384;
inline constexpr size_t kMessageStateBytes = 128;
// The message's file name and keyword names, in the folder path field's zero padding (the
// second half, which a folder path reaches only past 1023 units): "TZMN", version 1, the
// number of keywords, the name's length, 0, the name (UTF-8, without flags), then each
// keyword as its letter (0 for none), its length and its name. Written only when the folder
// path leaves that room; keywords that do not fit are left out.
inline constexpr size_t kMessageNamesAt = 2048;
inline constexpr size_t kMessageNamesBytes = 2048;

// The state kept in a message payload header, when it holds one (names included).
std::optional<tindale::store::MessageState> ReadMessageState(const uint8_t* header);
// Writes `state` into a header whose identity id is already there; false when the id leaves
// no room for it.
bool WriteMessageState(uint8_t* header, const tindale::store::MessageState& state);
// The file name and keyword names of `state` into a header whose folder path is already
// there; false when the path leaves no room for them.
bool WriteMessageNames(uint8_t* header, const tindale::store::MessageState& state);

// Makes the identity the mail client's current one (only where a person asks for it).
bool MakeIdentityCurrent(const std::u16string& identityId);
// The identity's store: the job's open one when a StoreSession is installed on this thread,
// else one opened for the caller. Null when the identity is not registered or its store
// cannot be opened. The registry is left as it is.
std::shared_ptr<tindale::store::StoreNamespace> OpenStoreFor(const std::u16string& identityId);
// Deletes every message in every folder of the identity's store; false when its store
// cannot be opened or a message could not be deleted.
bool EmptyIdentityStore(const std::u16string& identityId);
// Says, on the job's outcome, what a backup of the identity's store cannot hold: maildirs
// that no folder stands for (named, left out) and a store with no mail at all (a note).
// `messagesWritten` is how many of its messages the backup wrote.
void ReportStoreGaps(const std::u16string& identityId, uint64_t messagesWritten);
// Reports every mail store of the home that no identity can stand for (a kind of store this
// program cannot read): its mail is not in the archive.
void ReportUnreadableStores();
// How many messages the identity's store holds in all its folders (file names only: no
// message is read); `upTo` stops counting there.
size_t CountIdentityMessages(const std::u16string& identityId, size_t upTo = SIZE_MAX);
// Finds or makes each folder of a "\"-separated path below the store's root, names matched
// exactly; the root (0) when a folder can be neither found nor made.
uint32_t ResolveFolderPath(tindale::store::StoreNamespace& ns, const std::u16string& path);
// Finds or makes the folder with the "\"-separated path in the identity's store, ready for
// messages; false when it cannot be made.
bool EnsureMessageFolder(const std::u16string& identityId, const std::u16string& path);

class MsgBase : public BasicNode {
  public:
    static const tindale::Guid kTypeGuid;
    using BasicNode::BasicNode;
    std::u16string GetTypeName() const override { return u"MsgBase"; }
    tindale::Guid GetTypeGuid() const override { return kTypeGuid; }
    const std::u16string& IdentityId() const { return identityId_; }
    const std::u16string& FolderPath() const { return folderPath_; }

  protected:
    std::u16string identityId_;
    std::u16string folderPath_;
};

class MsgStore : public BasicNode {
  public:
    static const tindale::Guid kTypeGuid;
    MsgStore();
    MsgStore(const NodeRecord& record, BasicStream* payload) : BasicNode(record, payload) {}
    int32_t EnumContainers(NodeList& out) override;
    ID* GetId() override { return &id_; }
    std::u16string GetTypeName() const override { return u"MsgStore"; }
    tindale::Guid GetTypeGuid() const override { return kTypeGuid; }
    bool IsContainer() const override { return true; }

  private:
    IDInt<int> id_{1006};
};

class MsgStoreIden : public MsgBase {
  public:
    static const tindale::Guid kTypeGuid;
    explicit MsgStoreIden(std::u16string identityId);
    MsgStoreIden(const NodeRecord& record, BasicStream* payload) : MsgBase(record, payload) {}
    int32_t EnumContainers(NodeList& out) override;
    // Which identity it is and where its store lives (IdentityRecord.h).
    uint64_t WritePayload(BasicStream& out) override;
    ID* GetId() override;
    std::u16string GetTypeName() const override { return u"MsgStoreIden"; }
    tindale::Guid GetTypeGuid() const override { return kTypeGuid; }
    bool IsContainer() const override { return true; }

  private:
    std::optional<MD5> id_;  // made when first asked for
};

class MsgFolder : public MsgBase {
  public:
    static const tindale::Guid kTypeGuid;
    MsgFolder(const tindale::store::FolderProps& props, std::u16string identityId,
              std::u16string folderPath);
    MsgFolder(const NodeRecord& record, BasicStream* payload) : MsgBase(record, payload) {}
    int32_t EnumContainers(NodeList& out) override;
    int32_t EnumItems(NodeList& out) override;
    bool MayHoldItems() const override { return true; }
    void ForEachItem(const std::function<bool(std::unique_ptr<BasicNode>)>& take) override;
    // Whether it is a mere parent, and its mail clients' files (FolderState.h); nothing for
    // a folder with neither.
    uint64_t WritePayload(BasicStream& out) override;
    ID* GetId() override;
    std::u16string GetTypeName() const override { return u"MsgFolder"; }
    tindale::Guid GetTypeGuid() const override { return kTypeGuid; }
    bool IsContainer() const override { return true; }
    const tindale::store::FolderProps& Props() const { return props_; }

  private:
    tindale::store::FolderProps props_;
    std::optional<MD5> id_;
};

class MsgNode : public MsgBase {
  public:
    static const tindale::Guid kTypeGuid;
    MsgNode(const tindale::store::MessageProps& props, uint32_t folderId, std::u16string identityId,
            std::u16string folderPath);
    MsgNode(const NodeRecord& record, BasicStream* payload) : MsgBase(record, payload) {}
    uint64_t WritePayload(BasicStream& out) override;
    uint64_t RestorePayload(BasicStream& in) override;
    uint64_t SkipPayload(BasicStream& in, BasicStream& sink) override;
    // The identity a restore puts the message into; without one, the identity it was read
    // from (as the archive records it).
    void SetRestoreIdentity(std::u16string identityId) { restoreIdentity_ = std::move(identityId); }
    // Where the message goes when no restore identity was set and the identity it was backed
    // up from is not registered here.
    void SetFallbackIdentity(std::u16string identityId) {
        fallbackIdentity_ = std::move(identityId);
    }
    // Computed when asked: nothing on the backup path needs it, and a digest per message
    // was a fifth of the cost of backing up a large folder.
    ID* GetId() override;
    std::u16string GetTypeName() const override { return u"MsgNode"; }
    tindale::Guid GetTypeGuid() const override { return kTypeGuid; }
    bool IsContainer() const override { return false; }
    const tindale::store::MessageProps& Props() const { return props_; }

  private:
    tindale::store::MessageProps props_;
    uint32_t folderId_ = 0;
    std::optional<MD5> id_;
    std::u16string restoreIdentity_;
    std::u16string fallbackIdentity_;
};

// MD5 over a 4100-byte buffer: the 32-bit id, then the text as UTF-16 with its terminator.
MD5 IdAndTextDigest(uint32_t id, std::u16string_view text);

}  // namespace v
