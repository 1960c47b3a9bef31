#pragma once
// The message files of one maildir by id, packed: their paths relative to the maildir
// ("cur/NAME", "new/NAME") sit end to end in one buffer, each ended by a NUL (which no
// file name holds), and each file costs 8 bytes beside its path. A folder of a million
// messages is held in about 60 MB rather than the 150 MB a std::map of strings takes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tindale::store {

class MessageFiles {
  public:
    struct Entry {
        uint32_t id;
        uint32_t offset;  // of the path in the buffer; kGone once the file is erased
    };

    size_t size() const { return entries_.size() - gone_; }
    bool empty() const { return size() == 0; }
    std::optional<std::string_view> Find(uint32_t id) const;
    // The ids from `first` on, ascending.
    std::vector<uint32_t> IdsFrom(uint32_t first = 0) const;
    // Adds a file, or gives a known id its new path.
    void Set(uint32_t id, std::string_view relative);
    bool Erase(uint32_t id);

    // Building from a listing: Append every file with no id yet, set each id through
    // Pending(), then SortById() before anything else is asked.
    void Append(std::string_view relative);
    std::vector<Entry>& Pending() { return entries_; }
    std::string_view PathAt(const Entry& e) const { return buffer_.data() + e.offset; }
    void SortById();

  private:
    static constexpr uint32_t kGone = 0xFFFFFFFFu;
    std::vector<Entry>::const_iterator At(uint32_t id) const;
    uint32_t Store(std::string_view relative);
    void Compact();

    std::string buffer_;
    std::vector<Entry> entries_;  // ascending by id
    size_t gone_ = 0;             // erased entries still listed
    size_t unused_ = 0;           // buffer bytes no entry points at
};

}  // namespace tindale::store
