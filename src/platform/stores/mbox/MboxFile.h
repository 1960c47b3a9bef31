#pragma once
// One mail folder kept as an mbox file, as Thunderbird keeps its local folders: messages one
// after another, each after a "From " separator line; lines of a message are quoted the
// mboxrd way (MboxQuoting), and a blank line ends each message. Thunderbird keeps a
// message's state in its "X-Mozilla-Status" header (hex bits: 0x1 read, 0x2 replied, 0x4
// flagged, 0x8 deleted, 0x1000 forwarded) and "X-Mozilla-Keys"; other readers in "Status:"
// and "X-Status:" (MboxStatus.h). Both are written, either is read, and a message leaves
// the folder without them: their state travels as the message's state.
//
// Message ids are persistent: each message is keyed by a hash of its bytes and its size
// (a second identical message by the same key with "#2"), and the keys' ids are kept in an
// id map outside the mail client's folder (`idsPath`), so that nothing but mbox files and
// their .msf indexes ever sits in a Thunderbird profile. Writing removes the folder's .msf
// index, which Thunderbird then rebuilds from the mbox.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/IdMap.h"
#include "platform/MessageFiles.h"
#include "platform/stores/MessageState.h"

namespace tindale::store {

class MboxFile {
  public:
    // An empty `idsPath` keeps ids for this object's life only.
    MboxFile(std::string path, std::string idsPath)
        : path_(std::move(path)), idsPath_(std::move(idsPath)) {}

    struct Message {
        uint64_t from = 0;      // where its separator line starts
        uint64_t start = 0;     // where its bytes start
        uint64_t length = 0;    // its bytes, without the blank line that ends it
        uint64_t statusAt = 0;  // the 4 hex digits of X-Mozilla-Status; 0 when it has none
        int64_t arrival = 0;    // the separator line's date, Unix seconds; 0 when unreadable
        uint16_t status = 0;
        uint8_t mboxStatus = 0;  // MboxStatusBit of its Status: and X-Status: lines
    };

    // Reads the file once: every message's place, state and id. 0, or an errno value.
    int Load();
    bool Loaded() const { return loaded_; }
    const MessageFiles& Files() const { return files_; }  // "@OFFSET" per id, for reports
    std::optional<Message> Find(uint32_t id) const;
    size_t Unread() const;
    // Entries Thunderbird marks deleted, waiting for compaction: not messages, not listed.
    size_t Hidden() const { return hidden_; }
    // Entries larger than any message (kMaxMessageBytes): not listed either.
    const std::vector<Message>& Oversized() const { return oversized_; }

    // The message's bytes in a new unnamed file, read from its start, without the state
    // lines of its header; -1 on failure.
    int OpenCopy(const Message& message) const;
    std::string ReadHeaders(const Message& message) const;
    MessageState StateOf(const Message& message) const;

    // Whether the folder holds a message with exactly these bytes (as they would be stored).
    bool Holds(int fd);
    bool Holds(std::string_view candidate);
    // Appends a message (its bytes read from `fd`) with its state: under a lock, synced, the
    // .msf index removed. Returns its id, or none.
    std::optional<uint32_t> Append(int fd, const MessageState* state);
    // Writes the folder again without these messages, to a temporary file renamed over it:
    // a reader sees the old folder or the new one, never half of one. 0, or an errno value.
    int Remove(const std::vector<uint32_t>& ids);
    // Gives a message these Maildir flags: in place where only X-Mozilla-Status holds them,
    // else by writing the folder again with its state lines made anew.
    bool SetFlags(uint32_t id, const std::string& flags);
    int SaveIds();

    const std::string& Path() const { return path_; }

  private:
    void AddKey(std::string key, uint32_t* idOut, const Message& message);
    struct Run {
        std::vector<uint32_t> known;
        std::vector<std::string> fresh;
    };
    Run AssignRun(const std::string& base, size_t count);
    void DropIndexFile() const;
    // Writes the folder again through `copy` (given the folder, the new file and the folder's
    // size) to a temporary renamed over it, under the folder's lock. 0, or an errno value.
    int WriteAgain(const std::function<bool(int in, int out, uint64_t size)>& copy);
    // The folder without the messages marked in `drop`.
    int Rewrite(const std::vector<bool>& drop);
    // Writes the folder again with the bytes from `begin` to `end` replaced by `with`.
    int ReplaceRange(uint64_t begin, uint64_t end, const std::string& with);

    std::string path_;
    std::string idsPath_;
    IdMap ids_;
    MessageFiles files_;
    std::vector<Message> messages_;                    // in file order
    std::vector<std::pair<uint32_t, uint32_t>> byId_;  // id -> index in messages_, by id
    size_t hidden_ = 0;
    // Where the folder ended when Holds was first asked: messages from here on were added by
    // this job, and are no copies of the ones it adds next.
    uint64_t holdsBoundary_ = UINT64_MAX;
    std::vector<Message> oversized_;
    bool loaded_ = false;
    bool dirty_ = false;
};

// Whether a file is an mbox folder: empty, or starting with a "From " line.
bool IsMboxFile(const std::string& path);

}  // namespace tindale::store
