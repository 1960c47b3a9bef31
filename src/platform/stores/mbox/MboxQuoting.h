#pragma once
// mboxrd quoting, as Thunderbird, mutt and Python's mailbox read and write it: a line of a
// message that matches ">*From " gains one ">" when written into an mbox and loses it when
// read back, so every message leaves the mbox with the bytes it entered with.
#include <string>
#include <string_view>

namespace tindale::store {

// The bytes a message takes in an mbox: quoted, with a newline at the end when it had none.
std::string QuoteForMbox(std::string_view message);

// Undoes the quoting of a message read from an mbox, fed in pieces of any size.
class MboxUnquoter {
  public:
    // Appends the unquoted form of `piece` to `out`.
    void Feed(std::string_view piece, std::string& out);
    // Appends what is still held (a line start that was too short to decide).
    void Finish(std::string& out);

  private:
    bool deciding_ = true;  // at a line's start, until it is known whether it is quoted
    std::string head_;      // the line's first bytes while deciding
};

std::string UnquoteFromMbox(std::string_view stored);

}  // namespace tindale::store
