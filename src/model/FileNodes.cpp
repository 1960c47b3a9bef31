#include "model/FileNodes.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <span>

#include "base/AtomicFile.h"
#include "base/Text.h"
#include "base/WriteQueue.h"
#include "model/NodeIconRegistry.h"
#include "model/Outcome.h"
#include "model/ProgramNodes.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"
#include "platform/stores/common/MessageFile.h"

namespace v {

using namespace tindale;

const Guid FileFolderNode::kTypeGuid = Guid::FromText("{1D0B07C9-4726-4696-A8C8-6BAB15C32918}");
const Guid FavoritesNode::kTypeGuid = Guid::FromText("{AB119B23-4A6A-4078-8AF2-C8B535AD855F}");

namespace {

std::string Join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

thread_local const std::vector<std::pair<uint64_t, uint64_t>>* tExcluded = nullptr;

bool IsExcluded(const DirEntry& e) {
    if (!tExcluded) return false;
    return std::find(tExcluded->begin(), tExcluded->end(), std::pair(e.device, e.inode)) !=
           tExcluded->end();
}

DirEntry StatEntry(const std::string& folder, const std::string& name) {
    DirEntry e;
    e.name = name;
    struct stat st {};
    std::string path = Join(folder, name);
    if (::lstat(path.c_str(), &st) != 0) {
        e.error = errno;
        return e;
    }
    e.exists = true;
    e.device = st.st_dev;
    e.inode = st.st_ino;
    e.isLink = S_ISLNK(st.st_mode);
    if (e.isLink && ::stat(path.c_str(), &st) != 0) return e;  // a dangling link
    e.isFolder = S_ISDIR(st.st_mode);
    e.isSpecial = !e.isFolder && !S_ISREG(st.st_mode);
    return e;
}

bool IsBackupable(const DirEntry& e, std::string& why) {
    if (!e.exists) {
        why = std::strerror(e.error);
        return false;
    }
    if (!e.isSpecial) return true;
    why = "not a regular file or folder (device, FIFO or socket)";
    return false;
}

int32_t IconFor(const std::string& path, bool folder) {
    return NodeIconRegistry::Instance().IndexForSystemIcon(SystemIconKeyForPath(path, folder));
}

}  // namespace

MD5 NameDigest(std::u16string_view name) {
    std::string ansi = text::ToUtf8(name);
    ansi.resize(std::min(ansi.size(), name.size()));
    return MD5(std::span(reinterpret_cast<const uint8_t*>(ansi.data()), ansi.size()));
}

ExcludedFilesScope::ExcludedFilesScope(std::vector<std::pair<uint64_t, uint64_t>> deviceAndInode)
    : excluded_(std::move(deviceAndInode)), previous_(tExcluded) {
    tExcluded = &excluded_;
}

ExcludedFilesScope::~ExcludedFilesScope() {
    tExcluded = previous_;
}

std::vector<DirEntry> ListFolder(const std::string& folder) {
    std::vector<DirEntry> entries;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        if (errno != ENOENT && errno != ENOTDIR)  // a folder that is not there holds nothing
            ReportProblem(folder,
                          std::string("its contents cannot be listed: ") + std::strerror(errno));
        return entries;
    }
    while (dirent* d = ::readdir(dir)) {
        std::string name = d->d_name;
        if (name.empty() || name[0] == '.') continue;
        std::string path = Join(folder, name);
        if (name.find('\\') != std::string::npos || text::ToUtf8(text::ToUtf16(name)) != name) {
            ReportProblem(path,
                          "its name cannot be stored in an archive (a backslash, or not UTF-8)");
            continue;
        }
        DirEntry e = StatEntry(folder, name);
        if (IsExcluded(e)) continue;  // the archive being written, or the one it replaces
        std::string why;
        if (!e.isLink && !IsBackupable(e, why)) {
            ReportProblem(path, why);
            continue;
        }
        entries.push_back(e);
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    return entries;
}

FileFolderNode::FileFolderNode(const DirEntry& entry, const std::string& folder)
    : entry_(entry), folder_(folder) {
    displayName = text::ToUtf16(entry.name);
    iconIndex = IconFor(FullPath(), entry.isFolder);
}

ID* FileFolderNode::GetId() {
    if (!id_) id_ = NameDigest(displayName);
    return &*id_;
}

FileFolderNode::FileFolderNode(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    auto slash = p.find_last_of('/');
    folder_ = slash == 0 ? "/" : p.substr(0, slash);
    entry_ = StatEntry(folder_, p.substr(slash + 1));
    displayName = text::ToUtf16(p);
    iconIndex = entry_.exists ? IconFor(p, entry_.isFolder) : -1;
}

FileFolderNode::FileFolderNode(const NodeRecord& rec, BasicStream* payload)
    : BasicNode(rec, payload), recreated_(true) {}

bool FileFolderNode::IsContainer() const {
    return recreated_ ? record.IsContainer() : entry_.isFolder;
}

std::string FileFolderNode::FullPath() const {
    return Join(folder_, entry_.name);
}

// Appends a node for each entry of `folder` that is (or is not) a folder; links only when
// `withLinks` (Favorites keep them, other folders pass over them).
static int32_t AppendEntries(BasicNode* parent, const std::string& folder, bool folders,
                             bool withLinks, NodeList& out) {
    int32_t added = 0;
    for (const auto& e : ListFolder(folder)) {
        if ((e.isLink && !withLinks) || e.isFolder != folders) continue;
        auto child = std::make_unique<FileFolderNode>(e, folder);
        child->parent = parent;
        out.push_back(std::move(child));
        ++added;
    }
    return added;
}

int32_t FileFolderNode::Enumerate(NodeList& out, bool folders) {
    if (!IsContainer() || recreated_) return 0;
    if (!place_) return AppendEntries(this, FullPath(), folders, false, out);
    int32_t added = 0;
    for (const auto& e : ListFolder(FullPath())) {
        if (e.isLink || e.isFolder != folders) continue;
        std::string relative = relative_.empty() ? e.name : relative_ + "/" + e.name;
        if (!place_->Takes(relative, e.isFolder)) continue;
        auto child = std::make_unique<FileFolderNode>(e, FullPath());
        child->SetPlace(*place_, relative);
        child->parent = this;
        out.push_back(std::move(child));
        ++added;
    }
    return added;
}

int32_t FileFolderNode::EnumContainers(NodeList& out) {
    return Enumerate(out, true);
}
int32_t FileFolderNode::EnumItems(NodeList& out) {
    return Enumerate(out, false);
}

namespace {

// The permission bits of a file or folder, in the header's padding that readers skip.
void PutPermissions(uint8_t* header, const struct stat& st) {
    header[kFileModeFlagAt] = 1;
    header[kFileModeAt] = static_cast<uint8_t>(st.st_mode & 0777);
    header[kFileModeAt + 1] = static_cast<uint8_t>((st.st_mode & 0777) >> 8);
}

}  // namespace

namespace {

constexpr uint8_t kTimeMagic[4] = {'T', 'Z', 'F', 'T'};

// The file's modification time, where the path leaves room for it.
void PutModifiedTime(uint8_t* header, const struct stat& st, size_t pathUnits) {
    if ((pathUnits + 1) * 2 > kFileTimeAt) return;
    uint8_t* at = header + kFileTimeAt;
    std::memcpy(at, kTimeMagic, 4);
    at[4] = 1;
    text::PutU64(at + 8, static_cast<uint64_t>(st.st_mtim.tv_sec));
    text::PutU32(at + 16, static_cast<uint32_t>(st.st_mtim.tv_nsec));
}

}  // namespace

std::optional<FileTime> ModifiedTimeOf(const uint8_t* header) {
    const uint8_t* at = header + kFileTimeAt;
    if (std::memcmp(at, kTimeMagic, 4) != 0 || at[4] != 1) return std::nullopt;
    return FileTime{static_cast<int64_t>(text::GetU64(at + 8)), text::GetU32(at + 16)};
}

std::optional<unsigned> PermissionsOf(const uint8_t* header) {
    if (header[kFileModeFlagAt] != 1) return std::nullopt;
    return (header[kFileModeAt] | header[kFileModeAt + 1] << 8) & 0777u;
}

uint64_t FileFolderNode::WritePayload(BasicStream& out) {
    std::string path = FullPath();
    auto stored = shell::ToArchivePath(path);
    if (!stored || stored->size() >= kFilePathUnits) {
        ReportProblem(path, "its path cannot be stored in an archive (too long, or a backslash)");
        return 0;
    }
    uint8_t header[kFileHeaderSize] = {};
    text::PutFixedUtf16(std::span(header, kFilePathBytes), *stored);
    if (IsContainer()) {
        header[kFileFolderFlagAt] = 1;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0)
            PutPermissions(header, st);
        else
            header[kFileAbsentAt] = 1;
        return static_cast<uint64_t>(out.Write(header, kFileHeaderSize));
    }
    return WriteFile(out, header);
}

