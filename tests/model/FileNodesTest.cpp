#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "base/Text.h"
#include "base/WriteQueue.h"
#include "model/FileNodes.h"
#include "model/NodeFactory.h"
#include "model/Outcome.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"
#include "support/TestHome.h"

using namespace tindale;
using namespace v;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Payload(BasicNode& node) {
    MemoryStream m;
    node.WritePayload(m);
    return m.Data();
}

// A payload whose frames failed to decode past its first `good` bytes.
class DamagedStream : public MemoryStream {
  public:
    DamagedStream(std::vector<uint8_t> content, size_t good)
        : MemoryStream(std::move(content)), good_(good) {}
    int32_t Read(uint8_t* buffer, int32_t length) override {
        int32_t got = MemoryStream::Read(buffer, length);
        read_ += static_cast<size_t>(std::max(got, 0));
        return got;
    }
    bool Damaged() const override { return read_ > good_; }

  private:
    size_t good_;
    size_t read_ = 0;
};

uint64_t Restore(const std::vector<uint8_t>& payload, bool folder, size_t good = SIZE_MAX) {
    NodeRecord rec;
    rec.SetTypeGuid(FileFolderNode::kTypeGuid);
    rec.SetContainer(folder);
    DamagedStream in(payload, good);
    std::unique_ptr<BasicNode> node(NodeFactoryRegistry::Instance().FindFactoryAndCreate(rec, &in));
    static_cast<FileFolderNode*>(node.get())
        ->SetRestoreRoot(
            FileRestoreRoot{u"%USERPROFILE%\\Documents", shell::DocumentsFolder(), false, ""});
    return node->RestorePayload(in);
}

std::vector<std::u16string> Names(const NodeList& list) {
    std::vector<std::u16string> out;
    for (auto& n : list) out.push_back(n->GetDisplayName());
    return out;
}

}  // namespace

TEST(FileNodes, EnumerationSkipsDotNamesLinksAndSpecialFiles) {
    TestHome home;
    WriteFile(home / "Documents/.hidden", "h");
    WriteFile(home / "Documents/plain.txt", "p");
    WriteFile(home / "Documents/Sub/inner.txt", "i");
    fs::create_directory_symlink(home / "Documents/Sub", home / "Documents/LinkedDir");
    fs::create_symlink(home / "Documents/plain.txt", home / "Documents/link.txt");
    ASSERT_EQ(::mkfifo((home / "Documents/pipe").c_str(), 0600), 0);

    Outcome outcome;
    OutcomeScope scope(outcome);
    MyDocsNode docs;
    EXPECT_EQ(docs.GetDisplayName(), u"My Documents");
    EXPECT_TRUE(docs.IsContainer());
    NodeList items, folders;
    EXPECT_EQ(docs.EnumItems(items), 1);
    EXPECT_EQ(Names(items), std::vector<std::u16string>{u"plain.txt"});
    EXPECT_EQ(items[0]->parent, &docs);
    EXPECT_EQ(docs.EnumContainers(folders), 1);
    EXPECT_EQ(Names(folders), std::vector<std::u16string>{u"Sub"});
    ASSERT_EQ(outcome.problems.size(), 2u);  // the FIFO, once per enumeration
    EXPECT_NE(outcome.problems[0].item.find("pipe"), std::string::npos);
}

TEST(FileNodes, FavoritesKeepLinks) {
    TestHome home;
    WriteFile(home / "elsewhere/site.url", "u");
    WriteFile(home / "Favorites/news.url", "n");
    fs::create_directory_symlink(home / "elsewhere", home / "Favorites/Linked");
    FavoritesNode favorites;
    NodeList items, folders;
    favorites.EnumItems(items);
    favorites.EnumContainers(folders);
    EXPECT_EQ(Names(items), std::vector<std::u16string>{u"news.url"});
    EXPECT_EQ(Names(folders), std::vector<std::u16string>{u"Linked"});
    EXPECT_EQ(favorites.GetDisplayName(), u"My Favorites");
}

