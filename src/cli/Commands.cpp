#include "cli/Commands.h"
#include "cli/Interrupt.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>

#include "archive/ArchiveHeader.h"
#include "archive/ArchiveReader.h"
#include "backup/BackupEngine.h"
#include "backup/SourceTree.h"
#include "cli/Password.h"
#include "cli/TerminalReport.h"
#include "demo/DemoProfile.h"
#include "dupfinder/DuplicateHandling.h"
#include "dupfinder/DuplicateSearch.h"
#include "model/MessageNodes.h"
#include "platform/Identities.h"
#include "platform/Text.h"
#include "restore/ArchiveTest.h"
#include "restore/RecordTree.h"
#include "restore/RestoreEngine.h"

using namespace tindale;
using Json = nlohmann::ordered_json;

namespace {

bool g_json = false;

void PrintJson(const Json& j) {
    std::cout << j.dump(2) << "\n";
}

Json OutcomeJson(const v::Outcome& outcome, const std::string& what) {
    Json leftOut = Json::array(), notes = Json::array();
    for (const auto& p : outcome.problems)
        (p.leftOut ? leftOut : notes).push_back({{"item", p.item}, {"reason", p.reason}});
    for (const auto& n : outcome.notes) notes.push_back({{"item", ""}, {"reason", n}});
    return {{"job", what},
            {"ok", !outcome.failed && !outcome.cancelled && outcome.LeftOut() == 0},
            {"cancelled", outcome.cancelled},
            {"error", outcome.failed ? outcome.error : ""},
            {"items", outcome.itemsDone},
            {"leftOut", leftOut},
            {"notes", notes}};
}

int Error(const std::string& message, int code = kExitFailed) {
    std::cerr << "tindale-cli: " << message << "\n";
    return code;
}

// Prints what a job left out and returns the exit code its outcome deserves.
int Conclude(const v::Outcome& outcome, const std::string& what) {
    if (g_json) {
        PrintJson(OutcomeJson(outcome, what));
        if (outcome.cancelled && InterruptedStatus()) return InterruptedStatus();
        if (outcome.cancelled || outcome.failed || outcome.LeftOut()) return kExitFailed;
        return kExitOk;
    }
    for (const auto& p : outcome.problems)
        std::cerr << (p.leftOut ? "left out: " : "note: ") << p.item << ": " << p.reason << "\n";
    for (const auto& n : outcome.notes) std::cerr << "note: " << n << "\n";
    if (outcome.cancelled && InterruptedStatus()) {
        Error(what + " was interrupted; unfinished files were removed");
        return InterruptedStatus();
    }
    if (outcome.cancelled) return Error(what + " was cancelled");
    if (outcome.failed) return Error(what + " failed: " + outcome.error);
    std::cout << what << " finished: " << outcome.itemsDone << " items";
    size_t leftOut = outcome.LeftOut();
    if (leftOut) std::cout << ", " << leftOut << " left out";
    std::cout << "\n";
    return leftOut ? kExitFailed : kExitOk;
}

const char* SchemeName(ArchiveTestResult::Scheme scheme) {
    switch (scheme) {
        case ArchiveTestResult::Scheme::Sealed:
            return "sealed (XChaCha20-Poly1305, key from Argon2id)";
        case ArchiveTestResult::Scheme::Legacy:
            return "legacy DES (weak: hides only a few bytes of each piece)";
        case ArchiveTestResult::Scheme::None:
            break;
    }
    return "none";
}

ArchiveTestResult::Scheme SchemeOf(const RecordTree& tree) {
    if (tree.sealed) return ArchiveTestResult::Scheme::Sealed;
    for (const auto& e : tree.entries)
        if (e->record.Encrypted()) return ArchiveTestResult::Scheme::Legacy;
    return ArchiveTestResult::Scheme::None;
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    auto abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

bool SelectSources(SourceTree& tree, const BackupArgs& args, std::string& error) {
    if (!args.sources.empty()) tree.SetAll(SourceTree::kUnchecked);
    auto apply = [&](const std::vector<std::string>& paths, SourceTree::State state) {
        for (const auto& path : paths) {
            auto* item = tree.Find(path);
            if (!item) {
                error = "no source named \"" + path + "\" (see tindale-cli sources)";
                return false;
            }
            tree.SetState(*item, state);
        }
        return true;
    };
    return apply(args.sources, SourceTree::kChecked) &&
           apply(args.excludes, SourceTree::kUnchecked);
}

}  // namespace

int RunBackup(const BackupArgs& args) {
    WizardState state;
    state.archivePath = text::ToUtf16(Absolute(args.archive));
    state.compress = args.compress;
    state.encrypt = args.encrypt || args.legacyEncryption;
    state.legacyEncryption = args.legacyEncryption;
    if (state.encrypt) {
        std::string error;
        auto password = ObtainPassword(args.passwordFile, true, error);
        if (!password) return Error(error, kExitUsage);
        if (password->empty()) return Error("the password must not be empty", kExitUsage);
        state.password = *password;
    }
    if (auto problem = ValidateBackupChoices(state); !problem.empty())
        return Error(problem, kExitUsage);
    SourceTree tree;
    std::string error;
    if (!SelectSources(tree, args, error)) return Error(error, kExitUsage);
    state.backupSources = tree.Selected();
    if (state.backupSources.empty()) return Error("nothing is selected to back up", kExitUsage);
    TerminalReport report("backup");
    v::Outcome outcome = BackupWorker(state, report, InterruptToken(), {args.threads});
    return Conclude(outcome, "backup to " + text::ToUtf8(state.archivePath));
}

int RunRestore(const RestoreArgs& args) {
    WizardState state;
    state.archivePath = text::ToUtf16(Absolute(args.archive));
    RecordTree tree = RecordTree::Load(text::ToUtf8(state.archivePath));
    if (!tree.readable) return Error(args.archive + " is not a readable archive");
    {
        ArchiveReader reader;
        if (reader.Open(text::ToUtf8(state.archivePath)) != ArchiveReader::OpenStatus::Readable)
            return Error(args.archive + " is not a readable archive");
        state.compress = reader.Header().Compressed();
        state.encrypt = reader.Header().Encrypted();
        if (state.encrypt) {
            std::string error;
            auto password = ObtainPassword(args.passwordFile, false, error);
            if (!password) return Error(error, kExitUsage);
            if (reader.Unlock(*password) != ArchiveReader::OpenStatus::Readable)
                return Error("wrong password", kExitWrongPassword);
            state.password = *password;
        }
    }
    if (args.items.empty()) {
        for (const auto& e : tree.entries) state.restoreItems.push_back(e->record);
    }
    for (const auto& path : args.items) {
        const auto* entry = tree.Find(path);
        if (!entry)
            return Error("the archive holds no item \"" + path + "\" (see tindale-cli list)",
                         kExitUsage);
        auto chosen = RecordTree::Selection(*entry);
        state.restoreItems.insert(state.restoreItems.end(), chosen.begin(), chosen.end());
    }
    identities::EnsureDefaultIdentity();
    if (!args.identity.empty()) {
        auto identity = identities::Find(text::ToUtf16(args.identity));
        if (!identity)
            return Error("no identity \"" + args.identity + "\" (see tindale-cli identity list)",
                         kExitUsage);
        state.restoreIdentity = identity->id;
    } else if (auto current = identities::Current()) {
        state.restoreIdentity = *current;
    }
    state.clearIdentity = args.clearIdentity;
    if (state.clearIdentity && state.restoreIdentity.empty())
        return Error("--clear-identity needs an identity, and there is none", kExitUsage);
    TerminalReport report("restore");
    v::Outcome outcome = RestoreWorker(state, report, InterruptToken());
    return Conclude(outcome, "restore from " + args.archive);
}

void SetJsonOutput(bool json) {
    g_json = json;
}

int RunTest(const std::string& archive, const std::string& passwordFile) {
    WizardState state;
    state.archivePath = text::ToUtf16(Absolute(archive));
    // The structure is checked without a password; given one, every frame is decrypted,
    // and a sealed archive's frames and closing record are authenticated.
    if (!passwordFile.empty() || std::getenv("TINDALE_PASSWORD")) {
        std::string error;
        auto password = ObtainPassword(passwordFile, false, error);
        if (!password) return Error(error, kExitUsage);
        state.password = *password;
    }
    TerminalReport report("test");
    ArchiveTestResult result = TestArchiveWorker(state, report, InterruptToken());
    bool sound = result.verdict == ArchiveTestResult::Verdict::Sound;
    if (result.verdict == ArchiveTestResult::Verdict::WrongPassword)
        return Error(archive + ": wrong password", kExitWrongPassword);
    if (result.verdict == ArchiveTestResult::Verdict::Cancelled && InterruptedStatus()) {
        std::cerr << archive << ": the test was interrupted\n";
        return InterruptedStatus();
    }
    if (g_json) {
        static const char* kVerdicts[] = {"sound",     "not an archive", "cannot open",
                                          "truncated", "damaged",        "cancelled",
                                          "failed",    "wrong password"};
        PrintJson({{"archive", archive},
                   {"sound", sound},
                   {"verdict", kVerdicts[static_cast<int>(result.verdict)]},
                   {"records", result.records},
                   {"damagedItem", result.damagedItem},
                   {"percentRead", result.percent},
                   {"encryption", SchemeName(result.scheme)},
                   {"authenticated",
                    result.scheme == ArchiveTestResult::Scheme::Sealed && !state.password.empty()},
                   {"description", result.Describe()}});
        return sound ? kExitOk : kExitFailed;
    }
    (sound ? std::cout : std::cerr) << archive << ": " << result.Describe() << "\n";
    return sound ? kExitOk : kExitFailed;
}

int RunList(const std::string& archive) {
    RecordTree tree = RecordTree::Load(archive);
    if (!tree.readable) return Error(archive + " is not a readable archive");
    if (g_json) {
        Json records = Json::array();
        for (const auto& e : tree.entries) {
            const auto& r = e->record;
            records.push_back({{"path", e->Path()},
                               {"name", text::ToUtf8(r.DisplayName())},
                               {"kind", r.IsContainer() ? "container" : "item"},
                               {"type", r.TypeGuid().ToString()},
                               {"icon", text::ToUtf8(r.IconKey())},
                               {"payloadBytes", e->payloadLength},
                               {"compressed", r.Compressed()},
                               {"encrypted", r.Encrypted()}});
        }
        PrintJson({{"archive", archive},
                   {"complete", tree.complete},
                   {"encryption", SchemeName(SchemeOf(tree))},
                   {"records", records}});
        return tree.complete ? kExitOk : kExitFailed;
    }
    for (const auto& e : tree.entries) {
        const auto& r = e->record;
        std::cout << e->Path() << "\t" << (r.IsContainer() ? "container" : "item") << "\t"
                  << e->payloadLength << "\t" << (r.Compressed() ? "compressed" : "-") << ","
                  << (r.Encrypted() ? "encrypted" : "-") << "\n";
    }
    std::cerr << archive << ": encryption: " << SchemeName(SchemeOf(tree)) << "\n";
    if (!tree.complete)
        return Error(archive + " is truncated after " + std::to_string(tree.entries.size()) +
                     " items");
    return kExitOk;
}

int RunSources() {
    SourceTree tree;
    if (g_json) {
        std::function<Json(const SourceTree::Item&)> node = [&](const SourceTree::Item& item) {
            Json children = Json::array();
            for (const auto& child : item.children) children.push_back(node(*child));
            return Json{{"name", text::ToUtf8(item.node->GetDisplayName())},
                        {"path", SourceTree::PathOf(item)},
                        {"children", children}};
        };
        Json roots = Json::array();
        for (const auto& root : tree.Roots()) roots.push_back(node(*root));
        PrintJson(roots);
        return kExitOk;
    }
    std::function<void(const SourceTree::Item&)> print = [&](const SourceTree::Item& item) {
        std::cout << SourceTree::PathOf(item) << "\n";
        for (const auto& child : item.children) print(*child);
    };
    for (const auto& root : tree.Roots()) print(*root);
    return kExitOk;
}

int RunIdentityList() {
    identities::EnsureDefaultIdentity();
    auto current = identities::Current();
    for (const auto& identity : identities::List())
        std::cout << text::ToUtf8(identity.id) << "\t" << text::ToUtf8(identity.name) << "\t"
                  << identities::StoreRoot(identity.id)
                  << (identity.id == current ? "\t(current)" : "") << "\n";
    return kExitOk;
}

int RunIdentityAdd(const std::string& name, const std::string& store) {
    if (identities::Find(text::ToUtf16(name)))
        return Error("an identity named \"" + name + "\" exists already", kExitUsage);
    auto id = identities::Add(text::ToUtf16(name), Absolute(store));
    if (!id) return Error("the identity could not be registered");
    std::cout << text::ToUtf8(*id) << "\n";
    return kExitOk;
}

int RunDemoProfile() {
    DemoProfileCounts counts = CreateDemoProfile();
    std::cout << "sample profile written: " << counts.messages << " messages (" << counts.duplicates
              << " duplicated), " << counts.files << " files\n";
    return kExitOk;
}

namespace {

// A mail folder named "IDENTITY/FOLDER/PATH" in the message store's tree.
v::MsgFolder* FindMailFolder(const SourceTree& tree, const std::string& path) {
    auto* item = tree.Find("Message Store/" + path);
    return item ? dynamic_cast<v::MsgFolder*>(item->node) : nullptr;
}

// The "IDENTITY/FOLDER/PATH" of every mail folder, by (identity, folder id).
std::map<std::pair<std::u16string, uint32_t>, std::string> FolderNames(const SourceTree& tree) {
    std::map<std::pair<std::u16string, uint32_t>, std::string> names;
    std::function<void(const SourceTree::Item&)> walk = [&](const SourceTree::Item& item) {
        if (auto* f = dynamic_cast<v::MsgFolder*>(item.node))
            names[{f->IdentityId(), f->Props().folderId}] = SourceTree::PathOf(item).substr(14);
        for (const auto& child : item.children) walk(*child);
    };
    for (const auto& root : tree.Roots()) walk(*root);
    return names;
}

// Keeps the entries inside the given folders or their subfolders.
std::vector<DuplicateEntry> InFolders(
    const std::vector<DuplicateEntry>& all, const std::vector<std::string>& folders,
    const std::map<std::pair<std::u16string, uint32_t>, std::string>& names) {
    std::vector<DuplicateEntry> kept;
    for (const auto& d : all) {
        auto it = names.find({d.identityId, d.folderId});
        std::string name = it == names.end() ? "" : it->second;
        for (const auto& f : folders)
            if (name == f || name.rfind(f + "/", 0) == 0) {
                kept.push_back(d);
                break;
            }
    }
    return kept;
}

}  // namespace

int RunDedupe(const DedupeArgs& args) {
    if (args.remove && !args.moveTo.empty())
        return Error("choose either --delete or --move-to", kExitUsage);
    SourceTree tree(true);
    auto names = FolderNames(tree);
    for (const auto& f : args.folders)
        if (!FindMailFolder(tree, f) && !tree.Find("Message Store/" + f))
            return Error("no mail folder \"" + f + "\" (see tindale-cli sources)", kExitUsage);
    WizardState state;
    if (!args.moveTo.empty()) {
        auto* target = FindMailFolder(tree, args.moveTo);
        if (!target) return Error("no mail folder \"" + args.moveTo + "\" to move to", kExitUsage);
        state.duplicateAction = DuplicateAction::Move;
        state.moveTargetIdentity = target->IdentityId();
        state.moveTargetFolder = target->Props().folderId;
    } else {
        state.duplicateAction = DuplicateAction::Delete;
    }
    TerminalReport searching("search");
    v::Outcome found = SearchDuplicates(state, searching, InterruptToken());
    // Nothing is deleted or moved on the strength of a search that did not finish.
    if (found.cancelled || found.failed) return Conclude(found, "the duplicate search");
    if (!args.folders.empty()) state.duplicates = InFolders(state.duplicates, args.folders, names);
    bool act = (args.remove || !args.moveTo.empty()) && !args.dryRun;
    const char* verb = state.duplicateAction == DuplicateAction::Move ? "move" : "delete";
    if (g_json && !act) {
        Json found = Json::array();
        for (const auto& d : state.duplicates)
            found.push_back(
                {{"folder", names[{d.identityId, d.folderId}]}, {"messageId", d.messageId}});
        PrintJson({{"job", "dedupe"}, {"dryRun", true}, {"action", verb}, {"duplicates", found}});
        return kExitOk;
    }
    for (const auto& d : state.duplicates)
        if (!g_json)
            std::cout << (act ? "" : "would ") << verb << "\t" << names[{d.identityId, d.folderId}]
                      << "\tmessage " << d.messageId << "\n";
    if (!act) {
        std::cout << state.duplicates.size() << " duplicated messages found";
        if (!args.remove && args.moveTo.empty())
            std::cout << "; nothing changed (give --delete or --move-to)";
        std::cout << "\n";
        return kExitOk;
    }
    TerminalReport processing("dedupe");
    v::Outcome outcome = ProcessDuplicates(state, processing, InterruptToken());
    return Conclude(outcome, std::string(verb) + " duplicates");
}
