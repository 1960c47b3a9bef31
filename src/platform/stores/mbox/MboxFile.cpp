#include "platform/stores/mbox/MboxFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>

#include "base/AtomicFile.h"
#include "base/Streams.h"
#include "platform/stores/StoreBooks.h"
#include "platform/stores/common/MessageFile.h"
#include "platform/stores/mbox/MboxKeys.h"
#include "platform/stores/mbox/MboxQuoting.h"
#include "platform/stores/mbox/MboxStatus.h"
#include "platform/stores/thunderbird/MozillaStatus.h"
#include "platform/stores/thunderbird/Profile.h"

namespace tindale::store {

using namespace mboxkeys;

namespace {

bool IsSeparator(std::string_view line) {
    return line.rfind("From ", 0) == 0;
}

bool IsExpunged(const MboxFile::Message& message) {
    return message.status & kMozillaExpunged;
}

bool IsRead(const MboxFile::Message& message) {
    return (message.status & 1) || (message.mboxStatus & kMboxRead);
}

bool IsBlank(std::string_view line) {
    return line == "\n" || line == "\r\n";
}

// "From SENDER Tue Jan  1 10:00:00 2024": the date after the sender, read as UTC.
int64_t SeparatorDate(std::string_view line) {
    std::string text(line.substr(5));
    auto space = text.find(' ');
    if (space == std::string::npos) return 0;
    std::tm tm{};
    const char* end = ::strptime(text.c_str() + space + 1, "%a %b %d %H:%M:%S %Y", &tm);
    return end ? static_cast<int64_t>(::timegm(&tm)) : 0;
}

// Calls `visit` with every line of a file (its newline included) and the line's offset.
// A line longer than kLongLine comes in pieces, all but the first with `lineStart` false, so
// that a file of gigabytes without a newline is never held whole. Stops early when `visit`
// returns false. 0, or an errno value.
constexpr size_t kLongLine = 64 << 10;

int ForEachLine(int fd,
                const std::function<bool(std::string_view, uint64_t, bool lineStart)>& visit) {
    std::vector<char> buffer(1 << 20);
    std::string carry;
    uint64_t at = 0;  // file offset of buffer[0], or of carry[0] while one is held
    bool lineStart = true;
    for (;;) {
        ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) break;
        std::string_view chunk(buffer.data(), static_cast<size_t>(n));
        size_t begin = 0;
        for (size_t nl; (nl = chunk.find('\n', begin)) != std::string_view::npos; begin = nl + 1) {
            std::string_view line = chunk.substr(begin, nl + 1 - begin);
            if (!carry.empty()) {
                carry.append(line);
                if (!visit(carry, at, lineStart)) return 0;
                at += carry.size();
                carry.clear();
            } else {
                if (!visit(line, at, lineStart)) return 0;
                at += line.size();
            }
            lineStart = true;
        }
        carry.append(chunk.substr(begin));
        if (carry.size() > kLongLine) {
            if (!visit(carry, at, lineStart)) return 0;
            at += carry.size();
            carry.clear();
            lineStart = false;
        }
    }
    if (!carry.empty()) visit(carry, at, lineStart);
    return 0;
}

int OpenUnnamed(const std::string& nearPath) {
    std::string dir = nearPath.substr(0, nearPath.find_last_of('/'));
    int fd = ::open(dir.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
    if (fd < 0) fd = ::memfd_create("tindale-message", MFD_CLOEXEC);
    return fd;
}

// Copies a stored message out of the mbox with its quoting undone.
bool CopyUnquoted(int from, uint64_t start, uint64_t length, int to) {
    std::vector<char> buffer(1 << 16);
    MboxUnquoter unquoter;
    MboxStateFilter filter;
    std::string out, unquoted;
    while (length > 0) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(length, buffer.size()));
        ssize_t n = ::pread(from, buffer.data(), want, static_cast<off_t>(start));
        if (n <= 0) return false;
        out.clear();
        unquoted.clear();
        unquoter.Feed({buffer.data(), static_cast<size_t>(n)}, unquoted);
        filter.Feed(unquoted, out);
        if (!v::WriteAllToFd(to, out.data(), out.size())) return false;
        start += static_cast<uint64_t>(n);
        length -= static_cast<uint64_t>(n);
    }
    out.clear();
    unquoted.clear();
    unquoter.Finish(unquoted);
    filter.Feed(unquoted, out);
    filter.Finish(out);
    return v::WriteAllToFd(to, out.data(), out.size());
}

}  // namespace

