#pragma once
// What makes a message the message a reader sees, as one digest: its Message-ID, From,
// Sender, To, Cc, Date and Subject fields (white space runs folded), and its body with CRLF
// line ends read as LF. A message with neither Message-ID nor Date adds every other header
// field but those added in transport or by filters. Two messages with the same digest are
// copies of one message.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

// The digest of the message read from `fd` (from its current position); none on a read
// error or a header block too large to be a real one.
std::optional<std::array<uint8_t, 32>> MessageIdentityDigest(int fd);

// Whether a header field is one added in transport or by a filter, which copies of one
// message may differ in (Received, Delivered-To, Return-Path, X-Spam-*, X-Mozilla-*, ...).
bool IsTransportHeader(std::string_view name);
