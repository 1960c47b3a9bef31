// One battery run over every kind of store: whatever the kind, folders, names, message
// state, copies, deletion and ids behave the same through the store interface, and nothing
// of this program's is left in the person's mail folders.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "platform/MailStore.h"
#include "support/TestHome.h"

using namespace tindale::store;
namespace fs = std::filesystem;

namespace {

struct Added {
    uint32_t id;
    std::string bytes;
    MessageState state;
};

MessageState StateOf(std::string flags, bool inNew, int64_t arrival) {
    MessageState s;
    s.flags = std::move(flags);
    s.inNew = inNew;
    s.arrivalSeconds = arrival;
    s.known = true;
    return s;
}

std::string ReadFd(int fd) {
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) out.append(buffer, size_t(n));
    ::close(fd);
    return out;
}

class StoreKinds : public ::testing::TestWithParam<StoreKind> {
  protected:
    std::string Root() const { return home_ / "store"; }

    std::unique_ptr<StoreNamespace> Open() {
        auto ns = std::make_unique<StoreNamespace>();
        EXPECT_EQ(ns->InitializeAt(Root(), GetParam()), S_OK);
        return ns;
    }

    // Folder paths ("Work/Projects") to ids, walking the whole tree.
    static std::map<std::string, uint32_t> Tree(StoreNamespace& ns, uint32_t parent = 0,
                                                const std::string& prefix = "") {
        std::map<std::string, uint32_t> out;
        for (const auto& f : ListSubFolders(ns, parent)) {
            std::string path = prefix + f.name;
            out[path] = f.folderId;
            for (auto& [p, id] : Tree(ns, f.folderId, path + "/")) out[p] = id;
        }
        return out;
    }

    static uint32_t Make(StoreNamespace& ns, uint32_t parent, const std::string& name) {
        uint32_t id = 0;
        EXPECT_EQ(ns.CreateFolder(parent, name, id), S_OK) << name;
        return id;
    }

