#include "archive/Seal.h"

#include <sodium.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <span>
#include <thread>

#include "archive/ArchiveHeader.h"
#include "archive/NodeRecord.h"
#include "archive/PieceCodec.h"
#include "archive/ZstdDictionary.h"
#include "base/Text.h"

using namespace tindale;

const Guid kSealClosingType = Guid::FromText("{6B1E3C2A-9D44-4F0B-A6E1-5C7D2E8F9A13}");

namespace {

// About a quarter of a second on an ordinary two-core machine, and 48 MiB, so that a backup
// or restore stays under 64 MiB at its peak: twelve passes over 48 MiB cost a guesser more
// memory traffic than the three over 128 MiB that archives were sealed with before. Stored
// in each header, so later versions can change them without losing old archives.
constexpr uint32_t kOpsLimit = 12;
constexpr uint64_t kMemLimit = 48ull << 20;
constexpr uint32_t kAlgorithm = crypto_pwhash_ALG_ARGON2ID13;
// What a header may ask for: this program's limits with room for later versions to raise
// them, and no more, so that a hostile header cannot make opening it take minutes or
// gigabytes. The work (passes times memory) is bounded as well as each factor.
constexpr uint32_t kMaxOpsLimit = 32;
constexpr uint64_t kMaxMemLimit = 512ull << 20;
constexpr uint64_t kMaxWork = 4096ull << 20;

// Where the seal fields live in the header: the space the legacy password check uses.
constexpr size_t kSaltAt = ArchiveHeader::kPasswordCheckAt, kOpsAt = kSaltAt + 16,
                 kMemAt = kOpsAt + 4, kAlgAt = kMemAt + 8, kCheckAt = kAlgAt + 4;
constexpr size_t kSealFieldsLength = 48;
constexpr size_t kLengthAt = ArchiveHeader::kPasswordCheckLengthAt;

using Nonce = std::array<uint8_t, crypto_aead_xchacha20poly1305_ietf_NPUBBYTES>;

// Record GUID and frame index: unique per frame, and the key is unique per archive.
Nonce FrameNonce(const uint8_t* record, uint64_t index) {
    Nonce n{};
    std::memcpy(n.data(), record + 32, 16);
    text::PutU64(n.data() + 16, index);
    return n;
}

// The record without its payload length, the frame's index, and the last-frame flag.
std::array<uint8_t, v::NodeRecord::kSize + 9> FrameAd(const uint8_t* record, uint64_t index,
                                                      bool last) {
    std::array<uint8_t, v::NodeRecord::kSize + 9> ad{};
    std::memcpy(ad.data(), record, v::NodeRecord::kSize);
    std::memset(ad.data() + v::NodeRecord::kPayloadLengthAt, 0, 8);
    text::PutU64(ad.data() + v::NodeRecord::kSize, index);
    ad[v::NodeRecord::kSize + 8] = last ? 1 : 0;
    return ad;
}

// A header sealed in the format, scheme and with the algorithm this program knows.
bool OurSealedFormat(const ArchiveHeader& h) {
    return h.bytes[ArchiveHeader::kSealedMarkAt] == kSealedFormat &&
           h.bytes[ArchiveHeader::kSealSchemeAt] <= static_cast<uint8_t>(SealScheme::ZstdShared) &&
           text::GetU32(h.bytes.data() + kAlgAt) == kAlgorithm;
}

std::array<uint8_t, 16> KeyCheck(const std::array<uint8_t, 32>& key, const ArchiveHeader& h) {
    std::array<uint8_t, 16> tag{};
    Nonce zero{};  // no frame uses it: a frame nonce starts with a random (non-zero) GUID
    unsigned long long tagLength = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(tag.data(), &tagLength, nullptr, 0, h.bytes.data(),
                                               kCheckAt, nullptr, zero.data(), key.data());
    return tag;
}

SealParams ParamsOf(const ArchiveHeader& h) {
    SealParams p;
    std::memcpy(p.salt.data(), h.bytes.data() + kSaltAt, p.salt.size());
    p.opsLimit = text::GetU32(h.bytes.data() + kOpsAt);
    p.memLimit = text::GetU64(h.bytes.data() + kMemAt);
    return p;
}

}  // namespace

bool SealAvailable() {
    static const bool ok = sodium_init() >= 0;
    return ok;
}

SealParams SealParams::Fresh() {
    SealAvailable();
    SealParams p;
    randombytes_buf(p.salt.data(), p.salt.size());
    p.opsLimit = kOpsLimit;
    p.memLimit = kMemLimit;
    return p;
}

bool SealParams::WithinLimits() const {
    return opsLimit >= crypto_pwhash_OPSLIMIT_MIN && opsLimit <= kMaxOpsLimit &&
           memLimit >= crypto_pwhash_MEMLIMIT_MIN && memLimit <= kMaxMemLimit &&
           opsLimit * memLimit <= kMaxWork;
}

namespace {

// Argon2id cannot be interrupted, so it runs on a thread of its own that a stop abandons:
// the caller returns at once and the thread frees what it used when it ends (within the
// bounded limits, seconds at most).
struct Derivation {
    std::mutex mutex;
    std::condition_variable_any done;
    bool finished = false;
    bool ok = false;
    std::array<uint8_t, 32> key{};
    std::string password;
    SealParams params;
    ~Derivation() {
        sodium_memzero(password.data(), password.size());
        sodium_memzero(key.data(), key.size());
    }
};

void RunDerivation(const std::shared_ptr<Derivation>& d) {
    bool ok = crypto_pwhash(d->key.data(), d->key.size(), d->password.data(), d->password.size(),
                            d->params.salt.data(), d->params.opsLimit,
                            static_cast<size_t>(d->params.memLimit), kAlgorithm) == 0;
    std::lock_guard lock(d->mutex);
    d->ok = ok;
    d->finished = true;
    d->done.notify_all();
}

}  // namespace

