#pragma once
// The compressed form of a piece in a sealed archive that takes zstd: marker 0 then the
// piece stored (what zstd cannot shrink), or marker 2 then exactly one zstd frame that
// records its content size.
#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr uint8_t kStoredPieceMarker = 0;
inline constexpr uint8_t kZstdPieceMarker = 2;

// Replaces `out` with the compressed form of `length` bytes at `piece`.
void ZstdPack(const uint8_t* piece, size_t length, std::vector<uint8_t>& out);

// Decodes a compressed form into `piece`; false when it is not one, or when it would decode
// to more than `maxPiece` bytes (checked before anything is allocated for it).
bool ZstdUnpack(const uint8_t* body, size_t length, size_t maxPiece, std::vector<uint8_t>& piece);
