#pragma once
// What one kind of store does for a namespace: find its folders on disk, make a new one,
// open one as a StoreFolder, and keep what it loaded for the job. The namespace above it
// keeps the folder ids and the tree, the same for every kind.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/StoreLayout.h"
#include "platform/stores/StoreFolder.h"

namespace tindale::store {

class StoreBooks;

// A folder found on disk.
struct FolderEntry {
    std::vector<std::u16string> path;  // folder names from the top; {"Inbox"} for the Inbox
    std::string dir;                   // relative to the store's root; "." for the root itself
    bool selectable = true;            // false: only there for its subfolders (no maildir)
    // Its special-folder type where the store says it (IMAP's special-use flags); otherwise
    // the type its name gives.
    std::optional<int32_t> type = std::nullopt;
};

// A directory of the store that no folder stands for, and why.
struct Unmapped {
    std::string directory;  // relative to the store's root
    std::string reason;
};

class StoreBackend {
  public:
    virtual ~StoreBackend() = default;
    // Makes the store's root ready; false when no store of this kind can be kept there.
    virtual bool Prepare() = 0;
    // Why Prepare failed, where the kind can say more (a server's answer); else empty.
    virtual std::string OpenProblem() const { return {}; }
    // Every folder of the store; what cannot be a folder goes to `unmapped`.
    virtual std::vector<FolderEntry> ListFolders(std::vector<Unmapped>& unmapped) = 0;
    // Makes the folder `path` below the folder at `parentDir` (relative to the root; empty
    // at the top) and returns its place relative to the root; none when it cannot be made.
    virtual std::optional<std::string> MakeFolder(const std::string& parentDir,
                                                  const std::vector<std::u16string>& path) = 0;
    // The same for a folder wanted only as the parent of a subfolder: a kind that can keep a
    // mere parent (a directory without a maildir, IMAP's \Noselect) makes it only when
    // something is written into it, so that a parent comes back as the parent it was.
    virtual std::optional<std::string> PlaceParent(const std::string& parentDir,
                                                   const std::vector<std::u16string>& path) {
        return MakeFolder(parentDir, path);
    }
    // Opens the folder `id` at `location` (its full path).
    virtual std::unique_ptr<StoreFolder> OpenFolder(uint32_t id, const std::string& location,
                                                    FolderProps props) = 0;
    // Why messages cannot be written into this store now (its client has it open), or empty.
    virtual std::string WriteRefusal() { return {}; }
    // Writes back the message id maps that changed; 0 or an errno value.
    virtual int Flush() = 0;
    // Saves and drops what was loaded for the folder at `location` (a job done with it).
    virtual void ReleaseFolder(const std::string& location) = 0;
    // The same for every folder, and whatever else was learnt of the store's contents.
    virtual void ReleaseAll() = 0;

    // Entries of the store's folders that listing passed over (links, files that are no
    // messages), noted by the folders as they are listed, each once.
    const std::vector<Unmapped>& Skipped() const { return skipped_; }
    void NoteSkipped(Unmapped entry) {
        for (const auto& known : skipped_)
            if (known.directory == entry.directory) return;
        skipped_.push_back(std::move(entry));
    }
    // Links found among a folder's message files (`dir` relative to the root, "." for it).
    void NoteLinks(const std::string& dir, const std::vector<std::string>& links) {
        for (const auto& link : links)
            NoteSkipped({dir == "." ? link : dir + "/" + link, kLinkNotFollowed});
    }
    // Messages a client marked deleted and keeps only until it compacts the folder: no mail,
    // never listed; counted per folder (`location`) as folders are listed.
    void NoteDeletedWaiting(const std::string& location, size_t count) {
        if (count > 0)
            deletedWaiting_[location] = count;
        else
            deletedWaiting_.erase(location);
    }
    size_t DeletedWaiting() const {
        size_t total = 0;
        for (const auto& [location, count] : deletedWaiting_) total += count;
        return total;
    }
    static constexpr const char* kLinkNotFollowed =
        "a link: it was not followed (a store's messages and folders are never read through one)";

  private:
    std::vector<Unmapped> skipped_;
    std::map<std::string, size_t> deletedWaiting_;
};

// The kind's implementation for the store at `root`; its id maps are kept in `books`.
std::unique_ptr<StoreBackend> MakeStoreBackend(StoreKind kind, const std::string& root,
                                               const StoreBooks& books);

}  // namespace tindale::store