TEST(FileNodes, FolderPayloadIsTheHeaderAlone) {
    TestHome home;
    MyDocsNode docs;
    auto payload = Payload(docs);
    ASSERT_EQ(payload.size(), kFileHeaderSize);
    EXPECT_EQ(payload[kFileFolderFlagAt], 1);
    EXPECT_EQ(text::GetFixedUtf16(std::span(payload).subspan(0, kFilePathBytes)),
              u"%USERPROFILE%\\Documents");
}

TEST(FileNodes, FileRestoresIntoAnotherHomeReplacingWhatIsThere) {
    TestHome home;
    WriteFile(home / "Documents/deep/a.txt", "content");
    WriteFile(home / "Documents/empty.txt", "");
    std::vector<uint8_t> payload, empty;
    {
        FileFolderNode folder(DirEntry{"deep", true, false, true}, home / "Documents");
        NodeList items;
        folder.EnumItems(items);
        payload = Payload(*items[0]);
        FileFolderNode e(DirEntry{"empty.txt", false, false, true}, home / "Documents");
        empty = Payload(e);
    }
    EXPECT_EQ(text::GetU64(payload.data() + 4096), 7u);
    EXPECT_EQ(payload.size(), kFileHeaderSize + 7);
    EXPECT_EQ(empty.size(), kFileHeaderSize);
    EXPECT_EQ(text::GetU64(empty.data() + 4096), 0u);

    TestHome second;  // the folders do not exist there yet
    EXPECT_EQ(Restore(payload, false), kFileHeaderSize + 7);
    EXPECT_EQ(ReadFile(second / "Documents/deep/a.txt"), "content");
    WriteFile(second / "Documents/deep/a.txt", "a much longer earlier version");
    Restore(payload, false);
    EXPECT_EQ(ReadFile(second / "Documents/deep/a.txt"), "content");
    // Nothing but the file is left behind in the folder.
    EXPECT_EQ(
        std::distance(fs::directory_iterator(second / "Documents/deep"), fs::directory_iterator()),
        1);
}

// Through the job's writing thread, small and large files alike are replaced only when
// their data is whole; a damaged one is named and the file it would replace is kept.
TEST(FileNodes, QueuedFilesReplaceOnlyWhenUndamaged) {
    TestHome home;
    std::string large(durable::WriteQueue::kLargestQueued * 3 + 5, 'L');
    WriteFile(home / "Documents/small.txt", "small");
    WriteFile(home / "Documents/large.bin", large);
    std::vector<uint8_t> small, big;
    {
        FileFolderNode s(DirEntry{"small.txt", false, false, true}, home / "Documents");
        FileFolderNode b(DirEntry{"large.bin", false, false, true}, home / "Documents");
        small = Payload(s);
        big = Payload(b);
    }
    TestHome second;
    WriteFile(second / "Documents/small.txt", "before");
    WriteFile(second / "Documents/large.bin", "before");
    MakeOld(second / "Documents/small.txt");
    MakeOld(second / "Documents/large.bin");
    Outcome outcome;
    OutcomeScope scope(outcome);
    durable::PublishBatch batch;
    {
        durable::PublishScope publishing(batch);
        durable::WriteQueue queue(batch, "tindale");
        durable::WriteScope writing(queue);
        EXPECT_EQ(Restore(small, false, kFileHeaderSize + 2), 0u);
        EXPECT_EQ(Restore(big, false, big.size() - 10), 0u);
        queue.Drain();
        EXPECT_EQ(outcome.problems.size(), 2u);
        EXPECT_EQ(ReadFile(second / "Documents/large.bin"), "before");
        EXPECT_EQ(Restore(big, false), big.size());
        EXPECT_EQ(Restore(small, false), small.size());
    }
    ASSERT_TRUE(batch.Flush());
    EXPECT_TRUE(ReadFile(second / "Documents/large.bin") == large);
    // A job stopped while a large file is read leaves that file as it was, without a problem.
    WriteFile(second / "Documents/large.bin", "before");
    MakeOld(second / "Documents/large.bin");
    std::stop_source stop;
    stop.request_stop();
    {
        durable::PublishScope publishing(batch);
        durable::WriteQueue queue(batch, "tindale", stop.get_token());
        durable::WriteScope writing(queue);
        EXPECT_EQ(Restore(big, false), 0u);
    }
    ASSERT_TRUE(batch.Flush());
    EXPECT_EQ(outcome.problems.size(), 2u);
    EXPECT_EQ(ReadFile(second / "Documents/small.txt"), "small");
    EXPECT_EQ(ReadFile(second / "Documents/large.bin"), "before");
    EXPECT_EQ(std::distance(fs::directory_iterator(second / "Documents"), fs::directory_iterator()),
              2);
}