uint64_t MadeFileNode::WritePayload(BasicStream& out) {
    std::string path = FullPath();
    auto stored = shell::ToArchivePath(path);
    auto content = make_();
    if (!stored || stored->size() >= kFilePathUnits || !content) {
        ReportProblem(path, "it could not be made (its source could not be read)");
        return 0;
    }
    uint8_t header[kFileHeaderSize] = {};
    text::PutFixedUtf16(std::span(header, kFilePathBytes), *stored);
    text::PutU64(header + kFileSizeAt, content->size());
    struct stat st {};
    st.st_mode = 0644;
    PutPermissions(header, st);
    uint64_t total = static_cast<uint64_t>(out.Write(header, kFileHeaderSize));
    MemoryStream bytes(std::vector<uint8_t>(content->begin(), content->end()));
    return total + CopyStream(bytes, out);
}

namespace {

// Whether a file was written to while it was read: its size or change time moved, or the
// read did not end where its size said it would.
bool ChangedWhileRead(const struct stat& before, const struct stat& after, off_t readTo) {
    return after.st_size != before.st_size || readTo != before.st_size ||
           after.st_ctim.tv_sec != before.st_ctim.tv_sec ||
           after.st_ctim.tv_nsec != before.st_ctim.tv_nsec;
}

}  // namespace

