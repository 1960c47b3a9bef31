// Sealed archives: what the password protects, and every way of tampering with one.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive/ArchiveHeader.h"
#include "archive/ArchiveReader.h"
#include "backup/BackupEngine.h"
#include "base/Text.h"
#include "model/FileNodes.h"
#include "model/MessageNodes.h"
#include "platform/Identities.h"
#include "restore/ArchiveTest.h"
#include "restore/RecordTree.h"
#include "restore/RestoreEngine.h"
#include "support/CraftedArchive.h"
#include "support/TestHome.h"

using namespace tindale;
namespace fs = std::filesystem;

namespace {

const std::string kSecretText = "The launch code is TANGERINE-42";

// A home with documents and mail, backed up sealed.
std::string SealedBackup(const TestHome& home, bool compress, const std::string& name = "s.vqz") {
    WriteFile(home / "Documents/secret.txt", kSecretText + "\n" + std::string(30000, 'x'));
    WriteFile(home / "Documents/more/other.txt", kSecretText);
    WriteFile(home / "Maildir/cur/1.a.host:2,S", "Subject: plan\n\n" + kSecretText + "\n");
    fs::create_directories(home / "Maildir/new");
    fs::create_directories(home / "Maildir/tmp");
    identities::EnsureDefaultIdentity();
    v::MyDocsNode docs;
    v::NodeList folders;
    docs.EnumContainers(folders);
    v::MsgStore store;
    v::NodeList idents, mailFolders;
    store.EnumContainers(idents);
    idents[0]->EnumContainers(mailFolders);
    BackupRequest state;
    state.archivePath = text::ToUtf16(home / name);
    state.compress = compress;
    state.encrypt = true;
    state.password = u"correct horse";
    state.sources = {&docs, folders[0].get(), mailFolders[0].get()};
    v::NullReport report;
    EXPECT_TRUE(BackupWorker(state, report, {}).Clean());
    return home / name;
}

ArchiveTestResult::Verdict Check(const std::string& path, std::u16string password) {
    return TestArchive(path, password, nullptr, {}).verdict;
}

v::Outcome RestoreInto(const std::string& archive, std::u16string password,
                       std::u16string identity = {}, bool clear = false,
                       std::optional<SealKey> key = {}) {
    RestoreRequest state;
    state.archivePath = text::ToUtf16(archive);
    state.password = std::move(password);
    state.key = std::move(key);
    state.identity = std::move(identity);
    state.clearIdentity = clear;
    for (const auto& e : RecordTree::Load(archive).entries) state.items.push_back(e->record);
    v::NullReport report;
    return RestoreWorker(state, report, {});
}

}  // namespace

TEST(SealedArchive, RoundTripsAndHidesWhatItHolds) {
    for (bool compress : {false, true}) {
        TestHome home;
        std::string archive = SealedBackup(home, compress);
        std::string bytes = ReadFile(archive);
        EXPECT_EQ(bytes[6], 1);  // marked, so readers of the original format refuse it
        EXPECT_EQ(bytes.find("TANGERINE"), std::string::npos);
        EXPECT_EQ(bytes.find("launch"), std::string::npos);
        EXPECT_EQ(Check(archive, u""), ArchiveTestResult::Verdict::Sound);  // shape, no key
        EXPECT_EQ(Check(archive, u"correct horse"), ArchiveTestResult::Verdict::Sound);
        EXPECT_EQ(Check(archive, u"Correct horse"), ArchiveTestResult::Verdict::WrongPassword);
        // The closing record is the last one read: a whole archive is read to 100%, with the
        // key and without it.
        for (std::u16string password : {u"", u"correct horse"}) {
            auto result = TestArchive(archive, password, nullptr, {});
            EXPECT_EQ(result.percent, 100u);
        }

        TestHome target;
        auto id = identities::Add(u"Target", target / "Mail");
        v::Outcome outcome = RestoreInto(archive, u"correct horse", *id);
        EXPECT_TRUE(outcome.Clean()) << outcome.error;
        EXPECT_EQ(ReadFile(target / "Documents/secret.txt"),
                  kSecretText + "\n" + std::string(30000, 'x'));
        EXPECT_EQ(ReadFile(target / "Documents/more/other.txt"), kSecretText);
    }
}

