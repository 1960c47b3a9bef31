#include "dupfinder/DuplicateSearch.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <tuple>

#include <openssl/evp.h>
#include <unistd.h>

#include "base/Text.h"
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

// The first filter: same received time and normalised subject (and whether the time came
// from a header), then the same Message-ID.
auto HeaderKey(const DuplicateCandidate& m) {
    return std::tie(m.received, m.key, m.receivedFromFile);
}

// Which copy stays: the one with the most state, then cur/ before new/, then the earliest
// arrival, then the lowest id (so the choice is the same every time).
bool KeepsBetter(const MessageState& a, uint32_t idA, const MessageState& b, uint32_t idB) {
    if (a.flags.size() != b.flags.size()) return a.flags.size() > b.flags.size();
    if (a.inNew != b.inNew) return !a.inNew;
    if (a.arrivalSeconds != b.arrivalSeconds) return a.arrivalSeconds < b.arrivalSeconds;
    if (a.arrivalNanos != b.arrivalNanos) return a.arrivalNanos < b.arrivalNanos;
    return idA < idB;
}

// Splits one run of header-equal messages into groups of equal content.
void GroupRun(const std::vector<DuplicateCandidate>& messages, const std::vector<size_t>& run,
              const ContentDigest& contentOf, const StateLookup& stateOf,
              std::vector<DuplicateGroup>& out) {
    using Digest = std::array<uint8_t, 32>;
    std::vector<std::pair<Digest, size_t>> digested;
    for (size_t i : run) {
        auto digest = contentOf(messages[i].messageId, messages[i].receivedFromFile);
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
            std::string flags;
            for (size_t k = 0; k < copies.size(); ++k) {
                flags += copies[k].first.flags;
                if (k > 0) group.surplus.push_back(copies[k].second);
            }
            group.flags = MessageState::CleanFlags(flags);
            out.push_back(std::move(group));
        }
        a = b;
    }
}

}  // namespace

DuplicateCandidate DuplicateCandidate::Of(const MessageProps& props) {
    DuplicateCandidate c;
    c.messageId = props.messageId;
    c.receivedFromFile = props.receivedFromFile;
    c.received = props.received;
    std::string both = props.normalSubject;
    both.push_back('\0');
    both += props.internetMessageId;
    c.key = v::MD5::Compute(std::span(reinterpret_cast<const uint8_t*>(both.data()), both.size()));
    return c;
}

std::vector<DuplicateGroup> FindDuplicatesInFolder(std::vector<DuplicateCandidate> messages,
                                                   const ContentDigest& contentOf,
                                                   const StateLookup& stateOf) {
    std::vector<DuplicateGroup> groups;
    if (!contentOf) return groups;
    std::vector<size_t> order(messages.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return HeaderKey(messages[a]) < HeaderKey(messages[b]); });
    for (size_t a = 0; a < order.size();) {
        size_t b = a + 1;
        while (b < order.size() && HeaderKey(messages[order[b]]) == HeaderKey(messages[order[a]]))
            ++b;
        if (b - a > 1)
            GroupRun(messages,
                     std::vector<size_t>(order.begin() + long(a), order.begin() + long(b)),
                     contentOf, stateOf, groups);
        a = b;
    }
    return groups;
}

namespace {

// SHA-256 of a message's body (after the blank line that ends its header block), or of all
// its bytes when `whole`.
std::optional<std::array<uint8_t, 32>> ContentOf(StoreFolder& folder, uint32_t messageId,
                                                 bool whole) {
    int fd = -1;
    if (folder.OpenMessage(messageId, fd) != S_OK) return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    bool ok = ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1;
    uint8_t buffer[65536];
    ssize_t n = 0;
    // The header block ends at the first empty line ("\n\n", "\n\r\n"); `state` follows the
    // line ends across reads: 0 in a line, 1 after "\n", 2 after "\n\r", 3 in the body.
    int state = whole ? 3 : 0;
    while (ok && (n = ::read(fd, buffer, sizeof buffer)) > 0) {
        size_t from = 0;
        for (; state != 3 && from < static_cast<size_t>(n); ++from) {
            uint8_t c = buffer[from];
            state = c == '\n' ? (state == 0 ? 1 : 3) : (c == '\r' && state == 1) ? 2 : 0;
        }
        if (state == 3 && from < static_cast<size_t>(n))
            ok = EVP_DigestUpdate(ctx.get(), buffer + from, static_cast<size_t>(n) - from) == 1;
    }
    ::close(fd);
    std::array<uint8_t, 32> out{};
    if (!ok || n < 0 || EVP_DigestFinal_ex(ctx.get(), out.data(), nullptr) != 1)
        return std::nullopt;
    return out;
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
        auto contentOf = [&](uint32_t id, bool whole) { return ContentOf(*folder, id, whole); };
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