uint64_t FileFolderNode::WriteFile(BasicStream& out, uint8_t* header) {
    std::string path = FullPath();
    // Read-only and shared: a read-only file, or one another program has open, is read too.
    // O_NONBLOCK keeps a FIFO that replaced the file from blocking the backup; it changes
    // nothing for a regular file's reads, so it stays set.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        ReportProblem(path, std::string("cannot be read: ") + std::strerror(errno));
        return 0;
    }
    FileStream file(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ReportProblem(path, "not a regular file");
        return 0;
    }
    text::PutU64(header + kFileSizeAt, static_cast<uint64_t>(st.st_size));
    PutPermissions(header, st);
    PutModifiedTime(header, st, text::GetFixedUtf16(std::span(header, kFilePathBytes)).size());
    uint64_t total = static_cast<uint64_t>(out.Write(header, kFileHeaderSize));
    // Exactly the size the header declares: a file that grew meanwhile is cut there, one that
    // shrank is filled with zeros, so the record stays whole (and the change is reported).
    DeclaredSizeStream declared(file, static_cast<uint64_t>(st.st_size));
    uint64_t copied = CopyStream(declared, out);
    total += copied;
    static const std::vector<uint8_t> zeros(kCopyPieceSize, 0);
    for (uint64_t missing = static_cast<uint64_t>(st.st_size) - copied; missing > 0;) {
        auto n = static_cast<int32_t>(std::min<uint64_t>(missing, zeros.size()));
        int32_t written = out.Write(zeros.data(), n);
        if (written <= 0) break;
        total += static_cast<uint64_t>(written);
        missing -= static_cast<uint64_t>(written);
    }
    struct stat after {};
    if (file.LastError() != 0)
        ReportProblem(
            path, std::string("could not be read to its end: ") + std::strerror(file.LastError()));
    else if (::fstat(file.Fd(), &after) == 0 &&
             ChangedWhileRead(st, after, ::lseek(file.Fd(), 0, SEEK_CUR)))
        ReportProblem(path,
                      "it changed while it was read: the archive holds what was read, which may "
                      "mix its old and new content",
                      false);
    return total;
}

