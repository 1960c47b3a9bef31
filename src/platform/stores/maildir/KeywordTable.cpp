#include "platform/stores/maildir/KeywordTable.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>

#include "base/AtomicFile.h"
#include "platform/stores/common/MessageFile.h"

namespace tindale::store {

namespace {

constexpr size_t kMaxTableBytes = 64 * 1024;  // 26 names; anything larger is not a table

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// IMAP keywords are atoms compared without regard to case ("$label1" of one client is
// "$Label1" of another).
bool SameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

}  // namespace

KeywordTable KeywordTable::Load(const std::string& dir) {
    return Parse(ReadRegularFile(dir + "/" + kFileName, kMaxTableBytes).value_or(""));
}

KeywordTable KeywordTable::Parse(std::string_view text) {
    KeywordTable table;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t space = line.find(' ');
        unsigned index = 0;
        if (space == std::string_view::npos || space == 0) continue;
        auto [ptr, ec] = std::from_chars(line.data(), line.data() + space, index);
        if (ec != std::errc() || ptr != line.data() + space || index >= 26) continue;
        std::string_view name = line.substr(space + 1);
        if (!name.empty()) table.names_[index] = std::string(name);
    }
    return table;
}

std::string KeywordTable::Serialize() const {
    std::string out;
    for (size_t i = 0; i < names_.size(); ++i)
        if (!names_[i].empty()) out += std::to_string(i) + " " + names_[i] + "\n";
    return out;
}

std::vector<Keyword> KeywordTable::NamesOf(std::string_view flags) const {
    std::vector<Keyword> out;
    for (char c : flags)
        if (c >= 'a' && c <= 'z' && !names_[size_t(c - 'a')].empty())
            out.push_back({c, names_[size_t(c - 'a')]});
    return out;
}

std::optional<char> KeywordTable::LetterFor(std::string_view name) {
    if (name.empty() || name.find_first_of(" \r\n") != std::string_view::npos) return std::nullopt;
    for (size_t i = 0; i < names_.size(); ++i)
        if (names_[i] == name) return static_cast<char>('a' + i);
    for (size_t i = 0; i < names_.size(); ++i)
        if (SameNoCase(names_[i], name)) return static_cast<char>('a' + i);
    for (size_t i = 0; i < names_.size(); ++i)
        if (names_[i].empty()) {
            names_[i] = std::string(name);
            changed_ = true;
            return static_cast<char>('a' + i);
        }
    return std::nullopt;
}

std::string KeywordTable::FlagsFor(const MessageState& state, std::vector<std::string>* lost) {
    std::string flags;
    std::string named;
    for (const auto& keyword : state.keywords) {
        if (keyword.letter != 0) named.push_back(keyword.letter);
        if (auto letter = LetterFor(keyword.name))
            flags.push_back(*letter);
        else if (lost)
            lost->push_back(keyword.name);
    }
    for (char c : state.flags)
        if (!(c >= 'a' && c <= 'z') || named.find(c) == std::string::npos) flags.push_back(c);
    return MessageState::CleanFlags(flags);
}

int KeywordTable::Save(const std::string& dir) {
    int error = durable::ReplaceFileContents(dir + "/" + kFileName, Serialize());
    if (error == 0) changed_ = false;
    return error;
}

}  // namespace tindale::store
