#include <gtest/gtest.h>
#include <zstd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "archive/ArchiveHeader.h"
#include "archive/PieceCodec.h"
#include "archive/Processors.h"
#include "archive/Seal.h"
#include "archive/ZstdPiece.h"
#include "base/Text.h"
#include "model/Ids.h"

using namespace tindale;

namespace {

std::vector<uint8_t> Repetitive(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>("tindale "[i % 8]);
    return v;
}

std::vector<uint8_t> Noise(size_t n, uint32_t seed = 1) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    return v;
}

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    char buf[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", p[i]);
        s += buf;
    }
    return s;
}

// Runs a shell command with `input` on stdin and returns its stdout; empty on failure.
std::vector<uint8_t> Pipe(const std::string& command, const std::vector<uint8_t>& input) {
    auto dir = std::filesystem::temp_directory_path();
    auto in = dir / ("tindale-in-" + std::to_string(::getpid()));
    auto out = dir / ("tindale-out-" + std::to_string(::getpid()));
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(input.data()),
               static_cast<std::streamsize>(input.size()));
    int rc = std::system(
        (command + " < " + in.string() + " > " + out.string() + " 2>/dev/null").c_str());
    std::ifstream f(out, std::ios::binary);
    std::vector<uint8_t> result((std::istreambuf_iterator<char>(f)),
                                std::istreambuf_iterator<char>());
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    return rc == 0 ? result : std::vector<uint8_t>{};
}

// Compresses and decompresses; the decoded bytes must be the input.
void ExpectLzmaRoundTrip(const std::vector<uint8_t>& input, LZMACompProcessor& c) {
    int32_t size = c.Process(input.data(), static_cast<int32_t>(input.size()));
    LZMADecompProcessor d;
    ASSERT_EQ(d.Process(c.Output(), size), static_cast<int32_t>(input.size()));
    EXPECT_EQ(std::vector<uint8_t>(d.Output(), d.Output() + input.size()), input);
}

}  // namespace

TEST(Lzma, TinyInputsAreStored) {
    LZMACompProcessor c;
    auto six = Repetitive(6);
    EXPECT_EQ(c.Process(six.data(), 6), 7);
    EXPECT_EQ(c.Output()[0], 0);
    auto eight = Repetitive(8);
    c.Process(eight.data(), 8);
    EXPECT_EQ(c.Output()[0], 0);  // 14 header bytes do not fit twice the input
}

TEST(Lzma, BlockHeaderAndRoundTrip) {
    auto input = Repetitive(10240);
    LZMACompProcessor c;
    ExpectLzmaRoundTrip(input, c);
    ASSERT_GT(c.OutputSize(), 15);
    const uint8_t expected[] = {1, 0, 93, 0, 0, 32, 0, 0, 0x28, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Hex(c.Output(), 15), Hex(expected, 15));
}

TEST(Lzma, IncompressibleInputStillDecodes) {
    LZMACompProcessor c;
    ExpectLzmaRoundTrip(Noise(10240), c);
}

TEST(Lzma, DamagedBlocksFail) {
    auto input = Repetitive(5000);
    LZMACompProcessor c;
    int32_t size = c.Process(input.data(), 5000);
    std::vector<uint8_t> block(c.Output(), c.Output() + size);
    LZMADecompProcessor d;
    auto cut = block;
    cut.resize(cut.size() - 5);
    EXPECT_EQ(d.Process(cut.data(), static_cast<int32_t>(cut.size())), 0);
    auto badFilter = block;
    badFilter[1] = 2;
    EXPECT_EQ(d.Process(badFilter.data(), size), 0);
    auto bigSize = block;
    bigSize[1 + 6 + 4] = 1;  // upper half of the size
    EXPECT_EQ(d.Process(bigSize.data(), size), 0);
    EXPECT_EQ(d.Process(block.data(), 10), 0);
}

TEST(Lzma, XzReadsOurBlocks) {
    if (std::system("command -v xz >/dev/null") != 0) GTEST_SKIP() << "xz is not installed";
    auto input = Repetitive(10240);
    LZMACompProcessor c;
    int32_t size = c.Process(input.data(), 10240);
    std::vector<uint8_t> lzmaFile(c.Output() + 2, c.Output() + size);  // after marker and filter
    EXPECT_EQ(Pipe("xz --format=lzma -d", lzmaFile), input);
}