namespace {

// A program's file goes back where that program keeps its files in this home, and nowhere
// else.
std::optional<RestoreTarget> ProgramTarget(std::u16string_view stored, std::string& why) {
    auto path = shell::ExpandArchivePath(stored, &why);
    if (!path) return std::nullopt;
    auto openFrom = programs::ProgramPlaceRoot(*path);
    if (!openFrom) {
        why =
            "it is not in a place where a program keeps its files (or a name below that "
            "place begins with a dot); it was not restored";
        return std::nullopt;
    }
    return RestoreTarget{*path, *openFrom};
}

}  // namespace

std::optional<RestoreTarget> RestoreTargetFor(const FileRestoreRoot& root,
                                              std::u16string_view stored, std::string& why) {
    if (root.programFiles) return ProgramTarget(stored, why);
    std::u16string_view prefix = root.stored;
    while (!prefix.empty() && prefix.back() == u'\\') prefix.remove_suffix(1);
    // Windows paths compare without regard to letter case.
    if (prefix.empty() || stored.size() < prefix.size() ||
        !text::EqualsNoCase(stored.substr(0, prefix.size()), prefix) ||
        (stored.size() > prefix.size() && stored[prefix.size()] != u'\\')) {
        why = "it is not below the folder its source was read from (" + text::ToUtf8(root.stored) +
              "); it was not restored";
        return std::nullopt;
    }
    std::string target = root.local;
    std::u16string_view rest = stored.substr(prefix.size());
    while (!rest.empty()) {
        rest.remove_prefix(1);  // the separator
        size_t end = std::min(rest.find(u'\\'), rest.size());
        std::u16string_view part = rest.substr(0, end);
        rest.remove_prefix(end);
        if (part.empty() || part.find(u'/') != std::u16string_view::npos) {
            why = "its stored path has a part that is empty or holds a \"/\"; it was not restored";
            return std::nullopt;
        }
        // A backup never reads a name that begins with a dot, so a restore never writes one:
        // with Documents at the home folder, ".bashrc" or ".ssh" would otherwise be reachable.
        if (part[0] == u'.') {
            why = "its stored path has a part that begins with a dot (\"" + text::ToUtf8(part) +
                  "\"), which a backup never stores; it was not restored";
            return std::nullopt;
        }
        target.append("/").append(text::ToUtf8(part));
    }
    return RestoreTarget{target, root.local};
}

namespace {

std::function<void(const std::string&)>& FolderOpenedHook() {
    static std::function<void(const std::string&)> hook;
    return hook;
}

// Opens `folder` (at or below `root`), creating what is missing, one level at a time relative
// to the level above and never through a symbolic link: a backup never reads below one, so a
// restore never writes below one (a link placed inside the home could otherwise lead
// anywhere). Files are then made and named relative to the open folder, so a link swapped in
// later cannot redirect them. The root itself is the person's own folder and may be a link.
durable::FolderRef OpenFolderBelow(const std::string& root, const std::string& folder,
                                   std::string& why) {
    // A restore writes many files into each folder: each folder is opened once per job.
    durable::PublishBatch* job = durable::CurrentBatch();
    if (job)
        if (auto opened = job->OpenedFolder(folder)) return opened;
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        why = std::string("cannot open the folder ") + root + ": " + std::strerror(errno);
        return nullptr;
    }
    for (size_t pos = root.size(); pos < folder.size();) {
        size_t next = std::min(folder.find('/', pos + 1), folder.size());
        std::string part = folder.substr(pos + 1, next - pos - 1);
        pos = next;
        if (::mkdirat(fd, part.c_str(), 0777) != 0 && errno != EEXIST) {
            why = std::string("cannot create the folder: ") + std::strerror(errno);
            ::close(fd);
            return nullptr;
        }
        int below = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        int error = errno;
        ::close(fd);
        if (below < 0) {
            why = folder.substr(0, next) +
                  (error == ELOOP || error == ENOTDIR
                       ? " is a link or not a folder; nothing was written through it"
                       : std::string(" cannot be opened: ") + std::strerror(error));
            return nullptr;
        }
        fd = below;
    }
    auto opened = std::make_shared<const durable::Folder>(fd, folder);
    if (job) job->AddOpenedFolder(folder, opened);
    if (FolderOpenedHook()) FolderOpenedHook()(folder);
    return opened;
}

