#pragma once
// What the parts of AtomicFile (places, temporary files, publish batches) share; not for
// use outside base/.
#include <cstddef>
#include <string>
#include <string_view>

#include "base/AtomicFile.h"

namespace tindale::durable::detail {

// A batch publishes itself past this many files (or kBatchBytes), so a crash never leaves
// much unpublished and the list of pending names stays small.
inline constexpr size_t kBatchFiles = 2000;

// A batch holds a descriptor for each unnamed temporary and for the folder it goes into (at
// most one each), and two batches may be held at once (one publishing): together they keep
// within half the process's limit of open files.
size_t MaxHeldUnnamed();
std::string DirectoryOf(const std::string& path);
std::string BaseName(const std::string& path);
// Gives an open file the permission bits of the file at `target`; false when there is none.
bool CopyModeOfTarget(int fd, const Place& target);
// fsync, again after EINTR; 0 or errno.
int SyncFd(int fd);

struct TempName {
    std::string dir;     // with its trailing slash, or empty
    std::string prefix;  // ".<name>.<tag>-"
};
TempName TempNameFor(const std::string& target, std::string_view tag);
std::string RandomSuffix();
// An unnamed temporary in `target`'s folder, with the mode a new file gets; -1 when the
// file system cannot make one.
int OpenUnnamed(const Place& target);

}  // namespace tindale::durable::detail
