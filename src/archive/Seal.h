#pragma once
// Sealed archives: encryption that protects. The key comes from the password through
// Argon2id (salt and limits kept in the header), and every frame is sealed with
// XChaCha20-Poly1305: its associated data binds it to its record (the record's bytes but
// the payload length, which is patched later), to its place in the payload and to whether
// it ends the payload. A closing record holds the number of records and a hash over all of
// them, so a cut-off, reordered, duplicated or spliced archive is found. docs/format.md
// gives the layout byte by byte.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string_view>
#include <vector>

#include "base/Guid.h"

class ArchiveHeader;
class ZstdDictionary;

// Header byte 6 of a sealed archive. Readers of the original format need 0 there and refuse
// the file as not an archive before they read any payload.
inline constexpr uint8_t kSealedFormat = 1;
// Header byte 7 of a sealed archive: how its payloads are cut and compressed. Archives
// written before zstd have 10 KiB pieces, LZMA-compressed like the original format's; since,
// pieces of up to 128 KiB, compressed with zstd; and since shared contexts, the same pieces,
// where a payload of one piece may be compressed with a dictionary the archive holds in its
// first record. The byte is covered by the key check.
enum class SealScheme : uint8_t { LzmaPieces = 0, ZstdPieces = 1, ZstdShared = 2 };
inline constexpr size_t kZstdPieceSize = 128 * 1024;
// A sealed frame: a flag byte (1 on the payload's last frame), then ciphertext and tag.
inline constexpr size_t kSealOverhead = 1 + 16;
// The type of the closing record.
extern const tindale::Guid kSealClosingType;

struct SealParams {
    std::array<uint8_t, 16> salt{};
    uint32_t opsLimit = 0;
    uint64_t memLimit = 0;
    static SealParams Fresh();  // a new random salt with this program's limits
    // Whether the limits are ones this program obeys (its own, with a bounded margin).
    bool WithinLimits() const;
};

class SealKey {
  public:
    // The key for a password; none when the limits are out of range, memory is short, or
    // `stop` was requested (derivation takes a moment; a stop ends the wait at once).
    static std::optional<SealKey> Derive(std::u16string_view password, const SealParams& params,
                                         std::stop_token stop = {});
    // Writes the scheme and the seal fields (salt, limits, key check) into a header whose
    // other fields are set; marks it sealed. The key then seals frames by that scheme.
    void Stamp(ArchiveHeader& header, const SealParams& params,
               SealScheme scheme = SealScheme::ZstdPieces);
    // The key of a sealed header, when the password is right (checked against the header
    // alone, before anything is read).
    static std::optional<SealKey> Unlock(const ArchiveHeader& header, std::u16string_view password,
                                         std::stop_token stop = {});
    // Whether a sealed header's fields are ones this program can use (format, algorithm,
    // limits); one that is not is damaged, whatever the password.
    static bool HeaderValid(const ArchiveHeader& header);
    // Whether this key opens the sealed archive with `header` (derived for it earlier).
    bool Fits(const ArchiveHeader& header) const;

    SealScheme Scheme() const { return scheme_; }
    bool UsesZstd() const { return scheme_ != SealScheme::LzmaPieces; }
    // The largest piece a payload is cut into, and that a frame may decode to.
    size_t PieceSize() const;

    // The archive's dictionary, once its writer made it or its reader read it; shared by
    // every copy of this key (and so by the threads that seal and open frames with it).
    std::shared_ptr<const ZstdDictionary> Dictionary() const;
    void UseDictionary(std::shared_ptr<const ZstdDictionary> dictionary) const;

    // Seals one piece (already compressed when the archive is) as frame body number `index`
    // of the record whose bytes are `record`.
    void SealFrame(const uint8_t* record, uint64_t index, bool last, const uint8_t* piece,
                   size_t length, std::vector<uint8_t>& body) const;
    // Opens a frame body; false when it does not authenticate. `last` says what it claims.
    bool OpenFrame(const uint8_t* record, uint64_t index, const uint8_t* body, size_t length,
                   std::vector<uint8_t>& piece, bool& last) const;

  private:
    struct Shared;
    std::shared_ptr<std::array<uint8_t, 32>> key_;  // shared by the pipeline's threads
    std::shared_ptr<Shared> shared_;
    SealScheme scheme_ = SealScheme::ZstdPieces;
};

// The running hash over the records of a sealed archive, for its closing record.
class SealChain {
  public:
    SealChain();
    void Add(const uint8_t* record);  // a record's bytes, its payload length patched in
    uint64_t Count() const { return count_; }
    // The closing record's plaintext: the count, then the hash.
    std::vector<uint8_t> Closing() const;

  private:
    alignas(64) std::array<uint8_t, 384> state_;  // crypto_generichash_state, kept opaque
    uint64_t count_ = 0;
};

// Whether a record is one of the seal's own (the closing record, the dictionary) rather than
// an item: nothing restores, lists or extracts them.
bool IsSealRecord(const tindale::Guid& type);

// Whether the sealed support is linked in and working (libsodium initialised).
bool SealAvailable();
