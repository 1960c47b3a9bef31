#include "platform/stores/common/FolderCopies.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/stores/common/MessageIndex.h"

namespace tindale::store {

bool SameBytes(std::span<const uint8_t> bytes, int fd) {
    constexpr size_t kChunk = 65536;
    std::vector<uint8_t> x(kChunk);
    size_t at = 0;
    for (;;) {
        ssize_t n = ::pread(fd, x.data(), kChunk, static_cast<off_t>(at));
        if (n < 0) return false;
        if (n == 0) return at == bytes.size();
        if (static_cast<size_t>(n) > bytes.size() - at ||
            std::memcmp(x.data(), bytes.data() + at, static_cast<size_t>(n)) != 0)
            return false;
        at += static_cast<size_t>(n);
    }
}

bool SameBytes(int a, int b) {
    constexpr size_t kChunk = 65536;
    std::vector<char> x(kChunk), y(kChunk);
    for (off_t at = 0;; at += static_cast<off_t>(kChunk)) {
        ssize_t n = ::pread(a, x.data(), kChunk, at);
        ssize_t m = ::pread(b, y.data(), kChunk, at);
        if (n != m || n < 0) return false;
        if (n == 0) return true;
        if (std::memcmp(x.data(), y.data(), static_cast<size_t>(n)) != 0) return false;
    }
}

namespace {

// A 64-bit FNV-1a of a file's bytes: cheap, and only a first sieve (equal ones are then
// compared byte for byte).
constexpr uint64_t kHashStart = 14695981039346656037ull;

uint64_t ContentHash(std::span<const uint8_t> bytes, uint64_t hash = kHashStart) {
    for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
    return hash;
}

uint64_t ContentHash(int fd) {
    uint64_t hash = kHashStart;
    uint8_t buffer[65536];
    off_t at = 0;
    for (ssize_t n; (n = ::pread(fd, buffer, sizeof buffer, at)) > 0; at += n)
        hash = ContentHash({buffer, static_cast<size_t>(n)}, hash);
    return hash;
}

std::unique_ptr<FolderCopies::Contents> FilesBySize(const std::string& dir) {
    auto out = std::make_unique<FolderCopies::Contents>();
    for (const char* sub : {"cur", "new"}) {
        int folder = ::open((dir + "/" + sub).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ForEachMessageFile(dir + "/" + sub, [&](const char* name) {
            struct stat st {};
            if (folder < 0 || ::fstatat(folder, name, &st, 0) != 0 || !S_ISREG(st.st_mode)) return;
            out->bySize.push_back(
                {static_cast<uint64_t>(st.st_size), 0, static_cast<uint32_t>(out->names.size())});
            out->names.append(sub).append("/").append(name).push_back('\0');
        });
        if (folder >= 0) ::close(folder);
    }
    std::sort(out->bySize.begin(), out->bySize.end(),
              [](const auto& a, const auto& b) { return a.size < b.size; });
    return out;
}

}  // namespace

bool FolderCopies::Holds(const std::string& dir, int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    return Holds(
        dir, static_cast<uint64_t>(st.st_size), [fd] { return ContentHash(fd); },
        [fd](int other) { return SameBytes(fd, other); });
}

bool FolderCopies::Holds(const std::string& dir, std::span<const uint8_t> bytes) {
    return Holds(
        dir, bytes.size(), [bytes] { return ContentHash(bytes); },
        [bytes](int other) { return SameBytes(bytes, other); });
}

template <class Hash, class Same>
bool FolderCopies::Holds(const std::string& dir, uint64_t size, Hash hashOfCandidate,
                         Same sameAsCandidate) {
    auto known = folders_.find(dir);
    if (known == folders_.end()) known = folders_.emplace(dir, FilesBySize(dir)).first;
    auto& contents = *known->second;
    auto [first, last] =
        std::equal_range(contents.bySize.begin(), contents.bySize.end(), Contents::File{size, 0, 0},
                         [](const auto& a, const auto& b) { return a.size < b.size; });
    if (first == last) return false;
    uint64_t hash = hashOfCandidate();
    auto open = [&](const Contents::File& file) {
        std::string path = dir + "/" + (contents.names.data() + file.name);
        return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    };
    for (auto it = first; it != last; ++it) {
        auto& file = *it;
        if (file.hash == 0) {
            int other = open(file);
            if (other < 0) continue;  // renamed by another client meanwhile: not counted
            file.hash = ContentHash(other);
            ::close(other);
        }
        if (file.hash != hash) continue;
        int other = open(file);
        bool same = other >= 0 && sameAsCandidate(other);
        if (other >= 0) ::close(other);
        if (same) return true;
    }
    return false;
}

}  // namespace tindale::store
