#pragma once
// The property blocks of the mail store: FOLDERPROPS (280 bytes) and MESSAGEPROPS (68 bytes
// on the wire, the 32-bit layout, with its pointer fields written as 0).
#include <array>
#include <cstdint>
#include <string>

namespace tindale::store {

enum SpecialFolder : int32_t {
    kNotSpecial = -1,
    kInbox = 0,
    kOutbox = 1,
    kSentItems = 2,
    kDeletedItems = 3,
    kDrafts = 4
};

struct FolderProps {
    static constexpr size_t kSize = 280;
    uint32_t folderId = 0;
    int32_t subFolders = 0;
    int32_t type = kNotSpecial;
    uint32_t unread = 0;
    uint32_t messages = 0;
    std::string name;  // UTF-8, at most 255 bytes on the wire
    // False for a folder that only holds subfolders and cannot hold messages as it is (a
    // parent without a maildir of its own, IMAP's \Noselect). Not on the wire.
    bool selectable = true;

    std::array<uint8_t, kSize> ToBytes() const;
    static FolderProps FromBytes(const uint8_t* bytes);
};

struct MessageProps {
    static constexpr size_t kSize = 68;
    uint32_t messageId = 0;
    uint16_t language = 0;
    uint32_t state = 0;  // bit 0x1: read
    uint32_t size = 0;
    uint32_t priority = 0;
    uint64_t received = 0;  // FILETIME: 100 ns units since 1601-01-01 UTC
    uint64_t sent = 0;
    uint32_t flags = 0;
    // Held in memory only; on the wire these are pointer fields and read as 0.
    std::string subject, displayTo, displayFrom, normalSubject;
    std::string internetMessageId;  // the Message-ID header, empty when there is none
    bool receivedFromFile = false;  // no header gave a time: `received` is the file's time
    uint64_t identityHash = 0;      // see mail::HeaderInfo::identityHash

    std::array<uint8_t, kSize> ToBytes() const;
    static MessageProps FromBytes(const uint8_t* bytes);
};

inline constexpr uint32_t kMessageRead = 0x1;

// Seconds since the Unix epoch to FILETIME and back.
uint64_t FileTimeFromUnix(int64_t seconds);
int64_t UnixFromFileTime(uint64_t fileTime);

}  // namespace tindale::store
