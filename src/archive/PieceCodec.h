#pragma once
// One payload piece to one frame and back. A frame is a u32 body length and the body:
// the piece, its LZMA output, its DES output, or DES over LZMA, by the entry's flags; in a
// sealed archive, the sealed piece, compressed first (LZMA or zstd, by the seal's scheme).
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "archive/NodeRecord.h"

inline constexpr size_t kPieceSize = 10240;
// Every frame starts with its body length as a u32.
inline constexpr size_t kFrameLengthBytes = 4;
// Every writer of the original format cuts 10240-byte pieces (sealed archives may take larger
// ones: SealKey::PieceSize). A block announcing more, or a frame longer than this, is damaged:
// a reader never allocates beyond it. (A frame may be a little longer than its piece: LZMA of
// incompressible data, DES padding, a seal's tag.)
inline constexpr size_t kMaxDecodedPiece = kPieceSize;
inline constexpr size_t kMaxFrameBody = 1 << 20;

class SealKey;

struct CodecFlags {
    bool compress = false;
    bool encrypt = false;
    std::u16string_view password;   // the legacy scheme's
    const SealKey* seal = nullptr;  // a sealed archive's key: encrypt means sealed
    bool quickLzma = false;         // LZMA's faster setting (writing only)
};

// Where a piece stands, for sealing: its record's bytes, its index in the payload, and
// whether it is the payload's last piece.
struct PiecePlace {
    std::shared_ptr<const v::RecordBytes> record;
    uint64_t index = 0;
    bool last = false;
};

// Appends the frame (length prefix and body) for one piece to `frame`.
void ProcessPiece(const CodecFlags& flags, const uint8_t* piece, size_t length,
                  std::vector<uint8_t>& frame, const PiecePlace& place = {});

// Decodes one frame body into `piece`; false when it does not decode.
bool DecodeFrameBody(const CodecFlags& flags, const uint8_t* body, size_t length,
                     std::vector<uint8_t>& piece);

// Decodes frame number `index` of the payload of `record` (a record's bytes): a sealed frame is
// authenticated in its place and `last` set to whether it claims to end its payload (false
// for any other frame). False when the frame does not decode.
bool DecodeFrame(const CodecFlags& flags, const uint8_t* record, uint64_t index,
                 const uint8_t* body, size_t length, std::vector<uint8_t>& piece, bool& last);
