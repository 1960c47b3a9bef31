#include "platform/stores/tbmaildir/ThunderbirdMaildirFolder.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "base/AtomicFile.h"
#include "base/Streams.h"
#include "platform/stores/common/MessageDirs.h"
#include "platform/stores/common/MessageFile.h"
#include "platform/stores/thunderbird/FolderTree.h"
#include "platform/stores/thunderbird/MozillaStatus.h"
#include "platform/stores/thunderbird/Profile.h"

namespace tindale::store {

namespace {

uint16_t StatusIn(const std::string& headers) {
    auto field = FindMozillaStatus(headers);
    return field ? field->status : 0;
}

}  // namespace

MessageIndex& ThunderbirdMaildirFolder::Index() {
    auto& index = store_.IndexOf(Directory());
    if (!index.Loaded()) index.Load();
    return index;
}

std::optional<std::string> ThunderbirdMaildirFolder::PathOf(uint32_t messageId) {
    auto path = Index().PathOf(messageId);
    if (path && ::access(path->c_str(), F_OK) == 0) return path;
    if (auto* batch = durable::CurrentBatch(); batch && !batch->Empty()) batch->Flush();
    return Index().PathOf(messageId);
}

HRESULT ThunderbirdMaildirFolder::GetFolderProps(FolderProps& props) {
    props = Props();
    for (uint32_t id : Index().Files().IdsFrom()) {
        auto path = Index().PathOf(id);
        struct stat st {};
        int fd = path ? OpenRegularFile(*path, st) : -1;
        if (fd < 0) continue;
        ++props.messages;
        if (!(StatusIn(mail::ReadHeaderBlock(fd)) & 0x0001)) ++props.unread;
        ::close(fd);
    }
    return S_OK;
}

std::vector<uint32_t> ThunderbirdMaildirFolder::ListIds(uint32_t firstId) {
    if (auto* batch = durable::CurrentBatch()) batch->Flush();  // list what is really there
    auto& index = store_.IndexOf(Directory());
    index.Load();
    store_.NoteLinks(store_.RelativeToRoot(Directory()), index.Links());
    return index.Files().IdsFrom(firstId);
}

void ThunderbirdMaildirFolder::ReadProps(std::span<const uint32_t> ids,
                                         std::span<MessageProps> out) {
    std::vector<std::string> paths(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) paths[i] = Index().PathOf(ids[i]).value_or("");
    ReadFilesProps(
        ids, paths, out,
        [](uint32_t id, const std::string&, const struct stat& st, const std::string& headers) {
            auto props = PropsFromHeaders(id, mail::ParseHeaders(headers),
                                          static_cast<uint64_t>(st.st_size), st.st_mtime);
            if (StatusIn(headers) & 0x0001) props.state |= kMessageRead;
            return props;
        });
}

HRESULT ThunderbirdMaildirFolder::OpenMessage(uint32_t messageId, int& fd, MessageState* state) {
    auto path = PathOf(messageId);
    if (!path) return E_NOT_FOUND;
    struct stat st {};
    fd = OpenRegularFile(*path, st);
    if (fd < 0) return errno == ENOENT ? E_NOT_FOUND : E_FAIL;
    std::string headers = mail::ReadHeaderBlock(fd);
    ::lseek(fd, 0, SEEK_SET);
    // The lines Thunderbird added are its state, not the message: it leaves without them.
    if (WithoutMozillaState(headers) != headers) {
        int copy = ::memfd_create("tindale-message", MFD_CLOEXEC);
        std::string bytes = WithoutMozillaState(ReadAllFrom(fd));
        ::close(fd);
        fd = copy;
        if (fd < 0 || !v::WriteAllToFd(fd, bytes.data(), bytes.size()) ||
            ::lseek(fd, 0, SEEK_SET) != 0) {
            if (fd >= 0) ::close(fd);
            fd = -1;
            return E_FAIL;
        }
    }
    if (state) {
        uint16_t status = StatusIn(headers);
        state->keywords = MozillaKeywordsIn(headers);
        state->flags = MessageState::CleanFlags(FlagsOfMozillaStatus(status));
        state->inNew = !(status & 0x0001);
        state->arrivalSeconds = st.st_mtim.tv_sec;
        state->arrivalNanos = static_cast<uint32_t>(st.st_mtim.tv_nsec);
        state->known = true;
    }
    return S_OK;
}

bool ThunderbirdMaildirFolder::Writable() {
    return store_.ReadyForWriting(Directory());
}

HRESULT ThunderbirdMaildirFolder::CreateStream(std::unique_ptr<PendingMessage>& out) {
    if (!Writable()) return E_FAIL;
    out = PendingMessage::InMemory();
    return out ? S_OK : E_FAIL;
}

ThunderbirdMaildirStore::Contents& ThunderbirdMaildirFolder::Contents() {
    auto& contents = store_.ContentsOf(Directory());
    if (!contents.empty()) return contents;
    for (uint32_t id : Index().Files().IdsFrom()) {
        auto relative = Index().Files().Find(id);
        auto bytes =
            relative ? ReadRegularFile(Directory() + "/" + std::string(*relative)) : std::nullopt;
        if (bytes) contents.emplace(StatelessHash(*bytes), std::string(*relative));
    }
    if (contents.empty()) contents.emplace(0, std::string());  // read: the folder is empty
    return contents;
}

bool ThunderbirdMaildirFolder::HoldsCopyOf(const PendingMessage& message) {
    if (message.Fd() < 0) return false;
    std::string bytes = ReadAllFrom(message.Fd());
    return HoldsCopyOf({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
}

bool ThunderbirdMaildirFolder::HoldsCopyOf(std::span<const uint8_t> bytes) {
    std::string_view candidate(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::string compared = WithoutMozillaState(candidate);
    auto [first, last] = Contents().equal_range(StatelessHash(candidate));
    for (auto it = first; it != last; ++it) {
        if (it->second.empty()) continue;
        auto stored = ReadRegularFile(Directory() + "/" + it->second);
        if (stored && WithoutMozillaState(*stored) == compared) return true;
    }
    return false;
}

int ThunderbirdMaildirFolder::WriteMessageFile(const std::string& relative, std::string_view bytes,
                                               const MessageState* state) {
    std::string temp = Directory() + "/tmp/" + NewUniqueName();
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return errno;
    bool ok = v::WriteAllToFd(fd, bytes.data(), bytes.size());
    if (ok && state && state->known && state->arrivalSeconds != 0) {
        timespec times[2] = {{0, UTIME_OMIT},
                             {state->arrivalSeconds, static_cast<long>(state->arrivalNanos)}};
        ::futimens(fd, times);
    }
    struct stat st {};
    ok = ::fstat(fd, &st) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlink(temp.c_str());
        return EIO;
    }
    return durable::PublishClosed(temp, Directory() + "/" + relative, st);
}

HRESULT ThunderbirdMaildirFolder::CommitStream(PendingMessage& message, uint32_t& messageId,
                                               const MessageState* state) {
    if (message.Fd() < 0 || !Writable()) return E_FAIL;
    std::string bytes = WithMozillaState(ReadAllFrom(message.Fd()), state);
    ::close(message.TakeFd());
    // The folder's contents, once read for HoldsCopyOf, are not told of it: a message this
    // job adds is no copy of the next one it adds (two records are two messages).
    std::string relative = "cur/" + NewUniqueName();
    if (WriteMessageFile(relative, bytes, state) != 0) return E_FAIL;
    DropThunderbirdSummary(Directory());
    messageId = Index().Add(relative);
    return S_OK;
}

HRESULT ThunderbirdMaildirFolder::DeleteMessages(const std::vector<uint32_t>& ids) {
    if (!Writable()) return E_FAIL;
    HRESULT result = DeleteMessageFiles(
        ids, [this](uint32_t id) { return PathOf(id); },
        [this](uint32_t id) { Index().Remove(id); });
    store_.ContentsOf(Directory()).clear();  // read again when next asked
    DropThunderbirdSummary(Directory());
    return result;
}

HRESULT ThunderbirdMaildirFolder::SetFlags(uint32_t messageId, const std::string& flags) {
    if (!Writable()) return E_FAIL;
    auto path = PathOf(messageId);
    if (!path) return E_NOT_FOUND;
    auto bytes = ReadRegularFile(*path);
    if (!bytes) return E_FAIL;
    auto field = FindMozillaStatus(bytes->substr(0, bytes->find("\n\n")));
    uint16_t old = field ? field->status : 0;
    uint16_t status = static_cast<uint16_t>((old & ~0x100F) | MozillaStatusOf(flags));
    if (field) {
        // Four hex digits in place, as Thunderbird itself updates them.
        char digits[5];
        std::snprintf(digits, sizeof digits, "%04x", status);
        int fd = ::open(path->c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
        bool ok = fd >= 0 && ::pwrite(fd, digits, 4, static_cast<off_t>(field->digitsAt)) == 4 &&
                  ::fsync(fd) == 0;
        if (fd >= 0) ::close(fd);
        if (!ok) return E_FAIL;
    } else {
        std::string relative = path->substr(Directory().size() + 1);
        struct stat st {};
        ::stat(path->c_str(), &st);
        MessageState times;
        times.known = true;
        times.arrivalSeconds = st.st_mtim.tv_sec;
        times.arrivalNanos = static_cast<uint32_t>(st.st_mtim.tv_nsec);
        if (WriteMessageFile(relative, MozillaStatusHeaders(status) + *bytes, &times) != 0)
            return E_FAIL;
    }
    DropThunderbirdSummary(Directory());
    return S_OK;
}

}  // namespace tindale::store
