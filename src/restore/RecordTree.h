#pragma once
// The records of an archive as a tree, rebuilt from their parent links, read without
// holding any payload in memory.
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "archive/NodeRecord.h"

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

    // Reads the records; a stop ends the read early (the tree is then not complete).
    static RecordTree Load(const std::string& archivePath, std::stop_token stop = {});
    const Entry* Find(const std::string& path) const;
    // The records a chosen entry brings: itself and every direct child (items and containers).
    static std::vector<v::NodeRecord> Selection(const Entry& chosen);
};
