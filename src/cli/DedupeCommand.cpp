#include "cli/Commands.h"

#include <ctime>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <tuple>

#include "backup/SourceTree.h"
#include "cli/Interrupt.h"
#include "cli/TerminalReport.h"
#include "dupfinder/DuplicateHandling.h"
#include "dupfinder/DuplicateSearch.h"
#include "model/MessageNodes.h"
#include "platform/StoreProps.h"

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

// The surplus copies by group (the copy they are copies of), in the order found.
std::vector<std::vector<const DuplicateEntry*>> Groups(const std::vector<DuplicateEntry>& all) {
    std::vector<std::vector<const DuplicateEntry*>> groups;
    std::map<std::tuple<std::u16string, uint32_t, uint32_t>, size_t> index;
    for (const auto& d : all) {
        auto [it, fresh] =
            index.emplace(std::tuple(d.identityId, d.folderId, d.keptId), groups.size());
        if (fresh) groups.emplace_back();
        groups[it->second].push_back(&d);
    }
    return groups;
}

std::string DateText(uint64_t fileTime) {
    std::time_t t = static_cast<std::time_t>(store::UnixFromFileTime(fileTime));
    char text[32] = "";
    std::tm tm{};
    if (fileTime != 0 && ::gmtime_r(&t, &tm))
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
    return text;
}

// Each group as a person reads it: where, when, who, what; the copy kept and those that go.
void PrintGroups(const std::vector<std::vector<const DuplicateEntry*>>& groups,
                 const std::string& verb) {
    for (const auto& group : groups) {
        const DuplicateEntry& first = *group.front();
        std::cout << ForTerminal(first.folderName) << "  " << DateText(first.received) << "  "
                  << ForTerminal(first.from) << "  \"" << ForTerminal(first.subject) << "\"\n"
                  << "  keep    " << ForTerminal(first.keptFile);
        if (!first.keptFlags.empty()) std::cout << "  (flags " << first.keptFlags << ")";
        std::cout << "\n";
        for (const auto* d : group)
            std::cout << "  " << verb << "  " << ForTerminal(d->file) << "\n";
    }
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
    for (const auto& d : request.duplicates)
        if (request.action == DuplicateAction::Move && d.identityId == request.targetIdentity &&
            d.folderId == request.targetFolder)
            return Error(args.moveTo + ": " + kMoveIntoSearchedFolder, kExitUsage);
    bool act = (args.remove || !args.moveTo.empty()) && !args.dryRun;
    const char* verb = request.action == DuplicateAction::Move ? "move" : "delete";
    auto groups = Groups(request.duplicates);
    if (out.AsJson() && !act) {
        Json list = Json::array();
        for (const auto& group : groups) {
            const DuplicateEntry& first = *group.front();
            Json going = Json::array();
            for (const auto* d : group) going.push_back(d->file);
            list.push_back({{"folder", first.folderName},
                            {"date", DateText(first.received)},
                            {"from", first.from},
                            {"subject", first.subject},
                            {"kept", first.keptFile},
                            {"keptFlags", first.keptFlags},
                            {"going", going}});
        }
        out.Print({{"job", "dedupe"}, {"dryRun", true}, {"action", verb}, {"groups", list}});
        return kExitOk;
    }
    if (!out.AsJson()) PrintGroups(groups, act ? verb : std::string("would ") + verb);
    if (!act) {
        std::cout << request.duplicates.size() << " duplicated messages found in " << groups.size()
                  << " groups";
        if (!args.remove && args.moveTo.empty())
            std::cout << "; nothing changed (give --delete or --move-to)";
        std::cout << "\n";
        return kExitOk;
    }
    TerminalReport processing("dedupe");
    v::Outcome outcome = ProcessDuplicates(request, processing, InterruptToken());
    return out.Conclude(outcome, std::string(verb) + " duplicates");
}
