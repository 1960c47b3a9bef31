#include "platform/stores/PendingMessage.h"

#include <unistd.h>

namespace tindale::store {

PendingMessage::~PendingMessage() {
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

}  // namespace tindale::store
