// Decoding frames ahead on other threads must never change what a payload decodes to: the
// same bytes and the same damage, record by record, as decoding on the reader's thread,
// whatever the reader wants, skips or leaves half read.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "archive/ArchiveReader.h"
#include "base/Text.h"
#include "model/FileNodes.h"
#include "support/CraftedArchive.h"
#include "support/TestHome.h"

using namespace tindale;

namespace {

struct Decoded {
    std::vector<uint8_t> bytes;
    uint32_t damaged = 0;
    bool operator==(const Decoded&) const = default;
};

std::vector<uint8_t> Text(size_t n, unsigned seed) {
    static const char* words[] = {"mail ", "archive ", "folder ", "message ", "the ", "and "};
    std::mt19937 gen(seed);
    std::vector<uint8_t> out;
    while (out.size() < n) {
        const char* w = words[gen() % 6];
        out.insert(out.end(), w, w + std::strlen(w));
    }
    out.resize(n);
    return out;
}

std::vector<uint8_t> Noise(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> out(n);
    for (auto& b : out) b = static_cast<uint8_t>(gen());
    return out;
}

// Payloads of every size that matters: empty, one byte, exactly a piece, a piece and a byte,
// many pieces of text and of noise, and a run of small files; some of them damaged.
CraftedArchive Mixed(bool encrypt, bool damage) {
    CraftedArchive archive(true, encrypt);
    std::vector<std::vector<uint8_t>> plains = {
        {}, {42}, Text(10240, 1), Text(10241, 2), Text(300000, 3), Noise(200000, 4)};
    for (unsigned i = 0; i < 200; ++i) plains.push_back(Text(100 + i * 37, 10 + i));
    for (size_t i = 0; i < plains.size(); ++i) {
        auto frames = archive.Frames(plains[i]);
        if (damage && i % 7 == 3 && frames.size() > 40) frames[frames.size() / 2] ^= 0x5A;
        if (damage && i == 5) frames.resize(frames.size() - 100);  // cut inside its last frame
        if (damage && i == 9) frames.insert(frames.begin(), {0xFF, 0xFF, 0xFF, 0x7F});
        archive.Add(v::FileFolderNode::kTypeGuid, u"item" + text::ToUtf16(std::to_string(i)),
                    frames);
    }
    return archive;
}

// Reads every record's payload (or, with `partly`, only the first bytes of every third),
// decoding ahead on `threads` workers (1: on the reader's thread alone).
std::vector<Decoded> DecodeAll(const std::string& path, const std::u16string& password,
                               unsigned threads, const FrameLookahead::Wanted& wanted = {},
                               bool partly = false) {
    v::FileStream file(ArchiveReader::OpenArchiveFd(path));
    ArchiveReader reader;
    std::vector<Decoded> out;
    if (!reader.OpenArchiveFile(&file)) return out;
    if (threads > 1)
        reader.DecodeAhead(
            password, nullptr, wanted ? wanted : [](const v::NodeRecord&) { return true; },
            threads);
    for (size_t i = 0; !reader.AtEnd(); reader.Advance(), ++i) {
        FrameDecodingStream frames(reader, password, nullptr);
        Decoded d;
        uint8_t buffer[4096];
        while (int32_t n = frames.Read(buffer, sizeof buffer)) {
            d.bytes.insert(d.bytes.end(), buffer, buffer + n);
            if (partly && i % 3 == 0) break;
        }
        d.damaged = frames.DamagedFrames();
        out.push_back(std::move(d));
    }
    return out;
}

}  // namespace

TEST(FrameLookahead, DecodesExactlyWhatTheReaderWouldWithAndWithoutDamage) {
    TestHome home;
    for (bool encrypt : {false, true})
        for (bool damage : {false, true}) {
            SCOPED_TRACE(testing::Message() << "encrypt " << encrypt << " damage " << damage);
            std::string path = home / "mixed.vqz";
            Mixed(encrypt, damage).WriteTo(path);
            auto alone = DecodeAll(path, u"pass", 1);
            ASSERT_EQ(alone.size(), 206u);
            EXPECT_EQ(DecodeAll(path, u"pass", 2), alone);
            EXPECT_EQ(DecodeAll(path, u"pass", 3), alone);
            uint32_t damagedFrames = 0;
            for (const auto& d : alone) damagedFrames += d.damaged;
            EXPECT_EQ(damagedFrames > 0, damage);
        }
}

TEST(FrameLookahead, RecordsNotWantedOrHalfReadDecodeAsWithoutIt) {
    TestHome home;
    std::string path = home / "mixed.vqz";
    Mixed(false, true).WriteTo(path);
    auto everyOther = [](const v::NodeRecord& rec) { return rec.DisplayName().size() % 2 == 0; };
    EXPECT_EQ(DecodeAll(path, u"", 2, everyOther), DecodeAll(path, u"", 1));
    EXPECT_EQ(DecodeAll(path, u"", 2, {}, true), DecodeAll(path, u"", 1, {}, true));
}

TEST(FrameLookahead, AReaderThatStopsEarlyLeavesNoThreadBehind) {
    TestHome home;
    std::string path = home / "mixed.vqz";
    Mixed(false, false).WriteTo(path);
    for (int records : {0, 1, 5}) {
        v::FileStream file(ArchiveReader::OpenArchiveFd(path));
        ArchiveReader reader;
        ASSERT_TRUE(reader.OpenArchiveFile(&file));
        reader.DecodeAhead(
            u"", nullptr, [](const v::NodeRecord&) { return true; }, 2);
        for (int i = 0; i < records; ++i) {
            FrameDecodingStream frames(reader, u"", nullptr);
            frames.Drain();
            reader.Advance();
        }
    }  // the look-ahead's threads are joined here, whatever they were doing
}