constexpr char kDamagedNotReplaced[] =
    "its data in the archive is damaged; the file was not replaced";

// Writes `in` beside `path` and renames it over `path` only when complete and undamaged,
// keeping the replaced file's permission bits. Returns the bytes written, nothing when the
// file was not written (and says why).
std::optional<uint64_t> WriteNow(BasicStream& in, const durable::Place& place,
                                 std::optional<unsigned> mode) {
    std::string path = place.Path();
    durable::TempFile file(place, "tindale", durable::TempFile::Naming::Unnamed);
    if (!file.IsOpen()) {
        ReportProblem(path, std::string("cannot be written: ") + std::strerror(file.Error()));
        return std::nullopt;
    }
    FileStream target(::dup(file.Fd()));
    uint64_t copied = CopyStream(in, target);
    if (target.LastError() != 0 || !target.Close()) {
        ReportProblem(path, std::string("cannot be written: ") + std::strerror(target.LastError()));
        return std::nullopt;
    }
    if (in.Damaged()) {
        ReportProblem(path, kDamagedNotReplaced);
        return std::nullopt;
    }
    if (mode)
        file.SetPermissions(*mode);
    else
        file.TakeModeOfTarget(false);
    if (!file.Publish()) {
        ReportProblem(path, std::string("cannot be written: ") + std::strerror(file.Error()));
        return std::nullopt;
    }
    return copied;
}

// Hands `in` to the writing thread as it is read, in parts of a bounded size, and tells it to
// publish the file only when complete and undamaged; a stopped job leaves it unwritten.
// Returns the bytes read; what could not be written is reported when the queue is drained.
std::optional<uint64_t> QueueFile(durable::WriteQueue& queue, BasicStream& in,
                                  const durable::Place& path, std::optional<unsigned> mode) {
    using Part = durable::WriteQueue::Part;
    constexpr size_t kPartBytes = durable::WriteQueue::kLargestQueued;
    // The first read asks one byte more than a part, into a buffer kept for it: a file that
    // fits goes whole, in a copy of its own size (the queue counts what it holds).
    static thread_local std::vector<uint8_t> first(kPartBytes + 1);
    size_t got = ReadFully(in, first.data(), first.size());
    uint64_t total = got;
    Part part = got <= kPartBytes ? Part::Whole : Part::First;
    std::vector<uint8_t> content(first.begin(), first.begin() + static_cast<ptrdiff_t>(got));
    auto unfinished = [&] { return part == Part::First || part == Part::Middle; };
    while (unfinished() && !in.Damaged() && !queue.StopRequested()) {
        queue.Write(path, std::move(content), part);
        content.resize(kPartBytes);
        content.resize(ReadFully(in, content.data(), kPartBytes));
        total += content.size();
        part = content.size() < kPartBytes ? Part::Last : Part::Middle;
    }
    if (in.Damaged() || unfinished()) {  // damaged, or the job stopped part way
        if (part != Part::Whole) queue.Write(path, {}, Part::Abandon);
        if (in.Damaged()) ReportProblem(path.Path(), kDamagedNotReplaced);
        return std::nullopt;
    }
    queue.Write(path, std::move(content), part,
                mode ? static_cast<int>(*mode) : durable::WriteQueue::kTargetMode);
    return total;
}

}  // namespace

void SetFolderOpenedHookForTesting(std::function<void(const std::string&)> hook) {
    FolderOpenedHook() = std::move(hook);
}

std::optional<RestoreTarget> FileFolderNode::TargetOf(const std::u16string& stored) {
    std::string why = "it does not belong to any folder that a backup reads; it was not restored";
    auto target = restoreRoot_ ? RestoreTargetFor(*restoreRoot_, stored, why) : std::nullopt;
    if (!target) ReportProblem(text::ToUtf8(stored), why);
    return target;
}

