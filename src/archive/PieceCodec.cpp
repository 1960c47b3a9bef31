#include "archive/PieceCodec.h"

#include <algorithm>
#include <optional>

#include "archive/Processors.h"
#include "archive/Seal.h"
#include "archive/ZstdDictionary.h"
#include "archive/ZstdPiece.h"
#include "base/Text.h"

void ProcessPiece(const CodecFlags& flags, const uint8_t* piece, size_t length,
                  std::vector<uint8_t>& frame, const PiecePlace& place) {
    const uint8_t* body = piece;
    size_t bodySize = length;
    LZMACompProcessor lzma(flags.quickLzma);
    std::vector<uint8_t> zstd;
    if (flags.compress && flags.encrypt && flags.seal && flags.seal->UsesZstd()) {
        // A payload of one piece (a message, a small file) takes the archive's dictionary
        // when it has one; larger payloads find their context in their own pieces.
        std::shared_ptr<const ZstdDictionary> dictionary;
        if (place.index == 0 && place.last) dictionary = flags.seal->Dictionary();
        ZstdPack(piece, length, zstd, dictionary.get());
        body = zstd.data();
        bodySize = zstd.size();
    } else if (flags.compress) {
        lzma.Process(piece, static_cast<int32_t>(length));
        body = lzma.Output();
        bodySize = static_cast<size_t>(lzma.OutputSize());
    }
    std::optional<DESEncryptor> des;
    std::vector<uint8_t> sealed;
    if (flags.encrypt && flags.seal) {
        flags.seal->SealFrame(place.record->data(), place.index, place.last, body, bodySize,
                              sealed);
        body = sealed.data();
        bodySize = sealed.size();
    } else if (flags.encrypt) {
        des.emplace(flags.password);
        des->Process(body, static_cast<int32_t>(bodySize));
        body = des->Output();
        bodySize = static_cast<size_t>(des->OutputSize());
    }
    size_t at = frame.size();
    frame.resize(at + kFrameLengthBytes + bodySize);
    tindale::text::PutU32(frame.data() + at, static_cast<uint32_t>(bodySize));
    std::copy(body, body + bodySize, frame.begin() + static_cast<long>(at + kFrameLengthBytes));
}

bool DecodeFrameBody(const CodecFlags& flags, const uint8_t* body, size_t length,
                     std::vector<uint8_t>& piece) {
    std::vector<uint8_t> plain;
    if (flags.encrypt) {
        DESDecryptor des(flags.password);
        des.Process(body, static_cast<int32_t>(length));
        if (des.Failed()) return false;
        plain = std::move(des.OutputBuffer());
        body = plain.data();
        length = plain.size();
    }
    if (!flags.compress) {
        piece.assign(body, body + length);
    } else {
        LZMADecompProcessor lzma;
        lzma.Process(body, static_cast<int32_t>(length));
        if (lzma.Failed()) return false;
        piece = std::move(lzma.OutputBuffer());
    }
    // Every writer cuts pieces of at most kPieceSize bytes: a frame that decodes to more is
    // damaged (a tiny LZMA block can otherwise expand a small archive into a huge file).
    return piece.size() <= kPieceSize;
}

bool DecodeFrame(const CodecFlags& flags, const uint8_t* record, uint64_t index,
                 const uint8_t* body, size_t length, std::vector<uint8_t>& piece, bool& last) {
    last = false;
    // In a sealed archive every frame is sealed: one whose record claims otherwise is forged.
    if (flags.seal && !flags.encrypt) return false;
    if (!flags.encrypt || !flags.seal) return DecodeFrameBody(flags, body, length, piece);
    std::vector<uint8_t> opened;
    if (!flags.seal->OpenFrame(record, index, body, length, opened, last)) {
        last = false;  // an unauthenticated claim counts for nothing
        return false;
    }
    if (flags.seal->Scheme() == SealScheme::LzmaPieces) {
        CodecFlags plain{flags.compress, false, {}, nullptr};
        return DecodeFrameBody(plain, opened.data(), opened.size(), piece);
    }
    size_t maxPiece = flags.seal->PieceSize();
    if (flags.compress)
        return ZstdUnpack(opened.data(), opened.size(), maxPiece, piece,
                          flags.seal->Dictionary().get());
    if (opened.size() > maxPiece) return false;
    piece = std::move(opened);
    return true;
}
