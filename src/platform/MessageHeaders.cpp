#include "platform/MessageHeaders.h"

#include <gmime/gmime.h>
#include <unistd.h>

#include <mutex>

#include "base/Text.h"

namespace tindale::mail {

namespace {

void InitGmime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    unsigned yoe = static_cast<unsigned>(y - era * 400);
    unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// The canonical RFC 5322 form that nearly every message carries,
// "[Mon, ]1 Nov 2026 10:00[:00] +0100", read exactly; anything else is left to GMime.
// GMime builds a time zone object for every date, which makes listing a large folder
// several times slower than reading it.
std::optional<int64_t> DecodeCanonicalDate(std::string_view s) {
    auto skip = [&] {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    };
    auto number = [&](size_t minDigits, size_t maxDigits) -> std::optional<int> {
        size_t n = 0;
        int value = 0;
        while (n < s.size() && n < maxDigits && s[n] >= '0' && s[n] <= '9')
            value = value * 10 + (s[n++] - '0');
        if (n < minDigits) return std::nullopt;
        s.remove_prefix(n);
        return value;
    };
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    skip();
    if (s.size() > 4 && s[3] == ',') s.remove_prefix(4), skip();  // the weekday says nothing new
    auto day = number(1, 2);
    skip();
    int month = 0;
    for (int i = 0; i < 12 && !month; ++i)
        if (s.substr(0, 3) == kMonths[i]) month = i + 1;
    if (!day || !month) return std::nullopt;
    s.remove_prefix(3);
    skip();
    auto year = number(4, 4);
    skip();
    auto hour = number(2, 2);
    if (!year || !hour || s.empty() || s.front() != ':') return std::nullopt;
    s.remove_prefix(1);
    auto minute = number(2, 2);
    std::optional<int> second = 0;
    if (!s.empty() && s.front() == ':') s.remove_prefix(1), second = number(2, 2);
    skip();
    if (!minute || !second || s.size() < 5 || (s[0] != '+' && s[0] != '-')) return std::nullopt;
    int sign = s[0] == '-' ? -1 : 1;
    s.remove_prefix(1);
    auto zone = number(4, 4);
    skip();
    if (!zone || (!s.empty() && s.front() != '(' && s.front() != '\r')) return std::nullopt;
    if (*day < 1 || *day > 31 || *hour > 23 || *minute > 59 || *second > 60) return std::nullopt;
    int64_t offset = sign * ((*zone / 100) * 3600 + (*zone % 100) * 60);
    return DaysFromCivil(*year, static_cast<unsigned>(month), static_cast<unsigned>(*day)) * 86400 +
           *hour * 3600 + *minute * 60 + *second - offset;
}

}  // namespace

std::optional<int64_t> DecodeDateWithGmime(const char* text) {
    InitGmime();
    if (!text) return std::nullopt;
    GDateTime* dt = g_mime_utils_header_decode_date(text);
    if (!dt) return std::nullopt;
    int64_t unix = g_date_time_to_unix(dt);
    g_date_time_unref(dt);
    return unix;
}

std::optional<int64_t> DecodeDate(const char* text) {
    if (!text) return std::nullopt;
    if (auto fast = DecodeCanonicalDate(text)) return fast;
    return DecodeDateWithGmime(text);
}

void ForEachField(
    std::string_view block,
    const std::function<void(const std::string& name, const std::string& value)>& visit) {
    std::string name, value;
    auto flush = [&] {
        if (!name.empty()) visit(name, value);
        name.clear();
        value.clear();
    };
    size_t pos = 0;
    while (pos < block.size()) {
        size_t end = block.find('\n', pos);
        if (end == std::string_view::npos) end = block.size();
        std::string_view line = block.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) break;
        if ((line[0] == ' ' || line[0] == '\t') && !name.empty()) {
            value.append(line);  // a folded continuation
            continue;
        }
        flush();
        size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        name = std::string(line.substr(0, colon));
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
        value = std::string(line.substr(colon + 1));
    }
    flush();
}

namespace {

std::string DecodeText(const std::string& raw) {
    char* decoded = g_mime_utils_header_decode_text(nullptr, raw.c_str());
    std::string out = decoded ? decoded : raw;
    g_free(decoded);
    return out;
}

// The header fields the store needs, unfolded, from a header block: the first of each,
// and for Received the topmost one.
struct RawHeaders {
    std::optional<std::string> subject, date, received, from, to, messageId, sender, cc;
};

RawHeaders SplitHeaders(std::string_view block) {
    RawHeaders raw;
    ForEachField(block, [&](const std::string& name, const std::string& value) {
        auto is = [&](const char* wanted) { return g_ascii_strcasecmp(name.c_str(), wanted) == 0; };
        size_t start = value.find_first_not_of(" \t");
        std::string trimmed = start == std::string::npos ? "" : value.substr(start);
        while (!trimmed.empty() && (trimmed.back() == '\r' || trimmed.back() == ' '))
            trimmed.pop_back();
        std::optional<std::string>* slot = is("Subject")      ? &raw.subject
                                           : is("Date")       ? &raw.date
                                           : is("Received")   ? &raw.received
                                           : is("From")       ? &raw.from
                                           : is("To")         ? &raw.to
                                           : is("Message-ID") ? &raw.messageId
                                           : is("Sender")     ? &raw.sender
                                           : is("Cc")         ? &raw.cc
                                                              : nullptr;
        if (slot && !*slot) *slot = trimmed;
    });
    return raw;
}

}  // namespace

