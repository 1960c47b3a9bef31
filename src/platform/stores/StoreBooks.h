#pragma once
// This program's own files about one store: the folder id map, each folder's message id map
// and the lock that guards them. They live in this program's data folder
// ($XDG_DATA_HOME/tindale/stores/HASH/, HASH standing for the store's root), never inside
// the person's mail folders, where other mail programs would see them.
#include <string>

namespace tindale::store {

class StoreBooks {
  public:
    explicit StoreBooks(std::string root);

    // The folder id map's path.
    std::string FolderIds() const;
    // The message id map's path of the folder at `location` (its directory or file).
    std::string MessageIds(const std::string& location) const;
    // The file whose lock guards this store's id maps.
    std::string LockFile() const;

  private:
    std::string Place() const;  // the store's folder of ours, created when missing
    std::string root_;
    std::string dir_;
};

// Holds an exclusive lock on a lock file (created when missing) for its lifetime.
class FileLock {
  public:
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int fd_;
};

// Takes over an id map an earlier version kept inside the store: moved to `target` when no
// map is there yet, then removed from the store together with the lock file beside it.
void TakeOverLegacyIds(const std::string& legacyFile, const std::string& target);

// A short file name that stands for a path: its 64-bit FNV-1a hash in hex.
std::string NameForPath(const std::string& path);

}  // namespace tindale::store
