#pragma once
// A message being added to a folder: its bytes are written to `Fd()` and it becomes part of
// the folder only when the folder commits it. Dropped uncommitted, it leaves nothing behind:
// the descriptor is closed and the temporary file (if the kind made one) removed.
#include <memory>
#include <string>
#include <utility>

namespace tindale::store {

class PendingMessage {
  public:
    // `temporary`: a file to remove unless the message is committed; `name`: the name the
    // kind chose for the message.
    PendingMessage(int fd, std::string temporary = {}, std::string name = {})
        : fd_(fd), temporary_(std::move(temporary)), name_(std::move(name)) {}
    ~PendingMessage();
    // A message held in memory, unnamed, until its folder writes it where it belongs; null
    // when no such file can be made.
    static std::unique_ptr<PendingMessage> InMemory();
    PendingMessage(const PendingMessage&) = delete;
    PendingMessage& operator=(const PendingMessage&) = delete;

    int Fd() const { return fd_; }
    const std::string& Name() const { return name_; }
    // Hands the descriptor or the temporary file over to the caller, who now owns it.
    int TakeFd() { return std::exchange(fd_, -1); }
    std::string TakeTemporary() { return std::exchange(temporary_, {}); }

  private:
    int fd_;
    std::string temporary_;
    std::string name_;
};

}  // namespace tindale::store
