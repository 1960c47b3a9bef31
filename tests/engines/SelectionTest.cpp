#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "backup/BackupEngine.h"
#include "backup/SourceTree.h"
#include "base/Text.h"
#include "model/Worker.h"
#include "restore/RecordTree.h"
#include "support/TestHome.h"

using namespace tindale;

namespace {
std::vector<std::string> Paths(const SourceTree& tree) {
    std::vector<std::string> out;
    for (auto* node : tree.Selected()) out.push_back(text::ToUtf8(node->GetDisplayName()));
    return out;
}
}  // namespace

TEST(SourceTreeTest, ChecksPropagateDownAndUpWithAFoldersOwnItemsAsOneMoreChild) {
    TestHome home;
    for (auto f : {"A/own.txt", "A/A1/x", "A/A2/y", "B/z"})
        WriteFile(home / (std::string("Documents/") + f), "1");
    SourceTree tree;
    auto* docs = tree.Find("My Documents");
    auto* a = tree.Find("My Documents/A");
    auto* a1 = tree.Find("My Documents/A/A1");
    auto* a2 = tree.Find("My Documents/A/A2");
    ASSERT_TRUE(docs && a && a1 && a2);
    EXPECT_EQ(docs->state, SourceTree::kChecked);  // everything starts checked

    tree.SetState(*a1, SourceTree::kUnchecked);
    EXPECT_EQ(a->state, SourceTree::kPartly);
    EXPECT_EQ(docs->state, SourceTree::kPartly);
    tree.SetState(*a2, SourceTree::kUnchecked);
    // Every subfolder went, but A's own files stay chosen.
    EXPECT_EQ(a->state, SourceTree::kPartly);
    EXPECT_TRUE(tree.WithoutOwnItems().empty());
    tree.SetState(*docs, SourceTree::kChecked);
    EXPECT_EQ(a1->state, SourceTree::kChecked);

    tree.SetAll(SourceTree::kUnchecked);
    EXPECT_TRUE(tree.Selected().empty());
    tree.SetState(*a1, SourceTree::kChecked);
    // Partly checked ancestors come first, in pre-order, without their own items.
    EXPECT_EQ(Paths(tree), (std::vector<std::string>{"My Documents", "A", "A1"}));
    EXPECT_EQ(tree.WithoutOwnItems(), (std::set<const v::BasicNode*>{docs->node, a->node}));
}

// The archive holds exactly what the tree shows: a folder whose only subfolder is left out
// keeps its own files; a folder chosen only for its subfolder is written without them.
TEST(SourceTreeTest, ArchiveHoldsAFoldersOwnItemsExactlyWhenChosen) {
    TestHome home;
    WriteFile(home / "Documents/Work/plan.txt", "p");
    WriteFile(home / "Documents/Work/Projects/x.txt", "x");
    auto backUp = [&](const std::string& name, auto choose) {
        SourceTree tree;
        tree.SetAll(SourceTree::kUnchecked);
        choose(tree);
        BackupRequest request;
        request.archivePath = text::ToUtf16(home / name);
        request.sources = tree.Selected();
        request.withoutOwnItems = tree.WithoutOwnItems();
        v::NullReport report;
        EXPECT_TRUE(BackupWorker(request, report, {}).Clean());
        return RecordTree::Load(home / name);
    };
    auto keepWork = backUp("work.vqz", [](SourceTree& tree) {
        tree.SetState(*tree.Find("My Documents/Work"), SourceTree::kChecked);
        tree.SetState(*tree.Find("My Documents/Work/Projects"), SourceTree::kUnchecked);
    });
    EXPECT_TRUE(keepWork.Find("My Documents/Work/plan.txt"));
    EXPECT_FALSE(keepWork.Find("My Documents/Work/Projects"));
    auto projectsOnly = backUp("projects.vqz", [](SourceTree& tree) {
        tree.SetState(*tree.Find("My Documents/Work/Projects"), SourceTree::kChecked);
    });
    EXPECT_TRUE(projectsOnly.Find("My Documents/Work/Projects/x.txt"));
    EXPECT_TRUE(projectsOnly.Find("My Documents/Work"));
    EXPECT_FALSE(projectsOnly.Find("My Documents/Work/plan.txt"));
}

TEST(RecordTreeTest, RebuildsTheTreeAndSelectsContainersWithTheirItems) {
    TestHome home;
    WriteFile(home / "Documents/top.txt", "t");
    WriteFile(home / "Documents/Sub/inner.txt", "i");
    SourceTree tree;
    BackupRequest state;
    state.archivePath = text::ToUtf16(home / "t.vqz");
    state.sources = tree.Selected();
    v::NullReport report;
    ASSERT_TRUE(BackupWorker(state, report, {}).Clean());

    RecordTree records = RecordTree::Load(home / "t.vqz");
    ASSERT_TRUE(records.readable);
    EXPECT_TRUE(records.complete);
    const auto* docs = records.Find("My Documents");
    ASSERT_TRUE(docs);
    // The subfolder was written as its own source, so it hangs below My Documents' record.
    ASSERT_TRUE(records.Find("My Documents/Sub/inner.txt"));
    auto chosen = RecordTree::Selection(*docs);
    ASSERT_EQ(chosen.size(), 4u);  // the folder and everything below it, subfolders' files too
    EXPECT_EQ(chosen[1].DisplayName(), u"top.txt");
    EXPECT_EQ(chosen[2].DisplayName(), u"Sub");
    EXPECT_EQ(chosen[3].DisplayName(), u"inner.txt");
    EXPECT_FALSE(RecordTree::Load(home / "missing.vqz").readable);
}
