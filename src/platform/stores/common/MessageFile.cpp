#include "platform/stores/common/MessageFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace tindale::store {

int OpenRegularFile(const std::string& path, struct stat& st) {
    // O_NONBLOCK changes nothing for a regular file's reads, so it stays set.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

MessageProps PropsFromHeaders(uint32_t id, const mail::HeaderInfo& info, uint64_t size,
                              int64_t fallbackTime) {
    MessageProps p;
    p.messageId = id;
    p.size = static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX));
    p.subject = info.subject;
    p.normalSubject = info.normalSubject;
    p.displayFrom = info.from;
    p.displayTo = info.to;
    p.internetMessageId = info.messageId;
    p.receivedFromFile = !info.received;
    p.received = FileTimeFromUnix(info.received.value_or(fallbackTime));
    p.sent = FileTimeFromUnix(info.sent.value_or(info.received.value_or(fallbackTime)));
    return p;
}

void ReadFilesProps(std::span<const uint32_t> ids, const std::vector<std::string>& paths,
                    std::span<MessageProps> out, const FileProps& propsOf) {
    size_t count = ids.size();
    auto readOne = [&](size_t i) {
        struct stat st {};
        int fd = paths[i].empty() ? -1 : OpenRegularFile(paths[i], st);
        std::string headers = fd >= 0 ? mail::ReadHeaderBlock(fd) : std::string();
        if (fd >= 0) ::close(fd);
        out[i] = propsOf(ids[i], paths[i], st, headers);
    };
    unsigned threads =
        count < 256 ? 1 : std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
    auto work = [&](unsigned stripe) {
        for (size_t i = stripe; i < count; i += threads) readOne(i);
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work, t);
    work(0);
    for (auto& t : pool) t.join();
}

}  // namespace tindale::store
