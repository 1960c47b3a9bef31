#include "dupfinder/DuplicateSearch.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <tuple>

#include <unistd.h>

#include "base/Text.h"
#include "dupfinder/MessageIdentity.h"
#include "model/Ids.h"
#include "model/MessageNodes.h"
#include "platform/Identities.h"
#include "platform/MailStore.h"
#include "platform/MessageHeaders.h"
#include "platform/StoreSession.h"

using namespace tindale;
using namespace tindale::store;

std::array<uint8_t, 16> MessageDigest(const MessageProps& props) {
    uint8_t block[272] = {};
    text::PutU64(block, props.received);
    text::PutU64(block + 8, props.sent);
    std::memcpy(block + 16, props.normalSubject.data(),
                std::min<size_t>(props.normalSubject.size(), 255));
    return v::MD5::Compute(block);
}

namespace {

// Which copy stays: a live one before a trashed one, then the one with the most state, then
// a seen one before an unseen one, then the earliest arrival, then the lowest id (so the
// choice is the same every time).
bool KeepsBetter(const MessageState& a, uint32_t idA, const MessageState& b, uint32_t idB) {
    bool aTrashed = a.flags.find('T') != std::string::npos;
    bool bTrashed = b.flags.find('T') != std::string::npos;
    if (aTrashed != bTrashed) return !aTrashed;
    if (a.flags.size() != b.flags.size()) return a.flags.size() > b.flags.size();
    if (a.inNew != b.inNew) return !a.inNew;
    if (a.arrivalSeconds != b.arrivalSeconds) return a.arrivalSeconds < b.arrivalSeconds;
    if (a.arrivalNanos != b.arrivalNanos) return a.arrivalNanos < b.arrivalNanos;
    return idA < idB;
}

// The flags the copy that stays ends with: every copy's, but trashed only when it was.
std::string MergedFlags(const std::vector<std::pair<MessageState, uint32_t>>& copies) {
    std::string flags;
    for (const auto& [state, id] : copies)
        for (char c : state.flags)
            if (c != 'T') flags += c;
    if (copies[0].first.flags.find('T') != std::string::npos) flags += 'T';
    return MessageState::CleanFlags(flags);
}

// Splits one run of candidates into groups of copies.
void GroupRun(const std::vector<DuplicateCandidate>& messages, const std::vector<size_t>& run,
              const ContentDigest& contentOf, const StateLookup& stateOf,
              std::vector<DuplicateGroup>& out) {
    using Digest = std::array<uint8_t, 32>;
    std::vector<std::pair<Digest, size_t>> digested;
    for (size_t i : run) {
        auto digest = contentOf(messages[i].messageId);
        if (digest) digested.emplace_back(*digest, i);  // unreadable bytes are never a copy
    }
    std::sort(digested.begin(), digested.end());
    for (size_t a = 0; a < digested.size();) {
        size_t b = a;
        while (b < digested.size() && digested[b].first == digested[a].first) ++b;
        if (b - a > 1) {
            std::vector<std::pair<MessageState, uint32_t>> copies;
            for (size_t k = a; k < b; ++k) {
                uint32_t id = messages[digested[k].second].messageId;
                copies.emplace_back(stateOf ? stateOf(id) : MessageState{}, id);
            }
            std::sort(copies.begin(), copies.end(), [](const auto& x, const auto& y) {
                return KeepsBetter(x.first, x.second, y.first, y.second);
            });
            DuplicateGroup group;
            group.kept = copies[0].second;
            for (size_t k = 1; k < copies.size(); ++k) group.surplus.push_back(copies[k].second);
            group.flags = MergedFlags(copies);
            out.push_back(std::move(group));
        }
        a = b;
    }
}

}  // namespace

DuplicateCandidate DuplicateCandidate::Of(const MessageProps& props) {
    return {props.messageId, props.identityHash};
}

std::vector<DuplicateGroup> FindDuplicatesInFolder(std::vector<DuplicateCandidate> messages,
                                                   const ContentDigest& contentOf,
                                                   const StateLookup& stateOf) {
    std::vector<DuplicateGroup> groups;
    if (!contentOf) return groups;
    std::sort(messages.begin(), messages.end(), [](const auto& a, const auto& b) {
        return std::tie(a.identity, a.messageId) < std::tie(b.identity, b.messageId);
    });
    std::vector<size_t> run;
    for (size_t a = 0; a < messages.size();) {
        size_t b = a + 1;
        while (b < messages.size() && messages[b].identity == messages[a].identity) ++b;
        if (b - a > 1) {
            run.clear();
            for (size_t k = a; k < b; ++k) run.push_back(k);
            GroupRun(messages, run, contentOf, stateOf, groups);
        }
        a = b;
    }
    return groups;
}

namespace {

std::optional<std::array<uint8_t, 32>> ContentOf(StoreFolder& folder, uint32_t messageId) {
    int fd = -1;
    if (folder.OpenMessage(messageId, fd) != S_OK) return std::nullopt;
    auto digest = MessageIdentityDigest(fd);
    ::close(fd);
    return digest;
}

// A message's state as its file shows it.
MessageState StateOf(StoreFolder& folder, uint32_t messageId) {
    int fd = -1;
    MessageState state;
    if (folder.OpenMessage(messageId, fd, &state) == S_OK) ::close(fd);
    return state;
}

uint64_t CountMessages(StoreNamespace& ns, uint32_t folder) {
    uint64_t total = 0;
    for (const auto& sub : ListSubFolders(ns, folder)) {
        std::unique_ptr<StoreFolder> opened;
        FolderProps props;
        if (ns.OpenFolder(sub.folderId, opened) == S_OK && opened->GetFolderProps(props) == S_OK)
            total += props.messages;
        total += CountMessages(ns, sub.folderId);
    }
    return total;
}

class Search {
  public:
    Search(std::vector<DuplicateEntry>& found, v::WorkerReport& report, std::stop_token stop)
        : found_(found), report_(report), stop_(stop) {}

