#pragma once
// The state lines every mbox reader other than Thunderbird reads (mutt, NeoMutt, Dovecot,
// Python's mailbox): "Status:" with R (read) and O (old: seen by a client, not new), and
// "X-Status:" with A (answered), F (flagged), T (draft) and D (deleted). Tindale writes them
// beside Thunderbird's X-Mozilla-Status so that every reader sees the same state.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/stores/MessageState.h"

namespace tindale::store {

// Letters of the two lines, as bits.
enum MboxStatusBit : uint8_t {
    kMboxRead = 1,
    kMboxOld = 2,
    kMboxAnswered = 4,
    kMboxFlagged = 8,
    kMboxDraft = 16,
    kMboxDeleted = 32,
    kMboxHasStatus = 64,  // the message carries either line
};

// "Status: RO\nX-Status: AF\n" for a state (nothing for new mail with no flag).
std::string MboxStatusHeaders(const MessageState& state);
// The bits of one header line when it is a Status: or X-Status: line, else 0.
uint8_t MboxStatusBitsOf(std::string_view line);
bool IsMboxStatusLine(std::string_view line);
// Maildir flag letters of the bits (S, R, F, D, T), and whether the message is still new.
std::string FlagsOfMboxStatus(uint8_t bits);
bool IsNewByMboxStatus(uint8_t bits);

}  // namespace tindale::store

namespace tindale::store {

// Whether a header line is one of the state lines an mbox writer adds (Thunderbird's
// X-Mozilla-Status, -Status2, -Keys; Status:, X-Status:).
bool IsMboxStateLine(std::string_view line);
// Whether a message (from its start) has a Status: or X-Status: header.
bool HasMboxStatus(std::string_view message);
// A message without those lines in its header: the bytes it had before it entered the mbox.
std::string WithoutMboxState(std::string_view message);

// Drops those lines from a message's header as its bytes stream past, piece by piece.
class MboxStateFilter {
  public:
    void Feed(std::string_view in, std::string& out);
    void Finish(std::string& out);

  private:
    void Line(std::string_view line, std::string& out);
    bool inHeaders_ = true;
    std::string partial_;
};

}  // namespace tindale::store
