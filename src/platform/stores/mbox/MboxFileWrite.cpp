// Writing an mbox folder: appending a message, and writing the folder again without some
// messages or with a status header added.
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

bool CopyRange(int from, uint64_t start, uint64_t length, int to) {
    std::vector<char> buffer(1 << 16);
    while (length > 0) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(length, buffer.size()));
        ssize_t n = ::pread(from, buffer.data(), want, static_cast<off_t>(start));
        if (n <= 0) return false;
        if (!v::WriteAllToFd(to, buffer.data(), static_cast<size_t>(n))) return false;
        start += static_cast<uint64_t>(n);
        length -= static_cast<uint64_t>(n);
    }
    return true;
}

std::string SeparatorLine(int64_t arrival) {
    std::time_t when = arrival != 0 ? static_cast<std::time_t>(arrival) : std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&when, &tm);
    char text[64];
    std::strftime(text, sizeof text, "From - %a %b %e %H:%M:%S %Y\n", &tm);
    return text;
}

// A message about to enter the folder with `state`: Thunderbird's state lines and the ones
// other readers read, unless it carries state lines already (a message that came from an
// mbox) or is new mail with no flag and no keyword (its bytes stay as they were).
std::string WithStateLines(std::string message, const MessageState* state) {
    if (!state || HasMboxStatus(message)) return message;
    return WithMozillaState(std::move(message), state, MboxStatusHeaders(*state));
}

}  // namespace

std::optional<uint32_t> MboxFile::Append(int fd, const MessageState* state) {
    if (!loaded_ && Load() != 0) return std::nullopt;
    std::string message = WithStateLines(ReadAllFrom(fd), state);
    std::string body = QuoteForMbox(message);
    int out = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (out < 0) return std::nullopt;
    ::flock(out, LOCK_EX);
    struct stat st {};
    ::fstat(out, &st);
    // The separator must start a line after a blank one, whatever the file ended with.
    std::string lead;
    if (st.st_size > 0) {
        char tail[2] = {};
        int reader = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        ssize_t n =
            reader >= 0 ? ::pread(reader, tail, 2, st.st_size >= 2 ? st.st_size - 2 : 0) : 0;
        if (reader >= 0) ::close(reader);
        std::string_view end(tail, static_cast<size_t>(std::max<ssize_t>(n, 0)));
        if (!end.ends_with("\n\n")) lead = end.ends_with("\n") ? "\n" : "\n\n";
    }
    std::string separator = SeparatorLine(state && state->known ? state->arrivalSeconds : 0);
    std::string all = lead + separator + body + "\n";
    bool ok = v::WriteAllToFd(out, all.data(), all.size()) && ::fsync(out) == 0;
    ::close(out);
    if (!ok) return std::nullopt;
    DropIndexFile();
    Message added;
    added.from = static_cast<uint64_t>(st.st_size) + lead.size();
    added.start = added.from + separator.size();
    added.length = body.size();
    added.arrival = state && state->known ? state->arrivalSeconds : 0;
    uint32_t id = 0;
    std::string compared = WithoutMboxState(body);
    AddKey(KeyFor(Fnv(kFnvStart, compared), compared.size()), &id, added);
    return id;
}

int MboxFile::Remove(const std::vector<uint32_t>& ids) {
    if (!loaded_) Load();
    std::vector<bool> drop(messages_.size(), false);
    for (uint32_t id : ids) {
        auto it =
            std::lower_bound(byId_.begin(), byId_.end(), std::pair<uint32_t, uint32_t>{id, 0});
        if (it != byId_.end() && it->first == id) drop[it->second] = true;
    }
    if (int error = Rewrite(drop)) return error;
    // The removed messages' keys go, so that their ids are never given to a remaining copy.
    std::vector<uint32_t> gone(ids.begin(), ids.end());
    std::sort(gone.begin(), gone.end());
    ids_.Retain([&](std::string_view, uint32_t id) {
        return !std::binary_search(gone.begin(), gone.end(), id);
    });
    dirty_ = true;
    return Load();
}

int MboxFile::WriteAgain(const std::function<bool(int in, int out, uint64_t size)>& copy) {
    int in = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (in < 0) return errno;
    ::flock(in, LOCK_EX);
    struct stat st {};
    ::fstat(in, &st);
    std::string temp = path_ + ".tindale-new";
    int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                     st.st_mode & 07777);
    bool ok = out >= 0 && copy(in, out, static_cast<uint64_t>(st.st_size)) && ::fsync(out) == 0;
    if (out >= 0) ok = ::close(out) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path_.c_str()) == 0;
    int error = ok ? 0 : errno ? errno : EIO;
    ::close(in);
    if (!ok) {
        ::unlink(temp.c_str());
        return error;
    }
    durable::SyncParentDirectory(path_);
    DropIndexFile();
    return 0;
}

int MboxFile::Rewrite(const std::vector<bool>& drop) {
    return WriteAgain([&](int in, int out, uint64_t size) {
        // Kept messages are copied as they lie, separator and ending included; whatever
        // comes before the first separator stays too.
        uint64_t kept = 0;
        bool ok = true;
        for (size_t i = 0; ok && i <= messages_.size(); ++i) {
            uint64_t end = i < messages_.size() ? messages_[i].from : size;
            if (i == 0 || !drop[i - 1]) ok = CopyRange(in, kept, end - kept, out);
            kept = end;
        }
        return ok;
    });
}

bool MboxFile::SetFlags(uint32_t id, const std::string& flags) {
    auto message = Find(id);
    if (!message) return false;
    uint16_t status = static_cast<uint16_t>((message->status & ~0x100F) | MozillaStatusOf(flags));
    if (message->statusAt == 0 || (message->mboxStatus & kMboxHasStatus)) {
        // State lines to make anew: the message's header is written again with them.
        std::string headers = ReadHeaders(*message);
        MessageState state = StateOf(*message);
        state.flags = flags;
        state.inNew = false;  // a client has seen it now
        std::string fresh = MozillaStatusHeaders(status, MozillaKeywordsIn(headers)) +
                            MboxStatusHeaders(state) + WithoutMboxState(headers);
        if (ReplaceRange(message->start, message->start + headers.size(), fresh) != 0) return false;
        return Load() == 0;
    }
    char digits[5];
    std::snprintf(digits, sizeof digits, "%04x", status);
    int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    bool ok =
        ::pwrite(fd, digits, 4, static_cast<off_t>(message->statusAt)) == 4 && ::fsync(fd) == 0;
    ::close(fd);
    if (ok) {
        for (auto& m : messages_)
            if (m.statusAt == message->statusAt) m.status = status;
        DropIndexFile();
    }
    return ok;
}

int MboxFile::ReplaceRange(uint64_t begin, uint64_t end, const std::string& with) {
    return WriteAgain([&](int in, int out, uint64_t size) {
        return begin <= end && end <= size && CopyRange(in, 0, begin, out) &&
               v::WriteAllToFd(out, with.data(), with.size()) &&
               CopyRange(in, end, size - end, out);
    });
}

}  // namespace tindale::store
