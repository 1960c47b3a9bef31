#include "platform/stores/imap/ImapFolder.h"

#include <sys/mman.h>
#include <unistd.h>

#include "platform/MessageHeaders.h"
#include "platform/stores/common/MessageFile.h"

namespace tindale::store {

namespace {

// A message's bytes as a descriptor the caller reads from the start.
int MemoryFileOf(const std::string& bytes) {
    int fd = memfd_create("imap-message", MFD_CLOEXEC);
    if (fd < 0) return -1;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            ::close(fd);
            return -1;
        }
        done += static_cast<size_t>(n);
    }
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

MessageState StateOf(const ImapMessage& message) {
    MessageState state;
    state.flags = MessageState::CleanFlags(message.flags);
    for (const auto& keyword : message.keywords) state.keywords.push_back({0, keyword});
    state.arrivalSeconds = message.internalDate;
    state.known = true;
    return state;
}

// The flags a restored message is given: its system flags, and its keywords by name
// (keyword letters of a Maildir whose names were lost are dropped).
ImapFlags FlagsOf(const MessageState& state) {
    ImapFlags flags;
    for (char c : state.flags)
        if (c >= 'A' && c <= 'Z') flags.letters.push_back(c);
    for (const auto& keyword : state.keywords) flags.keywords.push_back(keyword.name);
    return flags;
}

}  // namespace

MailboxIndex& ImapFolder::Index() {
    auto& index = store_.IndexOf(Directory());
    if (!index.Loaded() && !index.Load()) problem_ = store_.Connection().LastError();
    return index;
}

HRESULT ImapFolder::GetFolderProps(FolderProps& props) {
    props = Props();
    if (!props.selectable) return S_OK;
    const auto& messages = Index().Messages();
    props.messages = static_cast<uint32_t>(messages.size());
    props.unread = 0;
    for (const auto& m : messages) props.unread += m.flags.find('S') == std::string::npos;
    return S_OK;
}

std::vector<uint32_t> ImapFolder::ListIds(uint32_t firstId) {
    if (!Props().selectable) return {};
    auto& index = store_.IndexOf(Directory());
    if (!index.Load()) {  // read afresh: other programs change the mailbox meanwhile
        problem_ = store_.Connection().LastError();
        store_.NoteSkipped({store_.MailboxAt(Directory()), problem_});
    }
    return index.Files().IdsFrom(firstId);
}

void ImapFolder::ReadProps(std::span<const uint32_t> ids, std::span<MessageProps> out) {
    auto& index = Index();
    for (size_t i = 0; i < ids.size(); ++i)
        if (const MessageProps* props = index.PropsOf(ids[i])) out[i] = *props;
}

HRESULT ImapFolder::OpenMessage(uint32_t messageId, int& fd, MessageState* state) {
    auto& index = Index();
    const ImapMessage* message = index.Find(messageId);
    if (!message) return E_NOT_FOUND;
    bool failed = false;
    auto bytes = index.Body(messageId, failed);
    if (!bytes) {
        problem_ =
            failed ? store_.Connection().LastError()
                   : "the server no longer has the message (UID " + std::to_string(messageId) + ")";
        return failed ? E_FAIL : E_NOT_FOUND;
    }
    fd = MemoryFileOf(*bytes);
    if (fd < 0) {
        problem_ = "no memory was left to hold the message";
        return E_FAIL;
    }
    if (state) *state = StateOf(*message);
    return S_OK;
}

HRESULT ImapFolder::CreateStream(std::unique_ptr<PendingMessage>& out) {
    if (!Writable()) return E_FAIL;
    out = PendingMessage::InMemory();
    return out ? S_OK : E_FAIL;
}

bool ImapFolder::HoldsCopyOf(const PendingMessage& message) {
    if (message.Fd() < 0) return false;
    ::lseek(message.Fd(), 0, SEEK_SET);
    std::string bytes = ReadAllFrom(message.Fd());
    return Index().Holds(bytes);
}

bool ImapFolder::HoldsCopyOf(std::span<const uint8_t> bytes) {
    return Index().Holds({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

HRESULT ImapFolder::CommitStream(PendingMessage& message, uint32_t& messageId,
                                 const MessageState* state) {
    if (message.Fd() < 0) return E_FAIL;
    ::lseek(message.Fd(), 0, SEEK_SET);
    std::string bytes = ReadAllFrom(message.Fd());
    ImapFlags flags = state && state->known ? FlagsOf(*state) : ImapFlags{};
    int64_t date = state && state->known ? state->arrivalSeconds : 0;
    auto& index = Index();
    std::string mailbox = store_.MailboxAt(Directory());
    // Appending to the selected mailbox spares the server opening and syncing it again for
    // every message: with thousands of messages that is most of the time a restore takes.
    index.SelectForChanges();
    auto uid = store_.Connection().Append(mailbox, bytes, flags, date);
    if (!uid) {
        // The connection may have dropped after the server took the message: look before
        // sending it again, so that a retry never makes a second copy.
        problem_ = store_.Connection().LastError();
        if (!index.Load()) return E_FAIL;
        if (index.Holds(bytes)) {
            messageId = 0;
            return S_OK;
        }
        uid = store_.Connection().Append(mailbox, bytes, flags, date);
        if (!uid) {
            problem_ = store_.Connection().LastError();
            return E_FAIL;
        }
    }
    index.Added(*uid, bytes, flags, date);
    messageId = *uid;
    return S_OK;
}

HRESULT ImapFolder::DeleteMessages(const std::vector<uint32_t>& ids) {
    auto& index = Index();
    std::vector<uint32_t> present;
    for (uint32_t id : ids)
        if (index.Find(id)) present.push_back(id);
    if (present.empty()) return ids.empty() ? S_OK : S_FALSE;
    if (!index.SelectForChanges() || !store_.Connection().ExpungeUids(present)) {
        problem_ = store_.Connection().LastError();
        return E_FAIL;
    }
    index.Forget(present);
    return present.size() == ids.size() ? S_OK : S_FALSE;
}

HRESULT ImapFolder::SetFlags(uint32_t messageId, const std::string& letters) {
    auto& index = Index();
    const ImapMessage* message = index.Find(messageId);
    if (!message) return S_FALSE;
    MessageState state = StateOf(*message);
    state.flags = letters;
    if (!index.SelectForChanges() || !store_.Connection().SetFlags(messageId, FlagsOf(state))) {
        problem_ = store_.Connection().LastError();
        return E_FAIL;
    }
    return S_OK;
}

const store::MessageFiles& ImapFolder::MessageFiles() {
    return Index().Files();
}

}  // namespace tindale::store
