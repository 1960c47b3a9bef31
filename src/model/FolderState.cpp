#include "model/FolderState.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/Text.h"
#include "model/MessageNodes.h"
#include "model/Outcome.h"
#include "platform/stores/common/ClientFiles.h"
#include "platform/stores/common/MessageFile.h"

namespace v {

using namespace tindale;
using namespace tindale::store;

namespace {

constexpr char kMagic[4] = {'T', 'Z', 'M', 'F'};
constexpr size_t kHeaderBytes = 16;
constexpr uint32_t kMaxFiles = 64;
// A uid list of a folder of millions of messages stays well below this.
constexpr uint32_t kMaxFileBytes = 256u << 20;

bool WriteAll(BasicStream& out, const void* data, size_t size, uint64_t& total) {
    auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        int32_t chunk = static_cast<int32_t>(std::min<size_t>(size, 1u << 20));
        int32_t n = out.Write(p, chunk);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
        total += static_cast<uint64_t>(n);
    }
    return true;
}

std::optional<std::string> ReadString(BasicStream& in, size_t size) {
    std::string s(size, '\0');
    if (ReadFully(in, reinterpret_cast<uint8_t*>(s.data()), size) != size) return std::nullopt;
    return s;
}

std::string Where(const std::u16string& path, const std::string& name) {
    return text::ToUtf8(path) + "/" + name;
}

std::unique_ptr<StoreFolder> OpenPath(StoreNamespace& ns, const std::u16string& path) {
    uint32_t id = ResolveFolderPath(ns, path);
    std::unique_ptr<StoreFolder> folder;
    if (id == kRootFolderId || ns.OpenFolder(id, folder) != S_OK) return nullptr;
    return folder;
}

bool Exists(StoreFolder& folder, const std::string& name) {
    struct stat st {};
    return ::lstat((folder.Directory() + "/" + name).c_str(), &st) == 0;
}

// Whether the folder's mbsync UIDVALIDITY file is the archived folder's: the same mailbox.
bool SameMailbox(StoreFolder& folder, const FolderState& state) {
    for (const auto& file : state.files) {
        if (file.name != ".uidvalidity" || file.content.empty()) continue;
        return ReadRegularFile(folder.Directory() + "/" + file.name) == file.content;
    }
    return false;
}

void ReportUnwritten(const std::u16string& path, const std::string& name, int error) {
    // ENOTSUP: the destination's kind keeps no such files (a Thunderbird store has no use
    // for Dovecot's uid list).
    if (error == 0 || error == EEXIST || error == ENOTSUP) return;
    ReportProblem(Where(path, name),
                  std::string("it could not be written back: ") + std::strerror(error));
}

}  // namespace

uint64_t WriteFolderState(const FolderState& state, BasicStream& out) {
    if (state.Empty()) return 0;
    uint8_t header[kHeaderBytes] = {};
    std::memcpy(header, kMagic, 4);
    header[4] = 1;
    header[5] = state.mereParent ? 1 : 0;
    text::PutU32(header + 8, state.messages);
    text::PutU32(header + 12, static_cast<uint32_t>(state.files.size()));
    uint64_t total = 0;
    if (!WriteAll(out, header, sizeof header, total)) return total;
    for (const auto& file : state.files) {
        uint8_t sizes[6];
        text::PutU16(sizes, static_cast<uint16_t>(file.name.size()));
        text::PutU32(sizes + 2, static_cast<uint32_t>(file.content.size()));
        if (!WriteAll(out, sizes, 2, total) ||
            !WriteAll(out, file.name.data(), file.name.size(), total) ||
            !WriteAll(out, sizes + 2, 4, total) ||
            !WriteAll(out, file.content.data(), file.content.size(), total))
            break;
    }
    return total;
}

std::optional<FolderState> ReadFolderState(BasicStream& in) {
    uint8_t header[kHeaderBytes];
    if (ReadFully(in, header, sizeof header) != sizeof header ||
        std::memcmp(header, kMagic, 4) != 0 || header[4] != 1)
        return std::nullopt;
    FolderState state;
    state.mereParent = (header[5] & 1) != 0;
    state.messages = text::GetU32(header + 8);
    uint32_t count = std::min(text::GetU32(header + 12), kMaxFiles);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t size[4];
        if (ReadFully(in, size, 2) != 2) break;
        auto name = ReadString(in, text::GetU16(size));
        if (!name || ReadFully(in, size, 4) != 4) break;
        uint32_t length = text::GetU32(size);
        if (length > kMaxFileBytes) break;
        auto content = ReadString(in, length);
        if (!content) break;
        // Only a client's own files, by their plain names: nothing else is ever written.
        if (ClientFileRoleOf(*name) && name->find('/') == std::string::npos)
            state.files.push_back({std::move(*name), std::move(*content)});
    }
    return state;
}