std::string NormalizeSubject(std::string_view subject) {
    std::u16string s = text::ToUtf16(subject);
    auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    auto prefixChar = [&](char16_t c) {
        return c != u':' && !blank(c) && !(c >= u'0' && c <= u'9');
    };
    size_t n = 0;
    while (n < s.size() && n < 4 && prefixChar(s[n])) ++n;
    if (n < 1 || n > 3 || n + 1 >= s.size() || s[n] != u':' || !blank(s[n + 1]))
        return std::string(subject);
    size_t rest = n + 1;
    while (rest < s.size() && blank(s[rest])) ++rest;
    return text::ToUtf8(s.substr(rest));
}

namespace {

uint64_t IdentityHash(const RawHeaders& raw) {
    uint64_t hash = 14695981039346656037ull;
    auto add = [&](unsigned char c) { hash = (hash ^ c) * 1099511628211ull; };
    for (const auto* field :
         {&raw.messageId, &raw.from, &raw.sender, &raw.to, &raw.cc, &raw.date, &raw.subject}) {
        add(field->has_value() ? 1 : 0);
        bool blank = false;
        for (char c : field->value_or(std::string())) {
            bool space = c == ' ' || c == '\t';
            if (space && blank) continue;
            blank = space;
            add(static_cast<unsigned char>(space ? ' ' : c));
        }
        add(0);
    }
    return hash;
}

}  // namespace

HeaderInfo ParseHeaders(std::string_view headerBlock) {
    InitGmime();
    // Only the few fields the store needs are split out here; decoding (RFC 2047 words,
    // dates) is GMime's. Building a whole message object per file costs ten times more.
    RawHeaders raw = SplitHeaders(headerBlock);
    HeaderInfo info;
    if (raw.subject) info.subject = DecodeText(*raw.subject);
    info.normalSubject = NormalizeSubject(info.subject);
    if (raw.from) info.from = *raw.from;  // shown as stored; nothing compares them
    if (raw.to) info.to = *raw.to;
    if (raw.messageId) info.messageId = *raw.messageId;
    if (raw.date) info.sent = DecodeDate(raw.date->c_str());
    if (raw.received) {
        auto semi = raw.received->rfind(';');
        if (semi != std::string::npos) info.received = DecodeDate(raw.received->c_str() + semi + 1);
    }
    if (!info.received) info.received = info.sent;
    info.identityHash = IdentityHash(raw);
    return info;
}

std::string ReadHeaderBlock(int fd, size_t limit) {
    std::string out;
    char buf[4096];
    while (out.size() < limit) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        size_t scanFrom = out.size() >= 3 ? out.size() - 3 : 0;
        out.append(buf, static_cast<size_t>(n));
        for (size_t i = scanFrom; i + 1 < out.size(); ++i) {
            if (out[i] == '\n' &&
                (out[i + 1] == '\n' ||
                 (out[i + 1] == '\r' && i + 2 < out.size() && out[i + 2] == '\n'))) {
                out.resize(i + 1);
                return out;
            }
        }
    }
    if (out.size() > limit) out.resize(limit);
    return out;
}

}  // namespace tindale::mail

namespace tindale::mail {

namespace {

struct Walk {
    MessageSummary* summary;
    std::string html;
};

std::string TakeGString(char* text) {
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

void VisitPart(GMimeObject*, GMimeObject* part, gpointer data) {
    auto* walk = static_cast<Walk*>(data);
    if (!GMIME_IS_PART(part)) return;
    GMimePart* leaf = GMIME_PART(part);
    const char* filename = g_mime_part_get_filename(leaf);
    if (filename || g_mime_part_is_attachment(leaf)) {
        walk->summary->attachments.push_back(filename ? filename : "(unnamed attachment)");
        return;
    }
    if (!GMIME_IS_TEXT_PART(part)) return;
    GMimeContentType* type = g_mime_object_get_content_type(part);
    std::string text = TakeGString(g_mime_text_part_get_text(GMIME_TEXT_PART(part)));
    if (g_mime_content_type_is_type(type, "text", "plain") && walk->summary->text.empty())
        walk->summary->text = text;
    else if (g_mime_content_type_is_type(type, "text", "html") && walk->html.empty())
        walk->html = text;
}

}  // namespace

MessageSummary Summarize(std::string_view source) {
    InitGmime();
    MessageSummary summary;
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(source.data(), source.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    if (message) {
        auto field = [&](const char* name) {
            const char* raw = g_mime_object_get_header(GMIME_OBJECT(message), name);
            return raw ? DecodeText(raw) : std::string();
        };
        summary.from = field("From");
        summary.to = field("To");
        summary.date = field("Date");
        summary.subject = field("Subject");
        Walk walk{&summary, {}};
        g_mime_message_foreach(message, VisitPart, &walk);
        if (summary.text.empty()) summary.text = walk.html;
        g_object_unref(message);
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return summary;
}

}  // namespace tindale::mail
