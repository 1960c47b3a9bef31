#pragma once
// The compressed form of a piece in a sealed archive that takes zstd: marker 0 then the
// piece stored (what zstd cannot shrink), marker 2 then exactly one zstd frame that records
// its content size, or marker 3 then one such frame made with the archive's dictionary.
#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr uint8_t kStoredPieceMarker = 0;
inline constexpr uint8_t kZstdPieceMarker = 2;
inline constexpr uint8_t kZstdDictionaryPieceMarker = 3;

class ZstdDictionary;

// Replaces `out` with the compressed form of `length` bytes at `piece`, made with
// `dictionary` when one is given.
void ZstdPack(const uint8_t* piece, size_t length, std::vector<uint8_t>& out,
              const ZstdDictionary* dictionary = nullptr);

// Decodes a compressed form into `piece`; false when it is not one, when it would decode to
// more than `maxPiece` bytes (checked before anything is allocated for it), or when it was
// made with a dictionary other than `dictionary`.
bool ZstdUnpack(const uint8_t* body, size_t length, size_t maxPiece, std::vector<uint8_t>& piece,
                const ZstdDictionary* dictionary = nullptr);
