#include "cli/Commands.h"

#include "archive/ArchiveReader.h"
#include "base/Text.h"
#include "cli/CommandHelpers.h"
#include "cli/Interrupt.h"
#include "cli/Password.h"
#include "cli/TerminalReport.h"
#include "platform/Identities.h"
#include "restore/RecordTree.h"
#include "restore/RestoreEngine.h"

using namespace tindale;

int RunRestore(const RestoreArgs& args, const Output& out) {
    RestoreRequest request;
    request.archivePath = text::ToUtf16(Absolute(args.archive));
    if (auto exit = UnlockForReading(text::ToUtf8(request.archivePath), args.passwordFile,
                                     "restore from " + args.archive, request.password, request.key))
        return *exit;
    // Everything, without listing the records first; the listing only to find --item paths.
    request.everything = args.items.empty();
    request.keepNewer = args.keepNewer;
    RecordTree tree;
    if (!args.items.empty()) tree = RecordTree::Load(text::ToUtf8(request.archivePath));
    for (const auto& path : args.items) {
        const auto* entry = tree.Find(path);
        if (!entry)
            return Error("the archive holds no item \"" + path + "\" (see tindale-cli list)",
                         kExitUsage);
        auto chosen = RecordTree::Selection(*entry);
        request.items.insert(request.items.end(), chosen.begin(), chosen.end());
    }
    identities::EnsureDefaultIdentity();
    if (!args.identity.empty()) {
        auto identity = identities::Find(text::ToUtf16(args.identity));
        if (!identity)
            return Error("no identity \"" + args.identity + "\" (see tindale-cli identity list)",
                         kExitUsage);
        request.identity = identity->id;
    } else if (args.clearIdentity) {
        request.identity = identities::Current().value_or(u"");
    }
    // Without --identity each identity's mail goes to the identity of the same id or name,
    // the rest to the current one.
    tree = {};  // the listing is not needed while the restore runs
    request.clearIdentity = args.clearIdentity;
    if (request.clearIdentity && request.identity.empty())
        return Error("--clear-identity needs an identity, and there is none", kExitUsage);
    TerminalReport report("restore");
    v::Outcome outcome = RestoreWorker(request, report, InterruptToken());
    return out.Conclude(outcome, "restore from " + args.archive);
}
