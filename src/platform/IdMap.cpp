#include "platform/IdMap.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/AtomicFile.h"

namespace tindale::store {

namespace {

constexpr uint64_t kLargestId = 0xFFFFFFFFull;

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

bool IdMap::Insert(const std::string& key, uint32_t id, const std::vector<uint32_t>& taken) {
    if (key.empty() || id == 0 || ids_.count(key) ||
        std::binary_search(taken.begin(), taken.end(), id))
        return false;
    ids_.emplace(key, id);
    next_ = std::max<uint64_t>(next_, uint64_t{id} + 1);
    return true;
}

// The ids in use, sorted: worked out when needed (rarely) rather than kept beside the map,
// which would cost as much memory again for a folder of many messages.
std::vector<uint32_t> IdMap::TakenIds() const {
    std::vector<uint32_t> taken;
    taken.reserve(ids_.size());
    for (const auto& entry : ids_) taken.push_back(entry.second);
    std::sort(taken.begin(), taken.end());
    return taken;
}

IdMap IdMap::Parse(std::string_view text) {
    IdMap map;
    uint64_t declaredNext = 1;
    std::vector<std::pair<uint32_t, std::string>> entries;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.rfind("next ", 0) == 0) {
            if (auto n = WholeNumber<uint64_t>(line.substr(5)))
                declaredNext = std::max(declaredNext, std::min(*n, kLargestId + 1));
            continue;
        }
        size_t tab = line.find('\t');
        if (tab == std::string_view::npos) continue;
        auto id = WholeNumber<uint32_t>(line.substr(0, tab));
        auto key = UnescapeKey(line.substr(tab + 1));
        if (id && *id != 0 && key && !key->empty()) entries.emplace_back(*id, std::move(*key));
    }
    // A repeated id keeps its first line; a repeated key its first line too.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < entries.size(); ++i) {
        if (i > 0 && entries[i].first == entries[i - 1].first) continue;
        if (map.ids_.emplace(std::move(entries[i].second), entries[i].first).second)
            map.next_ = std::max<uint64_t>(map.next_, uint64_t{entries[i].first} + 1);
    }
    map.next_ = std::max(map.next_, declaredNext);
    return map;
}

std::string IdMap::Serialize() const {
    std::vector<std::pair<uint32_t, const std::string*>> byId;
    byId.reserve(ids_.size());
    for (const auto& [key, id] : ids_) byId.emplace_back(id, &key);
    std::sort(byId.begin(), byId.end());
    std::string out = "next " + std::to_string(next_) + "\n";
    for (const auto& [id, key] : byId) out += std::to_string(id) + "\t" + EscapeKey(*key) + "\n";
    return out;
}

IdMap IdMap::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return Parse(text.str());
}

int IdMap::Save(const std::string& path) const {
    return durable::ReplaceFileContents(path, Serialize());
}

std::optional<uint32_t> IdMap::Find(const std::string& key) const {
    auto it = ids_.find(key);
    if (it == ids_.end()) return std::nullopt;
    return it->second;
}

uint32_t IdMap::Assign(const std::string& key) {
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
    ids_.emplace(key, id);
    next_ = std::max<uint64_t>(next_, uint64_t{id} + 1);
    return id;
}

void IdMap::Erase(const std::string& key) {
    ids_.erase(key);
}

void IdMap::Rename(const std::string& from, const std::string& to) {
    auto it = ids_.find(from);
    if (it == ids_.end() || ids_.count(to)) return;
    uint32_t id = it->second;
    ids_.erase(it);
    ids_.emplace(to, id);
}

bool IdMap::Retain(const std::function<bool(const std::string&)>& keep) {
    bool changed = false;
    for (auto it = ids_.begin(); it != ids_.end();) {
        if (keep(it->first)) {
            ++it;
            continue;
        }
        it = ids_.erase(it);
        changed = true;
    }
    return changed;
}

void IdMap::MergeFrom(const IdMap& other) {
    next_ = std::max(next_, other.next_);
    std::vector<uint32_t> taken = TakenIds();
    for (const auto& [key, id] : other.ids_) Insert(key, id, taken);
}

}  // namespace tindale::store
