// Compressed sealed archives whose messages share a dictionary (the archive's first record):
// every kind of message comes back byte for byte, one message reads alone, and a dictionary
// record that was changed, moved or removed is found with the password.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "archive/ArchiveHeader.h"
#include "archive/ArchiveReader.h"
#include "archive/ZstdDictionary.h"
#include "backup/BackupEngine.h"
#include "base/Text.h"
#include "model/MessageNodes.h"
#include "platform/Identities.h"
#include "restore/ArchiveTest.h"
#include "restore/Extract.h"
#include "restore/RecordTree.h"
#include "restore/RestoreEngine.h"
#include "support/CraftedArchive.h"
#include "support/TestHome.h"

using namespace tindale;
namespace fs = std::filesystem;

namespace {

const std::u16string kPassword = u"correct horse";

std::string Message(int i, const std::string& body) {
    return "Received: from mx.example.org by mail.example.org\nFrom: Ann <ann@example.org>\n"
           "To: Bob <bob@example.org>\nSubject: Note " +
           std::to_string(i) + "\nMessage-ID: <" + std::to_string(i) + "@example.org>\n\n" + body +
           "\n-- \nAnn, example.org\n";
}

std::string Noise(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>(rng());
    return out;
}

// Messages of every shape: many alike (enough to train on), one empty, one of noise, one of
// several pieces.
std::vector<std::string> MailOfEveryShape() {
    std::vector<std::string> mail;
    for (int i = 0; i < 60; ++i) mail.push_back(Message(i, "Hello Bob, note " + std::to_string(i)));
    mail.push_back("");
    mail.push_back(Message(100, Noise(3000, 1)));
    std::string big;
    for (int i = 0; big.size() < 400 * 1024; ++i)
        big += "line " + std::to_string(i) + " of a long one\n";
    mail.push_back(Message(101, big + Noise(20000, 2)));
    return mail;
}

std::string Backup(const TestHome& home, const std::vector<std::string>& mail) {
    for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(home / "Maildir/" + sub);
    for (size_t i = 0; i < mail.size(); ++i)
        WriteFile(home / ("Maildir/cur/" + std::to_string(1700000000 + i) + ".M1.host:2,S"),
                  mail[i]);
    identities::EnsureDefaultIdentity();
    v::MsgStore store;
    v::NodeList idents, folders;
    store.EnumContainers(idents);
    idents[0]->EnumContainers(folders);
    BackupRequest state;
    state.archivePath = text::ToUtf16(home / "m.vqz");
    state.compress = state.encrypt = true;
    state.password = kPassword;
    state.sources = {folders[0].get()};
    v::NullReport report;
    EXPECT_TRUE(BackupWorker(state, report, {}).Clean());
    return home / "m.vqz";
}

std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        if (e.is_regular_file() && e.path().parent_path().filename() == "cur")
            out.push_back(ReadFile(e.path()));
    std::sort(out.begin(), out.end());
    return out;
}

ArchiveTestResult::Verdict Check(const std::string& path) {
    return TestArchive(path, kPassword, nullptr, {}).verdict;
}

}  // namespace

TEST(SharedDictionary, EveryMessageComesBackByteForByte) {
    TestHome home;
    auto mail = MailOfEveryShape();
    std::string archive = Backup(home, mail);
    std::string bytes = ReadFile(archive);
    EXPECT_EQ(bytes[ArchiveHeader::kSealSchemeAt], 2);
    v::NodeRecord first;
    std::copy_n(bytes.begin() + ArchiveHeader::kSize, v::NodeRecord::kSize, first.bytes.begin());
    EXPECT_EQ(first.TypeGuid(), kZstdDictionaryType);
    EXPECT_EQ(Check(archive), ArchiveTestResult::Verdict::Sound);
    // The dictionary is nobody's item: the tree does not show it.
    for (const auto& e : RecordTree::Load(archive).entries)
        EXPECT_NE(e->record.TypeGuid(), kZstdDictionaryType);

    TestHome target;
    auto id = identities::Add(u"Target", target / "Mail");
    RestoreRequest state;
    state.archivePath = text::ToUtf16(archive);
    state.password = kPassword;
    state.identity = *id;
    for (const auto& e : RecordTree::Load(archive).entries) state.items.push_back(e->record);
    v::NullReport report;
    v::Outcome outcome = RestoreWorker(state, report, {});
    EXPECT_TRUE(outcome.Clean()) << outcome.error;
    std::sort(mail.begin(), mail.end());
    EXPECT_EQ(FilesBelow(target / "Mail"), mail);
}

