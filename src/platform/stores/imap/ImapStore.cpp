#include "platform/stores/imap/ImapStore.h"

#include <strings.h>

#include <mutex>
#include <vector>

#include "base/Text.h"
#include "platform/stores/imap/ImapFolder.h"
#include "platform/stores/imap/ImapPassword.h"

namespace tindale::store {

namespace {

// Logged-in connections a finished job left, taken by the next store of the same account,
// so that browsing folder after folder does not log in for each.
struct Idle {
    std::mutex lock;
    std::vector<std::unique_ptr<ImapConnection>> connections;
};

Idle& IdleConnections() {
    static Idle idle;
    return idle;
}

std::unique_ptr<ImapConnection> TakeIdle(const ImapAccount& account) {
    auto& idle = IdleConnections();
    std::lock_guard guard(idle.lock);
    for (auto it = idle.connections.begin(); it != idle.connections.end(); ++it)
        if ((*it)->Account().Url() == account.Url()) {
            auto connection = std::move(*it);
            idle.connections.erase(it);
            return connection;
        }
    return nullptr;
}

void GiveBack(std::unique_ptr<ImapConnection> connection) {
    constexpr size_t kKept = 4;
    auto& idle = IdleConnections();
    std::lock_guard guard(idle.lock);
    if (idle.connections.size() >= kKept) idle.connections.erase(idle.connections.begin());
    idle.connections.push_back(std::move(connection));
}

constexpr int kPasswordTries = 3;

// The server's INBOX is the store's Inbox, whatever the case the server writes it in.
bool IsInboxName(const std::string& name) {
    return name.size() == 5 && strncasecmp(name.c_str(), "INBOX", 5) == 0;
}

// The special-folder type a special-use flag gives ("Gesendet" with \Sent is the sent items).
std::optional<int32_t> TypeOfSpecialUse(const std::string& use) {
    if (strcasecmp(use.c_str(), "\\Sent") == 0) return kSentItems;
    if (strcasecmp(use.c_str(), "\\Trash") == 0) return kDeletedItems;
    if (strcasecmp(use.c_str(), "\\Drafts") == 0) return kDrafts;
    return std::nullopt;
}

}  // namespace

ImapStore::~ImapStore() {
    indexes_.clear();
    if (connection_) GiveBack(std::move(connection_));
}

bool ImapStore::Prepare() {
    problem_.clear();
    auto account = ImapAccount::Parse(root_);
    if (!account) {
        problem_ = root_ + " is not an IMAP account (imaps://USER@HOST[:PORT])";
        return false;
    }
    if ((connection_ = TakeIdle(*account))) {
        prefix_ = connection_->PersonalPrefix();
        return true;
    }
    std::string refusal;
    for (int attempt = 0; attempt < kPasswordTries; ++attempt) {
        auto password = ImapPasswordFor(*account, refusal);
        if (!password) {
            problem_ = refusal.empty() ? "no password was given for " + account->Url() : refusal;
            return false;
        }
        auto connection = std::make_unique<ImapConnection>(*account);
        std::string problem = connection->Open(*password);
        if (problem.empty()) {
            ImapPasswordWorked(*account, *password);
            connection_ = std::move(connection);
            prefix_ = connection_->PersonalPrefix();
            return true;
        }
        refusal = problem;
        bool loginRefused = problem.find("refused the login") != std::string::npos;
        if (!loginRefused) break;  // no other password would help
        ImapPasswordRefused(*account);
    }
    problem_ = refusal;
    return false;
}

std::vector<FolderEntry> ImapStore::ListFolders(std::vector<Unmapped>& unmapped) {
    std::vector<FolderEntry> folders;
    auto boxes = connection_->List();
    if (!boxes) {
        unmapped.push_back({".", connection_->LastError()});
        return folders;
    }
    for (const auto& box : *boxes) {
        delimiter_ = box.delimiter;
        FolderEntry entry;
        entry.dir = box.name;
        entry.selectable = box.selectable;
        // Folders are named as the person sees them, without the server's prefix of its own
        // folders: the same account's folders have the same paths on any server.
        std::string name = box.name;
        if (!prefix_.empty() && name.starts_with(prefix_) && name.size() > prefix_.size())
            name.erase(0, prefix_.size());
        size_t start = 0;
        while (start <= name.size()) {
            size_t end = name.find(box.delimiter, start);
            if (end == std::string::npos) end = name.size();
            entry.path.push_back(text::ToUtf16(name.substr(start, end - start)));
            start = end + 1;
        }
        if (IsInboxName(name.substr(0, name.find(box.delimiter)))) entry.path[0] = u"Inbox";
        entry.type = TypeOfSpecialUse(box.specialUse);
        folders.push_back(std::move(entry));
    }
    return folders;
}

std::string ImapStore::NameFor(const std::string& parentDir, const std::u16string& name) const {
    std::string leaf = text::ToUtf8(name);
    if (parentDir.empty()) return IsInboxName(leaf) ? "INBOX" : prefix_ + leaf;
    return parentDir + delimiter_ + leaf;
}

std::optional<std::string> ImapStore::MakeFolder(const std::string& parentDir,
                                                 const std::vector<std::u16string>& path) {
    if (path.empty()) return std::nullopt;
    if (text::ToUtf8(path.back()).find(delimiter_) != std::string::npos)
        return std::nullopt;  // a name holding the server's separator would make two levels
    std::string name = NameFor(parentDir, path.back());
    if (name != "INBOX" && !connection_->Create(name)) return std::nullopt;
    connection_->Subscribe(name);  // the person's programs show subscribed folders
    return name;
}

std::optional<std::string> ImapStore::PlaceParent(const std::string& parentDir,
                                                  const std::vector<std::u16string>& path) {
    // The server makes a parent by itself when a folder below it is made.
    if (path.empty()) return std::nullopt;
    return NameFor(parentDir, path.back());
}

std::unique_ptr<StoreFolder> ImapStore::OpenFolder(uint32_t id, const std::string& location,
                                                   FolderProps props) {
    return std::make_unique<ImapFolder>(*this, id, location, std::move(props));
}

MailboxIndex& ImapStore::IndexOf(const std::string& location) {
    auto& index = indexes_[location];
    if (!index) index = std::make_unique<MailboxIndex>(*connection_, MailboxAt(location));
    return *index;
}

void ImapStore::ReleaseFolder(const std::string& location) {
    indexes_.erase(location);
}

}  // namespace tindale::store
