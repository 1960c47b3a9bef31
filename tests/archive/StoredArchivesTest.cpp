// Archives kept in tests/data, one per way of writing them, plus a cut and a damaged one. They
// pin the writer's bytes: an archive written today from the same sources must equal the stored
// one after its header's path field, so a change that alters the format shows up here. The
// stored archives are also checked by other tools (xz, openssl) and by the archive test.
//
// The early-*.vqz ones were sealed before sealed archives took zstd (LZMA inside, 10 KiB
// pieces): nothing writes them any more, and they must go on reading.
//
// To write them again after a deliberate format change: TINDALE_UPDATE_TEST_DATA=1
// build/tests/archive_tests --gtest_filter='StoredArchives.*'
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "archive/ArchiveHeader.h"
#include "archive/ArchiveReader.h"
#include "archive/Processors.h"
#include "backup/BackupEngine.h"
#include "base/Text.h"
#include "restore/ArchiveTest.h"
#include "support/FakeNode.h"
#include "support/TestHome.h"

using namespace tindale;
namespace fs = std::filesystem;

namespace {

const std::string kDataDir = TINDALE_TEST_DATA;
constexpr size_t kPathField = 10;      // the archive path starts here in the header
constexpr size_t kPathEnd = 4106;      // and the password check block here
constexpr size_t kNotesBytes = 30000;  // the "notes" source's payload

struct Variant {
    const char* name;
    bool compress, encrypt, legacy;
};
const Variant kVariants[] = {
    {"plain", false, false, false}, {"compressed", true, false, false},
    {"legacy", false, true, true},  {"compressed-legacy", true, true, true},
    {"sealed", false, true, false}, {"compressed-sealed", true, true, false}};
const char* const kEarlySealed[] = {"early-sealed", "early-compressed-sealed"};

bool Updating() {
    return std::getenv("TINDALE_UPDATE_TEST_DATA") != nullptr;
}

std::string Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Writes the sample sources (fixed names, sizes and GUIDs) as `v` says.
void WriteSample(const std::string& path, const Variant& v) {
    FakeNode notes(u"notes", kNotesBytes), box(u"box", 5, 3), empty(u"empty", 0);
    notes.instanceGuid = Guid::FromText("{11111111-2222-3333-4444-555555555501}");
    box.instanceGuid = Guid::FromText("{11111111-2222-3333-4444-555555555502}");
    empty.instanceGuid = Guid::FromText("{11111111-2222-3333-4444-555555555503}");
    BackupRequest state;
    state.archivePath = text::ToUtf16(path);
    state.sources = {&notes, &box, &empty};
    state.compress = v.compress;
    state.encrypt = v.encrypt;
    state.legacyEncryption = v.legacy;
    state.password = u"pass";
    v::NullReport report;
    ASSERT_TRUE(BackupWorker(state, report, {}, {1}).Clean());
}

// The first frame body of the first record's payload (the "notes" source).
std::vector<uint8_t> FirstFrameBody(const std::string& path) {
    v::FileStream file(ArchiveReader::OpenArchiveFd(path));
    ArchiveReader reader;
    if (!reader.OpenArchiveFile(&file)) return {};
    auto payload = reader.LoadPayload();
    if (payload.size() < 4) return {};
    uint32_t m = text::GetU32(payload.data());
    return {payload.begin() + 4, payload.begin() + 4 + std::min<size_t>(m, payload.size() - 4)};
}

std::vector<uint8_t> Through(const std::string& command, const std::vector<uint8_t>& input) {
    TestHome scratch;
    std::ofstream(scratch / "in", std::ios::binary)
        .write(reinterpret_cast<const char*>(input.data()),
               static_cast<std::streamsize>(input.size()));
    if (std::system(
            (command + " < " + (scratch / "in") + " > " + (scratch / "out") + " 2>/dev/null")
                .c_str()) != 0)
        return {};
    auto out = Slurp(scratch / "out");
    return {out.begin(), out.end()};
}

}  // namespace

TEST(StoredArchives, TheWriterStillWritesTheStoredBytes) {
    if (Updating()) {
        for (const auto& v : kVariants) WriteSample(kDataDir + "/" + v.name + ".vqz", v);
        std::string plain = Slurp(kDataDir + "/plain.vqz");
        std::ofstream(kDataDir + "/truncated.vqz", std::ios::binary)
            .write(plain.data(), static_cast<std::streamsize>(plain.size() - 100));
        std::string damaged = Slurp(kDataDir + "/compressed.vqz");
        damaged[ArchiveHeader::kSize + v::NodeRecord::kSize + 4 + 40] ^= 0x55;
        std::ofstream(kDataDir + "/damaged.vqz", std::ios::binary)
            .write(damaged.data(), static_cast<std::streamsize>(damaged.size()));
        GTEST_SKIP() << "written to " << kDataDir;
    }
    TestHome home;
    for (const auto& v : kVariants) {
        if (!v.legacy && v.encrypt) continue;  // a sealed archive's salt is new every time
        SCOPED_TRACE(v.name);
        WriteSample(home / "fresh.vqz", v);
        std::string fresh = Slurp(home / "fresh.vqz");
        std::string stored = Slurp(kDataDir + "/" + v.name + ".vqz");
        ASSERT_EQ(fresh.size(), stored.size());
        EXPECT_EQ(fresh.substr(0, kPathField), stored.substr(0, kPathField));
        EXPECT_TRUE(fresh.substr(kPathEnd) == stored.substr(kPathEnd));
    }
}

