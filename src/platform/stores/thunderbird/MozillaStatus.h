#pragma once
// The state Thunderbird keeps inside a message, in its "X-Mozilla-Status" header (hex bits:
// 0x1 read, 0x2 replied, 0x4 flagged, 0x8 deleted, 0x1000 forwarded), whichever store
// Thunderbird keeps the message in (mbox or one file per message).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/stores/MessageState.h"

namespace tindale::store {

// The bit of an entry Thunderbird has deleted and will drop at the folder's next compaction.
inline constexpr uint16_t kMozillaExpunged = 0x0008;

// X-Mozilla-Status bits as Maildir flag letters and back. A message marked for deletion
// ("T") keeps no bit: 0x8 is Thunderbird's expunged, which hides the message for good.
std::string FlagsOfMozillaStatus(uint16_t status);
uint16_t MozillaStatusOf(std::string_view flags);

// The header lines Thunderbird reads a message's state from, for a message without them;
// keywords go to "X-Mozilla-Keys" (lowercase, as Thunderbird keeps its tags), padded so that
// Thunderbird can tag the message in place.
std::string MozillaStatusHeaders(uint16_t status, const std::vector<Keyword>& keywords = {});
// A message going into one of Thunderbird's stores with `state`: one without Thunderbird's
// headers gets them, followed by `otherLines` (the lines other readers of the store read);
// unread mail with no flag, no keyword and no other line keeps its bytes as they were.
std::string WithMozillaState(std::string message, const MessageState* state,
                             const std::string& otherLines = {});
// The keywords of a header block's "X-Mozilla-Keys" (letter 0: Thunderbird keeps names).
std::vector<Keyword> MozillaKeywordsIn(std::string_view headers);
// Whether a message (its bytes from the start) carries an X-Mozilla-Status header.
bool HasMozillaStatus(std::string_view message);
// A message without the header lines Thunderbird rewrites as the person reads and tags it
// (X-Mozilla-Status, -Status2, -Keys): a copy is the same message whatever they say.
std::string WithoutMozillaState(std::string_view message);
bool IsMozillaStateLine(std::string_view line);
// The X-Mozilla-Status of a header block, and where its four hex digits start; none when
// it has no such header.
struct MozillaStatusField {
    uint16_t status = 0;
    size_t digitsAt = 0;
};
std::optional<MozillaStatusField> FindMozillaStatus(std::string_view headers);

}  // namespace tindale::store
