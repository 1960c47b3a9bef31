#pragma once
// Folders and files, backed up by path and put back at the same path. A file node's payload
// starts with a 4112-byte header:
//   0 path (2048 UTF-16 units, in the archive's %USERPROFILE%\... form) | 4096 size (u64)
//   | 4104 folder flag | 4105 1 when permission bits follow | 4106 the permission bits
//   (u16, rwx for user, group, other) | 4108 1 for a folder that did not exist (a root kept
//   for what is below it, which a restore does not make) | 4109 three zero bytes (older
//   writers: all seven zero)
// followed, for a file, by its bytes.
#include <functional>
#include <optional>
#include <string>

#include "model/Node.h"
#include "platform/ProgramCatalog.h"

namespace v {

inline constexpr size_t kFileHeaderSize = 4112;
inline constexpr size_t kFilePathBytes = 4096;  // at 0
inline constexpr size_t kFilePathUnits = kFilePathBytes / 2;
inline constexpr size_t kFileSizeAt = 4096;
inline constexpr size_t kFileFolderFlagAt = 4104;
inline constexpr size_t kFileModeFlagAt = 4105;
inline constexpr size_t kFileModeAt = 4106;
inline constexpr size_t kFileAbsentAt = 4108;

// The permission bits a file payload's header carries (never setuid, setgid or sticky);
// none from older writers.
std::optional<unsigned> PermissionsOf(const uint8_t* header);

// A file's modification time when it was backed up, kept in the path field's second half
// (payload offset 2048, which a path of fewer than 1024 units never reaches):
//   0 "TZFT" | 4 version (1) | 5 three zero bytes | 8 seconds (i64) | 16 nanoseconds (u32)
// None from older writers, or for a longer path.
inline constexpr size_t kFileTimeAt = 2048;
struct FileTime {
    int64_t seconds = 0;
    uint32_t nanoseconds = 0;
    bool operator>(const FileTime& o) const {
        return seconds != o.seconds ? seconds > o.seconds : nanoseconds > o.nanoseconds;
    }
};
std::optional<FileTime> ModifiedTimeOf(const uint8_t* header);

// How a restore treats files that exist already. A file changed since the backup (modified
// after its archived copy, or after the archive was written when the archive does not say)
// is replaced and named, or kept with `keepNewer`. With `plan`, nothing is written: the
// files that would be replaced are noted there.
struct RestorePlan {
    std::vector<std::string> replaced;  // existing files the archive's copies replace
    std::vector<std::string> newer;     // of those, the ones changed since the backup
};
struct FileRestoreOptions {
    bool keepNewer = false;
    FileTime archiveTime;         // when the archive was written
    RestorePlan* plan = nullptr;  // set: only plan
};

// One directory entry as an enumeration found it.
struct DirEntry {
    std::string name;       // the name's bytes as the file system has them
    bool isFolder = false;  // the entry is (or, for a link, points to) a folder
    bool isLink = false;    // a symbolic link: the stand-in for a reparse point
    bool exists = false;
    int error = 0;                   // errno of the lstat when it does not exist
    bool isSpecial = false;          // a device, FIFO or socket (or a link to one)
    uint64_t device = 0, inode = 0;  // of the entry itself (lstat)
};

// Files that a backup on this thread must not read: the archive it is writing, and the
// file that archive will replace. Installed for the length of a scope.
class ExcludedFilesScope {
  public:
    explicit ExcludedFilesScope(std::vector<std::pair<uint64_t, uint64_t>> deviceAndInode);
    ~ExcludedFilesScope();
    ExcludedFilesScope(const ExcludedFilesScope&) = delete;
    ExcludedFilesScope& operator=(const ExcludedFilesScope&) = delete;

  private:
    std::vector<std::pair<uint64_t, uint64_t>> excluded_;
    const std::vector<std::pair<uint64_t, uint64_t>>* previous_;
};

// Lists a folder's entries, sorted by name, without "." names. Entries that cannot be
// backed up (devices, FIFOs, sockets, names that do not survive the archive's path form)
// are reported and left out, and so is a folder that cannot be listed at all.
std::vector<DirEntry> ListFolder(const std::string& folder);

// Where a file source's items go back on restore: the folder the archive says they were
// read from, as stored ("%USERPROFILE%\\Documents", "%USERPROFILE%\\Dokumente" from a German
// desktop), and the restoring person's folder of the same kind. An item keeps the part of
// its stored path below the stored root; nothing is written anywhere else.
// A program's files (`programFiles`) go back to the places that program keeps them in, in
// the restoring person's home; paths of the backup's home inside its settings files are
// rewritten for this one.
struct FileRestoreRoot {
    std::u16string stored;
    std::string local;
    bool programFiles = false;
    std::string backupHome;  // of a program's files: the home folder at the backup
};

// Where a stored path is written: the file or folder, and the folder it is opened from (below
// which nothing may be a link).
struct RestoreTarget {
    std::string path;
    std::string openFrom;
};

// The place for a stored path, or none (with the reason) when the path is not below the
// stored root (for a program's files: not one of the places programs keep their files) or
// has a part that is empty, "." or "..", or holds a "/".
std::optional<RestoreTarget> RestoreTargetFor(const FileRestoreRoot& root,
                                              std::u16string_view stored, std::string& why);

class FileFolderNode : public BasicNode {
  public:
    static const tindale::Guid kTypeGuid;

