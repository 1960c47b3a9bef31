#pragma once
// Replacing files without ever showing a partial one: content goes to a temporary file
// beside the target and is renamed over it only when complete. Every write is checked.
//
// Making a file durable costs a sync. A job that writes many files (a restore) installs a
// PublishScope: completed files then wait in its batch, and the batch is made durable with
// one sync of the file system, renamed into place, and the directories synced, so a restore
// of thousands of messages costs a few syncs instead of one per file.
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/ThreadScope.h"

namespace tindale::durable {

// An open folder that files are created and named in through its descriptor, so that a link
// swapped in for it, or for a folder above it, after it was opened cannot redirect them.
class Folder {
  public:
    Folder(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }

  private:
    int fd_;
    std::string path_;
};
using FolderRef = std::shared_ptr<const Folder>;

// Where a file goes: a name in an open folder, or (without one) a path.
struct Place {
    Place() = default;
    Place(std::string path) : name(std::move(path)) {}  // NOLINT: a path is a place
    Place(const char* path) : name(path) {}             // NOLINT
    Place(FolderRef in, std::string nameIn) : folder(std::move(in)), name(std::move(nameIn)) {}
    FolderRef folder;
    std::string name;  // in `folder`; the whole path when there is no folder
    static Place At(const std::string& path) { return {nullptr, path}; }
    static Place In(FolderRef folder, std::string name) { return {std::move(folder), name}; }
    // For the *at() calls: the folder's descriptor (or AT_FDCWD) and the name in it.
    int DirFd() const;
    const char* Name() const { return name.c_str(); }
    // The same folder, another name.
    Place Sibling(const std::string& other) const;
    std::string Path() const;  // for messages and for locking by name
};

// A temporary file beside `target`, named ".<name>.<tag>-XXXXXX" with the name shortened
// so that the whole stays within the 255-byte limit of a file name. Removed unless published.
// While it is open it is locked (flock), so that a later run can tell the temporaries a
// killed run left behind from those of a run still going, and remove only the former.
//
// An unnamed temporary (O_TMPFILE) has no name until it is published: creating it does not
// touch the folder, a killed run leaves nothing behind, and publishing gives it its name in
// one step instead of a rename. Where the file system or /proc cannot do that, it is named.
class TempFile {
  public:
    enum class Naming { Named, Unnamed };
    TempFile(const std::string& target, std::string_view tag, Naming naming = Naming::Named);
    // A temporary in an open folder, for the name `target.name` there.
    TempFile(Place target, std::string_view tag, Naming naming);
    // Removes temporaries of `target` with this tag that no live process holds (left by a
    // run that was killed).
    static void RemoveStale(const std::string& target, std::string_view tag);
    // The same for every target in `target`'s folder, once per folder for the thread's
    // batch (a restore that writes many files into one folder lists it once), sparing the
    // temporaries waiting in the batch.
    static void RemoveStaleBeside(const std::string& target, std::string_view tag);
    static void RemoveStaleBeside(const Place& target, std::string_view tag);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    bool Unnamed() const { return fd_ >= 0 && temp_.name.empty(); }
    int Fd() const { return fd_; }
    int Error() const { return error_; }  // errno of the first failure, 0 when none
    std::string Path() const { return temp_.name.empty() ? std::string() : temp_.Path(); }
    std::string Target() const { return target_.Path(); }

    bool Write(const uint8_t* data, size_t length);
    // Gives the file the permission bits of the file it replaces; a new file gets
    // 0666 less the umask (mkstemp's 0600 stays when `keepPrivate`). An unnamed file takes
    // them when it is published: looking the target up now would wait on its folder while
    // the batch links other files into it.
    void TakeModeOfTarget(bool keepPrivate);
    // Gives the file these permission bits (read, write, execute for user, group, other;
    // setuid, setgid and sticky are never given), in place of its target's.
    void SetPermissions(unsigned mode);
    // Closes the file, makes it durable and renames it over the target now.
    bool PublishNow();
    // Closes the file and publishes it through the thread's PublishScope when one is
    // installed (durable when the batch is flushed), otherwise now.
    bool Publish();
    // Forgets the temporary without removing it (someone else now owns the name).
    Place Release();

