#include "base/Text.h"

#include <algorithm>
#include <cwctype>

namespace tindale::text {

namespace {
constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at s[i], advancing i; malformed input yields U+FFFD.
char32_t DecodeUtf8(std::string_view s, size_t& i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = -1;
    if (b0 >= 0xC2 && b0 < 0xE0)
        extra = 1;
    else if (b0 >= 0xE0 && b0 < 0xF0)
        extra = 2;
    else if (b0 >= 0xF0 && b0 < 0xF5)
        extra = 3;
    if (extra < 0 || i + extra >= s.size()) {
        ++i;
        return kReplacement;
    }
    char32_t cp = b0 & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) {
            i += k;
            return kReplacement;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += extra + 1;
    bool overlong = (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}
}  // namespace

std::u16string ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t cp = DecodeUtf8(utf8, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        char32_t c = utf16[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

char16_t FoldUnit(char16_t c) {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    return static_cast<char16_t>(std::towlower(static_cast<wint_t>(c)));
}

std::u16string Fold(std::u16string_view s) {
    std::u16string out(s);
    for (auto& c : out) c = FoldUnit(c);
    return out;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return FoldUnit(x) == FoldUnit(y); });
}

void PutFixedUtf16(std::span<uint8_t> field, std::u16string_view s) {
    std::fill(field.begin(), field.end(), 0);
    size_t units = field.size() / 2;
    if (units == 0) return;
    size_t n = std::min(s.size(), units - 1);
    for (size_t i = 0; i < n; ++i) {
        field[2 * i] = static_cast<uint8_t>(s[i] & 0xFF);
        field[2 * i + 1] = static_cast<uint8_t>(s[i] >> 8);
    }
}

std::u16string GetFixedUtf16(std::span<const uint8_t> field) {
    std::u16string out;
    for (size_t i = 0; i + 1 < field.size(); i += 2) {
        char16_t c = static_cast<char16_t>(field[i] | (field[i + 1] << 8));
        if (c == 0) break;
        out += c;
    }
    return out;
}

std::vector<uint8_t> Utf16LeBytes(std::u16string_view s) {
    std::vector<uint8_t> out(s.size() * 2);
    for (size_t i = 0; i < s.size(); ++i) {
        out[2 * i] = static_cast<uint8_t>(s[i] & 0xFF);
        out[2 * i + 1] = static_cast<uint8_t>(s[i] >> 8);
    }
    return out;
}

void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetU32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
uint64_t GetU64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

void PutShortString(std::vector<uint8_t>& out, std::string_view s) {
    size_t n = std::min<size_t>(s.size(), 0xFFFF);
    while (n < s.size() && n > 0 && (static_cast<uint8_t>(s[n]) & 0xC0) == 0x80) --n;
    uint8_t size[2];
    PutU16(size, static_cast<uint16_t>(n));
    out.insert(out.end(), size, size + 2);
    out.insert(out.end(), s.begin(), s.begin() + static_cast<ptrdiff_t>(n));
}

std::optional<std::string> TakeShortString(const std::vector<uint8_t>& bytes, size_t& at) {
    if (at > bytes.size() || bytes.size() - at < 2) return std::nullopt;
    size_t size = GetU16(&bytes[at]);
    if (bytes.size() - at - 2 < size) return std::nullopt;
    std::string s(reinterpret_cast<const char*>(&bytes[at + 2]), size);
    at += 2 + size;
    return s;
}

}  // namespace tindale::text
