#include "dupfinder/MessageIdentity.h"

#include "platform/MessageHeaders.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaxHeaderBlock = 1 << 20;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// White space runs as one blank, none at either end.
std::string Folded(std::string_view value) {
    std::string out;
    bool blank = false;
    for (char c : value) {
        bool space = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (space) {
            blank = !out.empty();
            continue;
        }
        if (blank) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

struct Field {
    std::string name;  // lower case
    std::string value;
};

// The header block's fields, unfolded, in order.
std::vector<Field> Fields(std::string_view block) {
    std::vector<Field> fields;
    tindale::mail::ForEachField(block, [&](const std::string& name, const std::string& value) {
        fields.push_back({Lower(name), value});
    });
    return fields;
}

// The canonical text of the header fields that identify a message.
std::string IdentityText(const std::vector<Field>& fields) {
    static const char* const kIdentifying[] = {"message-id", "from", "sender", "to",
                                               "cc",         "date", "subject"};
    std::string text;
    bool idOrDate = false;
    for (const char* name : kIdentifying) {
        auto it = std::find_if(fields.begin(), fields.end(),
                               [&](const Field& f) { return f.name == name; });
        text.append(name).append(it == fields.end() ? "!" : ":");
        if (it != fields.end()) text.append(Folded(it->value));
        text += '\n';
        bool named = std::string_view(name) == "message-id" || std::string_view(name) == "date";
        if (named && it != fields.end()) idOrDate = true;
    }
    if (idOrDate) return text;
    // Nothing dates or names it: every field that was not added on the way must agree.
    for (const auto& f : fields)
        if (!IsTransportHeader(f.name))
            text.append(f.name).append(":").append(Folded(f.value)) += '\n';
    return text;
}

class Sha256 {
  public:
    Sha256() : ctx_(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
        ok_ = ctx_ && EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) == 1;
    }
    void Add(std::string_view bytes) {
        ok_ = ok_ && EVP_DigestUpdate(ctx_.get(), bytes.data(), bytes.size()) == 1;
    }
    std::optional<std::array<uint8_t, 32>> Finish() {
        std::array<uint8_t, 32> out{};
        if (!ok_ || EVP_DigestFinal_ex(ctx_.get(), out.data(), nullptr) != 1) return std::nullopt;
        return out;
    }

  private:
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx_;
    bool ok_ = false;
};

// Adds body bytes with every CR that ends a line left out; a CR at a piece's end waits for
// the next piece.
class BodyNormaliser {
  public:
    explicit BodyNormaliser(Sha256& sha) : sha_(sha) {}
    void Add(std::string_view piece) {
        std::string out;
        out.reserve(piece.size() + 1);
        for (char c : piece) {
            if (heldCr_ && c != '\n') out += '\r';
            heldCr_ = c == '\r';
            if (!heldCr_) out += c;
        }
        sha_.Add(out);
    }
    void Finish() {
        if (heldCr_) sha_.Add("\r");
    }

  private:
    Sha256& sha_;
    bool heldCr_ = false;
};

}  // namespace

bool IsTransportHeader(std::string_view name) {
    static const char* const kNames[] = {
        "received",       "delivered-to",    "x-original-to",
        "return-path",    "status",          "x-status",
        "x-uidl",         "x-account-key",   "x-keywords",
        "x-received",     "received-spf",    "authentication-results",
        "envelope-to",    "x-envelope-to",   "x-envelope-from",
        "x-delivered-to", "lines",           "content-length",
        "x-label",        "x-gmail-labels",  "x-originating-ip",
        "x-forwarded-to", "x-forwarded-for", "x-greylist"};
    static const char* const kPrefixes[] = {"x-spam", "x-virus",        "x-mozilla-", "x-rspamd",
                                            "arc-",   "x-ms-exchange-", "x-amavis"};
    std::string lower = Lower(name);
    for (const char* n : kNames)
        if (lower == n) return true;
    for (const char* p : kPrefixes)
        if (lower.rfind(p, 0) == 0) return true;
    return false;
}

std::optional<std::array<uint8_t, 32>> MessageIdentityDigest(int fd) {
    std::string head;
    char buffer[65536];
    size_t blockEnd = std::string::npos, bodyStart = 0;
    while (blockEnd == std::string::npos) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) return std::nullopt;
        size_t from = head.size() >= 3 ? head.size() - 3 : 0;
        head.append(buffer, static_cast<size_t>(n));
        for (size_t at = head.find('\n', from); at != std::string::npos;
             at = head.find('\n', at + 1)) {
            size_t next = at + 1;
            if (next < head.size() && head[next] == '\r') ++next;
            if (next < head.size() && head[next] == '\n') {
                blockEnd = at + 1;
                bodyStart = next + 1;
                break;
            }
        }
        if (n == 0 && blockEnd == std::string::npos) blockEnd = bodyStart = head.size();
        if (blockEnd == std::string::npos && head.size() > kMaxHeaderBlock) return std::nullopt;
    }
    Sha256 sha;
    sha.Add(IdentityText(Fields(std::string_view(head).substr(0, blockEnd))));
    sha.Add("\n");
    BodyNormaliser body(sha);
    body.Add(std::string_view(head).substr(bodyStart));
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0) return std::nullopt;
        body.Add({buffer, static_cast<size_t>(n)});
    }
    body.Finish();
    return sha.Finish();
}