TEST(Lzma, AcceptsStreamsWithEndMarker) {
    if (std::system("command -v xz >/dev/null") != 0) GTEST_SKIP() << "xz is not installed";
    // xz writes .lzma with an end marker when the size is unknown; splice in the known size.
    auto input = Noise(3000, 7);
    auto file = Pipe("xz --format=lzma -c", input);
    ASSERT_GT(file.size(), 13u);
    std::vector<uint8_t> frame = {1, 0};
    frame.insert(frame.end(), file.begin(), file.end());
    text::PutU64(frame.data() + 2 + 5, input.size());
    LZMADecompProcessor d;
    ASSERT_EQ(d.Process(frame.data(), static_cast<int32_t>(frame.size())), 3000);
    EXPECT_EQ(std::vector<uint8_t>(d.Output(), d.Output() + 3000), input);
}

TEST(Lzma, DecodesBlocksWithTheX86BranchFilter) {
    if (std::system("command -v xz >/dev/null") != 0) GTEST_SKIP() << "xz is not installed";
    // Machine code full of relative calls (E8), which the x86 filter rewrites.
    std::vector<uint8_t> input;  // within one 10240-byte piece
    for (int i = 0; i < 1700; ++i) {
        uint8_t call[] = {0xE8, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0, 0, 0x90};
        input.insert(input.end(), call, call + sizeof call);
    }
    auto raw = Pipe("xz --format=raw --x86 --lzma1=lc=3,lp=0,pb=2,dict=1MiB -c", input);
    ASSERT_FALSE(raw.empty());
    std::vector<uint8_t> frame = {1, 1, 93, 0, 0, 0x10, 0};  // marker, x86 filter, properties
    frame.resize(frame.size() + 8);
    text::PutU64(frame.data() + 7, input.size());
    frame.insert(frame.end(), raw.begin(), raw.end());
    LZMADecompProcessor d;
    ASSERT_EQ(d.Process(frame.data(), static_cast<int32_t>(frame.size())),
              static_cast<int32_t>(input.size()));
    EXPECT_TRUE(std::equal(input.begin(), input.end(), d.Output()));
}

TEST(Des, OutputSizesAndRoundTrip) {
    for (int32_t n : {0, 1, 7, 8, 9, 15, 16, 10241}) {
        auto input = Noise(static_cast<size_t>(n), static_cast<uint32_t>(n));
        DESEncryptor e(u"secret");
        int32_t size = e.Process(input.data(), n);
        EXPECT_EQ(size, 8 + (n + 7) / 8 * 8);
        EXPECT_EQ(text::GetU32(e.Output()), static_cast<uint32_t>(n));
        DESDecryptor d(u"secret");
        EXPECT_EQ(d.Process(e.Output(), size), n);
        EXPECT_EQ(std::vector<uint8_t>(d.Output(), d.Output() + n), input);
    }
    DESEncryptor e8(u"pw");
    EXPECT_EQ(e8.Process(Noise(8).data(), 8), 16);
    DESEncryptor e9(u"pw");
    EXPECT_EQ(e9.Process(Noise(9).data(), 9), 24);
}

TEST(Des, WrongPasswordChangesOnlyTheFirstBlock) {
    auto input = Noise(40);
    DESEncryptor e(u"right");
    int32_t size = e.Process(input.data(), 40);
    DESDecryptor d(u"wrong");
    d.Process(e.Output(), size);
    std::vector<uint8_t> out(d.Output(), d.Output() + 40);
    EXPECT_NE(std::vector<uint8_t>(out.begin(), out.begin() + 8),
              std::vector<uint8_t>(input.begin(), input.begin() + 8));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 8, out.end()),
              std::vector<uint8_t>(input.begin() + 8, input.end()));
}

TEST(Des, RefusesCiphertextShorterThanItClaims) {
    std::vector<uint8_t> crafted(16, 0);
    text::PutU32(crafted.data(), 4000);
    text::PutU32(crafted.data() + 4, 4000);
    DESDecryptor d(u"x");
    d.Process(crafted.data(), 16);
    EXPECT_TRUE(d.Failed());
}

TEST(Des, OpensslDecryptsOurFrames) {
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl";
    auto input = Noise(64);
    DESEncryptor e(u"password");
    int32_t size = e.Process(input.data(), 64);
    std::vector<uint8_t> cipher(e.Output() + 8, e.Output() + size);
    std::string iv = Hex(e.Key(), 8);
    auto plain = Pipe(
        "openssl enc -d -des-cbc -nopad -provider legacy -provider default "
        "-K 0000000000000000 -iv " +
            iv,
        cipher);
    EXPECT_EQ(plain, input);
}

TEST(PasswordCheck, BlockSizesAndCaseSensitivity) {
    uint8_t block[66] = {};
    EXPECT_EQ(MakePasswordCheck(u"a", block), 16);
    EXPECT_EQ(text::GetU32(block), 4u);
    EXPECT_EQ(text::GetU32(block + 4), 8u);
    EXPECT_TRUE(CheckArchivePassword(u"a", block, 16));
    EXPECT_FALSE(CheckArchivePassword(u"A", block, 16));
    std::u16string longest(27, u'p');
    EXPECT_EQ(MakePasswordCheck(longest, block), 64);
    EXPECT_TRUE(CheckArchivePassword(longest, block, 64));
    EXPECT_FALSE(CheckArchivePassword(longest, block, 200));  // a length the field cannot hold
}

