#pragma once
// What a message is on the wire and in this program's terms: IMAP flags and keywords as
// Maildir letters and names, INTERNALDATE as seconds, FETCH results as ImapMessage, and
// the libetpan structures built for APPEND, STORE and UID sets.
#include <cstdint>
#include <string>
#include <vector>

struct mailimap_date_time;
struct mailimap_flag_list;
struct mailimap_msg_att;
struct mailimap_set;

namespace tindale::store {

struct ImapMessage {
    uint32_t uid = 0;
    uint32_t size = 0;
    std::string flags;  // as Maildir letters: D F P R S T
    std::vector<std::string> keywords;
    int64_t internalDate = 0;  // seconds since the epoch, UTC
    std::string header;        // a fetched section (header or whole message), when asked for
};

// What a message is given when it is appended or its flags are set.
struct ImapFlags {
    std::string letters;  // Maildir letters
    std::vector<std::string> keywords;
};

namespace imapwire {

int64_t EpochOf(const mailimap_date_time& date);
// A new date-time for `epoch` in UTC (the caller frees it).
mailimap_date_time* DateTimeOf(int64_t epoch);
// One FETCH response's attributes.
ImapMessage MessageOf(mailimap_msg_att* att);
// The flags and keywords of a message to append or store (the caller frees the list).
mailimap_flag_list* FlagListOf(const ImapFlags& flags);
// UIDs as a set of ranges (the caller frees it).
mailimap_set* SetOf(std::vector<uint32_t> uids);

}  // namespace imapwire

}  // namespace tindale::store
