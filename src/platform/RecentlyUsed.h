#pragma once
// A few loaded objects of one kind, found by a key: asking for one more than `Kept` saves
// and drops the least recently used, so memory follows the largest of them, not all.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace tindale::store {

template <class T, const std::string& (T::*KeyOf)() const, int (T::*SaveOf)(), size_t Kept>
class RecentlyUsed {
  public:
    // The object for `key`, made by `make()` when it is not loaded.
    template <class Make>
    T& Get(const std::string& key, Make make) {
        auto it = Find(key);
        if (it != kept_.end()) {
            std::rotate(it, it + 1, kept_.end());  // most recently used goes last
            return *kept_.back();
        }
        if (kept_.size() >= Kept) {
            (*kept_.front().*SaveOf)();
            kept_.erase(kept_.begin());
        }
        kept_.push_back(make());
        return *kept_.back();
    }
    // Saves and drops the object for `key`, when loaded.
    void Release(const std::string& key) {
        auto it = Find(key);
        if (it == kept_.end()) return;
        ((**it).*SaveOf)();
        kept_.erase(it);
    }
    // Saves every one; the first error (an errno value), or 0.
    int SaveAll() {
        int error = 0;
        for (auto& object : kept_)
            if (int e = ((*object).*SaveOf)(); e && !error) error = e;
        return error;
    }
    void SaveAndClear() {
        SaveAll();
        kept_.clear();
    }

  private:
    auto Find(const std::string& key) {
        return std::find_if(kept_.begin(), kept_.end(),
                            [&](const auto& object) { return ((*object).*KeyOf)() == key; });
    }
    std::vector<std::unique_ptr<T>> kept_;  // most recently used last
};

}  // namespace tindale::store