int MboxFile::Load() {
    SaveIds();
    messages_.clear();
    files_ = MessageFiles();
    byId_.clear();
    int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno != ENOENT) return errno;
    if (!idsPath_.empty()) {
        FileLock lock(idsPath_.substr(0, idsPath_.find_last_of('/')) + "/lock");
        ids_ = IdMap::Load(idsPath_);
    }
    size_t before = ids_.Size();
    uint64_t nextBefore = ids_.Next();
    std::vector<std::string> keys;  // per message, in file order
    if (fd >= 0) {
        Message current;
        bool open = false, inHeaders = false;
        uint64_t hash = kFnvStart;
        uint64_t hashed = 0;    // bytes that went into the hash
        std::string heldBlank;  // a blank line that may be the one ending the message
        auto finish = [&] {
            if (!open) return;
            keys.push_back(KeyFor(hash, hashed));
            messages_.push_back(current);
        };
        int error = ForEachLine(fd, [&](std::string_view line, uint64_t at, bool lineStart) {
            if (!lineStart) {  // the rest of a very long line: body bytes, nothing to read
                if (!open) return true;
                current.length += line.size();
                hash = Fnv(hash, line);
                hashed += line.size();
                return true;
            }
            // Every line that starts with "From " is a separator: writers quote such lines of
            // a message, and Thunderbird and Python's mailbox read them so.
            if (IsSeparator(line)) {
                finish();
                current = Message{at, at + line.size(), 0, 0, SeparatorDate(line), 0};
                open = inHeaders = true;
                hash = kFnvStart;
                hashed = 0;
                heldBlank.clear();
                return true;
            }
            if (!open) return true;  // bytes before the first separator belong to no message
            if (!heldBlank.empty()) {
                hash = Fnv(hash, heldBlank);
                hashed += heldBlank.size();
                current.length += heldBlank.size();
                heldBlank.clear();
            }
            if (IsBlank(line)) {
                inHeaders = false;
                heldBlank = line;
                return true;
            }
            if (inHeaders && line.rfind("X-Mozilla-Status: ", 0) == 0 && line.size() >= 22) {
                unsigned value = 0;
                if (std::sscanf(std::string(line.substr(18, 4)).c_str(), "%4x", &value) == 1) {
                    current.status = static_cast<uint16_t>(value);
                    current.statusAt = at + 18;
                }
            }
            if (inHeaders) current.mboxStatus |= MboxStatusBitsOf(line);
            current.length += line.size();
            if (inHeaders && IsMboxStateLine(line)) return true;
            hash = Fnv(hash, line);
            hashed += line.size();
            return true;
        });
        finish();
        ::close(fd);
        if (error) return error;
    }
    // A second message with the same bytes is keyed "#2", a third "#3", in file order. Keys
    // known before keep their ids; new keys get theirs in file order, so that listing by id
    // follows the folder's order.
    // Entries Thunderbird marks deleted (expunged, waiting for compaction) are no messages:
    // they get no id and are never listed, but stay in the file as they lie.
    // A "message" larger than any mail server takes (a sparse or damaged file) is left out too,
    // and named by the folder, rather than read whole.
    std::vector<uint32_t> order;
    oversized_.clear();
    for (size_t i = 0; i < messages_.size(); ++i)
        if (messages_[i].length > kMaxMessageBytes)
            oversized_.push_back(messages_[i]);
        else if (!IsExpunged(messages_[i]))
            order.push_back(static_cast<uint32_t>(i));
    hidden_ = messages_.size() - order.size() - oversized_.size();
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
    std::vector<uint32_t> idOf(messages_.size(), 0);
    std::vector<std::pair<uint32_t, std::string>> fresh;  // message, its new key
    for (size_t n = 0; n < order.size();) {
        size_t end = n + 1;
        while (end < order.size() && keys[order[end]] == keys[order[n]]) ++end;
        auto run = AssignRun(keys[order[n]], end - n);
        for (size_t k = n; k < end; ++k) {
            if (k - n < run.known.size())
                idOf[order[k]] = run.known[k - n];
            else
                fresh.emplace_back(order[k], std::move(run.fresh[k - n - run.known.size()]));
        }
        n = end;
    }
    std::sort(fresh.begin(), fresh.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [index, key] : fresh) idOf[index] = ids_.Assign(key);
    for (uint32_t i : order) byId_.emplace_back(idOf[i], i);
    keys.clear();
    std::sort(byId_.begin(), byId_.end());
    for (const auto& [id, index] : byId_) {
        files_.Append("@" + std::to_string(messages_[index].from));
        files_.Pending().back().id = id;
    }
    files_.SortById();
    bool pruned = ids_.Retain([&](std::string_view, uint32_t id) {
        return std::binary_search(byId_.begin(), byId_.end(), std::pair<uint32_t, uint32_t>{id, 0},
                                  [](auto& a, auto& b) { return a.first < b.first; });
    });
    dirty_ = pruned || ids_.Size() != before || ids_.Next() != nextBefore;
    loaded_ = true;
    return SaveIds();
}

int MboxFile::SaveIds() {
    if (!dirty_ || idsPath_.empty()) return 0;
    FileLock lock(idsPath_.substr(0, idsPath_.find_last_of('/')) + "/lock");
    int error = ids_.Save(idsPath_);
    if (error == 0) dirty_ = false;
    return error;
}

