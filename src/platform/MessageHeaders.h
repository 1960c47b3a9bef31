#pragma once
// Message properties from a message's header block, parsed with GMime.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tindale::mail {

struct HeaderInfo {
    std::string subject;              // decoded, UTF-8
    std::string normalSubject;        // without one "RE: "-style prefix
    std::string from, to;             // display forms
    std::string messageId;            // Message-ID, as written (trimmed)
    std::optional<int64_t> received;  // Unix seconds: topmost Received:, else Date:
    std::optional<int64_t> sent;      // Date:
    // A hash of what makes a message the message a reader sees: its Message-ID, From,
    // Sender, To, Cc, Date and Subject fields as written (white space runs folded), and
    // which of them it has. Copies of one message have the same; it is only a first sieve.
    uint64_t identityHash = 0;
};

// Calls `visit` with every field of a header block (up to its first empty line), in order:
// its name as written and its value unfolded (continuation lines appended as they are).
void ForEachField(
    std::string_view block,
    const std::function<void(const std::string& name, const std::string& value)>& visit);

// Parses the header block (everything before the first empty line) of a message.
HeaderInfo ParseHeaders(std::string_view headerBlock);

// Drops one leading prefix of one to three characters that are not digits, colons or
// blanks, followed by a colon and blanks ("RE: ", "Fw: ", "AW: ").
std::string NormalizeSubject(std::string_view subject);

// Seconds since the Unix epoch of an RFC 5322 date: the canonical form is read directly,
// every other form by GMime. DecodeDateWithGmime always asks GMime (tests compare the two).
std::optional<int64_t> DecodeDate(const char* text);
std::optional<int64_t> DecodeDateWithGmime(const char* text);

// What a person reads of a message: its header fields, its text and its attachments' names.
struct MessageSummary {
    std::string from, to, date, subject;  // decoded, UTF-8
    std::string text;                     // the first text/plain part (or text/html), decoded
    std::vector<std::string> attachments;
};
MessageSummary Summarize(std::string_view source);

// Reads the header block of a file: up to the first empty line, at most `limit` bytes.
std::string ReadHeaderBlock(int fd, size_t limit = 65536);

}  // namespace tindale::mail
