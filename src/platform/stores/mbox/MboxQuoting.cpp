#include "platform/stores/mbox/MboxQuoting.h"

namespace tindale::store {

namespace {

constexpr std::string_view kFrom = "From ";

// Whether a line's start `head` ("", ">", ">>Fr", ...) may still become ">*From ".
bool MayBeQuotedFrom(std::string_view head) {
    size_t quotes = head.find_first_not_of('>');
    if (quotes == std::string_view::npos) return true;
    std::string_view rest = head.substr(quotes);
    return rest.size() < kFrom.size() && kFrom.substr(0, rest.size()) == rest;
}

}  // namespace

std::string QuoteForMbox(std::string_view message) {
    std::string out;
    out.reserve(message.size() + 64);
    size_t begin = 0;
    while (begin < message.size()) {
        size_t nl = message.find('\n', begin);
        size_t end = nl == std::string_view::npos ? message.size() : nl + 1;
        std::string_view line = message.substr(begin, end - begin);
        size_t quotes = line.find_first_not_of('>');
        if (quotes != std::string_view::npos && line.substr(quotes).starts_with(kFrom)) out += '>';
        out.append(line);
        begin = end;
    }
    if (!out.empty() && out.back() != '\n') out += '\n';
    return out;
}

void MboxUnquoter::Feed(std::string_view piece, std::string& out) {
    for (char c : piece) {
        if (!deciding_) {
            out += c;
            if (c == '\n') deciding_ = true;
            continue;
        }
        head_ += c;
        if (c == '\n') {
            out += head_;  // a short line, whole
        } else if (head_[0] == '>' && head_.ends_with(kFrom)) {
            out.append(head_, 1);  // a quoted "From " line: one ">" goes
            deciding_ = false;
        } else if (!MayBeQuotedFrom(head_)) {
            out += head_;
            deciding_ = false;
        } else {
            continue;
        }
        head_.clear();
    }
}

void MboxUnquoter::Finish(std::string& out) {
    out += head_;
    head_.clear();
    deciding_ = true;
}

std::string UnquoteFromMbox(std::string_view stored) {
    std::string out;
    out.reserve(stored.size());
    MboxUnquoter unquoter;
    unquoter.Feed(stored, out);
    unquoter.Finish(out);
    return out;
}

}  // namespace tindale::store