TEST(ArchiveHeaderTest, LayoutAndMagic) {
    auto plain = ArchiveHeader::Build(false, false, u"/tmp/a.vqz", u"ignored");
    EXPECT_EQ(std::string(plain.bytes.begin(), plain.bytes.begin() + 6), "kw-vqz");
    EXPECT_TRUE(plain.HasMagic());
    EXPECT_TRUE(std::all_of(plain.bytes.begin() + ArchiveHeader::kPasswordCheckAt,
                            plain.bytes.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(plain.bytes[8], 0);
    EXPECT_EQ(plain.ArchivePath(), u"/tmp/a.vqz");
    auto enc = ArchiveHeader::Build(true, true, u"x", u"Secret");
    EXPECT_EQ(enc.bytes[8], 1);
    EXPECT_EQ(enc.bytes[9], 1);
    EXPECT_EQ(text::GetU32(enc.bytes.data() + ArchiveHeader::kPasswordCheckLengthAt), 24u);
    EXPECT_TRUE(enc.CheckPassword(u"Secret"));
    EXPECT_FALSE(enc.CheckPassword(u"secret"));
    enc.bytes[6] = 1;  // a sealed archive: refused by a reader of the original format
    EXPECT_FALSE(enc.HasMagic(false));
    EXPECT_TRUE(enc.HasMagic(true));
    enc.bytes[6] = 2;
    EXPECT_FALSE(enc.HasMagic());
}

TEST(PieceCodecTest, EveryFlagCombinationRoundTrips) {
    auto piece = Repetitive(10240);
    for (bool c : {false, true})
        for (bool e : {false, true}) {
            CodecFlags flags{c, e, u"pw"};
            std::vector<uint8_t> frame, back;
            ProcessPiece(flags, piece.data(), piece.size(), frame);
            EXPECT_EQ(text::GetU32(frame.data()), frame.size() - 4);
            ASSERT_TRUE(DecodeFrameBody(flags, frame.data() + 4, frame.size() - 4, back));
            EXPECT_EQ(back, piece);
        }
}

namespace {
// Text with the variety of real prose: words from a small vocabulary, picked by a fixed LCG.
std::vector<uint8_t> Prose(size_t n) {
    static const char* words[] = {"mail ",  "backup ", "restore ", "the ",   "archive ", "folder ",
                                  "of ",    "and ",    "message ", "Bob, ",  "Dear ",    "is ",
                                  "ready ", "\n",      "sealed ",  "piece ", "for ",     "a "};
    std::vector<uint8_t> out;
    uint32_t seed = 42;
    while (out.size() < n) {
        const char* w = words[(seed = seed * 1103515245 + 12345) >> 16 & 15];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(n);
    return out;
}
}  // namespace

TEST(Lzma, WhatLzmaCannotShrinkIsStoredAndTextIsCodedAsBefore) {
    LZMACompProcessor c;
    // Random bytes: the stored form (marker 0), never larger than the piece plus its marker.
    auto noise = Noise(10240, 3);
    EXPECT_EQ(c.Process(noise.data(), 10240), 10241);
    EXPECT_EQ(c.Output()[0], 0);
    ExpectLzmaRoundTrip(noise, c);
    // Text: exactly the bytes this encoder has always written.
    auto prose = Prose(10240);
    int32_t size = c.Process(prose.data(), 10240);
    auto digest = v::MD5::Compute(std::span(c.Output(), static_cast<size_t>(size)));
    EXPECT_EQ(Hex(digest.data(), 16), "bb30c5f33993c2183c8289f5304f6987") << size;
    // Half random, half text: whichever is smaller, and it round-trips.
    std::vector<uint8_t> half(noise.begin(), noise.begin() + 5120);
    half.insert(half.end(), prose.begin(), prose.begin() + 5120);
    size = c.Process(half.data(), 10240);
    EXPECT_LT(size, 10241);
    EXPECT_EQ(c.Output()[0], 1);
    ExpectLzmaRoundTrip(half, c);
    // Random bytes repeated: random to a byte count, but LZMA halves them; coded, not stored.
    std::vector<uint8_t> twice(noise.begin(), noise.begin() + 5120);
    twice.insert(twice.end(), noise.begin(), noise.begin() + 5120);
    EXPECT_LT(c.Process(twice.data(), 10240), 6000);
}

namespace {
std::vector<uint8_t> ZstdFrame(const std::vector<uint8_t>& in, bool withSize) {
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, withSize ? 1 : 0);
    std::vector<uint8_t> out(ZSTD_compressBound(in.size()));
    ZSTD_outBuffer o{out.data(), out.size(), 0};
    ZSTD_inBuffer i{in.data(), in.size(), 0};
    if (withSize) ZSTD_CCtx_setPledgedSrcSize(c, in.size());
    ZSTD_compressStream2(c, &o, &i, ZSTD_e_end);
    ZSTD_freeCCtx(c);
    out.resize(o.pos);
    out.insert(out.begin(), kZstdPieceMarker);
    return out;
}
}  // namespace

TEST(Zstd, PiecesShrinkOrAreStoredAndRoundTrip) {
    std::vector<uint8_t> packed, back;
    auto prose = Prose(kZstdPieceSize);
    ZstdPack(prose.data(), prose.size(), packed);
    EXPECT_EQ(packed[0], kZstdPieceMarker);
    EXPECT_LT(packed.size(), prose.size() / 3);
    ASSERT_TRUE(ZstdUnpack(packed.data(), packed.size(), kZstdPieceSize, back));
    EXPECT_EQ(back, prose);
    // Noise is stored: never more than the piece and its marker.
    for (size_t n : {size_t{0}, size_t{1}, size_t{5000}, kZstdPieceSize}) {
        auto noise = Noise(n, 9);
        ZstdPack(noise.data(), n, packed);
        EXPECT_EQ(packed.size(), n + 1);
        EXPECT_EQ(packed[0], kStoredPieceMarker);
        ASSERT_TRUE(ZstdUnpack(packed.data(), packed.size(), kZstdPieceSize, back));
        EXPECT_EQ(back, noise);
    }
}

// What no writer makes is refused before anything is allocated for it: more than a piece,
// a frame that does not say its size, bytes after the frame, an unknown marker.
TEST(Zstd, PiecesNoWriterMakesAreRefused) {
    std::vector<uint8_t> back;
    auto big = Repetitive(kZstdPieceSize + 1);
    auto over = ZstdFrame(big, true);
    EXPECT_FALSE(ZstdUnpack(over.data(), over.size(), kZstdPieceSize, back));
    auto small = Prose(4000);
    auto unsized = ZstdFrame(small, false);
    EXPECT_FALSE(ZstdUnpack(unsized.data(), unsized.size(), kZstdPieceSize, back));
    auto sized = ZstdFrame(small, true);
    ASSERT_TRUE(ZstdUnpack(sized.data(), sized.size(), kZstdPieceSize, back));
    EXPECT_EQ(back, small);
    auto trailing = sized;
    trailing.push_back(0);
    EXPECT_FALSE(ZstdUnpack(trailing.data(), trailing.size(), kZstdPieceSize, back));
    auto twice = sized;
    twice.insert(twice.end(), sized.begin() + 1, sized.end());
    EXPECT_FALSE(ZstdUnpack(twice.data(), twice.size(), kZstdPieceSize, back));
    for (uint8_t marker : {uint8_t{1}, uint8_t{3}}) {
        auto other = sized;
        other[0] = marker;
        EXPECT_FALSE(ZstdUnpack(other.data(), other.size(), kZstdPieceSize, back));
    }
    std::vector<uint8_t> storedTooLong(kZstdPieceSize + 2, 0);
    EXPECT_FALSE(ZstdUnpack(storedTooLong.data(), storedTooLong.size(), kZstdPieceSize, back));
    EXPECT_FALSE(ZstdUnpack(sized.data(), 0, kZstdPieceSize, back));
    EXPECT_FALSE(ZstdUnpack(sized.data(), 3, kZstdPieceSize, back));
}

// The quicker LZMA setting writes the same kind of block, a little larger, that this reader and
// xz decode like the usual one.
TEST(Lzma, TheQuickerSettingDecodesLikeTheUsualOne) {
    auto prose = Prose(10240);
    LZMACompProcessor usual, quick(true);
    int32_t usualSize = usual.Process(prose.data(), 10240);
    int32_t quickSize = quick.Process(prose.data(), 10240);
    EXPECT_EQ(quick.Output()[0], 1);
    EXPECT_LT(quickSize, 10240 / 2);
    EXPECT_LT(quickSize, usualSize * 5 / 4);
    EXPECT_EQ(std::memcmp(quick.Output() + 1, usual.Output() + 1, 6), 0);  // same properties
    ExpectLzmaRoundTrip(prose, quick);
    if (std::system("command -v xz >/dev/null") != 0) return;
    EXPECT_EQ(Pipe("xz --format=lzma -d",
                   {quick.Output() + 2, quick.Output() + static_cast<size_t>(quickSize)}),
              prose);
}
