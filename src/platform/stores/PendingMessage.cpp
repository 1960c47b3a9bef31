#include "platform/stores/PendingMessage.h"

#include <sys/mman.h>
#include <unistd.h>

namespace tindale::store {

std::unique_ptr<PendingMessage> PendingMessage::InMemory() {
    int fd = ::memfd_create("tindale-message", MFD_CLOEXEC);
    return fd < 0 ? nullptr : std::make_unique<PendingMessage>(fd);
}

PendingMessage::~PendingMessage() {
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

}  // namespace tindale::store