namespace {

// A program's settings file as it is to be written here: a profile list merged into the one
// this home has, the backup's home folder in text settings replaced by this one. Nothing when
// the file goes back as archived.
std::optional<std::vector<uint8_t>> AdaptedForThisHome(BasicStream& in, const std::string& path,
                                                       const FileRestoreRoot& root, uint64_t size) {
    constexpr uint64_t kLargestAdapted = 16u << 20;
    std::string name = path.substr(path.rfind('/') + 1);
    bool list = programs::IsProfileList(name) && ::access(path.c_str(), F_OK) == 0;
    bool moved = programs::IsTextSettingsFile(name) && root.backupHome != shell::HomeFolder();
    if (!root.programFiles || !(list || moved) || size > kLargestAdapted) return std::nullopt;
    std::string archived(size, '\0');
    archived.resize(ReadFully(in, reinterpret_cast<uint8_t*>(archived.data()), size));
    std::string text = programs::RewriteHome(archived, root.backupHome, shell::HomeFolder());
    if (list) {
        auto existing = store::ReadRegularFile(path, kLargestAdapted);
        if (existing) text = programs::MergeProfileLists(*existing, text);
    }
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace

uint64_t FileFolderNode::RestorePayload(BasicStream& in) {
    uint8_t header[kFileHeaderSize];
    if (ReadFully(in, header, kFileHeaderSize) != kFileHeaderSize) {
        ReportProblem(text::ToUtf8(record.DisplayName()), "its data in the archive is damaged");
        return 0;
    }
    std::u16string stored = text::GetFixedUtf16(std::span(header, kFilePathBytes));
    auto target = TargetOf(stored);
    if (!target) return 0;
    if (header[kFileFolderFlagAt] && header[kFileAbsentAt] == 1) return 0;
    return WriteRestored(in, *target, header);
}

bool FileFolderNode::MayReplace(const std::string& path, const uint8_t* header) {
    RestorePlan* plan = options_ ? options_->plan : nullptr;
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) != 0 || !S_ISREG(existing.st_mode)) return !plan;
    // A program's files go back whole, as its settings were at the backup.
    if (restoreRoot_->programFiles) return !plan;
    auto archived = ModifiedTimeOf(header);
    if (!archived && options_) archived = options_->archiveTime;
    FileTime now{existing.st_mtim.tv_sec, static_cast<uint32_t>(existing.st_mtim.tv_nsec)};
    bool newer = archived && now > *archived;
    if (plan) {
        plan->replaced.push_back(path);
        if (newer) plan->newer.push_back(path);
        return false;
    }
    if (newer && options_ && options_->keepNewer) {
        ReportProblem(path, "kept: it changed since the backup (the archived copy is older)",
                      false);
        return false;
    }
    if (newer)
        ReportProblem(path, "it had changed since the backup; the archived copy replaced it",
                      false);
    return true;
}

namespace {

// Whether the file at `path` holds exactly the archived bytes. A file of the same size (up to
// a bound) has the archived bytes read into `held` to compare, and they are written from
// there when they differ.
bool SameAsExisting(const std::string& path, BasicStream& archived, uint64_t size,
                    std::optional<MemoryStream>& held) {
    constexpr uint64_t kLargestCompared = 16u << 20;
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) != 0 || !S_ISREG(existing.st_mode) ||
        static_cast<uint64_t>(existing.st_size) != size || size > kLargestCompared)
        return false;
    std::vector<uint8_t> bytes(size);
    bytes.resize(ReadFully(archived, bytes.data(), bytes.size()));
    auto current = store::ReadRegularFile(path, kLargestCompared);
    bool same = !archived.Damaged() && current && bytes.size() == size && current->size() == size &&
                std::memcmp(bytes.data(), current->data(), size) == 0;
    held.emplace(std::move(bytes));
    return same;
}

}  // namespace