std::optional<SealKey> SealKey::Derive(std::u16string_view password, const SealParams& params,
                                       std::stop_token stop) {
    if (!SealAvailable() || !params.WithinLimits())
        return std::nullopt;  // limits from a damaged or hostile header are not obeyed
    auto d = std::make_shared<Derivation>();
    d->password = text::ToUtf8(password);
    d->params = params;
    std::thread(RunDerivation, d).detach();
    std::unique_lock lock(d->mutex);
    d->done.wait(lock, stop, [&] { return d->finished; });
    if (!d->finished || !d->ok) return std::nullopt;
    SealKey key;
    key.key_ = std::make_shared<std::array<uint8_t, 32>>(d->key);
    key.shared_ = std::make_shared<Shared>();
    return key;
}

void SealKey::Stamp(ArchiveHeader& h, const SealParams& params, SealScheme scheme) {
    scheme_ = scheme;
    h.bytes[ArchiveHeader::kSealedMarkAt] = kSealedFormat;
    h.bytes[ArchiveHeader::kSealSchemeAt] = static_cast<uint8_t>(scheme);
    h.bytes[ArchiveHeader::kEncryptAt] = 1;
    std::memset(h.bytes.data() + kSaltAt, 0, ArchiveHeader::kSize - kSaltAt);
    std::memcpy(h.bytes.data() + kSaltAt, params.salt.data(), params.salt.size());
    text::PutU32(h.bytes.data() + kOpsAt, params.opsLimit);
    text::PutU64(h.bytes.data() + kMemAt, params.memLimit);
    text::PutU32(h.bytes.data() + kAlgAt, kAlgorithm);
    auto tag = KeyCheck(*key_, h);
    std::memcpy(h.bytes.data() + kCheckAt, tag.data(), tag.size());
    text::PutU32(h.bytes.data() + kLengthAt, kSealFieldsLength);
}

bool SealKey::HeaderValid(const ArchiveHeader& h) {
    return OurSealedFormat(h) && ParamsOf(h).WithinLimits() &&
           text::GetU32(h.bytes.data() + kLengthAt) == kSealFieldsLength;
}

std::optional<SealKey> SealKey::Unlock(const ArchiveHeader& h, std::u16string_view password,
                                       std::stop_token stop) {
    if (!HeaderValid(h)) return std::nullopt;
    auto key = Derive(password, ParamsOf(h), stop);
    if (!key || !key->Fits(h)) return std::nullopt;
    key->scheme_ = static_cast<SealScheme>(h.bytes[ArchiveHeader::kSealSchemeAt]);
    return key;
}

bool SealKey::Fits(const ArchiveHeader& h) const {
    if (!OurSealedFormat(h)) return false;
    auto tag = KeyCheck(*key_, h);
    return sodium_memcmp(tag.data(), h.bytes.data() + kCheckAt, tag.size()) == 0;
}

size_t SealKey::PieceSize() const {
    return UsesZstd() ? kZstdPieceSize : kPieceSize;
}

struct SealKey::Shared {
    std::mutex mutex;
    std::shared_ptr<const ZstdDictionary> dictionary;
};

std::shared_ptr<const ZstdDictionary> SealKey::Dictionary() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->dictionary;
}

void SealKey::UseDictionary(std::shared_ptr<const ZstdDictionary> dictionary) const {
    std::lock_guard lock(shared_->mutex);
    shared_->dictionary = std::move(dictionary);
}

bool IsSealRecord(const Guid& type) {
    return type == kSealClosingType || type == kZstdDictionaryType;
}

void SealKey::SealFrame(const uint8_t* record, uint64_t index, bool last, const uint8_t* piece,
                        size_t length, std::vector<uint8_t>& body) const {
    auto nonce = FrameNonce(record, index);
    auto ad = FrameAd(record, index, last);
    body.resize(kSealOverhead + length);
    body[0] = last ? 1 : 0;
    unsigned long long sealed = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(body.data() + 1, &sealed, piece, length, ad.data(),
                                               ad.size(), nullptr, nonce.data(), key_->data());
}

bool SealKey::OpenFrame(const uint8_t* record, uint64_t index, const uint8_t* body, size_t length,
                        std::vector<uint8_t>& piece, bool& last) const {
    if (length < kSealOverhead || body[0] > 1) return false;
    last = body[0] == 1;
    auto nonce = FrameNonce(record, index);
    auto ad = FrameAd(record, index, last);
    piece.resize(length - kSealOverhead);
    unsigned long long opened = 0;
    return crypto_aead_xchacha20poly1305_ietf_decrypt(piece.data(), &opened, nullptr, body + 1,
                                                      length - 1, ad.data(), ad.size(),
                                                      nonce.data(), key_->data()) == 0;
}

SealChain::SealChain() {
    static_assert(sizeof(crypto_generichash_state) <= sizeof(state_));
    SealAvailable();
    crypto_generichash_init(reinterpret_cast<crypto_generichash_state*>(state_.data()), nullptr, 0,
                            32);
}

void SealChain::Add(const uint8_t* record) {
    crypto_generichash_update(reinterpret_cast<crypto_generichash_state*>(state_.data()), record,
                              v::NodeRecord::kSize);
    ++count_;
}

std::vector<uint8_t> SealChain::Closing() const {
    alignas(64) std::array<uint8_t, 384> copy = state_;
    std::vector<uint8_t> out(8 + 32);
    text::PutU64(out.data(), count_);
    crypto_generichash_final(reinterpret_cast<crypto_generichash_state*>(copy.data()),
                             out.data() + 8, 32);
    return out;
}
