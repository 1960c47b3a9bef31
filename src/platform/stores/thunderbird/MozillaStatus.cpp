#include "platform/stores/thunderbird/MozillaStatus.h"

#include <cstdio>
#include <cstdlib>

namespace tindale::store {

std::string FlagsOfMozillaStatus(uint16_t status) {
    std::string flags;
    if (status & 0x0004) flags += 'F';
    if (status & 0x1000) flags += 'P';
    if (status & 0x0002) flags += 'R';
    if (status & 0x0001) flags += 'S';
    if (status & 0x0008) flags += 'T';
    return flags;
}

uint16_t MozillaStatusOf(std::string_view flags) {
    uint16_t status = 0;
    for (char c : flags) {
        if (c == 'S') status |= 0x0001;
        if (c == 'R') status |= 0x0002;
        if (c == 'F') status |= 0x0004;
        if (c == 'P') status |= 0x1000;
    }
    return status;
}

bool IsMozillaStateLine(std::string_view line) {
    return line.rfind("X-Mozilla-Status:", 0) == 0 || line.rfind("X-Mozilla-Status2:", 0) == 0 ||
           line.rfind("X-Mozilla-Keys:", 0) == 0;
}

std::string WithoutMozillaState(std::string_view message) {
    std::string out;
    out.reserve(message.size());
    bool inHeaders = true;
    size_t begin = 0;
    while (begin < message.size()) {
        size_t nl = message.find('\n', begin);
        size_t end = nl == std::string_view::npos ? message.size() : nl + 1;
        std::string_view line = message.substr(begin, end - begin);
        if (line == "\n" || line == "\r\n") inHeaders = false;
        if (!inHeaders || !IsMozillaStateLine(line)) out.append(line);
        begin = end;
    }
    return out;
}

std::string MozillaStatusHeaders(uint16_t status, const std::vector<Keyword>& keywords) {
    char text[80];
    std::snprintf(text, sizeof text, "X-Mozilla-Status: %04x\nX-Mozilla-Status2: 00000000\n",
                  status);
    std::string out = text;
    if (keywords.empty()) return out;
    std::string keys;
    for (const auto& keyword : keywords) {
        if (keyword.name.find_first_of(" \t\r\n") != std::string::npos) continue;
        if (!keys.empty()) keys += ' ';
        for (char c : keyword.name) keys += c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    }
    if (keys.size() < 80) keys.append(80 - keys.size(), ' ');
    return out + "X-Mozilla-Keys: " + keys + "\n";
}

std::string WithMozillaState(std::string message, const MessageState* state,
                             const std::string& otherLines) {
    if (!state || !state->known || HasMozillaStatus(message)) return message;
    // Read is "S" alone: a message in cur/ without it was seen, not read.
    uint16_t status = MozillaStatusOf(state->flags);
    if (status == 0 && state->keywords.empty() && otherLines.empty()) return message;
    return MozillaStatusHeaders(status, state->keywords) + otherLines + message;
}

std::vector<Keyword> MozillaKeywordsIn(std::string_view headers) {
    constexpr std::string_view kName = "X-Mozilla-Keys:";
    size_t at = headers.rfind(kName, 0) == 0 ? 0 : headers.find("\nX-Mozilla-Keys:");
    if (at == std::string_view::npos) return {};
    at += at == 0 ? kName.size() : kName.size() + 1;
    std::string_view value = headers.substr(at, headers.find('\n', at) - at);
    std::vector<Keyword> keywords;
    while (!value.empty()) {
        size_t start = value.find_first_not_of(" \t\r");
        if (start == std::string_view::npos) break;
        value.remove_prefix(start);
        size_t end = value.find_first_of(" \t\r");
        keywords.push_back({0, std::string(value.substr(0, end))});
        value.remove_prefix(end == std::string_view::npos ? value.size() : end);
    }
    return keywords;
}

bool HasMozillaStatus(std::string_view message) {
    size_t end = message.find("\n\n");
    return FindMozillaStatus(message.substr(0, end)).has_value();
}

std::optional<MozillaStatusField> FindMozillaStatus(std::string_view headers) {
    constexpr std::string_view kName = "X-Mozilla-Status:";
    size_t at = headers.rfind(kName, 0) == 0 ? 0 : std::string_view::npos;
    if (at == std::string_view::npos) {
        at = headers.find("\nX-Mozilla-Status:");
        if (at == std::string_view::npos) return std::nullopt;
        ++at;
    }
    size_t digits = at + kName.size();
    while (digits < headers.size() && headers[digits] == ' ') ++digits;
    if (digits + 4 > headers.size()) return std::nullopt;
    std::string hex(headers.substr(digits, 4));
    char* end = nullptr;
    unsigned long value = std::strtoul(hex.c_str(), &end, 16);
    if (end != hex.c_str() + 4) return std::nullopt;
    return MozillaStatusField{static_cast<uint16_t>(value), digits};
}

}  // namespace tindale::store