    void Run(const std::u16string& identity) {
        auto ns = v::OpenStoreFor(identity);
        if (ns) Visit(*ns, identity, kRootFolderId);
    }

    uint64_t examined = 0;

  private:
    // Children before their parent, each folder's messages read, sorted and scanned alone.
    void Visit(StoreNamespace& ns, const std::u16string& identity, uint32_t folderId) {
        for (const auto& sub : ListSubFolders(ns, folderId)) {
            if (stop_.stop_requested()) return;
            Visit(ns, identity, sub.folderId);
        }
        if (folderId == kRootFolderId) return;
        std::unique_ptr<StoreFolder> folder;
        std::vector<DuplicateCandidate> messages;
        if (ns.OpenFolder(folderId, folder) != S_OK) return;
        std::unique_ptr<MessageEnum> handle;
        MessageProps props;
        // Reading a folder of many thousands of messages moves the bar and can be cancelled.
        for (HRESULT hr = folder->GetFirstMessage(0, 0, props, handle); hr == S_OK;
             hr = folder->GetNextMessage(*handle, props)) {
            messages.push_back(DuplicateCandidate::Of(props));
            if (messages.size() % 256 == 0) {
                report_.ProgressSent(examined + messages.size(), 0);
                if (stop_.stop_requested()) break;
            }
        }
        folder->GetMessageClose(handle);
        if (stop_.stop_requested()) return;  // a folder read in part is not searched
        examined += messages.size();
        report_.ProgressSent(examined, 0);
        auto contentOf = [&](uint32_t id) { return ContentOf(*folder, id); };
        auto stateOf = [&](uint32_t id) { return StateOf(*folder, id); };
        auto groups = FindDuplicatesInFolder(std::move(messages), contentOf, stateOf);
        // The folder is done once its groups are described: its index goes.
        struct Release {
            StoreNamespace& ns;
            std::string dir;
            ~Release() { ns.ReleaseIndex(dir); }
        } release{ns, folder->Directory()};
        if (groups.empty()) return;
        auto fileOf = [&](uint32_t id) {
            return std::string(folder->MessageFiles().Find(id).value_or(std::string_view()));
        };
        std::string folderName = FolderName(ns, identity, folderId);
        for (const auto& group : groups) {
            auto kept = HeadersOf(*folder, group.kept);  // read again: only groups need them
            for (uint32_t id : group.surplus)
                found_.push_back({identity, folderId, id, group.kept, group.flags, folderName,
                                  fileOf(id), fileOf(group.kept), kept.subject, kept.from,
                                  kept.received});
        }
    }

    struct Shown {
        std::string subject, from;
        uint64_t received = 0;
    };
    // What a person needs to recognise a message: read from its header block.
    static Shown HeadersOf(StoreFolder& folder, uint32_t messageId) {
        int fd = -1;
        Shown shown;
        if (folder.OpenMessage(messageId, fd) != S_OK) return shown;
        auto info = mail::ParseHeaders(mail::ReadHeaderBlock(fd));
        ::close(fd);
        shown.subject = info.subject;
        shown.from = info.from;
        if (info.received) shown.received = FileTimeFromUnix(*info.received);
        return shown;
    }

    // "Identity/Folder/Sub", for people.
    std::string FolderName(StoreNamespace& ns, const std::u16string& identity, uint32_t folderId) {
        auto found = identities::Find(identity);
        std::string name = text::ToUtf8(found ? found->name : identity);
        std::string path;
        std::function<bool(uint32_t, const std::string&)> walk = [&](uint32_t at,
                                                                     const std::string& prefix) {
            for (const auto& sub : ListSubFolders(ns, at)) {
                std::string here = prefix + "/" + sub.name;
                if (sub.folderId == folderId || walk(sub.folderId, here)) {
                    if (path.empty()) path = here;
                    return true;
                }
            }
            return false;
        };
        walk(kRootFolderId, "");
        return name + path;
    }

    std::vector<DuplicateEntry>& found_;
    v::WorkerReport& report_;
    std::stop_token stop_;
};

}  // namespace

namespace {

v::Outcome RunSearchDuplicates(std::vector<DuplicateEntry>& found, v::WorkerReport& report,
                               std::stop_token stop) {
    v::Outcome outcome;
    store::StoreSession stores;  // each store opened once for the whole run
    found.clear();
    identities::EnsureDefaultIdentity();
    auto all = identities::List();
    uint64_t total = 0;
    for (const auto& identity : all)
        if (auto ns = v::OpenStoreFor(identity.id)) total += CountMessages(*ns, kRootFolderId);
    report.ProgressSent(0, total);
    Search search(found, report, stop);
    for (const auto& identity : all) {
        if (stop.stop_requested()) break;
        search.Run(identity.id);
    }
    outcome.cancelled = stop.stop_requested();
    outcome.itemsDone = search.examined;
    return outcome;
}

}  // namespace

v::Outcome SearchDuplicates(std::vector<DuplicateEntry>& found, v::WorkerReport& report,
                            std::stop_token stop) {
    v::Outcome outcome = v::Guarded([&] { return RunSearchDuplicates(found, report, stop); });
    report.Done();
    return outcome;
}