uint64_t FileFolderNode::WriteRestored(BasicStream& in, const RestoreTarget& target,
                                       const uint8_t* header) {
    const std::string& path = target.path;
    bool isFolder = header[kFileFolderFlagAt] != 0;
    // The record's declared size binds: a payload that carries more (or less) is damaged.
    uint64_t size = isFolder ? 0 : text::GetU64(header + kFileSizeAt);
    DeclaredSizeStream bounded(in, size);
    std::optional<MemoryStream> held;
    if (!isFolder) {
        if (SameAsExisting(path, bounded, size, held)) {  // already there
            if (Outcome* outcome = CurrentOutcome(); outcome && !(options_ && options_->plan))
                ++outcome->filesAlreadyThere;
            return 0;
        }
        if (!MayReplace(path, header)) return 0;
    }
    if (options_ && options_->plan) return 0;  // nothing is made or written
    std::string why;
    auto slash = path.find_last_of('/');
    std::string folder = isFolder ? path : path.substr(0, slash);
    durable::FolderRef opened = OpenFolderBelow(target.openFrom, folder, why);
    if (!opened) {
        ReportProblem(path, why);
        return 0;
    }
    if (isFolder) {
        // The folder's own bits, but the owner keeps the right to fill it (restoring what is
        // below it, and later restores, write into it).
        if (auto mode = PermissionsOf(header)) ::fchmod(opened->Fd(), *mode | 0700);
        return 0;
    }
    BasicStream& archived = held ? static_cast<BasicStream&>(*held) : bounded;
    auto place = durable::Place::In(opened, path.substr(slash + 1));
    durable::TempFile::RemoveStaleBeside(place, "tindale");  // left by a restore that was killed
    auto adapted = AdaptedForThisHome(archived, path, *restoreRoot_, size);
    MemoryStream adaptedStream(adapted ? std::move(*adapted) : std::vector<uint8_t>{});
    BasicStream& content = adapted ? static_cast<BasicStream&>(adaptedStream) : archived;
    if ((adapted || held) && bounded.Damaged()) {
        ReportProblem(path, kDamagedNotReplaced);
        return 0;
    }
    // The file goes to the job's writing thread if it has one: a small file whole, a large
    // one in parts as they are decoded.
    if (durable::WriteQueue* queue = durable::CurrentWriteQueue()) {
        auto written = QueueFile(*queue, content, place, PermissionsOf(header));
        return written ? kFileHeaderSize + *written : 0;
    }
    auto written = WriteNow(content, place, PermissionsOf(header));
    return written ? kFileHeaderSize + *written : 0;
}

uint64_t FileFolderNode::SkipPayload(BasicStream& in, BasicStream& sink) {
    uint8_t header[kFileHeaderSize];
    if (ReadFully(in, header, kFileHeaderSize) != kFileHeaderSize) return 0;
    if (header[kFileFolderFlagAt]) return 0;
    return kFileHeaderSize + CopyStream(in, sink);
}

MyDocsNode::MyDocsNode() : FileFolderNode(shell::DocumentsFolder()) {}
ContactNode::ContactNode() : FileFolderNode(shell::ContactsFolder()) {}

int32_t ContactNode::EnumContainers(NodeList& out) {
    int32_t added = FileFolderNode::EnumContainers(out);
    return added + AppendPrograms(this, programs::Shelf::Contacts, out);
}

bool ContactNode::Offered() {
    std::error_code ec;
    return std::filesystem::is_directory(shell::ContactsFolder(), ec) ||
           !programs::FindPrograms(programs::Shelf::Contacts).empty();
}
WABNode::WABNode(const std::string& folder) : FileFolderNode(folder) {}

std::string WABNode::AddressBookFolder() {
    auto key =
        reg::Key::Open(reg::kHkeyCurrentUser, u"Software\\Microsoft\\WAB\\WAB4\\Wab File Name");
    if (!key) return {};
    auto value = key->QueryString(u"");
    if (!value) return {};
    std::string path = text::ToUtf8(*value);
    auto slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1);
}

FavoritesNode::FavoritesNode() : id_(1001) {
    displayName = u"My Favorites";
    iconIndex = NodeIconRegistry::Instance().IndexForKey(u"Favorites");
}

FavoritesNode::FavoritesNode(const NodeRecord& rec, BasicStream* payload)
    : BasicNode(rec, payload) {}

int32_t FavoritesNode::Enumerate(NodeList& out, bool folders) {
    return AppendEntries(this, shell::FavoritesFolder(), folders, true, out);
}

int32_t FavoritesNode::EnumContainers(NodeList& out) {
    int32_t added = Enumerate(out, true);
    return added + AppendPrograms(this, programs::Shelf::Favorites, out);
}
int32_t FavoritesNode::EnumItems(NodeList& out) {
    return Enumerate(out, false);
}

}  // namespace v
