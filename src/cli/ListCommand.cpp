#include "cli/Commands.h"

#include <iostream>

#include "base/Text.h"
#include "cli/CommandHelpers.h"
#include "cli/Interrupt.h"
#include "restore/RecordTree.h"

using namespace tindale;

int RunList(const std::string& archive, const Output& out) {
    RecordTree tree = RecordTree::Load(archive, InterruptToken());
    if (InterruptedStatus()) return Interrupted("the listing of " + archive);
    if (!tree.readable) return Error(archive + " is not a readable archive");
    if (out.AsJson()) {
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
        out.Print({{"archive", archive},
                   {"complete", tree.complete},
                   {"encryption", SchemeName(SchemeOf(tree))},
                   {"records", records}});
        return tree.complete ? kExitOk : kExitFailed;
    }
    for (const auto& e : tree.entries) {
        const auto& r = e->record;
        std::cout << ForTerminal(e->Path()) << "\t" << (r.IsContainer() ? "container" : "item")
                  << "\t" << e->payloadLength << "\t" << (r.Compressed() ? "compressed" : "-")
                  << "," << (r.Encrypted() ? "encrypted" : "-") << "\n";
    }
    std::cerr << archive << ": encryption: " << SchemeName(SchemeOf(tree)) << "\n";
    if (!tree.complete)
        return Error(archive + " is truncated after " + std::to_string(tree.entries.size()) +
                     " items");
    return kExitOk;
}