    FileFolderNode(const DirEntry& entry, const std::string& folder);  // from an enumeration
    explicit FileFolderNode(const std::string& path);                  // from a path
    FileFolderNode(const NodeRecord& record, BasicStream* payload);    // recreated

    int32_t EnumContainers(NodeList& out) override;
    int32_t EnumItems(NodeList& out) override;
    bool MayHoldItems() const override { return true; }
    uint64_t WritePayload(BasicStream& out) override;
    uint64_t RestorePayload(BasicStream& in) override;
    uint64_t SkipPayload(BasicStream& in, BasicStream& sink) override;
    // Computed when asked: nothing on the backup or restore path reads it.
    ID* GetId() override;
    std::u16string GetTypeName() const override { return u"FileFolderNode"; }
    tindale::Guid GetTypeGuid() const override { return kTypeGuid; }
    bool IsContainer() const override;

    std::string FullPath() const;
    // The source this recreated node belongs to; without one, RestorePayload writes nothing.
    void SetRestoreRoot(std::optional<FileRestoreRoot> root) { restoreRoot_ = std::move(root); }
    void SetRestoreOptions(const FileRestoreOptions* options) { options_ = options; }
    // A folder of a program's place holds only what the place takes; `relative` is the
    // folder's path below the place.
    void SetPlace(const tindale::programs::Place& place, std::string relative) {
        place_ = place;
        relative_ = std::move(relative);
    }

  private:
    int32_t Enumerate(NodeList& out, bool folders);
    uint64_t WriteFile(BasicStream& out, uint8_t* header);
    std::optional<RestoreTarget> TargetOf(const std::u16string& stored);
    uint64_t WriteRestored(BasicStream& in, const RestoreTarget& target, const uint8_t* header);

    // Whether the archived copy may be written at `path` (nothing exists there, or what
    // exists may be replaced); notes what a plan would replace.
    bool MayReplace(const std::string& path, const uint8_t* header);

    std::optional<FileRestoreRoot> restoreRoot_;
    const FileRestoreOptions* options_ = nullptr;
    std::optional<tindale::programs::Place> place_;
    std::string relative_;
    DirEntry entry_;
    std::string folder_;
    bool recreated_ = false;
    std::optional<MD5> id_;
};

// A file a backup makes from others (Firefox's bookmarks, from its places.sqlite): stored as
// any file is, with the content `make` gives when it is written (none: it is reported).
class MadeFileNode : public FileFolderNode {
  public:
    MadeFileNode(const std::string& path, std::function<std::optional<std::string>()> make)
        : FileFolderNode(path), make_(std::move(make)) {}
    uint64_t WritePayload(BasicStream& out) override;

  private:
    std::function<std::optional<std::string>()> make_;
};

class MyDocsNode : public FileFolderNode {
  public:
    MyDocsNode();
    std::u16string GetDisplayName() const override { return u"My Documents"; }
};

class ContactNode : public FileFolderNode {
  public:
    ContactNode();
    std::u16string GetDisplayName() const override { return u"Contacts"; }
    // The folder, and the address books of the programs found, whether or not it exists.
    int32_t EnumContainers(NodeList& out) override;
    bool IsContainer() const override { return true; }
    // Whether there is anything to offer: the folder, or a program's address books.
    static bool Offered();
};

class WABNode : public FileFolderNode {
  public:
    explicit WABNode(const std::string& folder);
    std::u16string GetDisplayName() const override { return u"Windows Address Book"; }
    // The folder of the address-book file named in the registry; empty when none.
    static std::string AddressBookFolder();
};

class FavoritesNode : public BasicNode {
  public:
    static const tindale::Guid kTypeGuid;

    FavoritesNode();
    FavoritesNode(const NodeRecord& record, BasicStream* payload);

    int32_t EnumContainers(NodeList& out) override;
    int32_t EnumItems(NodeList& out) override;
    bool MayHoldItems() const override { return true; }
    ID* GetId() override { return &id_; }
    std::u16string GetTypeName() const override { return u"FavoritesNode"; }
    tindale::Guid GetTypeGuid() const override { return kTypeGuid; }
    bool IsContainer() const override { return true; }

  private:
    int32_t Enumerate(NodeList& out, bool folders);
    IDInt<int> id_;
};

// MD5 over a name's "ANSI" bytes, as many as the name has UTF-16 units.
MD5 NameDigest(std::u16string_view name);

// Called with each folder a restore has opened for writing, before it writes into it (tests
// swap a folder for a link there).
void SetFolderOpenedHookForTesting(std::function<void(const std::string&)> hook);

}  // namespace v
