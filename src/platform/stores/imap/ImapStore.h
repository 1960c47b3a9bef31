#pragma once
// An IMAP account as a store: a folder is a mailbox, a message id is its UID. The folder
// ids are this program's (StoreBooks, keyed by mailbox name); nothing is kept on the server
// but the mail. One connection serves the whole job; each mailbox's listing (flags, dates,
// sizes, headers) is read once and kept until the job is done with the folder.
#include <map>
#include <memory>
#include <string>

#include "platform/stores/StoreBackend.h"
#include "platform/stores/StoreBooks.h"
#include "platform/stores/imap/ImapAccount.h"
#include "platform/stores/imap/ImapConnection.h"
#include "platform/stores/imap/MailboxIndex.h"

namespace tindale::store {

class ImapStore : public StoreBackend {
  public:
    ImapStore(std::string root, const StoreBooks& books) : root_(std::move(root)), books_(books) {}
    ~ImapStore() override;

    bool Prepare() override;
    std::string OpenProblem() const override { return problem_; }
    std::vector<FolderEntry> ListFolders(std::vector<Unmapped>& unmapped) override;
    std::optional<std::string> MakeFolder(const std::string& parentDir,
                                          const std::vector<std::u16string>& path) override;
    std::optional<std::string> PlaceParent(const std::string& parentDir,
                                           const std::vector<std::u16string>& path) override;
    std::unique_ptr<StoreFolder> OpenFolder(uint32_t id, const std::string& location,
                                            FolderProps props) override;
    int Flush() override { return 0; }
    void ReleaseFolder(const std::string& location) override;
    void ReleaseAll() override { indexes_.clear(); }

    ImapConnection& Connection() { return *connection_; }
    // The listing of the mailbox at `location` (root + "/" + mailbox), read when first asked.
    MailboxIndex& IndexOf(const std::string& location);
    std::string MailboxAt(const std::string& location) const {
        return location.size() > root_.size() ? location.substr(root_.size() + 1) : std::string();
    }

  private:
    std::string NameFor(const std::string& parentDir, const std::u16string& name) const;

    std::string root_;
    StoreBooks books_;
    std::unique_ptr<ImapConnection> connection_;
    char delimiter_ = '/';
    std::string prefix_;  // of the account's own folders ("INBOX." on some servers)
    std::map<std::string, std::unique_ptr<MailboxIndex>> indexes_;
    std::string problem_;
};

}  // namespace tindale::store
