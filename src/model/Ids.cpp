#include "model/Ids.h"

#include <openssl/evp.h>

namespace v {

std::array<uint8_t, 16> MD5::Compute(std::span<const uint8_t> data) {
    std::array<uint8_t, 16> out{};
    unsigned int len = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_md5(), nullptr);
    return out;
}

MD5::MD5(std::span<const uint8_t> data) : digest_(Compute(data)) {}

bool MD5::Equals(const ID& other) const {
    auto o = dynamic_cast<const MD5*>(&other);
    return o && o->digest_ == digest_;
}

}  // namespace v
