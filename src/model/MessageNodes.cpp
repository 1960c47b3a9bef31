#include "model/MessageNodes.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <span>

#include "base/Text.h"
#include "model/FolderState.h"
#include "model/IdentityRecord.h"
#include "model/NodeIconRegistry.h"
#include "model/Outcome.h"
#include "platform/Identities.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"
#include "platform/StoreDiscovery.h"
#include "platform/StoreSession.h"

namespace v {

using namespace tindale;
using namespace tindale::store;

const Guid MsgBase::kTypeGuid = Guid::FromText("{D2B37072-40B4-4F44-B652-3DB8458CDC5D}");
const Guid MsgStore::kTypeGuid = Guid::FromText("{89322988-8CF1-488D-858B-50B223547488}");
const Guid MsgStoreIden::kTypeGuid = Guid::FromText("{F552DAB0-81A5-4123-A788-EAE9EEBC9A35}");
const Guid MsgFolder::kTypeGuid = Guid::FromText("{BFFD5B28-F864-4B35-AB0E-3EF4F89D97D7}");
const Guid MsgNode::kTypeGuid = Guid::FromText("{23827F9D-F04A-475D-8C29-65010AC71DB1}");

namespace {

const char16_t* IconKeyFor(int32_t type) {
    switch (type) {
        case kInbox:
            return u"Inbox";
        case kOutbox:
            return u"Outbox";
        case kSentItems:
            return u"Sent";
        case kDeletedItems:
            return u"Deleted";
        case kDrafts:
            return u"Draft";
        case kNotSpecial:
            return u"Nospec";
        default:
            return u"none";
    }
}

std::u16string Join(const std::u16string& path, const std::u16string& name) {
    if (path.empty()) return name;
    return path.back() == u'\\' ? path + name : path + u"\\" + name;
}

int32_t AppendFolders(BasicNode* parent, const std::u16string& identity, uint32_t folderId,
                      const std::u16string& parentPath, NodeList& out) {
    auto ns = OpenStoreFor(identity);
    if (!ns) return 0;
    int32_t added = 0;
    for (const auto& props : ListSubFolders(*ns, folderId)) {
        auto child = std::make_unique<MsgFolder>(props, identity,
                                                 Join(parentPath, text::ToUtf16(props.name)));
        child->parent = parent;
        out.push_back(std::move(child));
        ++added;
    }
    return added;
}

uint32_t InboxId(StoreNamespace& ns) {
    for (const auto& f : ListSubFolders(ns, kRootFolderId))
        if (f.type == kInbox) return f.folderId;
    return kRootFolderId;
}

}  // namespace

uint32_t ResolveFolderPath(StoreNamespace& ns, const std::u16string& path) {
    uint32_t current = kRootFolderId;
    auto names = reg::SplitPath(path);
    for (size_t level = 0; level < names.size(); ++level) {
        std::string wanted = text::ToUtf8(names[level]);
        bool parentOnly = level + 1 < names.size();
        uint32_t next = kRootFolderId;
        for (const auto& f : ListSubFolders(ns, current))
            if (f.name == wanted) {
                next = f.folderId;
                break;
            }
        if (next == kRootFolderId && ns.CreateFolder(current, wanted, next, parentOnly) != S_OK)
            return kRootFolderId;
        current = next;
    }
    return current;
}

namespace {

bool EmptyFolderTree(StoreNamespace& ns, uint32_t folderId) {
    bool ok = true;
    if (folderId != kRootFolderId) {
        std::unique_ptr<StoreFolder> folder;
        if (ns.OpenFolder(folderId, folder) == S_OK) {
            ok = folder->DeleteMessages(folder->MessageFiles().IdsFrom()) >= 0;
        }
    }
    for (const auto& sub : ListSubFolders(ns, folderId))
        ok = EmptyFolderTree(ns, sub.folderId) && ok;
    return ok;
}

}  // namespace

namespace {

constexpr char kStateMagic[4] = {'T', 'Z', 'M', 'S'};
constexpr size_t kStateFlagsAt = 4 + 1 + 1 + 2 + 8 + 4 + 1;
constexpr size_t kMaxStateFlags = kMessageStateBytes - kStateFlagsAt;

// The state a message without a kept one comes back with: read mail in cur/ with "S", unread
// mail in new/, arriving at its received time.
MessageState StateFromProps(const MessageProps& props) {
    MessageState state;
    bool read = (props.state & kMessageRead) != 0;
    state.flags = read ? "S" : "";
    state.inNew = !read;
    if (props.received != 0) state.arrivalSeconds = UnixFromFileTime(props.received);
    state.known = true;
    return state;
}

// Messages up to this size are read whole before anything is written for them.
constexpr size_t kWholeInMemory = 1u << 20;

void ReportRefusal(StoreNamespace& ns, const std::string& name) {
    std::string refusal = ns.WriteRefusal();
    ReportProblem(name, refusal.empty() ? "the message could not be added to the store"
                                        : "it was not added: " + refusal);
}

}  // namespace

namespace {

constexpr char kNamesMagic[4] = {'T', 'Z', 'M', 'N'};
constexpr size_t kNamesHeader = 8;

void ReadMessageNames(const uint8_t* header, MessageState& state) {
    const uint8_t* at = header + kMessageNamesAt;
    if (std::memcmp(at, kNamesMagic, 4) != 0 || at[4] != 1) return;
    const uint8_t* end = at + kMessageNamesBytes;
    const uint8_t* p = at + kNamesHeader;
    size_t keywords = at[5], length = at[6];
    if (p + length > end) return;
    std::string name(reinterpret_cast<const char*>(p), length);
    if (MessageState::UsableFileName(name)) state.fileName = std::move(name);
    p += length;
    for (size_t i = 0; i < keywords && p + 2 <= end; ++i) {
        char letter = static_cast<char>(p[0]);
        size_t size = p[1];
        p += 2;
        if (p + size > end) break;
        std::string keyword(reinterpret_cast<const char*>(p), size);
        p += size;
        bool letterOk = letter == 0 || (letter >= 'a' && letter <= 'z');
        if (letterOk && !keyword.empty()) state.keywords.push_back({letter, std::move(keyword)});
    }
}

}  // namespace

bool WriteMessageNames(uint8_t* header, const MessageState& state) {
    // The folder path (and its NUL) must end before the names begin.
    for (size_t i = kMessageNamesAt - 2; i < kMessageNamesAt + kMessageNamesBytes; ++i)
        if (header[i] != 0) return false;
    if (state.fileName.empty() && state.keywords.empty()) return true;
    uint8_t* at = header + kMessageNamesAt;
    uint8_t* end = at + kMessageNamesBytes;
    std::string name = state.fileName.size() <= 255 ? state.fileName : std::string();
    std::memcpy(at, kNamesMagic, 4);
    at[4] = 1;
    at[6] = static_cast<uint8_t>(name.size());
    uint8_t* p = at + kNamesHeader;
    std::memcpy(p, name.data(), name.size());
    p += name.size();
    size_t written = 0;
    for (const auto& keyword : state.keywords) {
        if (written == 255 || keyword.name.empty() || keyword.name.size() > 255 ||
            p + 2 + keyword.name.size() > end)
            continue;
        p[0] = static_cast<uint8_t>(keyword.letter);
        p[1] = static_cast<uint8_t>(keyword.name.size());
        std::memcpy(p + 2, keyword.name.data(), keyword.name.size());
        p += 2 + keyword.name.size();
        ++written;
    }
    at[5] = static_cast<uint8_t>(written);
    return true;
}

std::optional<MessageState> ReadMessageState(const uint8_t* header) {
    const uint8_t* at = header + kMessageStateAt;
    if (std::memcmp(at, kStateMagic, 4) != 0 || at[4] != 1) return std::nullopt;
    MessageState state;
    state.inNew = at[5] == 1;
    state.arrivalSeconds = static_cast<int64_t>(text::GetU64(at + 8));
    state.arrivalNanos = std::min<uint32_t>(text::GetU32(at + 16), 999999999);
    size_t count = std::min<size_t>(at[20], kMaxStateFlags);
    state.flags = MessageState::CleanFlags(
        std::string_view(reinterpret_cast<const char*>(at + kStateFlagsAt), count));
    state.known = true;
    ReadMessageNames(header, state);
    return state;
}

bool WriteMessageState(uint8_t* header, const MessageState& state) {
    uint8_t* at = header + kMessageStateAt;
    // The identity id (and its NUL) must end before the state begins.
    for (size_t i = kMessageIdentityAt; i < kMessageStateAt; ++i)
        if (header[i] != 0 && i + 2 >= kMessageStateAt) return false;
    std::string flags = MessageState::CleanFlags(state.flags).substr(0, kMaxStateFlags);
    std::memset(at, 0, kMessageStateBytes);
    std::memcpy(at, kStateMagic, 4);
    at[4] = 1;
    at[5] = state.inNew ? 1 : 0;
    text::PutU64(at + 8, static_cast<uint64_t>(state.arrivalSeconds));
    text::PutU32(at + 16, state.arrivalNanos);
    at[20] = static_cast<uint8_t>(flags.size());
    std::memcpy(at + kStateFlagsAt, flags.data(), flags.size());
    return true;
}

bool MakeIdentityCurrent(const std::u16string& identityId) {
    return identities::MakeIdentityCurrent(identityId);
}

std::shared_ptr<StoreNamespace> OpenStoreFor(const std::u16string& identityId) {
    // Only the identity's own store: falling back to whichever store is current could
    // restore into, or delete from, another identity's mail.
    if (auto* session = CurrentStoreSession()) return session->Open(identityId);
    return OpenIdentityStore(identityId);
}

bool EmptyIdentityStore(const std::u16string& identityId) {
    auto ns = OpenStoreFor(identityId);
    return ns && EmptyFolderTree(*ns, kRootFolderId);
}

void ReportStoreGaps(const std::u16string& identityId, uint64_t messagesWritten) {
    auto ns = OpenStoreFor(identityId);
    if (!ns) {
        auto* session = CurrentStoreSession();
        std::string why = session ? session->FailureOf(identityId) : LastOpenProblem();
        auto identity = identities::Find(identityId);
        if (identity && !why.empty())
            ReportProblem(text::ToUtf8(identity->name), "its mail store could not be opened: " +
                                                            why + "; its mail was not backed up");
        return;
    }
    for (const auto& gap : ns->UnmappedDirectories())
        ReportProblem(ns->Root() + "/" + gap.directory,
                      gap.reason + "; its messages were not backed up");
    if (size_t waiting = ns->DeletedWaiting())
        ReportNote(std::to_string(waiting) +
                   " deleted messages waiting for compaction were left out");
    if (messagesWritten > 0) return;
    size_t messages = CountIdentityMessages(identityId, 1);
    if (messages > 0) return;
    auto identity = identities::Find(identityId);
    ReportNote("the mail store of \"" + text::ToUtf8(identity ? identity->name : identityId) +
               "\" (" + ns->Root() + ") holds no mail at all: no message of it is in the archive");
}

void ReportUnreadableStores() {
    for (const auto& store : identities::FindUnreadableStores())
        ReportProblem(store.root, store.reason + "; its mail was not backed up");
}

size_t CountIdentityMessages(const std::u16string& identityId, size_t upTo) {
    auto ns = OpenStoreFor(identityId);
    if (!ns) return 0;
    size_t messages = 0;
    std::vector<uint32_t> pending{kRootFolderId};
    while (!pending.empty() && messages < upTo) {
        uint32_t at = pending.back();
        pending.pop_back();
        for (const auto& sub : ListSubFolders(*ns, at)) {
            std::unique_ptr<StoreFolder> folder;
            if (ns->OpenFolder(sub.folderId, folder) == S_OK)
                messages += folder->MessageFiles().size();
            pending.push_back(sub.folderId);
        }
    }
    return messages;
}

bool EnsureMessageFolder(const std::u16string& identityId, const std::u16string& path) {
    auto ns = OpenStoreFor(identityId);
    if (!ns || path.empty()) return false;
    uint32_t id = ResolveFolderPath(*ns, path);
    if (id == kRootFolderId) return false;
    // Kinds that make a folder on disk only when written into make it now (a store its
    // client holds open is said by each message that cannot go there).
    std::unique_ptr<StoreFolder> folder;
    if (ns->OpenFolder(id, folder) == S_OK) folder->Writable();
    return true;
}

MD5 IdAndTextDigest(uint32_t id, std::u16string_view textValue) {
    std::vector<uint8_t> buffer(4100, 0);
    text::PutU32(buffer.data(), id);
    text::PutFixedUtf16(std::span(buffer).subspan(4, 4096), textValue);
    return MD5(buffer);
}

MsgStore::MsgStore() {
    displayName = u"Message Store";
    iconIndex = NodeIconRegistry::Instance().IndexForKey(u"OE");
}

int32_t MsgStore::EnumContainers(NodeList& out) {
    identities::EnsureDefaultIdentity();
    int32_t added = 0;
    for (const auto& identity : identities::List()) {
        auto child = std::make_unique<MsgStoreIden>(identity.id);
        child->parent = this;
        out.push_back(std::move(child));
        ++added;
    }
    return added;
}

MsgStoreIden::MsgStoreIden(std::u16string identityId) {
    identityId_ = std::move(identityId);
    auto found = identities::Find(identityId_);
    displayName = found ? found->name : u"";
    iconIndex = NodeIconRegistry::Instance().IndexForKey(u"Local");
}

ID* MsgStoreIden::GetId() {
    if (!id_) id_ = MD5(text::Utf16LeBytes(identityId_));
    return &*id_;
}

uint64_t MsgStoreIden::WritePayload(BasicStream& out) {
    IdentityRecord identity{identityId_, displayName, u"", identities::StoreKindOf(identityId_)};
    std::string root = identities::StoreRoot(identityId_);
    // An IMAP account is kept as its URL: it is the same account on any computer.
    if (identity.kind == store::StoreKind::Imap)
        identity.storedRoot = text::ToUtf16(root);
    else if (!root.empty())
        identity.storedRoot = shell::ToArchivePath(root).value_or(u"");
    auto bytes = identity.Encode();
    return static_cast<uint64_t>(out.Write(bytes.data(), static_cast<int32_t>(bytes.size())));
}

int32_t MsgStoreIden::EnumContainers(NodeList& out) {
    return AppendFolders(this, identityId_, kRootFolderId, u"", out);
}

MsgFolder::MsgFolder(const FolderProps& props, std::u16string identityId, std::u16string folderPath)
    : props_(props) {
    identityId_ = std::move(identityId);
    folderPath_ = std::move(folderPath);
    displayName = text::ToUtf16(props.name);
    iconIndex = NodeIconRegistry::Instance().IndexForKey(IconKeyFor(props.type));
}

ID* MsgFolder::GetId() {
    if (!id_) id_ = IdAndTextDigest(props_.folderId, text::ToUtf16(props_.name));
    return &*id_;
}

uint64_t MsgFolder::WritePayload(BasicStream& out) {
    return WriteFolderState(ReadStoreFolderState(identityId_, props_.folderId, props_.selectable),
                            out);
}

int32_t MsgFolder::EnumContainers(NodeList& out) {
    return AppendFolders(this, identityId_, props_.folderId, folderPath_, out);
}

int32_t MsgFolder::EnumItems(NodeList& out) {
    int32_t added = 0;
    ForEachItem([&](std::unique_ptr<BasicNode> item) {
        out.push_back(std::move(item));
        ++added;
        return true;
    });
    return added;
}

void MsgFolder::ForEachItem(const std::function<bool(std::unique_ptr<BasicNode>)>& take) {
    auto ns = OpenStoreFor(identityId_);
    std::unique_ptr<StoreFolder> folder;
    if (!ns || ns->OpenFolder(props_.folderId, folder) != S_OK) return;
    std::unique_ptr<MessageEnum> handle;
    MessageProps props;
    for (HRESULT hr = folder->GetFirstMessage(0, 0, props, handle); hr == S_OK;
         hr = folder->GetNextMessage(*handle, props)) {
        auto item = std::make_unique<MsgNode>(props, props_.folderId, identityId_, folderPath_);
        item->parent = this;
        if (!take(std::move(item))) break;
    }
    folder->GetMessageClose(handle);
    ns->ReleaseIndex(folder->Directory());  // the folder is done: its index goes
}

MsgNode::MsgNode(const MessageProps& props, uint32_t folderId, std::u16string identityId,
                 std::u16string folderPath)
    : props_(props), folderId_(folderId) {
    identityId_ = std::move(identityId);
    folderPath_ = std::move(folderPath);
    displayName = text::ToUtf16(props.subject);
    iconIndex = NodeIconRegistry::Instance().IndexForKey(u"Message");
}

ID* MsgNode::GetId() {
    if (!id_) id_ = IdAndTextDigest(props_.messageId, text::ToUtf16(props_.subject));
    return &*id_;
}

uint64_t MsgNode::WritePayload(BasicStream& out) {
    std::string where = text::ToUtf8(folderPath_) + " / " + props_.subject;
    if (folderPath_.size() >= kMessageFolderPathBytes / 2 ||
        identityId_.size() >= kMessageIdentityBytes / 2) {
        ReportProblem(where, "its folder path is too long for an archive record");
        return 0;
    }
    auto ns = OpenStoreFor(identityId_);
    std::unique_ptr<StoreFolder> folder;
    int fd = -1;
    HRESULT opened = E_NOT_FOUND;
    MessageState state;
    if (ns && ns->OpenFolder(folderId_, folder) == S_OK)
        opened = folder->OpenMessage(props_.messageId, fd, &state);
    if (opened != S_OK) {
        // Name the file: a message without a subject (a dangling link) is otherwise nameless.
        if (folder) {
            if (auto file = folder->MessageFiles().Find(props_.messageId))
                where = folder->Directory() + "/" + std::string(*file);
        }
        std::string why = folder ? folder->Problem() : std::string();
        ReportProblem(where, !why.empty() ? "the message could not be read: " + why
                             : opened == E_NOT_FOUND
                                 ? "the message cannot be read (it may have been moved or deleted)"
                                 : "its file is not a regular file (a FIFO, a device, or a link "
                                   "to one) or cannot be opened");
        return 0;
    }
    FileStream source(fd);
    uint8_t header[kMessageHeaderSize] = {};
    text::PutFixedUtf16(std::span(header, kMessageFolderPathBytes), folderPath_);
    text::PutFixedUtf16(std::span(header + kMessageIdentityAt, kMessageIdentityBytes), identityId_);
    WriteMessageState(header, state);
    WriteMessageNames(header, state);
    auto props = props_.ToBytes();
    std::copy(props.begin(), props.end(), header + kMessagePropsAt);
    uint64_t total = static_cast<uint64_t>(out.Write(header, kMessageHeaderSize));
    total += CopyStream(source, out);
    if (source.LastError() != 0) ReportProblem(where, "the message could not be read to its end");
    return total;
}

uint64_t MsgNode::RestorePayload(BasicStream& in) {
    uint8_t header[kMessageHeaderSize];
    std::string name = text::ToUtf8(record.DisplayName());
    if (ReadFully(in, header, kMessageHeaderSize) != kMessageHeaderSize) {
        ReportProblem(name, "its data in the archive is damaged");
        return 0;
    }
    std::u16string path = text::GetFixedUtf16(std::span(header, kMessageFolderPathBytes));
    if (!restoreIdentity_.empty()) identityId_ = restoreIdentity_;
    if (identityId_.empty())
        identityId_ =
            text::GetFixedUtf16(std::span(header + kMessageIdentityAt, kMessageIdentityBytes));
    auto ns = OpenStoreFor(identityId_);
    if (!ns && restoreIdentity_.empty() && !fallbackIdentity_.empty()) {
        identityId_ = fallbackIdentity_;  // its own identity is not registered here
        ns = OpenStoreFor(identityId_);
    }
    if (!ns) {
        ReportProblem(name, "the destination identity has no message store");
        return 0;
    }
    uint32_t folderId = ResolveFolderPath(*ns, path);
    if (folderId == kRootFolderId) {
        folderId = InboxId(*ns);  // the root holds no messages: nothing is lost, it goes here
        ReportProblem(
            name,
            "its folder \"" + text::ToUtf8(path) + "\" could not be made; it was put in the Inbox",
            false);
    }
    MessageState state = ReadMessageState(header).value_or(
        StateFromProps(MessageProps::FromBytes(header + kMessagePropsAt)));
    std::unique_ptr<StoreFolder> folder;
    if (ns->OpenFolder(folderId, folder) != S_OK || !folder->Writable()) {
        ReportRefusal(*ns, name);
        return 0;
    }
    // Most messages are small: read whole first, one already in the folder (a restore run
    // again) is found without writing a file for it.
    thread_local std::vector<uint8_t> buffer(kWholeInMemory + 1);  // made once, not per message
    std::span<const uint8_t> start(buffer.data(), ReadFully(in, buffer.data(), buffer.size()));
    bool whole = start.size() <= kWholeInMemory;
    if (whole && in.Damaged()) {
        ReportProblem(name, "its data in the archive is damaged; it was not added");
        return kMessageHeaderSize + start.size();
    }
    if (whole && (folder->HoldsUnderItsName(start, state) || folder->HoldsCopyOf(start))) {
        if (Outcome* outcome = CurrentOutcome()) ++outcome->alreadyThere;  // not added twice
        return kMessageHeaderSize + start.size();
    }
    std::unique_ptr<PendingMessage> pending;
    if (folder->CreateStream(pending) != S_OK) {
        ReportRefusal(*ns, name);
        return 0;
    }
    FileStream target(::dup(pending->Fd()));
    uint64_t copied = target.Write(start.data(), static_cast<int32_t>(start.size())) ==
                              static_cast<int32_t>(start.size())
                          ? start.size()
                          : 0;
    if (!whole) copied += CopyStream(in, target);
    uint32_t newId = 0;
    if (target.LastError() != 0 || !target.Close()) {
        ReportProblem(name, "the message could not be written to the store");
    } else if (in.Damaged()) {
        ReportProblem(name, "its data in the archive is damaged; it was not added");
    } else if (!whole &&
               (folder->HoldsUnderItsName(*pending, state) || folder->HoldsCopyOf(*pending))) {
        if (Outcome* outcome = CurrentOutcome()) ++outcome->alreadyThere;
    } else if (folder->CommitStream(*pending, newId, &state) != S_OK) {
        std::string why = folder->Problem();
        ReportProblem(name, "the message could not be added to the store" +
                                (why.empty() ? std::string() : ": " + why));
    }
    return kMessageHeaderSize + copied;
}

uint64_t MsgNode::SkipPayload(BasicStream& in, BasicStream& sink) {
    uint8_t header[kMessageHeaderSize];
    if (ReadFully(in, header, kMessageHeaderSize) != kMessageHeaderSize) return 0;
    return CopyStream(in, sink);
}

}  // namespace v
