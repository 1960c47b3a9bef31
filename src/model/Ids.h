#pragma once
// Node identities: two nodes for the same source item have equal identities.
#include <array>
#include <cstdint>
#include <span>

namespace v {

class ID {
  public:
    virtual ~ID() = default;
    virtual bool Equals(const ID& other) const = 0;
};

class MD5 : public ID {
  public:
    MD5() { digest_.fill(0); }
    explicit MD5(std::span<const uint8_t> data);
    bool Equals(const ID& other) const override;
    const std::array<uint8_t, 16>& Digest() const { return digest_; }

    static std::array<uint8_t, 16> Compute(std::span<const uint8_t> data);

  private:
    std::array<uint8_t, 16> digest_;
};

template <typename T>
class IDInt : public ID {
  public:
    explicit IDInt(T value = 0) : value_(value) {}
    bool Equals(const ID& other) const override {
        auto o = dynamic_cast<const IDInt<T>*>(&other);
        return o && o->value_ == value_;
    }
    T Value() const { return value_; }

  private:
    T value_;
};

}  // namespace v