std::optional<MboxFile::Message> MboxFile::Find(uint32_t id) const {
    auto it = std::lower_bound(byId_.begin(), byId_.end(), std::pair<uint32_t, uint32_t>{id, 0});
    if (it == byId_.end() || it->first != id) return std::nullopt;
    return messages_[it->second];
}

size_t MboxFile::Unread() const {
    return static_cast<size_t>(
        std::count_if(messages_.begin(), messages_.end(),
                      [](const Message& m) { return !IsRead(m) && !IsExpunged(m); }));
}

int MboxFile::OpenCopy(const Message& message) const {
    int mbox = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (mbox < 0) return -1;
    int copy = OpenUnnamed(path_);
    bool ok = copy >= 0 && CopyUnquoted(mbox, message.start, message.length, copy) &&
              ::lseek(copy, 0, SEEK_SET) == 0;
    ::close(mbox);
    if (!ok && copy >= 0) ::close(copy);
    return ok ? copy : -1;
}

std::string MboxFile::ReadHeaders(const Message& message) const {
    int mbox = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (mbox < 0) return {};
    std::string block(static_cast<size_t>(std::min<uint64_t>(message.length, 65536)), '\0');
    ssize_t n = ::pread(mbox, block.data(), block.size(), static_cast<off_t>(message.start));
    ::close(mbox);
    block.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (auto end = block.find("\n\n"); end != std::string::npos) block.resize(end + 1);
    if (auto end = block.find("\r\n\r\n"); end != std::string::npos) block.resize(end + 2);
    return block;
}

MessageState MboxFile::StateOf(const Message& message) const {
    MessageState state;
    bool other = message.mboxStatus & kMboxHasStatus;
    std::string flags = message.statusAt != 0 || !other ? FlagsOfMozillaStatus(message.status) : "";
    if (other) flags += FlagsOfMboxStatus(message.mboxStatus);
    state.flags = MessageState::CleanFlags(flags);
    state.inNew = other ? IsNewByMboxStatus(message.mboxStatus) && !(message.status & 1)
                        : !(message.status & 1);
    state.arrivalSeconds = message.arrival;
    state.known = true;
    state.keywords = MozillaKeywordsIn(ReadHeaders(message));
    return state;
}

void MboxFile::DropIndexFile() const {
    DropThunderbirdSummary(path_);
}

bool MboxFile::Holds(int fd) {
    return Holds(ReadAllFrom(fd));
}

bool MboxFile::Holds(std::string_view candidate) {
    if (!loaded_) Load();
    if (holdsBoundary_ == UINT64_MAX) {
        struct stat st {};
        holdsBoundary_ = ::stat(path_.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }
    std::string bytes = WithoutMboxState(QuoteForMbox(candidate));
    std::string key = KeyFor(Fnv(kFnvStart, bytes), bytes.size());
    auto id = ids_.Find(key);
    auto message = id ? Find(*id) : std::nullopt;
    // A copy this job added does not count: two records of the same message in an archive
    // are two messages, as they were in their folder.
    if (!message || message->from >= holdsBoundary_) return false;
    int mbox = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (mbox < 0) return false;
    std::string stored(static_cast<size_t>(message->length), '\0');
    ssize_t n = ::pread(mbox, stored.data(), stored.size(), static_cast<off_t>(message->start));
    ::close(mbox);
    return n == static_cast<ssize_t>(stored.size()) && WithoutMboxState(stored) == bytes;
}

void MboxFile::AddKey(std::string key, uint32_t* idOut, const Message& message) {
    std::string base = key;
    for (int n = 2; ids_.Find(key) && Find(*ids_.Find(key)); ++n)
        key = base + "#" + std::to_string(n);
    uint32_t id = ids_.Assign(key);
    messages_.push_back(message);
    auto at = std::lower_bound(byId_.begin(), byId_.end(), std::pair<uint32_t, uint32_t>{id, 0});
    byId_.insert(at, {id, static_cast<uint32_t>(messages_.size() - 1)});
    files_.Set(id, "@" + std::to_string(message.from));
    dirty_ = true;
    *idOut = id;
}

// For `count` messages with the same bytes: the ids their keys had (in the order they were
// given), so that removing one copy hands no id to a different message, and new keys for
// the copies beyond them.
MboxFile::Run MboxFile::AssignRun(const std::string& base, size_t count) {
    Run run;
    auto keyAt = [&](size_t n) { return n == 1 ? base : base + "#" + std::to_string(n); };
    for (size_t n = 1; n <= 2 * count + 16; ++n)
        if (auto id = ids_.Find(keyAt(n))) run.known.push_back(*id);
    std::sort(run.known.begin(), run.known.end());
    run.known.resize(std::min(run.known.size(), count));
    for (size_t n = 1; run.known.size() + run.fresh.size() < count; ++n)
        if (!ids_.Find(keyAt(n))) run.fresh.push_back(keyAt(n));
    return run;
}

bool IsMboxFile(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (st.st_size == 0) return true;
    char head[5] = {};
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    return n == 5 && std::string_view(head, 5) == "From ";
}

}  // namespace tindale::store
