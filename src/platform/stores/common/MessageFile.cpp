#include "platform/stores/common/MessageFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
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

std::optional<std::string> ReadRegularFile(const std::string& path, uint64_t maxBytes) {
    struct stat st {};
    int fd = OpenRegularFile(path, st);
    if (fd < 0) return std::nullopt;
    if (static_cast<uint64_t>(st.st_size) > maxBytes) {  // never held whole
        ::close(fd);
        errno = EFBIG;
        return std::nullopt;
    }
    std::string bytes = ReadAllFrom(fd);
    ::close(fd);
    return bytes;
}

std::string ReadAllFrom(int fd) {
    std::string out;
    char buffer[65536];
    off_t at = 0;
    for (ssize_t n; (n = ::pread(fd, buffer, sizeof buffer, at)) > 0; at += n)
        out.append(buffer, static_cast<size_t>(n));
    return out;
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
    p.identityHash = info.identityHash;
    p.received = FileTimeFromUnix(info.received.value_or(fallbackTime));
    p.sent = FileTimeFromUnix(info.sent.value_or(info.received.value_or(fallbackTime)));
    return p;
}

HRESULT DeleteMessageFiles(const std::vector<uint32_t>& ids,
                           const std::function<std::optional<std::string>(uint32_t)>& locate,
                           const std::function<void(uint32_t)>& forget) {
    size_t missing = 0;
    HRESULT result = S_OK;
    for (uint32_t id : std::set<uint32_t>(ids.begin(), ids.end())) {
        auto path = locate(id);
        if (!path) {
            ++missing;
            continue;
        }
        if (::unlink(path->c_str()) != 0) {
            if (errno != ENOENT) {
                result = E_FAIL;
                continue;
            }
            ++missing;
        }
        forget(id);
    }
    return result == S_OK && missing > 0 ? S_FALSE : result;
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
