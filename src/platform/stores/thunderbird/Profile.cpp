#include "platform/stores/thunderbird/Profile.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tindale::store {

std::optional<std::string> RunningThunderbirdProfile(const std::string& storeRoot) {
    // PROFILE/Mail/ACCOUNT: the profile is two levels up.
    std::string profile = storeRoot;
    for (int up = 0; up < 2; ++up) {
        auto slash = profile.find_last_of('/');
        if (slash == std::string::npos || slash == 0) return std::nullopt;
        profile.resize(slash);
    }
    // A running Thunderbird holds a lock on .parentlock; "lock" names its process.
    int fd = ::open((profile + "/.parentlock").c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        bool held = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
        ::close(fd);
        if (held) return profile;
    }
    char target[256] = {};
    ssize_t n = ::readlink((profile + "/lock").c_str(), target, sizeof target - 1);
    if (n > 0) {
        std::string text(target, static_cast<size_t>(n));
        auto plus = text.rfind('+');
        pid_t pid = plus == std::string::npos ? 0 : std::atoi(text.c_str() + plus + 1);
        if (pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM)) return profile;
    }
    return std::nullopt;
}

std::string ThunderbirdWriteRefusal(const std::string& storeRoot) {
    if (auto profile = RunningThunderbirdProfile(storeRoot))
        return "Thunderbird has the profile " + *profile +
               " open; quit Thunderbird and try again (its folders are only read meanwhile)";
    return {};
}

void DropThunderbirdSummary(const std::string& folder) {
    ::unlink((folder + ".msf").c_str());
}

}  // namespace tindale::store
