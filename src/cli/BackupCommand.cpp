#include "cli/Commands.h"

#include "backup/BackupEngine.h"
#include "backup/SourceTree.h"
#include "base/Text.h"
#include "cli/CommandHelpers.h"
#include "cli/Interrupt.h"
#include "cli/Password.h"
#include "cli/TerminalReport.h"
#include "model/ProgramNodes.h"

#include <functional>

using namespace tindale;

namespace {

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
    if (!apply(args.sources, SourceTree::kChecked)) return false;
    // The parts left out by default, when asked for (within what --source chose).
    std::function<void(SourceTree::Item&, bool)> take = [&](SourceTree::Item& item, bool chosen) {
        chosen = chosen || args.sources.empty() || item.state != SourceTree::kUnchecked;
        if (auto* program = dynamic_cast<v::ProgramNode*>(item.node); program && chosen) {
            auto part = program->PartKind();
            if ((part == tindale::programs::Part::History && args.withHistory) ||
                (part == tindale::programs::Part::Secrets && args.withSecrets))
                tree.SetState(item, SourceTree::kChecked);
        }
        for (auto& child : item.children) take(*child, chosen);
    };
    for (auto& root : tree.Roots()) take(*root, false);
    return apply(args.excludes, SourceTree::kUnchecked);
}

}  // namespace

int RunBackup(const BackupArgs& args, const Output& out) {
    BackupRequest request;
    request.archivePath = text::ToUtf16(Absolute(args.archive));
    request.compress = args.compress;
    request.encrypt = args.encrypt || args.legacyEncryption;
    request.legacyEncryption = args.legacyEncryption;
    if (args.quick && !args.compress) return Error("--quick needs --compress", kExitUsage);
    request.quickCompression = args.quick;
    if (request.encrypt) {
        std::string error;
        auto password = ObtainPassword(args.passwordFile, true, error);
        if (!password) return Error(error, kExitUsage);
        if (password->empty()) return Error("the password must not be empty", kExitUsage);
        request.password = *password;
    }
    if (args.withSecrets && (!request.encrypt || request.legacyEncryption))
        return Error(
            "--with-secrets needs a sealed archive (--encrypt): saved passwords and keys "
            "are never written into an archive anyone can read",
            kExitUsage);
    if (auto problem = ValidateBackupChoices(request); !problem.empty())
        return Error(problem, kExitUsage);
    SourceTree tree;
    std::string error;
    if (!SelectSources(tree, args, error)) return Error(error, kExitUsage);
    request.sources = tree.Selected();
    request.withoutOwnItems = tree.WithoutOwnItems();
    if (request.sources.empty()) return Error("nothing is selected to back up", kExitUsage);
    TerminalReport report("backup");
    v::Outcome outcome = BackupWorker(request, report, InterruptToken(), {args.threads});
    return out.Conclude(outcome, "backup to " + text::ToUtf8(request.archivePath));
}
