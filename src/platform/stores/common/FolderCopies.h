#pragma once
// Whether a folder kept as a directory of message files (cur/ and new/) already holds a
// message with given bytes. Each folder is listed once per job, sizes first, so only files
// of the same size are read, each at most once for its hash; messages added since are not
// counted, so copies the person had in one folder come back as they were.
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tindale::store {

class FolderCopies {
  public:
    // Whether `dir` holds a message with exactly the bytes of `fd` (read from its start).
    bool Holds(const std::string& dir, int fd);
    bool Holds(const std::string& dir, std::span<const uint8_t> bytes);
    // Forgets what was learnt of every folder.
    void Clear() { folders_.clear(); }

    // A folder's message files by size, with a hash of each once it has been read. Packed:
    // names end to end in one buffer, 24 bytes a file beside them.
    struct Contents {
        struct File {
            uint64_t size;
            uint64_t hash;  // 0 until needed
            uint32_t name;  // offset of "cur/NAME" in names
        };
        std::vector<File> bySize;  // ascending by size
        std::string names;
    };

  private:
    template <class Hash, class Same>
    bool Holds(const std::string& dir, uint64_t size, Hash hashOfCandidate, Same sameAsCandidate);
    std::map<std::string, std::unique_ptr<Contents>> folders_;
};

// Whether an open file holds exactly `bytes`, or two open files the same bytes (read from
// their start).
bool SameBytes(std::span<const uint8_t> bytes, int fd);
bool SameBytes(int a, int b);

}  // namespace tindale::store
