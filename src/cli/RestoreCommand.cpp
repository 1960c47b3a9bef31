#include "cli/Commands.h"

#include "archive/ArchiveReader.h"
#include "cli/CommandHelpers.h"
#include "cli/Interrupt.h"
#include "cli/Password.h"
#include "cli/TerminalReport.h"
#include "platform/Identities.h"
#include "base/Text.h"
#include "restore/RecordTree.h"
#include "restore/RestoreEngine.h"

using namespace tindale;

int RunRestore(const RestoreArgs& args, const Output& out) {
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
    return out.Conclude(outcome, "restore from " + args.archive);
}