TEST(SharedDictionary, OneMessageReadsAlone) {
    TestHome home;
    std::string archive = Backup(home, MailOfEveryShape());
    ExtractRequest request;
    request.archivePath = text::ToUtf16(archive);
    request.password = kPassword;
    std::string out = home / "one.eml";
    int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    v::Outcome outcome = CatItem(request, "Inbox/Note 7", fd);
    ::close(fd);
    EXPECT_TRUE(outcome.Clean()) << outcome.error;
    EXPECT_EQ(ReadFile(out), Message(7, "Hello Bob, note 7"));
}

// The dictionary record changed, removed, or moved from the front: with the password, the
// archive is not sound and its messages do not pass for read.
TEST(SharedDictionary, ATamperedDictionaryIsFound) {
    TestHome home;
    std::string archive = Backup(home, MailOfEveryShape());
    std::string bytes = ReadFile(archive);
    auto offsets = RecordOffsets(bytes);
    ASSERT_GE(offsets.size(), 4u);
    auto check = [&](const std::string& variant) {
        WriteFile(home / "v.vqz", variant);
        return Check(home / "v.vqz");
    };
    using V = ArchiveTestResult::Verdict;
    std::string flipped = bytes;
    flipped[offsets[0] + v::NodeRecord::kSize + 200] ^= 1;
    EXPECT_NE(check(flipped), V::Sound);
    std::string dictionary = bytes.substr(offsets[0], offsets[1] - offsets[0]);
    std::string removed = bytes.substr(0, offsets[0]) + bytes.substr(offsets[1]);
    EXPECT_NE(check(removed), V::Sound);
    std::string moved = bytes.substr(0, offsets[0]) +
                        bytes.substr(offsets[1], offsets[2] - offsets[1]) + dictionary +
                        bytes.substr(offsets[2]);
    EXPECT_NE(check(moved), V::Sound);
    // Another archive's dictionary, sealed under another key, does not open here.
    TestHome other;
    std::string theirs = ReadFile(Backup(other, MailOfEveryShape()));
    auto theirOffsets = RecordOffsets(theirs);
    std::string swapped = bytes.substr(0, offsets[0]) +
                          theirs.substr(theirOffsets[0], theirOffsets[1] - theirOffsets[0]) +
                          bytes.substr(offsets[1]);
    EXPECT_NE(check(swapped), V::Sound);
    EXPECT_EQ(check(bytes), V::Sound);
}

// A dictionary as an archive holds it must be one: anything else is no dictionary.
TEST(SharedDictionary, OnlyADictionaryLoadsAsOne) {
    std::vector<uint8_t> junk(4096, 0x37);
    EXPECT_EQ(ZstdDictionary::FromBytes(junk.data(), junk.size()), nullptr);
    EXPECT_EQ(ZstdDictionary::FromBytes(junk.data(), 0), nullptr);
    std::vector<uint8_t> samples;
    std::vector<size_t> sizes;
    for (int i = 0; i < 200; ++i) {
        std::string m = Message(i, "Hello Bob, note " + std::to_string(i * 7919));
        samples.insert(samples.end(), m.begin(), m.end());
        sizes.push_back(m.size());
    }
    auto trained = ZstdDictionary::Train(samples, sizes);
    ASSERT_NE(trained, nullptr);
    auto again = ZstdDictionary::FromBytes(trained->Bytes().data(), trained->Bytes().size());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->Id(), trained->Id());
    std::vector<uint8_t> huge(ZstdDictionary::kMaxBytes + 1);
    std::copy(trained->Bytes().begin(), trained->Bytes().end(), huge.begin());
    EXPECT_EQ(ZstdDictionary::FromBytes(huge.data(), huge.size()), nullptr);
}