// Files of several 128 KiB pieces, of text, noise and nothing, come back byte for byte,
// compressed or not; compressed, the text shrinks and the noise is stored.
TEST(SealedArchive, LargePiecesRoundTripByteForByte) {
    std::string text;
    for (int i = 0; text.size() < 600000; ++i)
        text += "Dear Bob, piece " + std::to_string(i) + "\n";
    std::string noise(300000, '\0');
    uint32_t seed = 5;
    for (char& c : noise) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
    const std::string mixed = text + noise + text.substr(0, 131071);
    for (bool compress : {false, true}) {
        SCOPED_TRACE(compress);
        TestHome home;
        WriteFile(home / "Documents/mixed.bin", mixed);
        WriteFile(home / "Documents/empty.txt", "");
        std::string archive = SealedBackup(home, compress);
        std::string bytes = ReadFile(archive);
        // zstd pieces; compressed, with a dictionary for the small ones
        EXPECT_EQ(bytes[ArchiveHeader::kSealSchemeAt], compress ? 2 : 1);
        size_t sealedSize = bytes.size();
        if (compress) {
            EXPECT_LT(sealedSize, mixed.size() - text.size());
        }
        TestHome target;
        auto id = identities::Add(u"Target", target / "Mail");
        EXPECT_TRUE(RestoreInto(archive, u"correct horse", *id).Clean());
        EXPECT_TRUE(ReadFile(target / "Documents/mixed.bin") == mixed);
        EXPECT_TRUE(fs::exists(target / "Documents/empty.txt"));
        EXPECT_EQ(Check(archive, u"correct horse"), ArchiveTestResult::Verdict::Sound);
    }
}

TEST(SealedArchive, AReaderOfTheOriginalFormatRefusesIt) {
    TestHome home;
    std::string archive = SealedBackup(home, false);
    v::FileStream file(ArchiveReader::OpenArchiveFd(archive));
    ArchiveReader original;
    EXPECT_FALSE(original.OpenArchiveFile(&file, false));
    EXPECT_EQ(original.Reason(), ArchiveReader::EndReason::NotAnArchive);
}

TEST(SealedArchive, AWrongPasswordFailsBeforeAnythingIsDeleted) {
    TestHome home;
    std::string archive = SealedBackup(home, true);
    auto main = identities::List()[0].id;
    for (const char16_t* wrong : {u"wrong", u"Correct horse", u""}) {
        v::Outcome outcome = RestoreInto(archive, wrong, main, true);
        EXPECT_TRUE(outcome.failed);
        EXPECT_EQ(outcome.error, "wrong password");
        EXPECT_TRUE(fs::exists(home / "Maildir/cur/1.a.host:2,S"));
    }
}

// The key derived when the password was checked is used again, but only for the archive it
// was derived for: with another archive's key the password decides.
TEST(SealedArchive, AKeyDerivedBeforeIsUsedOnlyForItsOwnArchive) {
    TestHome home;
    std::string first = SealedBackup(home, false, "first.vqz");
    std::string second = SealedBackup(home, false, "second.vqz");  // another salt
    ArchiveReader reader;
    ASSERT_EQ(reader.Open(first, u"correct horse"), ArchiveReader::OpenStatus::Readable);
    SealKey key = *reader.Key();
    EXPECT_TRUE(key.Fits(reader.Header()));
    EXPECT_TRUE(RestoreInto(first, u"not asked again", {}, false, key).Clean());
    EXPECT_TRUE(RestoreInto(second, u"correct horse", {}, false, key).Clean());
    v::Outcome wrong = RestoreInto(second, u"wrong", {}, false, key);
    EXPECT_EQ(wrong.error, "wrong password");
}