// A file whose content does not match what it said it was when opened (here a /proc file:
// size 0, then bytes) is named, but stays in the archive; a quiet file is not named.
TEST(FileNodes, FileThatChangesWhileReadIsNamedButKept) {
    TestHome home;
    WriteFile(home / "Documents/quiet.txt", "quiet");
    Outcome outcome;
    OutcomeScope scope(outcome);
    FileFolderNode quiet(DirEntry{"quiet.txt", false, false, true}, home / "Documents");
    EXPECT_EQ(Payload(quiet).size(), kFileHeaderSize + 5);
    EXPECT_TRUE(outcome.problems.empty());
    // Its size says 0 while it gives more: the record holds what its header declares, so
    // that a restore can tell a whole record from a forged or damaged one.
    FileFolderNode moving(DirEntry{"status", false, false, true}, "/proc/self");
    EXPECT_EQ(Payload(moving).size(), kFileHeaderSize);
    ASSERT_EQ(outcome.problems.size(), 1u);
    EXPECT_NE(outcome.problems[0].reason.find("changed while it was read"), std::string::npos);
    EXPECT_FALSE(outcome.problems[0].leftOut);
}

TEST(FileNodes, ReadOnlyFileKeepsItsContent) {
    TestHome home;
    WriteFile(home / "Documents/ro.txt", "read only");
    ::chmod((home / "Documents/ro.txt").c_str(), 0444);
    FileFolderNode node(DirEntry{"ro.txt", false, false, true}, home / "Documents");
    auto payload = Payload(node);
    EXPECT_EQ(std::string(payload.begin() + kFileHeaderSize, payload.end()), "read only");
}

TEST(FileNodes, UnreadableFileIsReportedNotStoredEmpty) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TestHome home;
    WriteFile(home / "Documents/secret.txt", "x");
    ::chmod((home / "Documents/secret.txt").c_str(), 0);
    Outcome outcome;
    OutcomeScope scope(outcome);
    FileFolderNode node(DirEntry{"secret.txt", false, false, true}, home / "Documents");
    EXPECT_EQ(Payload(node).size(), 0u);
    ASSERT_EQ(outcome.problems.size(), 1u);
    EXPECT_TRUE(outcome.problems[0].leftOut);
}

TEST(FileNodes, StoredPathsThatEscapeAreRefused) {
    TestHome home;
    std::vector<uint8_t> payload(kFileHeaderSize + 1, 0);
    text::PutFixedUtf16(std::span(payload).subspan(0, kFilePathBytes),
                        u"%USERPROFILE%\\..\\escape.txt");
    payload.back() = 'x';
    Outcome outcome;
    OutcomeScope scope(outcome);
    EXPECT_EQ(Restore(payload, false), 0u);
    EXPECT_EQ(outcome.problems.size(), 1u);
    EXPECT_FALSE(fs::exists(fs::path(home.Path()).parent_path() / "escape.txt"));
}

TEST(FileNodes, ContactsAndAddressBookRoots) {
    TestHome home;
    fs::create_directories(home / "Contacts");
    ContactNode contacts;
    EXPECT_EQ(contacts.GetDisplayName(), u"Contacts");
    EXPECT_TRUE(contacts.IsContainer());
    EXPECT_EQ(WABNode::AddressBookFolder(), "");
    auto key =
        reg::Key::Create(reg::kHkeyCurrentUser, u"Software\\Microsoft\\WAB\\WAB4\\Wab File Name");
    key->SetString(u"", text::ToUtf16(home / "wab/book.wab"));
    EXPECT_EQ(WABNode::AddressBookFolder(), home / "wab/");
}