    static Added Add(StoreFolder& folder, const std::string& bytes, const MessageState& state) {
        std::unique_ptr<PendingMessage> pending;
        EXPECT_EQ(folder.CreateStream(pending), S_OK);
        EXPECT_EQ(::write(pending->Fd(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
        uint32_t id = 0;
        EXPECT_EQ(folder.CommitStream(*pending, id, &state), S_OK);
        return {id, bytes, state};
    }

    TestHome home_;
};

TEST_P(StoreKinds, FoldersWithOddNamesKeepTheirPlaceAndIds) {
    std::map<std::string, uint32_t> before;
    {
        auto ns = Open();
        uint32_t work = Make(*ns, kRootFolderId, "Work");
        Make(*ns, work, "Projects 2024");
        Make(*ns, kRootFolderId, "Entwürfe v1.2");
        Make(*ns, kRootFolderId, "Tom & Jerry");
        if (GetParam() != StoreKind::MaildirPlusPlus) Make(*ns, kRootFolderId, "Inbox");
        before = Tree(*ns);
    }
    auto ns = Open();
    auto after = Tree(*ns);
    EXPECT_EQ(after, before);  // the same names, the same ids, in a namespace of its own
    for (const char* name : {"Inbox", "Work", "Work/Projects 2024", "Entwürfe v1.2", "Tom & Jerry"})
        EXPECT_TRUE(after.count(name)) << name;
    uint32_t again = 0;
    ASSERT_EQ(ns->CreateFolder(kRootFolderId, "Work", again), S_OK);  // already there
    EXPECT_EQ(again, after["Work"]);
    std::unique_ptr<StoreFolder> root;
    EXPECT_LT(ns->OpenFolder(kRootFolderId, root), 0);
}

TEST_P(StoreKinds, MessagesComeBackWithTheirStateAndIdsAcrossRuns) {
    const std::string read = "From: a@example.org\nSubject: read and flagged\n\nbody\nFrom here\n";
    const std::string answered = "Subject: answered\nMessage-ID: <x@y>\n\nsecond\n";
    const std::string fresh = "Subject: still new\n\nthird\n";
    std::vector<Added> added;
    uint32_t folderId = 0;
    {
        auto ns = Open();
        folderId = Make(*ns, kRootFolderId, "Work");
        std::unique_ptr<StoreFolder> folder;
        ASSERT_EQ(ns->OpenFolder(folderId, folder), S_OK);
        ASSERT_TRUE(folder->Writable());
        added.push_back(Add(*folder, read, StateOf("FS", false, 1700000000)));
        added.push_back(Add(*folder, answered, StateOf("RS", false, 1600000000)));
        added.push_back(Add(*folder, fresh, StateOf("", true, 1500000000)));
    }
    auto ns = Open();
    std::unique_ptr<StoreFolder> folder;
    ASSERT_EQ(ns->OpenFolder(folderId, folder), S_OK);
    auto listed = ListMessages(*folder);
    ASSERT_EQ(listed.size(), 3u);
    FolderProps props;
    ASSERT_EQ(folder->GetFolderProps(props), S_OK);
    EXPECT_EQ(props.messages, 3u);
    EXPECT_EQ(props.unread, 1u);
    for (const auto& a : added) {
        auto it = std::find_if(listed.begin(), listed.end(),
                               [&](const MessageProps& p) { return p.messageId == a.id; });
        ASSERT_NE(it, listed.end()) << "id " << a.id << " not stable across runs";
        EXPECT_EQ((it->state & kMessageRead) != 0, a.state.flags.find('S') != std::string::npos);
        int fd = -1;
        MessageState state;
        ASSERT_EQ(folder->OpenMessage(a.id, fd, &state), S_OK);
        // Thunderbird's stores carry state in lines they add to the message; the message
        // leaves without them, with the bytes it came with.
        EXPECT_EQ(ReadFd(fd), a.bytes);
        EXPECT_EQ(state.flags, a.state.flags);
        EXPECT_EQ(state.inNew, a.state.inNew);
        EXPECT_EQ(state.arrivalSeconds, a.state.arrivalSeconds);
    }
    ASSERT_EQ(folder->SetFlags(added[2].id, "S"), S_OK);
    int fd = -1;
    MessageState state;
    ASSERT_EQ(folder->OpenMessage(added[2].id, fd, &state), S_OK);
    ::close(fd);
    EXPECT_EQ(state.flags, "S");
    EXPECT_FALSE(state.inNew);
}

// A restore asks before each message whether the folder holds it already: two records of
// one message in an archive are two messages, as they were in their folder, and only a
// later restore finds them there.
TEST_P(StoreKinds, TwoRecordsOfOneMessageAreTwoMessages) {
    const std::string same = "Subject: twice\n\nthe same bytes\n";
    auto bytes =
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(same.data()), same.size());
    uint32_t folderId = 0;
    {
        auto ns = Open();
        folderId = Make(*ns, kRootFolderId, "Twice");
        std::unique_ptr<StoreFolder> folder;
        ASSERT_EQ(ns->OpenFolder(folderId, folder), S_OK);
        for (int i = 0; i < 2; ++i) {
            EXPECT_FALSE(folder->HoldsCopyOf(bytes)) << i;
            Add(*folder, same, StateOf("S", false, 1700000000));
        }
        ASSERT_EQ(ns->Flush(), 0);
    }
    auto ns = Open();
    std::unique_ptr<StoreFolder> folder;
    ASSERT_EQ(ns->OpenFolder(folderId, folder), S_OK);
    EXPECT_EQ(ListMessages(*folder).size(), 2u);
    EXPECT_TRUE(folder->HoldsCopyOf(bytes));
}

TEST_P(StoreKinds, KeywordsComeBackByName) {
    auto ns = Open();
    uint32_t folderId = Make(*ns, kRootFolderId, "Tagged");
    std::unique_ptr<StoreFolder> folder;
    ASSERT_EQ(ns->OpenFolder(folderId, folder), S_OK);
    MessageState state = StateOf("S", false, 1700000000);
    state.keywords = {{'a', "$Label1"}, {0, "Junk"}};
    auto added = Add(*folder, "Subject: tagged\n\nbody\n", state);
    ns->ReleaseIndexes();
    int fd = -1;
    MessageState back;
    ASSERT_EQ(folder->OpenMessage(added.id, fd, &back), S_OK);
    ::close(fd);
    std::vector<std::string> names;
    for (const auto& k : back.keywords) {
        std::string lower;
        for (char c : k.name) lower += char(std::tolower(static_cast<unsigned char>(c)));
        names.push_back(lower);  // Thunderbird keeps its tags in lowercase
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"$label1", "junk"}));
    EXPECT_EQ(back.flags.substr(0, 1), "S");
    for (char c : back.flags.substr(1)) EXPECT_TRUE(c >= 'a' && c <= 'z') << back.flags;
}

