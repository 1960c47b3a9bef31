#include "platform/stores/common/MessageDirs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace tindale::store {

namespace {

bool IsRealDirectory(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "P<pid>Q" and ".<host>" are the same for every message of this process: made once.
struct NameParts {
    std::string pid = "P" + std::to_string(::getpid()) + "Q";
    std::string host = [] {
        char name[256] = "localhost";
        ::gethostname(name, sizeof name - 1);
        for (char* c = name; *c; ++c)
            if (*c == '/' || *c == ':') *c = '_';
        return "." + std::string(name);
    }();
};

// A message temporary of this program: "<seconds>.M<usec>P<pid>Q<count>.<host>".
bool OurTemporaryName(const std::string& name) {
    size_t at = name.find(".M");
    size_t p = name.find('P', at == std::string::npos ? 0 : at);
    size_t q = name.find('Q', p == std::string::npos ? 0 : p);
    return at != std::string::npos && p != std::string::npos && q != std::string::npos &&
           name.find('.', q) != std::string::npos && name.find_first_not_of("0123456789", 0) == at;
}

std::string RealPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    std::string out = real ? real : "";
    std::free(real);
    return out;
}

}  // namespace

bool IsMaildir(const std::string& dir) {
    return IsRealDirectory(dir + "/cur") && IsRealDirectory(dir + "/new");
}

bool EnsureMaildir(const std::string& dir, bool isSubfolder) {
    ::mkdir(dir.c_str(), 0700);
    for (const char* sub : {"/cur", "/new", "/tmp"}) ::mkdir((dir + sub).c_str(), 0700);
    if (isSubfolder)
        ::close(::open((dir + "/maildirfolder").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    return IsDirectory(dir + "/cur") && IsDirectory(dir + "/new") && IsDirectory(dir + "/tmp");
}

std::string NewUniqueName() {
    static std::atomic<unsigned> counter{0};
    static const NameParts parts;
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    return std::to_string(tv.tv_sec) + ".M" + std::to_string(tv.tv_usec) + parts.pid +
           std::to_string(++counter) + parts.host;
}

void RemoveStaleTemporaries(const std::string& tmp) {
    DIR* d = ::opendir(tmp.c_str());
    if (!d) return;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (!OurTemporaryName(name)) continue;
        int fd = ::openat(::dirfd(d), name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(::dirfd(d), name.c_str(), 0);
        ::close(fd);
    }
    ::closedir(d);
}

bool EnsureDirectory(const std::string& dir) {
    ::mkdir(dir.c_str(), 0700);
    return IsDirectory(dir);
}

bool EnsureDirectoryBelow(const std::string& dir, int levels) {
    if (IsDirectory(dir)) return true;
    auto slash = dir.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return false;
    std::string parent = dir.substr(0, slash);
    if (!IsDirectory(parent) && (levels <= 0 || !EnsureDirectoryBelow(parent, levels - 1)))
        return false;
    return EnsureDirectory(dir);
}

bool MakeParentsBelow(const std::string& root, const std::string& path) {
    for (size_t slash = path.find('/', root.size() + 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        std::string parent = path.substr(0, slash);
        ::mkdir(parent.c_str(), 0700);
        struct stat st {};
        // A link among them would carry whatever is made below it elsewhere.
        if (::lstat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    }
    return true;
}

bool ResolvesInside(const std::string& path, const std::string& root) {
    std::string real = RealPath(path), realRoot = RealPath(root);
    return !real.empty() && !realRoot.empty() &&
           (real == realRoot || real.compare(0, realRoot.size() + 1, realRoot + "/") == 0);
}

}  // namespace tindale::store
