#include "cli/Commands.h"

#include "backup/BackupEngine.h"
#include "backup/SourceTree.h"
#include "cli/CommandHelpers.h"
#include "cli/Interrupt.h"
#include "cli/Password.h"
#include "cli/TerminalReport.h"
#include "base/Text.h"

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
    return apply(args.sources, SourceTree::kChecked) &&
           apply(args.excludes, SourceTree::kUnchecked);
}

}  // namespace

int RunBackup(const BackupArgs& args, const Output& out) {
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
    return out.Conclude(outcome, "backup to " + text::ToUtf8(state.archivePath));
}
