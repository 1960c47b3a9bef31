#include "platform/stores/maildir/FolderNames.h"

#include <algorithm>

#include "base/Text.h"

namespace tindale::foldernames {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";

bool IsDirect(char16_t c) {
    return c >= 0x20 && c < 0x7F && c != u'&' && c != u'.' && c != u'/';
}

int SextetOf(char c) {
    for (int i = 0; i < 64; ++i)
        if (kAlphabet[i] == c) return i;
    return -1;
}

// Base64 (with "," for "/") of the UTF-16BE bytes of a run of units, without padding.
std::string EncodeRun(std::u16string_view run) {
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char16_t u : run) {
        bits = (bits << 16) | u;
        count += 16;
        while (count >= 6) {
            count -= 6;
            out += kAlphabet[(bits >> count) & 0x3F];
        }
    }
    if (count > 0) out += kAlphabet[(bits << (6 - count)) & 0x3F];
    return out;
}

}  // namespace

std::string Encode(std::u16string_view name) {
    std::string out;
    for (size_t i = 0; i < name.size();) {
        if (name[i] == u'&') {
            out += "&-";
            ++i;
        } else if (IsDirect(name[i])) {
            out += static_cast<char>(name[i++]);
        } else {
            size_t end = i;
            while (end < name.size() && !IsDirect(name[end]) && name[end] != u'&') ++end;
            out += '&';
            out += EncodeRun(name.substr(i, end - i));
            out += '-';
            i = end;
        }
    }
    return out;
}

std::optional<std::u16string> Decode(std::string_view encoded) {
    std::u16string out;
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '&') {
            // A run of plain bytes; clients that write names unencoded write them as UTF-8.
            size_t end = std::min(encoded.find('&', i), encoded.size());
            std::string_view run = encoded.substr(i, end - i);
            std::u16string wide = text::ToUtf16(run);
            if (text::ToUtf8(wide) != run) return std::nullopt;  // neither mUTF-7 nor UTF-8
            out += wide;
            i = end - 1;
            continue;
        }
        size_t end = encoded.find('-', i + 1);
        if (end == std::string_view::npos) return std::nullopt;
        if (end == i + 1) {
            out += u'&';
        } else {
            uint32_t bits = 0;
            int count = 0;
            size_t units = 0;
            for (size_t k = i + 1; k < end; ++k) {
                int sextet = SextetOf(encoded[k]);
                if (sextet < 0) return std::nullopt;
                bits = (bits << 6) | static_cast<uint32_t>(sextet);
                count += 6;
                if (count >= 16) {
                    count -= 16;
                    out += static_cast<char16_t>((bits >> count) & 0xFFFF);
                    ++units;
                }
            }
            // A run is whole units with fewer than six zero bits left over; anything else
            // ("&2-", which decodes to nothing) is malformed and names no folder.
            if (units == 0 || count >= 6 || (bits & ((1u << count) - 1)) != 0) return std::nullopt;
        }
        i = end;
    }
    return out;
}

namespace {
constexpr char16_t kInbox[] = u"Inbox";

bool IsInboxName(std::u16string_view name) {
    if (name.size() != 5) return false;
    for (size_t i = 0; i < 5; ++i) {
        char16_t c = name[i] >= u'a' && name[i] <= u'z' ? name[i] - 32 : name[i];
        if (c != u"INBOX"[i]) return false;
    }
    return true;
}
}  // namespace

std::string DirectoryFor(const std::vector<std::u16string>& path) {
    std::string dir;
    for (size_t i = 0; i < path.size(); ++i)
        dir.append(".").append(i == 0 && path[0] == kInbox ? std::string("INBOX")
                                                           : Encode(path[i]));
    return dir;
}

std::optional<std::vector<std::u16string>> PathFor(std::string_view directory) {
    if (directory.size() < 2 || directory[0] != '.') return std::nullopt;
    std::vector<std::u16string> path;
    size_t start = 1;
    // "..Receipts": an Inbox child as mbsync names it with "SubFolders Maildir++".
    if (directory.size() > 2 && directory[1] == '.') {
        path.push_back(kInbox);
        start = 2;
    }
    while (start <= directory.size()) {
        size_t end = directory.find('.', start);
        if (end == std::string_view::npos) end = directory.size();
        if (end == start) return std::nullopt;  // ".." or a trailing dot
        auto part = Decode(directory.substr(start, end - start));
        if (!part || part->empty()) return std::nullopt;
        path.push_back(path.empty() && IsInboxName(*part) ? kInbox : std::move(*part));
        start = end + 1;
    }
    return path;
}

}  // namespace tindale::foldernames
