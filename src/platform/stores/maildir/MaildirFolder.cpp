#include "platform/stores/maildir/MaildirFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "base/AtomicFile.h"
#include "platform/stores/common/ClientFiles.h"
#include "platform/stores/common/FolderCopies.h"
#include "platform/stores/common/MessageDirs.h"
#include "platform/stores/common/MessageFile.h"

namespace tindale::store {

namespace {

bool IsRead(std::string_view subdir, std::string_view name) {
    if (subdir == "new") return false;
    auto info = name.find(":2,");
    return info != std::string_view::npos && name.find('S', info + 3) != std::string_view::npos;
}

}  // namespace

MessageIndex& MaildirFolder::Index() {
    auto& index = store_.IndexOf(Directory());
    if (!index.Loaded()) index.Load();
    return index;
}

std::optional<std::string> MaildirFolder::LocateMessage(uint32_t messageId) {
    auto path = Index().PathOf(messageId);
    if (path && ::access(path->c_str(), F_OK) == 0) return path;
    if (auto* batch = durable::CurrentBatch(); batch && !batch->Empty()) {
        batch->Flush();  // it may be one of ours, committed but not yet published
        if (path && ::access(path->c_str(), F_OK) == 0) return path;
    }
    Index().Load();  // another client may have renamed it; its id follows the unique part
    return Index().PathOf(messageId);
}

HRESULT MaildirFolder::GetFolderProps(FolderProps& props) {
    props = Props();
    for (const char* sub : {"cur", "new"})
        for (const auto& name : ListMessageFiles(Directory() + "/" + sub)) {
            ++props.messages;
            if (!IsRead(sub, name)) ++props.unread;
        }
    return S_OK;
}

std::vector<uint32_t> MaildirFolder::ListIds(uint32_t firstId) {
    if (auto* batch = durable::CurrentBatch()) batch->Flush();  // list what is really there
    auto& index = store_.IndexOf(Directory());
    index.Load();
    store_.NoteLinks(
        store_.RelativeToRoot(Directory()),
        index.Links());  // one scan per listing; opening, committing and deleting use what it found
    return index.Files().IdsFrom(firstId);
}

void MaildirFolder::ReadProps(std::span<const uint32_t> ids, std::span<MessageProps> out) {
    std::vector<std::string> paths(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) paths[i] = Index().PathOf(ids[i]).value_or("");
    ReadFilesProps(ids, paths, out,
                   [](uint32_t id, const std::string& path, const struct stat& st,
                      const std::string& headers) {
                       auto props =
                           PropsFromHeaders(id, mail::ParseHeaders(headers),
                                            static_cast<uint64_t>(st.st_size), st.st_mtime);
                       auto slash = path.find_last_of('/');
                       if (slash != std::string::npos && slash >= 3 &&
                           IsRead(std::string_view(path).substr(slash - 3, 3),
                                  std::string_view(path).substr(slash + 1)))
                           props.state |= kMessageRead;
                       return props;
                   });
}

HRESULT MaildirFolder::OpenMessage(uint32_t messageId, int& fd, MessageState* state) {
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
        if (state) {
            *state = MessageState::Of(*path, st);
            state->keywords = store_.KeywordsOf(Directory()).NamesOf(state->flags);
        }
        return S_OK;
    }
    return errno == ENOENT ? E_NOT_FOUND : E_FAIL;
}

HRESULT MaildirFolder::CreateStream(std::unique_ptr<PendingMessage>& out) {
    if (!Writable()) return E_FAIL;
    std::string unique = NewUniqueName();
    std::string tmp = Directory() + "/tmp/" + unique;
    // Read back as well: a restore compares it with the folder's messages before filing it.
    int fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return E_FAIL;
    ::flock(fd, LOCK_EX | LOCK_NB);  // held while written: a later run spares it
    out = std::make_unique<PendingMessage>(fd, tmp, unique);
    return S_OK;
}

bool MaildirFolder::HoldsCopyOf(const PendingMessage& message) {
    return message.Fd() >= 0 && store_.Copies().Holds(Directory(), message.Fd());
}

bool MaildirFolder::HoldsCopyOf(std::span<const uint8_t> bytes) {
    return store_.Copies().Holds(Directory(), bytes);
}

int MaildirFolder::OpenNamed(const MessageState& state) {
    if (!MessageState::UsableFileName(state.fileName)) return -1;
    auto file = Index().FileNamed(state.fileName);
    struct stat st {};
    return file ? OpenRegularFile(Directory() + "/" + *file, st) : -1;
}

