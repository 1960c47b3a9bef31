#pragma once
// A Thunderbird account kept as mbox files: a folder is a file and its subfolders sit in
// NAME.sbd/ beside it. Nothing but mbox files (and Thunderbird's own .msf summaries, removed
// when a folder changes) is ever written into the account's folder; the folders' id maps are
// this program's (StoreBooks). Writes wait until Thunderbird has the profile closed.
#include <memory>
#include <string>

#include "platform/RecentlyUsed.h"
#include "platform/stores/StoreBackend.h"
#include "platform/stores/StoreBooks.h"
#include "platform/stores/mbox/MboxFile.h"

namespace tindale::store {

class MboxStore : public StoreBackend {
  public:
    MboxStore(std::string root, const StoreBooks& books) : root_(std::move(root)), books_(books) {}

    bool Prepare() override;
    std::vector<FolderEntry> ListFolders(std::vector<Unmapped>& unmapped) override;
    std::optional<std::string> MakeFolder(const std::string& parentDir,
                                          const std::vector<std::u16string>& path) override;
    std::unique_ptr<StoreFolder> OpenFolder(uint32_t id, const std::string& location,
                                            FolderProps props) override;
    std::string WriteRefusal() override;
    int Flush() override { return files_.SaveAll(); }
    void ReleaseFolder(const std::string& location) override { files_.Release(location); }
    void ReleaseAll() override { files_.SaveAndClear(); }

    // The mbox file at `path`, loaded when first asked for (only the two used last are kept).
    MboxFile& FileOf(const std::string& path);
    std::string RelativeToRoot(const std::string& path) const {
        return path.substr(root_.size() + 1);
    }

  private:
    std::string root_;
    StoreBooks books_;
    RecentlyUsed<MboxFile, &MboxFile::Path, &MboxFile::SaveIds, 2> files_;
};

// Whether `root` holds mbox folders laid out as Thunderbird keeps them.
bool HoldsMboxFolders(const std::string& root);

}  // namespace tindale::store
