#pragma once
// An archive's records as a browser shows them: its folders read once, with where each of
// their items' records lies in the file, and the items' records read only when their folder
// is opened. Memory follows the folders and eight bytes per item, so an archive of a million
// messages opens in seconds (RecordTree keeps every record, for the jobs that need them all).
#include <cstdint>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "archive/NodeRecord.h"

class SealKey;

class ArchiveOutline {
  public:
    struct Entry {
        v::NodeRecord record;
        std::string path;  // as `tindale-cli list` prints it
        uint64_t PayloadLength() const { return record.PayloadLength(); }
    };
    struct Folder {
        Entry entry;
        int parent = -1;              // in Folders(); -1 at the top
        std::vector<int> folders;     // its subfolders, in archive order
        std::vector<uint64_t> items;  // where its items' records start, in archive order
    };

    // Walks the archive's records once; a stop ends the walk early (it is then not
    // complete).
    static ArchiveOutline Load(const std::string& archivePath, std::stop_token stop = {});

    const std::vector<Folder>& Folders() const { return folders_; }
    // What has no folder above it: the sources' roots, and items at the top.
    const Folder& Top() const { return top_; }
    // The records of the items at `offsets` below `folder` (-1: the top), read now.
    std::vector<Entry> ReadItems(int folder, const std::vector<uint64_t>& offsets) const;
    // An item's own size (a file's bytes, a message's source) when its payload is compressed
    // or encrypted: read from the start of its payload, decoding its first frame only. None
    // when that frame does not decode (a wrong password, damage) or the item has no size.
    static std::optional<uint64_t> OwnSize(const std::string& archivePath, uint64_t offset,
                                           std::u16string password, const SealKey* key);
    // The folder or item at `path`.
    std::optional<Entry> Find(const std::string& path) const;
    // The folder (-1: the top) holding the item at `path`, and the item: a name may hold '/'
    // as well, so each folder whose path the item's begins with is looked in.
    std::optional<std::pair<int, Entry>> ItemAt(const std::string& path) const;
    std::optional<int> FolderAt(const std::string& path) const;

    const std::string& ArchivePath() const { return archive_; }
    uint64_t Records() const { return records_; }
    bool Readable() const { return readable_; }
    bool Complete() const { return complete_; }  // it ends cleanly after its last record
    bool Sealed() const { return sealed_; }

  private:
    const Folder& FolderOf(int index) const { return index < 0 ? top_ : folders_[index]; }
    std::string archive_;
    std::vector<Folder> folders_;
    Folder top_;
    std::map<std::string, int> byPath_;
    uint64_t records_ = 0;
    bool readable_ = false, complete_ = false, sealed_ = false;
};