TEST(SealedArchive, AFlippedByteFailsItsItemOnlyAndWritesNothingForIt) {
    TestHome home;
    std::string archive = SealedBackup(home, false);
    std::string bytes = ReadFile(archive);
    auto offsets = RecordOffsets(bytes);
    // The record of secret.txt, and a byte inside each of its frames in turn.
    size_t secret = 0;
    const std::string name("s\0e\0c\0r\0e\0t\0", 12);
    for (size_t at : offsets)
        if (bytes.compare(at + v::NodeRecord::kDisplayNameAt, name.size(), name) == 0) secret = at;
    ASSERT_NE(secret, 0u);
    size_t payload = secret + v::NodeRecord::kSize;
    size_t length = text::GetU64(reinterpret_cast<const uint8_t*>(bytes.data()) + secret +
                                 v::NodeRecord::kPayloadLengthAt);
    for (size_t k : {payload + 4, payload + 5, payload + 100, payload + length - 1}) {
        std::string damaged = bytes;
        damaged[k] ^= 0x01;
        WriteFile(home / "d.vqz", damaged);
        EXPECT_EQ(Check(home / "d.vqz", u"correct horse"), ArchiveTestResult::Verdict::Damaged);
        TestHome target;
        auto id = identities::Add(u"Target", target / "Mail");
        v::Outcome outcome = RestoreInto(home / "d.vqz", u"correct horse", *id);
        ASSERT_EQ(outcome.LeftOut(), 1u) << k;
        EXPECT_FALSE(fs::exists(target / "Documents/secret.txt"));
        EXPECT_EQ(ReadFile(target / "Documents/more/other.txt"), kSecretText);  // the rest is fine
        for (auto& e : fs::directory_iterator(target / "Documents"))
            EXPECT_EQ(e.path().filename().string().find(".tindale-"), std::string::npos);
    }
}

TEST(SealedArchive, CutReorderedOrSplicedArchivesAreFound) {
    TestHome home;
    std::string archive = SealedBackup(home, true);
    std::string bytes = ReadFile(archive);
    auto offsets = RecordOffsets(bytes);
    ASSERT_GE(offsets.size(), 5u);
    auto check = [&](const std::string& variant) {
        WriteFile(home / "v.vqz", variant);
        return Check(home / "v.vqz", u"correct horse");
    };
    using V = ArchiveTestResult::Verdict;
    // Without its closing record, or without the record before it.
    EXPECT_EQ(check(bytes.substr(0, offsets.back())), V::Truncated);
    std::string noLast =
        bytes.substr(0, offsets[offsets.size() - 2]) + bytes.substr(offsets.back());
    EXPECT_NE(check(noLast), V::Sound);
    // Two records swapped, or one repeated.
    auto entry = [&](size_t i) {
        size_t end = i + 1 < offsets.size() ? offsets[i + 1] : bytes.size();
        return bytes.substr(offsets[i], end - offsets[i]);
    };
    std::string swapped =
        bytes.substr(0, offsets[1]) + entry(2) + entry(1) + bytes.substr(offsets[3]);
    EXPECT_NE(check(swapped), V::Sound);
    std::string repeated = bytes.substr(0, offsets[2]) + entry(1) + bytes.substr(offsets[2]);
    EXPECT_NE(check(repeated), V::Sound);
    // A record from another sealed archive spliced in.
    std::string other = ReadFile(SealedBackup(home, true, "other.vqz"));
    auto otherOffsets = RecordOffsets(other);
    std::string spliced = bytes.substr(0, offsets[1]) +
                          other.substr(otherOffsets[1], otherOffsets[2] - otherOffsets[1]) +
                          bytes.substr(offsets[2]);
    EXPECT_NE(check(spliced), V::Sound);
    // Cut anywhere.
    for (size_t cut = ArchiveHeader::kSize + 1; cut < bytes.size(); cut += bytes.size() / 23)
        EXPECT_NE(check(bytes.substr(0, cut)), V::Sound) << cut;
    EXPECT_EQ(check(bytes), V::Sound);
}