  private:
    void OpenNamed();
    bool Close();
    Place target_;
    std::string tag_;
    Place temp_;  // beside the target; no name while unnamed
    int fd_ = -1;
    int error_ = 0;
    bool modeOfTarget_ = false;  // an unnamed file takes its target's mode when published
};

// Completed temporary files waiting to be renamed into place.
//
// A batch that grows large is published on a thread of its own while the job goes on
// writing, so the disk catches up with the job instead of the job waiting for the disk;
// at most one such publication runs at a time. Flush waits for it and publishes the rest.
// Threads of one job may share a batch: every call takes its lock.
class PublishBatch {
  public:
    struct Failure {
        std::string target;
        int error;
    };
    PublishBatch() = default;
    ~PublishBatch();
    PublishBatch(const PublishBatch&) = delete;
    PublishBatch& operator=(const PublishBatch&) = delete;
    void Add(Place temp, Place target, const struct stat& written);
    // Takes an unnamed temporary's descriptor; the file gets its name when published, and
    // the permission bits of the file it replaces when `modeOfTarget`.
    void AddUnnamed(int fd, Place target, std::string tag, const struct stat& written,
                    bool modeOfTarget);
    // One sync of the file systems involved, every rename in order, then a sync of each
    // directory that received a file. False when anything failed (see TakeFailures).
    bool Flush();
    std::vector<Failure> TakeFailures();
    bool Empty() const;
    bool Holds(const Place& temp) const;
    // True the first time a folder is named (for work done once per folder).
    bool FirstVisit(const std::string& folder);
    // Folders this job has opened (checked to be real folders, no links) or created, kept
    // open while the job writes into them; a bounded number at a time.
    FolderRef OpenedFolder(const std::string& folder) const;
    void AddOpenedFolder(const std::string& folder, FolderRef opened);

  private:
    struct Pending {
        Place temp;  // a named temporary
        Place target;
        dev_t device;  // 0 when unknown
        int fd = -1;   // an unnamed temporary's, owned
        std::string tag;
        bool modeOfTarget = false;
    };
    static void PublishAll(const std::vector<Pending>& pending, std::vector<Failure>& failures);
    void PublishInBackground();
    void AwaitPublishing();
    mutable std::mutex mutex_;
    std::vector<Pending> pending_;
    std::vector<Pending> publishing_;  // read by the publishing thread until it is joined
    std::future<std::vector<Failure>> publication_;
    std::vector<Failure> failures_;
    std::set<std::string> visited_;
    std::map<std::string, FolderRef> opened_;
    uint64_t bytes_ = 0;
    size_t unnamed_ = 0;  // descriptors held in pending_
};

// Installs a batch for this thread; files published meanwhile wait in it. The batch flushes
// itself when it grows large; the owner flushes the rest and reports failures.
using PublishScope = ThreadScope<PublishBatch>;

// The batch installed on this thread, or null.
inline PublishBatch* CurrentBatch() {
    return PublishScope::Current();
}

// Publishes a written and closed temporary file: through the thread's batch when one is
// installed, otherwise durably now. 0 on success, else an errno value (the temporary is
// removed on failure).
// `written` is the temporary's fstat from before it was closed (its size and file system).
int PublishClosed(std::string temp, const std::string& target, const struct stat& written);

// Replaces `path` with `content` durably (temp, write, sync, rename, sync of the directory).
// On failure the old file is left in place and errno-style error is returned (0 = success).
int ReplaceFileContents(const std::string& path, std::string_view content);

// Gives the unnamed temporary `fd` the name `target`. A file already there is replaced
// atomically: the temporary is named beside it first, then renamed over it. 0 or errno.
int LinkIntoPlace(int fd, const Place& target, std::string_view tag);

// Syncs the directory that holds `path` (so that a rename in it survives a crash).
bool SyncParentDirectory(const std::string& path);
bool SyncParentDirectory(const Place& place);

}  // namespace tindale::durable
