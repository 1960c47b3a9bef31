#include "platform/IdMap.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <vector>

#include "base/AtomicFile.h"

namespace tindale::store {

namespace {

constexpr uint64_t kLargestId = 0xFFFFFFFFull;
constexpr uint32_t kErasedSlot = 0xFFFFFFFFu;
constexpr size_t kSmallestTable = 16;

size_t HashOf(std::string_view key) {
    return std::hash<std::string_view>{}(key);
}

// Slots for `entries` entries: a power of two, at most half full once laid out.
size_t TableSize(size_t entries) {
    size_t size = kSmallestTable;
    while (size < entries * 2) size *= 2;
    return size;
}

template <typename T>
std::optional<T> WholeNumber(std::string_view s) {
    T value{};
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return value;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string EscapeKey(std::string_view key) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(key.size());
    for (char c : key) {
        auto u = static_cast<unsigned char>(c);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (u < 0x20 || u == 0x7F)
            out += {'\\', 'x', kHex[u >> 4], kHex[u & 15]};
        else
            out += c;
    }
    return out;
}

std::optional<std::string> UnescapeKey(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (++i >= s.size()) return std::nullopt;
        switch (s[i]) {
            case '\\':
                out += '\\';
                break;
            case 't':
                out += '\t';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 'x': {
                if (i + 2 >= s.size()) return std::nullopt;
                int hi = HexDigit(s[i + 1]);
                int lo = HexDigit(s[i + 2]);
                if (hi < 0 || lo < 0) return std::nullopt;
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return out;
}

// Reads lines into a map's buffer as they come, then keeps, for each id, its first line
// and, for each key, the line with the lowest id.
class IdMap::Parser {
  public:
    void Line(std::string_view line) {
        if (line.rfind("next ", 0) == 0) {
            if (auto n = WholeNumber<uint64_t>(line.substr(5)))
                declaredNext_ = std::max(declaredNext_, std::min(*n, kLargestId + 1));
            return;
        }
        size_t tab = line.find('\t');
        if (tab == std::string_view::npos) return;
        auto id = WholeNumber<uint32_t>(line.substr(0, tab));
        auto key = UnescapeKey(line.substr(tab + 1));
        if (!id || *id == 0 || !key || key->empty()) return;
        if (map_.keys_.size() + key->size() > std::numeric_limits<uint32_t>::max())
            throw std::length_error("the id map is larger than 4 GiB");
        map_.entries_.push_back(
            {static_cast<uint32_t>(map_.keys_.size()), static_cast<uint32_t>(key->size()), *id});
        map_.keys_ += *key;
    }

    IdMap Finish() {
        auto& entries = map_.entries_;
        std::stable_sort(entries.begin(), entries.end(),
                         [](const Entry& a, const Entry& b) { return a.id < b.id; });
        map_.slots_.assign(TableSize(entries.size()), 0);
        uint32_t previousId = 0;
        for (size_t i = 0; i < entries.size(); ++i) {
            uint32_t id = entries[i].id;
            size_t free = 0;
            if (id == previousId || map_.SlotOf(map_.KeyOf(entries[i]), &free) != kNone) {
                entries[i].id = 0;
            } else {
                map_.slots_[free] = static_cast<uint32_t>(i + 1);
                ++map_.live_;
                map_.next_ = std::max<uint64_t>(map_.next_, uint64_t{id} + 1);
            }
            previousId = id;
        }
        if (map_.live_ != entries.size()) map_.Rebuild(map_.live_);
        map_.next_ = std::max(map_.next_, declaredNext_);
        return std::move(map_);
    }

  private:
    IdMap map_;
    uint64_t declaredNext_ = 1;
};

IdMap IdMap::Parse(std::string_view text) {
    Parser parser;
    while (!text.empty()) {
        size_t end = text.find('\n');
        parser.Line(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return parser.Finish();
}

IdMap IdMap::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    Parser parser;
    for (std::string line; std::getline(in, line);) parser.Line(line);
    return parser.Finish();
}

std::string IdMap::Serialize() const {
    std::vector<uint32_t> order;  // entries by id; they usually are already
    auto byId = [&](uint32_t a, uint32_t b) { return entries_[a].id < entries_[b].id; };
    order.reserve(live_);
    for (size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].id != 0) order.push_back(static_cast<uint32_t>(i));
    if (!std::is_sorted(order.begin(), order.end(), byId))
        std::sort(order.begin(), order.end(), byId);
    std::string out = "next " + std::to_string(next_) + "\n";
    for (uint32_t i : order) {
        out += std::to_string(entries_[i].id);
        out += '\t';
        out += EscapeKey(KeyOf(entries_[i]));
        out += '\n';
    }
    return out;
}

int IdMap::Save(const std::string& path) const {
    return durable::ReplaceFileContents(path, Serialize());
}

size_t IdMap::SlotOf(std::string_view key, size_t* free) const {
    if (slots_.empty()) return kNone;
    size_t mask = slots_.size() - 1;
    size_t firstFree = kNone;
    for (size_t slot = HashOf(key) & mask;; slot = (slot + 1) & mask) {
        uint32_t held = slots_[slot];
        if (held == 0) {
            if (free) *free = firstFree == kNone ? slot : firstFree;
            return kNone;
        }
        if (held == kErasedSlot) {
            if (firstFree == kNone) firstFree = slot;
        } else if (KeyOf(entries_[held - 1]) == key) {
            return slot;
        }
    }
}

std::optional<uint32_t> IdMap::Find(std::string_view key) const {
    size_t slot = SlotOf(key);
    if (slot == kNone) return std::nullopt;
    return entries_[slots_[slot] - 1].id;
}

void IdMap::Add(std::string_view key, uint32_t id) {
    // Erased entries hold slots until a rebuild: count them so that probing stays short.
    if ((entries_.size() + 1) * 10 > slots_.size() * 7) Rebuild(live_ + 1);
    if (keys_.size() + key.size() > std::numeric_limits<uint32_t>::max())
        throw std::length_error("the id map is larger than 4 GiB");
    size_t free = 0;
    SlotOf(key, &free);
    entries_.push_back(
        {static_cast<uint32_t>(keys_.size()), static_cast<uint32_t>(key.size()), id});
    keys_ += key;
    slots_[free] = static_cast<uint32_t>(entries_.size());
    ++live_;
    next_ = std::max<uint64_t>(next_, uint64_t{id} + 1);
}

void IdMap::EraseSlot(size_t slot) {
    entries_[slots_[slot] - 1].id = 0;
    slots_[slot] = kErasedSlot;
    --live_;
}

void IdMap::Rebuild(size_t capacity) {
    std::string keys;
    std::vector<Entry> entries;
    keys.reserve(keys_.size());
    entries.reserve(std::max(capacity, live_));
    for (const auto& e : entries_) {
        if (e.id == 0) continue;
        entries.push_back({static_cast<uint32_t>(keys.size()), e.length, e.id});
        keys += KeyOf(e);
    }
    keys_ = std::move(keys);
    entries_ = std::move(entries);
    slots_.assign(TableSize(std::max(capacity, live_)), 0);
    for (size_t i = 0; i < entries_.size(); ++i) {
        size_t free = 0;
        SlotOf(KeyOf(entries_[i]), &free);
        slots_[free] = static_cast<uint32_t>(i + 1);
    }
}

// The ids in use, sorted: worked out when needed (rarely) rather than kept beside the map,
// which would cost as much memory again for a folder of many messages.
std::vector<uint32_t> IdMap::TakenIds() const {
    std::vector<uint32_t> taken;
    taken.reserve(live_);
    for (const auto& e : entries_)
        if (e.id != 0) taken.push_back(e.id);
    std::sort(taken.begin(), taken.end());
    return taken;
}

uint32_t IdMap::Assign(std::string_view key) {
    if (auto found = Find(key)) return *found;
    uint32_t id = 0;
    if (next_ <= kLargestId) {
        id = static_cast<uint32_t>(next_);
    } else {
        // The counter is spent (only a damaged map gets here): take the lowest free id,
        // which no present key holds.
        id = 1;
        for (uint32_t used : TakenIds()) {
            if (used != id) break;
            ++id;
        }
    }
    Add(key, id);
    return id;
}

void IdMap::Erase(std::string_view key) {
    if (size_t slot = SlotOf(key); slot != kNone) EraseSlot(slot);
}

void IdMap::Rename(std::string_view from, std::string_view to) {
    size_t slot = SlotOf(from);
    if (slot == kNone || Find(to)) return;
    uint32_t id = entries_[slots_[slot] - 1].id;
    std::string target(to);  // `to` may point into keys_, which Add can move
    EraseSlot(slot);
    Add(target, id);
}

bool IdMap::Retain(const std::function<bool(std::string_view key, uint32_t id)>& keep) {
    bool changed = false;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].id == 0 || keep(KeyOf(entries_[i]), entries_[i].id)) continue;
        entries_[i].id = 0;
        --live_;
        changed = true;
    }
    if (changed) Rebuild(live_);
    return changed;
}

void IdMap::MergeFrom(const IdMap& other) {
    next_ = std::max(next_, other.next_);
    std::vector<uint32_t> taken = TakenIds();
    other.ForEach([&](std::string_view key, uint32_t id) {
        if (!std::binary_search(taken.begin(), taken.end(), id) && !Find(key)) Add(key, id);
    });
}

void IdMap::ForEach(const std::function<void(std::string_view key, uint32_t id)>& visit) const {
    for (const auto& e : entries_)
        if (e.id != 0) visit(KeyOf(e), e.id);
}

}  // namespace tindale::store