TEST_P(StoreKinds, CopiesAreRecognisedAndDeletionTakesExactlyWhatIsNamed) {
    auto ns = Open();
    uint32_t folderId = Make(*ns, kRootFolderId, "Archive");
    std::unique_ptr<StoreFolder> folder;
    ASSERT_EQ(ns->OpenFolder(folderId, folder), S_OK);
    const std::string a = "Subject: a\n\nsame size\n", b = "Subject: b\n\nsame size\n";
    auto first = Add(*folder, a, StateOf("S", false, 1700000000));
    auto twin = Add(*folder, a, StateOf("", true, 1700000001));  // a copy the person kept
    auto other = Add(*folder, b, StateOf("", true, 1700000002));
    auto bytesOf = [](const std::string& s) {
        return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    EXPECT_TRUE(folder->HoldsCopyOf(bytesOf(a)));
    EXPECT_FALSE(folder->HoldsCopyOf(bytesOf("Subject: c\n\nsame size\n")));
    EXPECT_NE(first.id, twin.id);
    EXPECT_EQ(ListMessages(*folder).size(), 3u);

    ASSERT_EQ(folder->DeleteMessages({first.id}), S_OK);
    auto left = ListMessages(*folder);
    ASSERT_EQ(left.size(), 2u);
    std::set<uint32_t> ids{left[0].messageId, left[1].messageId};
    EXPECT_EQ(ids, (std::set<uint32_t>{twin.id, other.id}));
    EXPECT_EQ(folder->DeleteMessages({first.id}), S_FALSE);  // already gone
    ASSERT_EQ(folder->DeleteMessages({twin.id, other.id}), S_OK);
    EXPECT_TRUE(ListMessages(*folder).empty());
}

TEST_P(StoreKinds, NothingOfOursIsLeftInTheMailFolders) {
    {
        auto ns = Open();
        uint32_t id = Make(*ns, kRootFolderId, "Work");
        std::unique_ptr<StoreFolder> folder;
        ASSERT_EQ(ns->OpenFolder(id, folder), S_OK);
        auto m = Add(*folder, "Subject: x\n\ny\n", StateOf("S", false, 1700000000));
        ListMessages(*folder);
        folder->SetFlags(m.id, "FS");
        ASSERT_EQ(ns->Flush(), 0);
    }
    for (const auto& entry : fs::recursive_directory_iterator(Root())) {
        std::string name = entry.path().filename().string();
        EXPECT_EQ(name.find("tindale"), std::string::npos) << entry.path();
        EXPECT_NE(entry.path().parent_path().filename(), "tmp") << entry.path();
    }
}

std::string KindLabel(const ::testing::TestParamInfo<StoreKind>& info) {
    std::string name = KindName(info.param);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryKind, StoreKinds,
                         ::testing::Values(StoreKind::MaildirPlusPlus, StoreKind::Verbatim,
                                           StoreKind::Legacy, StoreKind::KMail, StoreKind::Mbox,
                                           StoreKind::ThunderbirdMaildir),
                         KindLabel);

}  // namespace