// Limits no writer uses (4 GiB and 64 passes; 32 passes over 512 MiB) make a damaged header: it is
// refused at once, as damaged rather than as a wrong password, and no key is derived for it.
TEST(SealedArchive, AHeaderAskingForHugeKeyDerivationIsDamaged) {
    TestHome home;
    std::string bytes = ReadFile(SealedBackup(home, false));
    // Each factor too large, or both within bounds but their product (the work) too large.
    for (auto [ops, mem] : {std::pair{64u, 4ull << 30}, std::pair{32u, 512ull << 20}}) {
        std::string variant = bytes;
        text::PutU64(reinterpret_cast<uint8_t*>(variant.data()) + 4126, mem);
        text::PutU32(reinterpret_cast<uint8_t*>(variant.data()) + 4122, ops);
        WriteFile(home / "v.vqz", variant);
        ArchiveReader reader;
        EXPECT_EQ(reader.Open(home / "v.vqz", u"correct horse"),
                  ArchiveReader::OpenStatus::DamagedHeader);
    }
    std::string huge = bytes;
    text::PutU64(reinterpret_cast<uint8_t*>(huge.data()) + 4126, 4ull << 30);
    text::PutU32(reinterpret_cast<uint8_t*>(huge.data()) + 4122, 64);
    WriteFile(home / "huge.vqz", huge);
    auto result = TestArchive(home / "huge.vqz", u"correct horse", nullptr, {});
    EXPECT_EQ(result.verdict, ArchiveTestResult::Verdict::Damaged);
    EXPECT_NE(result.Describe().find("header"), std::string::npos);
    v::Outcome outcome = RestoreInto(home / "huge.vqz", u"correct horse");
    EXPECT_TRUE(outcome.failed);
    EXPECT_NE(outcome.error.find("header is damaged"), std::string::npos);
}

// The seal scheme is covered by the key check: changed to an earlier one it no longer opens
// with the password, and a scheme no writer uses is a damaged header.
TEST(SealedArchive, TheSealSchemeCannotBeChangedWithoutThePassword) {
    TestHome home;
    std::string bytes = ReadFile(SealedBackup(home, true));
    for (auto [scheme, status] : {std::pair{0, ArchiveReader::OpenStatus::WrongPassword},
                                  std::pair{1, ArchiveReader::OpenStatus::WrongPassword},
                                  std::pair{3, ArchiveReader::OpenStatus::DamagedHeader}}) {
        std::string variant = bytes;
        variant[ArchiveHeader::kSealSchemeAt] = static_cast<char>(scheme);
        WriteFile(home / "v.vqz", variant);
        ArchiveReader reader;
        EXPECT_EQ(reader.Open(home / "v.vqz", u"correct horse"), status) << scheme;
    }
}

// A stop ends the wait for a key at once: Ctrl-C or Cancel during derivation.
TEST(SealedArchive, DerivingAKeyStopsWhenAsked) {
    std::stop_source stop;
    stop.request_stop();
    EXPECT_FALSE(SealKey::Derive(u"pw", SealParams::Fresh(), stop.get_token()));
    EXPECT_TRUE(SealKey::Derive(u"pw", SealParams::Fresh()));
}

// A record that claims to be plain in a sealed archive is forged: test finds it with and
// without the password, and a restore writes and deletes nothing (the forgeries made from the
// documented layout alone are in tests/cli/sealed_forgeries.sh).
TEST(SealedArchive, APlainRecordPlantedInASealedArchiveRestoresNothing) {
    TestHome home;
    std::string bytes = ReadFile(SealedBackup(home, false));
    auto offsets = RecordOffsets(bytes);
    CraftedArchive plain(false, false);
    v::NodeRecord first;
    std::copy_n(bytes.begin() + static_cast<long>(offsets[0]), v::NodeRecord::kSize,
                first.bytes.begin());
    Guid docs = first.InstanceGuid();
    plain.Add(v::FileFolderNode::kTypeGuid, u"planted.txt",
              plain.Frames(
                  CraftedArchive::FilePayload(u"%USERPROFILE%\\Documents\\planted.txt", "planted")),
              false, &docs);
    std::string planted = plain.Bytes().substr(ArchiveHeader::kSize);
    std::string forged = bytes.substr(0, offsets.back()) + planted + bytes.substr(offsets.back());
    WriteFile(home / "f.vqz", forged);
    EXPECT_EQ(Check(home / "f.vqz", u""), ArchiveTestResult::Verdict::Damaged);
    EXPECT_EQ(Check(home / "f.vqz", u"correct horse"), ArchiveTestResult::Verdict::Damaged);
    TestHome target;
    auto id = identities::Add(u"Target", target / "Mail");
    v::Outcome outcome = RestoreInto(home / "f.vqz", u"correct horse", *id);
    EXPECT_TRUE(outcome.failed);
    EXPECT_FALSE(fs::exists(target / "Documents/planted.txt"));
    EXPECT_FALSE(fs::exists(target / "Documents/secret.txt"));
}
