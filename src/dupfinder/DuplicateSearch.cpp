#include "dupfinder/DuplicateSearch.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

#include <openssl/evp.h>
#include <unistd.h>

#include "base/Text.h"
#include "model/Ids.h"
#include "model/MessageNodes.h"
#include "platform/Identities.h"
#include "platform/MailStore.h"
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

// Messages that are copies of each other by every header rule (the content test aside).
bool SameByHeaders(const MessageProps& x, const MessageProps& y) {
    return x.received == y.received && x.normalSubject == y.normalSubject &&
           x.internetMessageId == y.internetMessageId && x.receivedFromFile == y.receivedFromFile;
}

bool HeaderKeyLess(const MessageProps& x, const MessageProps& y) {
    if (x.received != y.received) return x.received < y.received;
    if (x.normalSubject != y.normalSubject) return x.normalSubject < y.normalSubject;
    if (x.internetMessageId != y.internetMessageId)
        return x.internetMessageId < y.internetMessageId;
    return x.receivedFromFile < y.receivedFromFile;
}

}  // namespace

std::vector<uint32_t> FindDuplicatesInFolder(std::vector<MessageProps> messages,
                                             const ContentDigest& contentOf) {
    // Digests only order messages that tie on everything else, so they are computed only
    // for those (computing them for every message doubles the search's cost).
    std::vector<std::optional<std::array<uint8_t, 16>>> digests(messages.size());
    auto digest = [&](size_t i) -> const std::array<uint8_t, 16>& {
        if (!digests[i]) digests[i] = MessageDigest(messages[i]);
        return *digests[i];
    };
    using Content = std::optional<std::array<uint8_t, 32>>;
    std::vector<std::optional<Content>> contents(messages.size());
    auto content = [&](size_t i) -> const Content& {
        if (!contents[i]) contents[i] = contentOf ? contentOf(messages[i].messageId) : Content();
        return *contents[i];
    };
    std::vector<size_t> order(messages.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const auto& x = messages[a];
        const auto& y = messages[b];
        if (!SameByHeaders(x, y)) return HeaderKeyLess(x, y);
        if (x.receivedFromFile && content(a) != content(b)) return content(a) < content(b);
        return digest(a) < digest(b);
    });
    std::vector<uint32_t> duplicates;
    for (size_t i = 0; i + 1 < order.size(); ++i) {
        size_t a = order[i], b = order[i + 1];
        if (!SameByHeaders(messages[a], messages[b])) continue;
        // Without a header time, only equal bytes make a copy; unreadable bytes never do.
        if (messages[a].receivedFromFile && (!content(a) || content(a) != content(b))) continue;
        duplicates.push_back(messages[a].messageId);
    }
    return duplicates;
}

namespace {

// SHA-256 of a message's bytes.
std::optional<std::array<uint8_t, 32>> ContentOf(StoreFolder& folder, uint32_t messageId) {
    int fd = -1;
    if (folder.OpenMessage(messageId, fd) != S_OK) return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    bool ok = ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1;
    uint8_t buffer[65536];
    ssize_t n = 0;
    while (ok && (n = ::read(fd, buffer, sizeof buffer)) > 0)
        ok = EVP_DigestUpdate(ctx.get(), buffer, static_cast<size_t>(n)) == 1;
    ::close(fd);
    std::array<uint8_t, 32> out{};
    if (!ok || n < 0 || EVP_DigestFinal_ex(ctx.get(), out.data(), nullptr) != 1)
        return std::nullopt;
    return out;
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
        std::vector<MessageProps> messages;
        // Reading a folder of many thousands of messages moves the bar and can be cancelled.
        auto keepGoing = [&](size_t listed) {
            report_.ProgressSent(examined + listed, 0);
            return !stop_.stop_requested();
        };
        if (ns.OpenFolder(folderId, folder) == S_OK) messages = ListMessages(*folder, keepGoing);
        if (stop_.stop_requested()) return;  // a folder read in part is not searched
        examined += messages.size();
        report_.ProgressSent(examined, 0);
        auto contentOf = [&](uint32_t messageId) { return ContentOf(*folder, messageId); };
        for (uint32_t id : FindDuplicatesInFolder(std::move(messages), contentOf))
            found_.push_back({identity, folderId, id});
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
