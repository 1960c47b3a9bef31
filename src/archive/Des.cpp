// DES through OpenSSL's legacy interface: the archive format depends on these functions.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include <algorithm>
#include <cstring>

#include "archive/Processors.h"
#include "base/Text.h"

using tindale::text::GetU32;
using tindale::text::PutU32;

namespace {
uint64_t PaddedLength(uint64_t n) {
    return (n + 7) / 8 * 8;
}

void Cbc(const uint8_t* in, uint8_t* out, long length, const uint8_t* schedule, const uint8_t* iv,
         int direction) {
    DES_key_schedule ks;
    std::memcpy(&ks, schedule, sizeof ks);
    DES_cblock ivec;
    std::memcpy(ivec, iv, 8);
    DES_ncbc_encrypt(in, out, length, &ks, &ivec, direction);
}
}  // namespace

static_assert(sizeof(DES_key_schedule) == 128);

DESBaseCryptor::DESBaseCryptor(std::u16string_view password) {
    std::string ansi = tindale::text::ToUtf8(password);
    DES_cblock key;
    DES_string_to_key(ansi.c_str(), &key);
    std::memcpy(key_, key, 8);
    std::memcpy(iv_, key, 8);
    std::memset(schedule_, 0, sizeof schedule_);
}

int32_t DESEncryptor::Process(const uint8_t* in, int32_t length) {
    uint32_t n = static_cast<uint32_t>(std::max(length, 0));
    auto p = static_cast<uint32_t>(PaddedLength(n));
    output_.assign(8 + p, 0);
    PutU32(output_.data(), n);
    PutU32(output_.data() + 4, p);
    if (n) Cbc(in, output_.data() + 8, n, schedule_, iv_, DES_ENCRYPT);
    return OutputSize();
}

int32_t DESDecryptor::Process(const uint8_t* in, int32_t length) {
    output_.clear();
    failed_ = true;
    if (length < 8) return 0;
    if (!DesFrameWellFormed(in, static_cast<uint32_t>(length))) return 0;
    uint32_t n = GetU32(in);
    uint32_t p = GetU32(in + 4);
    std::vector<uint8_t> plain(p);
    if (n) Cbc(in + 8, plain.data(), n, schedule_, iv_, DES_DECRYPT);
    plain.resize(n);
    output_ = std::move(plain);
    failed_ = false;
    return static_cast<int32_t>(n);
}

bool DesFrameWellFormed(const uint8_t* body, uint32_t length) {
    if (length < 8) return false;
    uint64_t n = GetU32(body);
    uint64_t p = GetU32(body + 4);
    // Computed in 64 bits: a length near 2^32 must not wrap its padded size to 0.
    return p % 8 == 0 && n <= p && p == PaddedLength(n) && p + 8 == length;
}

int32_t MakePasswordCheck(std::u16string_view password, uint8_t* destination) {
    auto bytes = tindale::text::Utf16LeBytes(password);
    bytes.push_back(0);
    bytes.push_back(0);
    DESEncryptor enc(password);
    int32_t size = enc.Process(bytes.data(), static_cast<int32_t>(bytes.size()));
    std::memcpy(destination, enc.Output(), static_cast<size_t>(size));
    return size;
}

bool CheckArchivePassword(std::u16string_view candidate, const uint8_t* block, uint32_t length) {
    if (length < 8 || length > kPasswordCheckField) return false;
    DESDecryptor dec(candidate);
    int32_t n = dec.Process(block, static_cast<int32_t>(length));
    if (dec.Failed()) return false;
    std::u16string decoded =
        tindale::text::GetFixedUtf16(std::span(dec.Output(), static_cast<size_t>(n)));
    return decoded == candidate;
}
