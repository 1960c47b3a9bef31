#include "cli/Commands.h"

#include <functional>
#include <iostream>
#include <map>
#include <set>

#include "backup/SourceTree.h"
#include "cli/Interrupt.h"
#include "cli/TerminalReport.h"
#include "dupfinder/DuplicateHandling.h"
#include "dupfinder/DuplicateSearch.h"
#include "model/MessageNodes.h"

using namespace tindale;

namespace {

// A mail folder named "IDENTITY/FOLDER/PATH" in the message store's tree.
v::MsgFolder* FindMailFolder(const SourceTree& tree, const std::string& path) {
    auto* item = tree.Find("Message Store/" + path);
    return item ? dynamic_cast<v::MsgFolder*>(item->node) : nullptr;
}

// The "IDENTITY/FOLDER/PATH" of every mail folder, by (identity, folder id).
std::map<FolderKey, std::string> FolderNames(const SourceTree& tree) {
    std::map<FolderKey, std::string> names;
    std::function<void(const SourceTree::Item&)> walk = [&](const SourceTree::Item& item) {
        if (auto* f = dynamic_cast<v::MsgFolder*>(item.node))
            names[{f->IdentityId(), f->Props().folderId}] = SourceTree::PathOf(item).substr(14);
        for (const auto& child : item.children) walk(*child);
    };
    for (const auto& root : tree.Roots()) walk(*root);
    return names;
}

// The mail folders named by `folders`, with their subfolders.
std::set<FolderKey> FoldersBelow(const std::vector<std::string>& folders,
                                 const std::map<FolderKey, std::string>& names) {
    std::set<FolderKey> chosen;
    for (const auto& [key, name] : names)
        for (const auto& f : folders)
            if (name == f || name.rfind(f + "/", 0) == 0) chosen.insert(key);
    return chosen;
}

}  // namespace

int RunDedupe(const DedupeArgs& args, const Output& out) {
    if (args.remove && !args.moveTo.empty())
        return Error("choose either --delete or --move-to", kExitUsage);
    SourceTree tree(true);
    auto names = FolderNames(tree);
    for (const auto& f : args.folders)
        if (!FindMailFolder(tree, f) && !tree.Find("Message Store/" + f))
            return Error("no mail folder \"" + f + "\" (see tindale-cli sources)", kExitUsage);
    DuplicateRequest request;
    if (!args.moveTo.empty()) {
        auto* target = FindMailFolder(tree, args.moveTo);
        if (!target) return Error("no mail folder \"" + args.moveTo + "\" to move to", kExitUsage);
        request.action = DuplicateAction::Move;
        request.targetIdentity = target->IdentityId();
        request.targetFolder = target->Props().folderId;
    } else {
        request.action = DuplicateAction::Delete;
    }
    TerminalReport searching("search");
    v::Outcome found = SearchDuplicates(request.duplicates, searching, InterruptToken());
    // Nothing is deleted or moved on the strength of a search that did not finish.
    if (found.cancelled || found.failed) return out.Conclude(found, "the duplicate search");
    if (!args.folders.empty())
        request.duplicates = KeepInFolders(request.duplicates, FoldersBelow(args.folders, names));
    bool act = (args.remove || !args.moveTo.empty()) && !args.dryRun;
    const char* verb = request.action == DuplicateAction::Move ? "move" : "delete";
    if (out.AsJson() && !act) {
        Json found = Json::array();
        for (const auto& d : request.duplicates)
            found.push_back(
                {{"folder", names[{d.identityId, d.folderId}]}, {"messageId", d.messageId}});
        out.Print({{"job", "dedupe"}, {"dryRun", true}, {"action", verb}, {"duplicates", found}});
        return kExitOk;
    }
    for (const auto& d : request.duplicates)
        if (!out.AsJson())
            std::cout << (act ? "" : "would ") << verb << "\t" << names[{d.identityId, d.folderId}]
                      << "\tmessage " << d.messageId << "\n";
    if (!act) {
        std::cout << request.duplicates.size() << " duplicated messages found";
        if (!args.remove && args.moveTo.empty())
            std::cout << "; nothing changed (give --delete or --move-to)";
        std::cout << "\n";
        return kExitOk;
    }
    TerminalReport processing("dedupe");
    v::Outcome outcome = ProcessDuplicates(request, processing, InterruptToken());
    return out.Conclude(outcome, std::string(verb) + " duplicates");
}