TEST(StoredArchives, EachIsJudgedAsItShouldBe) {
    using V = ArchiveTestResult::Verdict;
    auto verdict = [](const std::string& name, std::u16string password) {
        return TestArchive(kDataDir + "/" + name + ".vqz", password, nullptr, {}).verdict;
    };
    for (const auto& v : kVariants) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(verdict(v.name, u""), V::Sound);  // without a password: the shape
        EXPECT_EQ(verdict(v.name, u"pass"), V::Sound);
    }
    for (const char* early : kEarlySealed) {
        SCOPED_TRACE(early);
        EXPECT_EQ(verdict(early, u""), V::Sound);
        EXPECT_EQ(verdict(early, u"pass"), V::Sound);
        EXPECT_EQ(verdict(early, u"Pass"), V::WrongPassword);
    }
    EXPECT_EQ(verdict("sealed", u"Pass"), V::WrongPassword);
    EXPECT_EQ(verdict("compressed-sealed", u"wrong"), V::WrongPassword);
    EXPECT_EQ(verdict("truncated", u""), V::Truncated);
    EXPECT_EQ(verdict("damaged", u""), V::Damaged);
}

// Every stored archive, the earlier sealed ones too, gives back the notes it was written from,
// and each sealed one says how its pieces were cut and compressed.
TEST(StoredArchives, EveryOneGivesBackItsNotes) {
    auto notes = FakeNode::Bytes(kNotesBytes);
    std::vector<std::pair<std::string, int>> archives;  // name, seal scheme (-1: not sealed)
    for (const auto& v : kVariants) archives.push_back({v.name, v.encrypt && !v.legacy ? 1 : -1});
    for (const char* early : kEarlySealed) archives.push_back({early, 0});
    for (const auto& [name, scheme] : archives) {
        SCOPED_TRACE(name);
        ArchiveReader reader;
        ASSERT_EQ(reader.Open(kDataDir + "/" + name + ".vqz", u"pass"),
                  ArchiveReader::OpenStatus::Readable);
        if (scheme >= 0) {
            EXPECT_EQ(static_cast<int>(reader.Key()->Scheme()), scheme);
        }
        FrameDecodingStream payload(reader, u"pass", reader.Key());
        std::vector<uint8_t> back(kNotesBytes + 1);
        back.resize(v::ReadFully(payload, back.data(), back.size()));
        EXPECT_FALSE(payload.Damaged());
        EXPECT_EQ(back, notes);
    }
}

TEST(StoredArchives, OtherToolsDecodeTheirFrames) {
    auto notes = FakeNode::Bytes(kNotesBytes);
    std::vector<uint8_t> firstPiece(notes.begin(), notes.begin() + 10240);
    if (std::system("command -v xz >/dev/null") == 0) {
        // A compressed frame: marker 1, filter byte 0, then exactly an .lzma file's header
        // (properties, dictionary, size) and its stream.
        auto body = FirstFrameBody(kDataDir + "/compressed.vqz");
        ASSERT_GT(body.size(), 2u);
        ASSERT_EQ(body[0], 1);
        EXPECT_EQ(Through("xz --format=lzma -d", {body.begin() + 2, body.end()}), firstPiece);
    }
    if (std::system("openssl version >/dev/null 2>&1") == 0) {
        // A legacy frame: n, p, then DES-CBC under an all-zero key, the password giving the IV.
        auto body = FirstFrameBody(kDataDir + "/legacy.vqz");
        ASSERT_EQ(text::GetU32(body.data()), 10240u);
        std::vector<uint8_t> cipher(body.begin() + 8, body.end());
        DESEncryptor des(u"pass");
        char iv[17];
        for (int i = 0; i < 8; ++i) std::snprintf(iv + 2 * i, 3, "%02x", des.Key()[i]);
        auto plain = Through(
            "openssl enc -d -des-cbc -nopad -provider legacy -provider default -K 0000000000000000 "
            "-iv " +
                std::string(iv),
            cipher);
        plain.resize(std::min<size_t>(plain.size(), 10240));
        EXPECT_EQ(plain, firstPiece);
    }
}
