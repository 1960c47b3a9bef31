#include <unistd.h>

#include "base/Text.h"
#include "cli/CommandHelpers.h"
#include "cli/Commands.h"
#include "cli/Interrupt.h"
#include "cli/Password.h"
#include "cli/TerminalReport.h"
#include "restore/Extract.h"

using namespace tindale;

int RunExtract(const ExtractArgs& args, const Output& out) {
    ExtractRequest request;
    request.archivePath = text::ToUtf16(Absolute(args.archive));
    request.items = args.items;
    request.target = Absolute(args.to);
    request.overwrite = args.overwrite;
    request.mail = args.mailAs == "maildir" ? MailForm::Maildir
                   : args.mailAs == "mbox"  ? MailForm::Mbox
                                            : MailForm::Eml;
    if (auto exit =
            UnlockForReading(text::ToUtf8(request.archivePath), args.passwordFile,
                             "extraction from " + args.archive, request.password, request.key))
        return *exit;
    TerminalReport report("extract");
    v::Outcome outcome = ExtractWorker(request, report, InterruptToken());
    return out.Conclude(outcome, "extraction from " + args.archive + " into " + request.target);
}

int RunCat(const std::string& archive, const std::string& item, const std::string& passwordFile) {
    ExtractRequest request;
    request.archivePath = text::ToUtf16(Absolute(archive));
    if (auto exit = UnlockForReading(text::ToUtf8(request.archivePath), passwordFile, "cat " + item,
                                     request.password, request.key))
        return *exit;
    v::Outcome outcome = CatItem(request, item, STDOUT_FILENO);
    if (outcome.failed) return Error(outcome.error);
    return kExitOk;
}
