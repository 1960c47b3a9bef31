#include "dupfinder/DuplicateSearch.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

#include "model/Ids.h"
#include "model/MessageNodes.h"
#include "platform/Identities.h"
#include "platform/MailStore.h"
#include "platform/Text.h"

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

std::vector<uint32_t> FindDuplicatesInFolder(std::vector<MessageProps> messages) {
    // The digest only orders messages whose received time and subject are equal, so it is
    // computed only for those (computing it for every message doubles the search's cost).
    std::vector<std::optional<std::array<uint8_t, 16>>> digests(messages.size());
    auto digest = [&](size_t i) -> const std::array<uint8_t, 16>& {
        if (!digests[i]) digests[i] = MessageDigest(messages[i]);
        return *digests[i];
    };
    std::vector<size_t> order(messages.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const auto& x = messages[a];
        const auto& y = messages[b];
        if (x.received != y.received) return x.received < y.received;
        if (x.normalSubject != y.normalSubject) return x.normalSubject < y.normalSubject;
        return digest(a) < digest(b);
    });
    std::vector<uint32_t> duplicates;
    for (size_t i = 0; i + 1 < order.size(); ++i) {
        const auto& x = messages[order[i]];
        const auto& y = messages[order[i + 1]];
        if (x.received == y.received && x.normalSubject == y.normalSubject)
            duplicates.push_back(x.messageId);
    }
    return duplicates;
}

namespace {

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
    Search(WizardState& state, v::WorkerReport& report, std::stop_token stop)
        : state_(state), report_(report), stop_(stop) {}

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
        if (ns.OpenFolder(folderId, folder) == S_OK) messages = ListMessages(*folder);
        examined += messages.size();
        report_.ProgressSent(examined, 0);
        for (uint32_t id : FindDuplicatesInFolder(std::move(messages)))
            state_.duplicates.push_back({identity, folderId, id});
    }

    WizardState& state_;
    v::WorkerReport& report_;
    std::stop_token stop_;
};

}  // namespace

v::Outcome SearchDuplicates(WizardState& state, v::WorkerReport& report, std::stop_token stop) {
    v::Outcome outcome;
    state.duplicates.clear();
    identities::EnsureDefaultIdentity();
    auto all = identities::List();
    uint64_t total = 0;
    for (const auto& identity : all)
        if (auto ns = v::OpenStoreFor(identity.id)) total += CountMessages(*ns, kRootFolderId);
    report.ProgressSent(0, total);
    Search search(state, report, stop);
    for (const auto& identity : all) {
        if (stop.stop_requested()) break;
        search.Run(identity.id);
    }
    outcome.cancelled = stop.stop_requested();
    outcome.itemsDone = search.examined;
    report.Done();
    return outcome;
}
