#pragma once
// Names node icons. The core keeps keys and indices; the GUI draws index -> picture:
// bundled images for the named keys, the desktop's file-type icons for system icon keys.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace v {

class NodeIconRegistry {
  public:
    static NodeIconRegistry& Instance();

    // The image index of a named key; an unknown key maps to 0 and is remembered so.
    int32_t IndexForKey(const std::u16string& key);
    // The image index of a system icon (a file type such as "*.txt", or "folder"),
    // added the first time it is asked for.
    int32_t IndexForSystemIcon(const std::string& systemKey);
    // The first named key, in ascending key order, with this index; empty when none.
    std::u16string KeyForIndex(int32_t index);

    // What an index stands for, for the GUI: a named key, or a system icon key.
    struct Entry {
        std::u16string namedKey;
        std::string systemKey;
    };
    std::vector<Entry> Entries();

    static const std::vector<std::u16string>& NamedKeys();

  private:
    NodeIconRegistry();
    std::mutex mutex_;
    std::vector<Entry> images_;
    std::map<std::u16string, int32_t> byKey_;
    std::map<std::string, int32_t> bySystemKey_;
};

// System icon key for a file-system path: "folder" or "*.ext" in lower case ("*" without one).
std::string SystemIconKeyForPath(const std::string& path, bool isFolder);

}  // namespace v
