#include "platform/stores/imap/ImapAccount.h"

#include <arpa/inet.h>

#include <cctype>
#include <charconv>

namespace tindale::store {

namespace {

constexpr std::string_view kTls = "imaps://";
constexpr std::string_view kStartTls = "imap://";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> PercentDecode(std::string_view in) {
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out.push_back(in[i]);
            continue;
        }
        if (i + 2 >= in.size()) return std::nullopt;
        int hi = HexValue(in[i + 1]), lo = HexValue(in[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return out;
}

std::string PercentEncode(std::string_view in) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : in) {
        bool plain = std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

// A host name (letters, digits, dots, hyphens, underscores) or, in brackets, an IPv6
// address: nothing a URL or a command could read another way.
bool UsableHost(std::string_view host, bool bracketed) {
    if (host.empty()) return false;
    for (unsigned char c : host) {
        bool ok = bracketed ? std::isxdigit(c) || c == ':' || c == '.'
                            : std::isalnum(c) || c == '.' || c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

}  // namespace

bool IsImapUrl(std::string_view root) {
    return root.starts_with(kTls) || root.starts_with(kStartTls);
}

std::optional<ImapAccount> ImapAccount::Parse(std::string_view url) {
    ImapAccount account;
    if (url.starts_with(kTls)) {
        url.remove_prefix(kTls.size());
    } else if (url.starts_with(kStartTls)) {
        url.remove_prefix(kStartTls.size());
        account.security = ImapSecurity::StartTls;
        account.port = 143;
    } else {
        return std::nullopt;
    }
    if (url.ends_with('/')) url.remove_suffix(1);
    auto at = url.rfind('@');
    if (at == std::string_view::npos || at == 0) return std::nullopt;
    auto user = PercentDecode(url.substr(0, at));
    if (!user || user->empty()) return std::nullopt;
    account.user = *user;
    std::string_view hostPort = url.substr(at + 1);
    std::string_view host = hostPort;
    bool bracketed = hostPort.starts_with('[');
    if (bracketed) {  // [::1]:993
        auto close = hostPort.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = hostPort.substr(1, close - 1);
        hostPort.remove_prefix(close + 1);
    } else {
        auto colon = hostPort.rfind(':');
        host = hostPort.substr(0, colon);
        hostPort = colon == std::string_view::npos ? std::string_view() : hostPort.substr(colon);
    }
    if (!hostPort.empty()) {
        if (hostPort[0] != ':') return std::nullopt;
        hostPort.remove_prefix(1);
        int port = 0;
        auto [end, ec] = std::from_chars(hostPort.data(), hostPort.data() + hostPort.size(), port);
        if (ec != std::errc() || end != hostPort.data() + hostPort.size() || port <= 0 ||
            port > 65535)
            return std::nullopt;
        account.port = port;
    }
    if (!UsableHost(host, bracketed)) return std::nullopt;
    account.host = std::string(host);
    return account;
}

std::string ImapAccount::Url() const {
    bool v6 = host.find(':') != std::string::npos;
    return std::string(security == ImapSecurity::Tls ? kTls : kStartTls) + PercentEncode(user) +
           "@" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool ImapAccount::OnLoopback() const {
    if (host == "localhost") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

}  // namespace tindale::store
