#include "dupfinder/DuplicateSearch.h"

#include <algorithm>
#include <cstring>
#include <functional>

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
    struct Keyed {
        const MessageProps* props;
        std::array<uint8_t, 16> digest;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(messages.size());
    for (const auto& m : messages) keyed.push_back({&m, MessageDigest(m)});
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.props->received != b.props->received) return a.props->received < b.props->received;
        if (a.props->normalSubject != b.props->normalSubject)
            return a.props->normalSubject < b.props->normalSubject;
        return a.digest < b.digest;
    });
    std::vector<uint32_t> duplicates;
    for (size_t i = 0; i + 1 < keyed.size(); ++i)
        if (keyed[i].props->received == keyed[i + 1].props->received &&
            keyed[i].props->normalSubject == keyed[i + 1].props->normalSubject)
            duplicates.push_back(keyed[i].props->messageId);
    return duplicates;
}

namespace {

std::vector<FolderProps> SubFolders(StoreNamespace& ns, uint32_t parent) {
    std::vector<FolderProps> out;
    std::unique_ptr<FolderEnum> handle;
    FolderProps props;
    for (HRESULT hr = ns.GetFirstSubFolder(parent, props, handle); hr == S_OK;
         hr = ns.GetNextSubFolder(*handle, props))
        out.push_back(props);
    return out;
}

uint64_t CountMessages(StoreNamespace& ns, uint32_t folder) {
    uint64_t total = 0;
    for (const auto& sub : SubFolders(ns, folder))
        total += sub.messages + CountMessages(ns, sub.folderId);
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
        for (const auto& sub : SubFolders(ns, folderId)) {
            if (stop_.stop_requested()) return;
            Visit(ns, identity, sub.folderId);
        }
        if (folderId == kRootFolderId) return;
        std::unique_ptr<StoreFolder> folder;
        std::vector<MessageProps> messages;
        if (ns.OpenFolder(folderId, folder) == S_OK) {
            std::unique_ptr<MessageEnum> handle;
            MessageProps props;
            for (HRESULT hr = folder->GetFirstMessage(0, 0xFFFFFFFF, props, handle); hr == S_OK;
                 hr = folder->GetNextMessage(*handle, props))
                messages.push_back(props);
        }
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
