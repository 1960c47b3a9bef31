#pragma once
// A Thunderbird account kept one file per message (Thunderbird's "maildir" store, chosen by
// an account's storeContractID): a folder NAME is a directory whose cur/ holds the message
// files, its subfolders sit in NAME.sbd/ beside it, and NAME.msf is Thunderbird's summary
// of it, removed when a folder changes so that Thunderbird reads the folder again. A
// message's state is in its X-Mozilla-Status header, not in its file name.
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "platform/stores/StoreBackend.h"
#include "platform/stores/StoreBooks.h"
#include "platform/stores/common/MessageIndexes.h"

namespace tindale::store {

class ThunderbirdMaildirStore : public StoreBackend {
  public:
    ThunderbirdMaildirStore(std::string root, const StoreBooks& books)
        : root_(std::move(root)), indexes_(books) {}

    bool Prepare() override;
    std::vector<FolderEntry> ListFolders(std::vector<Unmapped>& unmapped) override;
    std::optional<std::string> MakeFolder(const std::string& parentDir,
                                          const std::vector<std::u16string>& path) override;
    std::unique_ptr<StoreFolder> OpenFolder(uint32_t id, const std::string& location,
                                            FolderProps props) override;
    std::string WriteRefusal() override;
    int Flush() override { return indexes_.SaveAll(); }
    void ReleaseFolder(const std::string& location) override;
    void ReleaseAll() override;

    // Whether messages may be written into the folder `dir` now: Thunderbird must not have
    // the profile open (asked each time: it may quit), and the folder must resolve inside
    // the store; temporaries a killed run left in its tmp/ go first (once per job).
    bool ReadyForWriting(const std::string& dir);
    MessageIndex& IndexOf(const std::string& dir) { return indexes_.Of(dir); }
    // A folder's place relative to the store's root ("." for the root itself).
    std::string RelativeToRoot(const std::string& dir) const {
        return dir == root_ ? "." : dir.substr(root_.size() + 1);
    }
    // The folder's messages by a hash of their bytes without Thunderbird's state lines,
    // read once per job: what a message being restored is compared with.
    using Contents = std::unordered_multimap<uint64_t, std::string>;  // hash -> "cur/NAME"
    Contents& ContentsOf(const std::string& dir) { return contents_[dir]; }

  private:
    std::string root_;
    MessageIndexes indexes_;
    std::map<std::string, Contents> contents_;
    std::map<std::string, bool> inside_;
};

// Whether `root` holds folders of Thunderbird's file-per-message store.
bool HoldsThunderbirdMaildirFolders(const std::string& root);
// A hash of a message's bytes without Thunderbird's state lines.
uint64_t StatelessHash(std::string_view message);

}  // namespace tindale::store