bool MaildirFolder::HoldsUnderItsName(std::span<const uint8_t> bytes, const MessageState& state) {
    int fd = OpenNamed(state);
    bool same = fd >= 0 && SameBytes(bytes, fd);
    if (fd >= 0) ::close(fd);
    return same;
}

bool MaildirFolder::HoldsUnderItsName(const PendingMessage& message, const MessageState& state) {
    int fd = message.Fd() >= 0 ? OpenNamed(state) : -1;
    bool same = fd >= 0 && SameBytes(message.Fd(), fd);
    if (fd >= 0) ::close(fd);
    return same;
}

namespace {

// The name without mbsync's ",U=N": the UID it names belongs to the state of the folder the
// message came from.
std::string WithoutSyncUid(std::string name) {
    auto at = name.find(",U=");
    if (at == std::string::npos) return name;
    auto end = name.find(',', at + 1);
    return name.erase(at, end == std::string::npos ? std::string::npos : end - at);
}

}  // namespace

std::string MaildirFolder::NameFor(const MessageState* state, const std::string& fresh) {
    if (!state || !MessageState::UsableFileName(state->fileName)) return fresh;
    // Into a folder that held mail of its own, mbsync's UIDs of the archive's folder would
    // clash with the ones its state gives that mail: the message comes as new to it.
    std::string name = store_.HeldMailBefore(Directory(), Index().Files().size())
                           ? WithoutSyncUid(state->fileName)
                           : state->fileName;
    if (name.empty() || Index().FileNamed(name)) return fresh;
    return name;
}

HRESULT MaildirFolder::CommitStream(PendingMessage& message, uint32_t& messageId,
                                    const MessageState* state) {
    if (message.Fd() < 0) return E_FAIL;
    if (state && state->known && state->arrivalSeconds != 0) {
        timespec times[2] = {{0, UTIME_OMIT},
                             {state->arrivalSeconds, static_cast<long>(state->arrivalNanos)}};
        ::futimens(message.Fd(), times);
    }
    struct stat st {};
    bool ok = ::fstat(message.Fd(), &st) == 0;
    ok = ::close(message.TakeFd()) == 0 && ok;
    if (!ok) return E_FAIL;
    auto& index = Index();
    std::string relative = "new/" + message.Name();
    if (state) {
        // Keywords by name: this maildir's own table gives them their letters.
        MessageState here = *state;
        auto& keywords = store_.KeywordsOf(Directory());
        here.flags = keywords.FlagsFor(*state);
        if (keywords.Changed() && keywords.Save(Directory()) != 0) return E_FAIL;
        relative = here.RelativeName(NameFor(state, message.Name()));
        // Not even a file the index has not seen yet may be replaced.
        if (::access((Directory() + "/" + relative).c_str(), F_OK) == 0)
            relative = here.RelativeName(message.Name());
    }
    // Visible in new/ or cur/ only once complete; durable now, or with the job's batch.
    std::string temp = message.TakeTemporary();
    if (durable::PublishClosed(temp, Directory() + "/" + relative, st)) return E_FAIL;
    messageId = index.Add(relative);
    return S_OK;
}

HRESULT MaildirFolder::SetFlags(uint32_t messageId, const std::string& flags) {
    auto path = LocateMessage(messageId);
    if (!path) return E_NOT_FOUND;
    std::string name = path->substr(path->find_last_of('/') + 1);
    std::string relative =
        "cur/" + name.substr(0, name.find(':')) + ":2," + MessageState::CleanFlags(flags);
    std::string target = Directory() + "/" + relative;
    if (target == *path) return S_OK;
    if (::rename(path->c_str(), target.c_str()) != 0) return E_FAIL;
    durable::SyncParentDirectory(target);
    Index().Moved(messageId, relative);
    return S_OK;
}

std::vector<std::string> MaildirFolder::ClientFiles() {
    return ListClientFiles(Directory());
}

int MaildirFolder::PutClientFile(const std::string& name, std::string_view content) {
    if (!Writable()) return EACCES;
    int error = store::PutClientFile(Directory(), name, content);
    if (name == KeywordTable::kFileName) store_.ForgetKeywords(Directory());  // read it anew
    return error;
}

HRESULT MaildirFolder::DeleteMessages(const std::vector<uint32_t>& ids) {
    return DeleteMessageFiles(
        ids, [this](uint32_t id) { return LocateMessage(id); },
        [this](uint32_t id) { Index().Remove(id); });
}

}  // namespace tindale::store
