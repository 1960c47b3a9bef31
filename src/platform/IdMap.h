#pragma once
// A persistent map from keys (directory names, the unique part of message file names) to
// 32-bit ids that are never reused within a store. Stored as text: "next N", then one
// "id<TAB>key" line per entry, the key escaped (\\, \t, \n, \r, \xHH) so that any byte of
// a file name round-trips. Parsing never throws: a malformed line, a repeated id or key, or
// a "next" that is not a number is ignored, and the caller repairs the map from what is on
// disk.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tindale::store {

class IdMap {
  public:
    static IdMap Parse(std::string_view text);
    std::string Serialize() const;

    // Reads the map at `path`; a missing or unreadable file gives an empty map.
    static IdMap Load(const std::string& path);
    // Writes the map durably; 0 on success, else an errno value (the old file stays).
    int Save(const std::string& path) const;

    std::optional<uint32_t> Find(const std::string& key) const;
    // The key's id, assigning the next unused one to a new key.
    uint32_t Assign(const std::string& key);
    void Erase(const std::string& key);
    // Moves a key's id to another key (that no id holds yet).
    void Rename(const std::string& from, const std::string& to);
    // Forgets every key for which `keep` is false; true when anything was forgotten.
    bool Retain(const std::function<bool(const std::string&)>& keep);
    // Takes in what another writer added since this map was read: its counter, and its
    // entries for keys unknown here whose ids are free here.
    void MergeFrom(const IdMap& other);

    size_t Size() const { return ids_.size(); }
    uint64_t Next() const { return next_; }
    const std::unordered_map<std::string, uint32_t>& Entries() const { return ids_; }

  private:
    bool Insert(const std::string& key, uint32_t id, const std::vector<uint32_t>& taken);
    std::vector<uint32_t> TakenIds() const;
    std::unordered_map<std::string, uint32_t> ids_;
    uint64_t next_ = 1;  // may pass 2^32 - 1; ids are then taken from the free ones
};

std::string EscapeKey(std::string_view key);
std::optional<std::string> UnescapeKey(std::string_view escaped);

}  // namespace tindale::store
