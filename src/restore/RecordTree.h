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
class RecordPaths {
  public:
    std::string Of(const v::NodeRecord& rec);

  private:
    std::map<tindale::Guid, std::string> containers_;
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

    // Reads the records; a stop ends the read early (the tree is then not complete).
    static RecordTree Load(const std::string& archivePath, std::stop_token stop = {});

    // Reads the records one by one, handing each to `visit` with its path, and keeps only
    // what paths need (each container's name and parent): memory follows the number of
    // containers, not of records. Returns what Load would say of the archive as a whole.
    struct Summary {
        bool readable = false, complete = false, sealed = false, anyEncrypted = false;
        uint64_t records = 0;
    };
    using Visit =
        std::function<void(const v::NodeRecord&, uint64_t payloadLength, const std::string& path)>;
    static Summary Walk(const std::string& archivePath, const Visit& visit,
                        std::stop_token stop = {});
    const Entry* Find(const std::string& path) const;
    // The records a chosen entry brings: itself and everything below it, in archive order.
    static std::vector<v::NodeRecord> Selection(const Entry& chosen);
};
