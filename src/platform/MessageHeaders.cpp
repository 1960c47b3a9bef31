#include "platform/MessageHeaders.h"

#include <gmime/gmime.h>
#include <unistd.h>

#include <mutex>

#include "platform/Text.h"

namespace tindale::mail {

namespace {

void InitGmime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

std::optional<int64_t> DecodeDate(const char* text) {
    if (!text) return std::nullopt;
    GDateTime* dt = g_mime_utils_header_decode_date(text);
    if (!dt) return std::nullopt;
    int64_t unix = g_date_time_to_unix(dt);
    g_date_time_unref(dt);
    return unix;
}

std::string Addresses(InternetAddressList* list) {
    if (!list || internet_address_list_length(list) == 0) return {};
    char* s = internet_address_list_to_string(list, nullptr, FALSE);
    std::string out = s ? s : "";
    g_free(s);
    return out;
}

// The date of a Received: header is what follows its last semicolon.
std::optional<int64_t> ReceivedDate(GMimeObject* object) {
    GMimeHeaderList* headers = g_mime_object_get_header_list(object);
    int count = g_mime_header_list_get_count(headers);
    for (int i = 0; i < count; ++i) {
        GMimeHeader* h = g_mime_header_list_get_header_at(headers, i);
        if (g_ascii_strcasecmp(g_mime_header_get_name(h), "Received") != 0) continue;
        std::string value = g_mime_header_get_value(h) ? g_mime_header_get_value(h) : "";
        auto semi = value.rfind(';');
        if (semi == std::string::npos) return std::nullopt;
        return DecodeDate(value.c_str() + semi + 1);
    }
    return std::nullopt;
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

HeaderInfo ParseHeaders(std::string_view headerBlock) {
    InitGmime();
    HeaderInfo info;
    std::string block(headerBlock);
    block += "\n\n";
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(block.data(), block.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    if (message) {
        const char* subject = g_mime_message_get_subject(message);
        info.subject = subject ? subject : "";
        info.normalSubject = NormalizeSubject(info.subject);
        info.from = Addresses(g_mime_message_get_from(message));
        info.to = Addresses(g_mime_message_get_to(message));
        info.sent = DecodeDate(g_mime_object_get_header(GMIME_OBJECT(message), "Date"));
        info.received = ReceivedDate(GMIME_OBJECT(message));
        if (!info.received) info.received = info.sent;
        g_object_unref(message);
    }
    g_object_unref(parser);
    g_object_unref(stream);
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
