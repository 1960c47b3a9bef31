#include "platform/MessageFiles.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace tindale::store {

std::vector<MessageFiles::Entry>::const_iterator MessageFiles::At(uint32_t id) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), id,
                               [](const Entry& e, uint32_t wanted) { return e.id < wanted; });
    return it != entries_.end() && it->id == id && it->offset != kGone ? it : entries_.end();
}

std::optional<std::string_view> MessageFiles::Find(uint32_t id) const {
    auto it = At(id);
    if (it == entries_.end()) return std::nullopt;
    return PathAt(*it);
}

std::vector<uint32_t> MessageFiles::IdsFrom(uint32_t first) const {
    std::vector<uint32_t> ids;
    ids.reserve(size());
    for (const auto& e : entries_)
        if (e.id >= first && e.offset != kGone) ids.push_back(e.id);
    return ids;
}

uint32_t MessageFiles::Store(std::string_view relative) {
    if (buffer_.size() + relative.size() + 1 > std::numeric_limits<uint32_t>::max())
        throw std::length_error("a folder's message names take more than 4 GiB");
    auto offset = static_cast<uint32_t>(buffer_.size());
    buffer_ += relative;
    buffer_ += '\0';
    return offset;
}

void MessageFiles::Append(std::string_view relative) {
    entries_.push_back({0, Store(relative)});
}

void MessageFiles::SortById() {
    std::sort(entries_.begin(), entries_.end(),
              [](const Entry& a, const Entry& b) { return a.id < b.id; });
}

void MessageFiles::Set(uint32_t id, std::string_view relative) {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), id,
                               [](const Entry& e, uint32_t wanted) { return e.id < wanted; });
    if (it != entries_.end() && it->id == id) {
        if (it->offset == kGone)
            --gone_;
        else
            unused_ += PathAt(*it).size() + 1;
        size_t at = static_cast<size_t>(it - entries_.begin());
        uint32_t offset = Store(relative);  // may move the buffer, not the entries
        entries_[at].offset = offset;
        Compact();
        return;
    }
    entries_.insert(it, {id, Store(relative)});  // new ids are the largest: an append
}

bool MessageFiles::Erase(uint32_t id) {
    auto found = At(id);
    if (found == entries_.end()) return false;
    auto& e = entries_[static_cast<size_t>(found - entries_.begin())];
    unused_ += PathAt(e).size() + 1;
    e.offset = kGone;
    ++gone_;
    Compact();
    return true;
}

// Renames and deletions leave bytes and entries behind; once they are half of what is
// held, the table is laid out again.
void MessageFiles::Compact() {
    if (unused_ * 2 <= buffer_.size() && gone_ * 2 <= entries_.size()) return;
    std::string buffer;
    buffer.reserve(buffer_.size() - unused_);
    std::vector<Entry> entries;
    entries.reserve(size());
    for (const auto& e : entries_) {
        if (e.offset == kGone) continue;
        entries.push_back({e.id, static_cast<uint32_t>(buffer.size())});
        buffer += PathAt(e);
        buffer += '\0';
    }
    buffer_ = std::move(buffer);
    entries_ = std::move(entries);
    gone_ = unused_ = 0;
}

}  // namespace tindale::store
