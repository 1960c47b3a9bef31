#include "cli/Commands.h"

#include <cstdlib>
#include <iostream>

#include "base/Text.h"
#include "cli/CommandHelpers.h"
#include "cli/Interrupt.h"
#include "cli/Password.h"
#include "cli/TerminalReport.h"
#include "restore/ArchiveTest.h"

using namespace tindale;

int RunTest(const std::string& archive, const std::string& passwordFile, const Output& out) {
    std::u16string path = text::ToUtf16(Absolute(archive)), password;
    // The structure is checked without a password; given one, every frame is decrypted,
    // and a sealed archive's frames and closing record are authenticated.
    if (!passwordFile.empty() || std::getenv("TINDALE_PASSWORD")) {
        std::string error;
        auto given = ObtainPassword(passwordFile, false, error);
        if (!given) return Error(error, kExitUsage);
        password = *given;
    }
    TerminalReport report("test");
    ArchiveTestResult result = TestArchiveWorker(path, password, report, InterruptToken());
    bool sound = result.verdict == ArchiveTestResult::Verdict::Sound;
    if (result.verdict == ArchiveTestResult::Verdict::WrongPassword)
        return Error(archive + ": wrong password", kExitWrongPassword);
    if (result.verdict == ArchiveTestResult::Verdict::Cancelled && InterruptedStatus())
        return Interrupted(archive + ": the test");
    if (out.AsJson()) {
        static const char* kVerdicts[] = {"sound",     "not an archive", "cannot open",
                                          "truncated", "damaged",        "cancelled",
                                          "failed",    "wrong password"};
        out.Print({{"archive", archive},
                   {"sound", sound},
                   {"verdict", kVerdicts[static_cast<int>(result.verdict)]},
                   {"records", result.records},
                   {"damagedItem", result.damagedItem},
                   {"percentRead", result.percent},
                   {"encryption", SchemeName(result.scheme)},
                   {"contentsChecked", result.contentsChecked},
                   {"authenticated", sound && result.scheme == ArchiveTestResult::Scheme::Sealed &&
                                         result.contentsChecked},
                   {"description", result.Describe()}});
        return sound ? kExitOk : kExitFailed;
    }
    (sound ? std::cout : std::cerr) << archive << ": " << result.Describe() << "\n";
    return sound ? kExitOk : kExitFailed;
}
