#include "platform/stores/imap/MailboxIndex.h"

#include <algorithm>

#include "platform/MessageHeaders.h"
#include "platform/stores/common/MessageFile.h"

namespace tindale::store {

namespace {
// Read-ahead limits: enough small messages per round trip to keep the line busy, never more
// than a few MB held at once.
constexpr size_t kBatchMessages = 200;
constexpr uint64_t kBatchBytes = 8u << 20;
}  // namespace

bool MailboxIndex::Load() {
    loaded_ = false;
    readAhead_.clear();
    if (!connection_.Select(mailbox_, true, true)) return false;
    auto listed = connection_.FetchAll();
    if (!listed) return false;
    messages_ = std::move(*listed);
    props_.assign(messages_.size(), MessageProps{});
    for (size_t i = 0; i < messages_.size(); ++i) Absorb(i, {});
    ReadHeaders();
    files_ = {};
    byMessageId_.clear();
    unnamedBySize_.clear();
    for (size_t i = 0; i < messages_.size(); ++i) Index(i);
    loaded_ = true;
    return true;
}

// Headers a chunk at a time; a chunk the server cannot send is asked for message by message,
// so that one message it cannot read leaves only that one without a header (and named when
// it is backed up), not its folder.
void MailboxIndex::ReadHeaders() {
    constexpr size_t kChunk = 500;
    auto take = [&](uint32_t uid, std::string_view header) {
        auto it = std::lower_bound(messages_.begin(), messages_.end(), uid,
                                   [](const ImapMessage& m, uint32_t u) { return m.uid < u; });
        if (it != messages_.end() && it->uid == uid)
            Absorb(static_cast<size_t>(it - messages_.begin()), header);
    };
    for (size_t at = 0; at < messages_.size(); at += kChunk) {
        std::vector<uint32_t> uids;
        for (size_t i = at; i < std::min(messages_.size(), at + kChunk); ++i)
            uids.push_back(messages_[i].uid);
        if (connection_.FetchHeaders(uids, take)) continue;
        for (uint32_t uid : uids) connection_.FetchHeaders({uid}, take);
    }
}

// A message's properties from its header, kept instead of the header itself: a folder of
// many messages is held in a few hundred bytes each.
void MailboxIndex::Absorb(size_t at, std::string_view header) {
    const ImapMessage& message = messages_[at];
    MessageProps& props = props_[at];
    props = PropsFromHeaders(message.uid, mail::ParseHeaders(header), message.size,
                             message.internalDate);
    if (message.flags.find('S') != std::string::npos) props.state |= kMessageRead;
}

void MailboxIndex::Index(size_t at) {
    const ImapMessage& message = messages_[at];
    files_.Set(message.uid, "UID " + std::to_string(message.uid));
    const std::string& id = props_[at].internetMessageId;
    if (id.empty())
        unnamedBySize_.emplace(message.size, message.uid);
    else
        byMessageId_.emplace(id, message.size);
}

const MessageProps* MailboxIndex::PropsOf(uint32_t uid) const {
    const ImapMessage* message = Find(uid);
    return message ? &props_[static_cast<size_t>(message - messages_.data())] : nullptr;
}

const ImapMessage* MailboxIndex::Find(uint32_t uid) const {
    auto it = std::lower_bound(messages_.begin(), messages_.end(), uid,
                               [](const ImapMessage& m, uint32_t u) { return m.uid < u; });
    return it != messages_.end() && it->uid == uid ? &*it : nullptr;
}

std::vector<uint32_t> MailboxIndex::BatchFrom(uint32_t uid) const {
    std::vector<uint32_t> batch{uid};
    auto it = std::upper_bound(messages_.begin(), messages_.end(), uid,
                               [](uint32_t u, const ImapMessage& m) { return u < m.uid; });
    uint64_t bytes = Find(uid) ? Find(uid)->size : 0;
    for (; it != messages_.end() && batch.size() < kBatchMessages; ++it) {
        if (bytes + it->size > kBatchBytes) break;
        bytes += it->size;
        batch.push_back(it->uid);
    }
    return batch;
}

std::optional<std::string> MailboxIndex::Body(uint32_t uid, bool& failed) {
    failed = false;
    auto ready = readAhead_.find(uid);
    if (ready == readAhead_.end()) {
        readAhead_.clear();
        auto keep = [&](uint32_t got, std::string_view bytes) {
            readAhead_.emplace(got, std::string(bytes));
        };
        // A batch the server refuses may hold one message it cannot send: this one alone
        // is asked for then, so that only a message that cannot be read is reported.
        if (!connection_.Select(mailbox_, true) ||
            (!connection_.FetchBodies(BatchFrom(uid), keep) &&
             !connection_.FetchBodies({uid}, keep))) {
            failed = true;
            return std::nullopt;
        }
        ready = readAhead_.find(uid);
        if (ready == readAhead_.end()) return std::nullopt;
    }
    std::string bytes = std::move(ready->second);
    readAhead_.erase(ready);
    return bytes;
}

bool MailboxIndex::Holds(std::string_view bytes) {
    if (!loaded_ && !Load()) return false;
    auto id = mail::ParseHeaders(bytes).messageId;
    if (!id.empty()) {
        auto [from, to] = byMessageId_.equal_range(id);
        return std::any_of(from, to,
                           [&](const auto& entry) { return entry.second == bytes.size(); });
    }
    auto [from, to] = unnamedBySize_.equal_range(static_cast<uint32_t>(bytes.size()));
    for (auto it = from; it != to; ++it) {
        bool failed = false;
        auto there = Body(it->second, failed);
        if (there && *there == bytes) return true;
    }
    return false;
}

void MailboxIndex::Added(uint32_t uid, std::string_view bytes, const ImapFlags& flags,
                         int64_t date) {
    ImapMessage message;
    message.uid = uid;
    message.size = static_cast<uint32_t>(bytes.size());
    message.flags = flags.letters;
    message.keywords = flags.keywords;
    message.internalDate = date;
    if (uid != 0 && (messages_.empty() || messages_.back().uid < uid)) {
        messages_.push_back(message);
        props_.emplace_back();
        Absorb(messages_.size() - 1, bytes);
        Index(messages_.size() - 1);
    } else {
        auto id = mail::ParseHeaders(bytes).messageId;
        if (!id.empty()) byMessageId_.emplace(id, message.size);
    }
}

void MailboxIndex::Forget(const std::vector<uint32_t>& uids) {
    for (uint32_t uid : uids) {
        files_.Erase(uid);
        auto it = std::lower_bound(messages_.begin(), messages_.end(), uid,
                                   [](const ImapMessage& m, uint32_t u) { return m.uid < u; });
        if (it != messages_.end() && it->uid == uid) {
            props_.erase(props_.begin() + (it - messages_.begin()));
            messages_.erase(it);
        }
    }
}

bool MailboxIndex::SelectForChanges() {
    return connection_.Select(mailbox_, false).has_value();
}

}  // namespace tindale::store
