#pragma once
// A store of the Maildir family (Maildir++, verbatim, legacy, KMail): every folder is a
// maildir, laid out as its MaildirLayout says. Folders are listed once per namespace; each
// folder's message index is loaded when first asked for and only the two used last are
// kept, so memory follows the largest folder, not the whole store.
#include <map>
#include <memory>
#include <string>

#include "platform/stores/StoreBackend.h"
#include "platform/stores/StoreBooks.h"
#include "platform/stores/common/FolderCopies.h"
#include "platform/stores/common/MessageIndexes.h"
#include "platform/stores/maildir/KeywordTable.h"
#include "platform/stores/maildir/MaildirLayout.h"

namespace tindale::store {

class MaildirStore : public StoreBackend {
  public:
    MaildirStore(std::string root, MaildirLayout layout, const StoreBooks& books)
        : root_(std::move(root)), layout_(layout), indexes_(books) {}

    bool Prepare() override;
    std::vector<FolderEntry> ListFolders(std::vector<Unmapped>& unmapped) override;
    std::optional<std::string> MakeFolder(const std::string& parentDir,
                                          const std::vector<std::u16string>& path) override;
    std::optional<std::string> PlaceParent(const std::string& parentDir,
                                           const std::vector<std::u16string>& path) override;
    std::unique_ptr<StoreFolder> OpenFolder(uint32_t id, const std::string& location,
                                            FolderProps props) override;
    int Flush() override { return indexes_.SaveAll(); }
    void ReleaseFolder(const std::string& location) override { indexes_.Release(location); }
    void ReleaseAll() override;

    // The message index of the maildir `dir`, loaded when first asked for.
    MessageIndex& IndexOf(const std::string& dir) { return indexes_.Of(dir); }
    // A folder's place relative to the store's root ("." for the root itself).
    std::string RelativeToRoot(const std::string& dir) const {
        return dir == root_ ? "." : dir.substr(root_.size() + 1);
    }
    FolderCopies& Copies() { return copies_; }
    // The keyword names of the maildir `dir`, read once per job.
    KeywordTable& KeywordsOf(const std::string& dir);
    void ForgetKeywords(const std::string& dir) { keywords_.erase(dir); }
    // Whether the maildir `dir` held messages when this job first wrote into it (`count`:
    // how many it holds now, taken as the answer the first time it is asked).
    bool HeldMailBefore(const std::string& dir, size_t count) {
        return heldMail_.emplace(dir, count > 0).first->second;
    }
    // Takes the mail of `dir` for the same folder's as the archive's (a restore finishing
    // what an interrupted one began): its messages keep their names whole.
    void ContinuesArchivedFolder(const std::string& dir) { heldMail_[dir] = false; }
    // Whether messages may be written into the maildir `dir`: it must resolve to a place
    // inside the store (a folder that is a link leading out of it is refused), and
    // temporaries a killed run left in its tmp/ are removed first. Checked once per folder.
    bool ReadyForWriting(const std::string& dir);

  private:
    std::string root_;
    MaildirLayout layout_;
    MessageIndexes indexes_;
    FolderCopies copies_;
    std::map<std::string, bool> writable_;
    std::map<std::string, KeywordTable> keywords_;
    std::map<std::string, bool> heldMail_;  // kept for the whole job
};

}  // namespace tindale::store
