#pragma once
// Makes an object the current one of its kind on this thread for a scope's life, and the
// previous one current again afterwards. Jobs install their outcome, publish batch and
// writing queue this way, so that code deep inside a job finds them without passing them on.
#include <utility>

namespace tindale {

template <typename T>
class ThreadScope {
  public:
    explicit ThreadScope(T& object) : previous_(std::exchange(Slot(), &object)) {}
    ~ThreadScope() { Slot() = previous_; }
    ThreadScope(const ThreadScope&) = delete;
    ThreadScope& operator=(const ThreadScope&) = delete;

    // The object installed on this thread, or null.
    static T* Current() { return Slot(); }

  private:
    static T*& Slot() {
        thread_local T* current = nullptr;
        return current;
    }
    T* previous_;
};

}  // namespace tindale
