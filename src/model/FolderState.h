#pragma once
// What a mail folder's record carries beside its name: whether the folder is a mere parent
// of its subfolders (IMAP's \Noselect: it has no maildir of its own), and the files its mail
// clients keep beside its messages (ClientFiles.h), with the number of messages they
// describe. A folder with neither has no payload, as in older archives; readers that know
// nothing of it read a folder record's payload as nothing.
//
//   0 "TZMF" | 4 version 1 | 5 attributes (bit 0: a mere parent) | 6 0 0 | 8 u32 messages
//   | 12 u32 number of files | 16 each file: u16 name length, name (UTF-8), u32 size, bytes
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Streams.h"

namespace v {

struct FolderState {
    bool mereParent = false;
    uint32_t messages = 0;  // in the folder when its files were read
    struct File {
        std::string name;
        std::string content;
    };
    std::vector<File> files;
    bool Empty() const { return !mereParent && files.empty(); }
};

// The bytes written; 0 for a state that is Empty() (nothing is written then).
uint64_t WriteFolderState(const FolderState& state, BasicStream& out);
// The state in a folder record's payload; none for an empty or unreadable payload. Files of
// names no client uses are dropped.
std::optional<FolderState> ReadFolderState(BasicStream& in);

// The mail folder at a backup: its state, read from the identity's store.
FolderState ReadStoreFolderState(const std::u16string& identityId, uint32_t folderId,
                                 bool selectable);

// A client's sync state held back until the messages it describes are back in its folder:
// written before them, it would tell the client that the missing ones were deleted.
struct PendingClientFile {
    std::u16string identityId;
    std::u16string folderPath;
    FolderState::File file;
    uint32_t messages = 0;
};

// Restores a mail folder from its record: makes it (a mere parent is only made as its
// subfolders need it), merges its subscriptions, and writes its clients' files back where
// the folder holds no mail yet; sync state is handed back to be written once the folder's
// messages are restored (PublishClientFiles).
void RestoreStoreFolder(const std::u16string& identityId, const std::u16string& path,
                        const std::optional<FolderState>& state,
                        std::vector<PendingClientFile>& later);
// Writes held-back sync state into folders that now hold every message it describes;
// reports the others, whose clients will treat the folder as new to them.
void PublishClientFiles(std::vector<PendingClientFile>& pending);

}  // namespace v
