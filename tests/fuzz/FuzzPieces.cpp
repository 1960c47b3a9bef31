// The piece decoders on their own, over any bytes: a sealed archive's zstd pieces (reached
// only inside authenticated frames, so the Sealed target rarely gets this far) and the
// LZMA blocks of the original format. Whatever they are given, they decode to at most a
// piece or refuse.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "archive/PieceCodec.h"
#include "archive/Processors.h"
#include "archive/Seal.h"
#include "archive/ZstdPiece.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> piece;
    if (ZstdUnpack(data, size, kZstdPieceSize, piece) && piece.size() > kZstdPieceSize) abort();
    LZMADecompProcessor lzma;
    lzma.Process(data, static_cast<int32_t>(size));
    if (!lzma.Failed() && static_cast<size_t>(lzma.OutputSize()) > size + kPieceSize) abort();
    // What the writer packs, the reader unpacks unchanged.
    ZstdPack(data, size, piece);
    std::vector<uint8_t> back;
    if (size <= kZstdPieceSize && (!ZstdUnpack(piece.data(), piece.size(), kZstdPieceSize, back) ||
                                   back != std::vector<uint8_t>(data, data + size)))
        abort();
    return 0;
}
