#pragma once
// A persistent map from keys (directory names, the unique part of message file names) to
// 32-bit ids that are never reused within a store. Stored as text: "next N", then one
// "id<TAB>key" line per entry, the key escaped (\\, \t, \n, \r, \xHH) so that any byte of
// a file name round-trips. Parsing never throws: a malformed line, a repeated id or key, or
// a "next" that is not a number is ignored, and the caller repairs the map from what is on
// disk.
//
// A folder may hold a million messages, so the map is packed: the keys sit end to end in
// one buffer and each entry costs about 20 bytes beside its key (12 for the entry, the rest
// for its slot in an open-addressing table), against about 100 for a node-based map.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tindale::store {

class IdMap {
  public:
    static IdMap Parse(std::string_view text);
    std::string Serialize() const;

    // Reads the map at `path`, line by line; a missing or unreadable file gives an empty map.
    static IdMap Load(const std::string& path);
    // Writes the map durably; 0 on success, else an errno value (the old file stays).
    int Save(const std::string& path) const;

    std::optional<uint32_t> Find(std::string_view key) const;
    // The key's id, assigning the next unused one to a new key.
    uint32_t Assign(std::string_view key);
    void Erase(std::string_view key);
    // Moves a key's id to another key (that no id holds yet).
    void Rename(std::string_view from, std::string_view to);
    // Forgets every entry for which `keep` is false; true when anything was forgotten.
    bool Retain(const std::function<bool(std::string_view key, uint32_t id)>& keep);
    // Takes in what another writer added since this map was read: its counter, and its
    // entries for keys unknown here whose ids are free here.
    void MergeFrom(const IdMap& other);
    void ForEach(const std::function<void(std::string_view key, uint32_t id)>& visit) const;

    size_t Size() const { return live_; }
    uint64_t Next() const { return next_; }

  private:
    struct Entry {
        uint32_t offset;  // of the key in keys_
        uint32_t length;
        uint32_t id;  // 0 once erased
    };
    class Parser;
    static constexpr size_t kNone = ~size_t{0};

    std::string_view KeyOf(const Entry& e) const { return {keys_.data() + e.offset, e.length}; }
    // The slot that holds `key`, or kNone; `free` gets the first slot it could go into.
    size_t SlotOf(std::string_view key, size_t* free = nullptr) const;
    void Add(std::string_view key, uint32_t id);  // the key must be absent
    void EraseSlot(size_t slot);
    // Drops erased entries and their bytes and lays out the table for `capacity` entries.
    void Rebuild(size_t capacity);
    std::vector<uint32_t> TakenIds() const;

    std::string keys_;
    std::vector<Entry> entries_;
    std::vector<uint32_t> slots_;  // index into entries_ + 1; 0 empty, kErasedSlot erased
    size_t live_ = 0;
    uint64_t next_ = 1;  // may pass 2^32 - 1; ids are then taken from the free ones
};

std::string EscapeKey(std::string_view key);
std::optional<std::string> UnescapeKey(std::string_view escaped);

}  // namespace tindale::store
