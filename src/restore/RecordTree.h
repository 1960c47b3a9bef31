#pragma once
// The records of an archive as a tree, rebuilt from their parent links, read without
// holding any payload in memory.
#include <functional>
#include <map>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "archive/NodeRecord.h"
#include "base/Guid.h"

// Each record's path as `list` prints it ("My Documents/letters/a.txt"), from the containers
// read before it; kept per container, so memory follows the containers, not the records.
// No folder tree a backup reads nests deeper than this (paths are at most 4096 bytes); an
// archive whose records do is damaged, and is not walked further: ten thousand nested
// records would otherwise cost their depth squared in path bytes.
inline constexpr size_t kMaxNesting = 1024;
inline constexpr size_t kMaxPathBytes = 16384;  // four times the longest path a record holds
inline constexpr const char* kTooDeep =
    "its folders nest deeper than any folder tree can (a damaged or forged archive)";

class RecordPaths {
  public:
    // The record's path, or none when it nests deeper than kMaxNesting.
    std::optional<std::string> Of(const v::NodeRecord& rec);
    // The path of the record's parent (empty at the top), whatever its own name holds.
    std::string ParentOf(const v::NodeRecord& rec) const;

  private:
    struct Container {
        std::string path;
        size_t depth;
    };
    std::map<tindale::Guid, Container> containers_;
};

struct RecordTree {
    struct Entry {
        v::NodeRecord record;
        uint64_t payloadLength = 0;
        Entry* parent = nullptr;
        std::vector<Entry*> children;
        std::string Path() const;  // display names joined with "/"
    };

    std::vector<std::unique_ptr<Entry>> entries;  // archive order
    std::vector<Entry*> roots;
    bool readable = false;  // the file is an archive
    bool complete = false;  // it ends cleanly after its last record
    bool sealed = false;    // a sealed archive (names and sizes readable, contents not)
    bool tooDeep = false;   // the read ended at a record nested deeper than kMaxNesting

    // Reads the records; a stop ends the read early (the tree is then not complete).
    static RecordTree Load(const std::string& archivePath, std::stop_token stop = {});

    // Reads the records one by one, handing each to `visit` with its path, and keeps only
    // what paths need (each container's name and parent): memory follows the number of
    // containers, not of records. Returns what Load would say of the archive as a whole.
    struct Summary {
        bool readable = false, complete = false, sealed = false, anyEncrypted = false;
        bool tooDeep = false;  // the walk ended at a record nested deeper than kMaxNesting
        uint64_t records = 0;
    };
    using Visit = std::function<void(const v::NodeRecord&, uint64_t payloadLength,
                                     const std::string& path, uint64_t recordOffset)>;
    static Summary Walk(const std::string& archivePath, const Visit& visit,
                        std::stop_token stop = {});
    const Entry* Find(const std::string& path) const;
    // The records a chosen entry brings: itself and everything below it, in archive order.
    static std::vector<v::NodeRecord> Selection(const Entry& chosen);
};