FolderState ReadStoreFolderState(const std::u16string& identityId, uint32_t folderId,
                                 bool selectable) {
    FolderState state;
    state.mereParent = !selectable;
    auto ns = OpenStoreFor(identityId);
    std::unique_ptr<StoreFolder> folder;
    if (!ns || ns->OpenFolder(folderId, folder) != S_OK) return state;
    for (const auto& name : folder->ClientFiles()) {
        struct stat st {};
        std::string path = folder->Directory() + "/" + name;
        int fd = OpenRegularFile(path, st);
        if (fd < 0) continue;
        if (st.st_size > static_cast<off_t>(kMaxFileBytes) || state.files.size() >= kMaxFiles) {
            ::close(fd);
            ReportProblem(path, "a mail client's file too large to keep with its folder", false);
            continue;
        }
        state.files.push_back({name, ReadAllFrom(fd)});
        ::close(fd);
    }
    if (!state.files.empty()) state.messages = static_cast<uint32_t>(folder->MessageFiles().size());
    return state;
}

void RestoreStoreFolder(const std::u16string& identityId, const std::u16string& path,
                        const std::optional<FolderState>& state,
                        std::vector<PendingClientFile>& later) {
    if (state && state->mereParent && state->files.empty()) return;  // made with its subfolders
    if (!EnsureMessageFolder(identityId, path)) {
        ReportProblem(text::ToUtf8(path),
                      "the mail folder could not be made (its messages are restored to the Inbox)",
                      false);
        return;
    }
    if (!state || state->files.empty()) return;
    auto ns = OpenStoreFor(identityId);
    auto folder = ns ? OpenPath(*ns, path) : nullptr;
    if (!folder) return;
    // Files that describe mail go only where there is none yet: over mail of its own, a
    // client's table or sync state would tell it lies. A folder whose mail an interrupted
    // restore of this same mailbox began (mbsync's UIDVALIDITY there is the archived one)
    // is finished as if it had been empty.
    bool empty = folder->MessageFiles().empty() || SameMailbox(*folder, *state);
    if (empty && !folder->MessageFiles().empty()) folder->ContinueArchivedFolder();
    for (const auto& file : state->files) {
        auto role = ClientFileRoleOf(file.name);
        if (role == ClientFileRole::Subscriptions)
            ReportUnwritten(path, file.name, folder->PutClientFile(file.name, file.content));
        else if (empty && role == ClientFileRole::SyncState)
            later.push_back({identityId, path, file, state->messages});
        else if (role == ClientFileRole::SyncState && !Exists(*folder, file.name))
            ReportProblem(Where(path, file.name),
                          "this mail client's sync state was not restored: the folder already "
                          "held other messages, which it does not describe; the restored "
                          "messages are new to the client (its next sync copies them)",
                          false);
        else if (empty)
            ReportUnwritten(path, file.name, folder->PutClientFile(file.name, file.content));
    }
}

void PublishClientFiles(std::vector<PendingClientFile>& pending) {
    for (auto& item : pending) {
        auto ns = OpenStoreFor(item.identityId);
        auto folder = ns ? OpenPath(*ns, item.folderPath) : nullptr;
        if (!folder) continue;
        size_t back = folder->MessageFiles().size();
        if (back < item.messages) {
            ReportProblem(
                Where(item.folderPath, item.file.name),
                "this mail client's sync state was not restored: " + std::to_string(back) +
                    " of the folder's " + std::to_string(item.messages) +
                    " messages are back, and it would take the others for deleted; "
                    "its next sync will take the folder as new (and may copy its "
                    "messages again)",
                false);
            continue;
        }
        ReportUnwritten(item.folderPath, item.file.name,
                        folder->PutClientFile(item.file.name, item.file.content));
    }
    pending.clear();
}

}  // namespace v
