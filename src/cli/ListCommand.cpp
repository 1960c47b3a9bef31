#include "cli/Commands.h"

#include <iostream>

#include "archive/ArchiveReader.h"
#include "base/Text.h"
#include "cli/CommandHelpers.h"
#include "cli/Interrupt.h"
#include "restore/RecordTree.h"

using namespace tindale;

int RunList(const std::string& archive, const Output& out) {
    ArchiveReader probe;
    if (probe.Open(archive) != ArchiveReader::OpenStatus::Readable)
        return Error(archive + " is not a readable archive");
    const std::string compression = probe.Header().CompressionName();
    // Printed as read: a listing of a million records holds only the containers' names.
    bool first = true;
    if (out.AsJson())
        std::cout << "{\n  \"archive\": " << Json(archive).dump() << ",\n  \"records\": [";
    auto print = [&](const v::NodeRecord& r, uint64_t payloadLength, const std::string& path,
                     uint64_t) {
        if (out.AsJson()) {
            Json record = {{"path", path},
                           {"name", text::ToUtf8(r.DisplayName())},
                           {"kind", r.IsContainer() ? "container" : "item"},
                           {"type", r.TypeGuid().ToString()},
                           {"icon", text::ToUtf8(r.IconKey())},
                           {"payloadBytes", payloadLength},
                           {"compressed", r.Compressed()},
                           {"encrypted", r.Encrypted()}};
            std::cout << (first ? "\n    " : ",\n    ") << record.dump();
            first = false;
            return;
        }
        std::cout << ForTerminal(path) << "\t" << (r.IsContainer() ? "container" : "item") << "\t"
                  << payloadLength << "\t" << (r.Compressed() ? "compressed" : "-") << ","
                  << (r.Encrypted() ? "encrypted" : "-") << "\n";
    };
    auto summary = RecordTree::Walk(archive, print, InterruptToken());
    auto scheme = summary.sealed         ? ArchiveTestResult::Scheme::Sealed
                  : summary.anyEncrypted ? ArchiveTestResult::Scheme::Legacy
                                         : ArchiveTestResult::Scheme::None;
    if (out.AsJson())
        std::cout << "\n  ],\n  \"complete\": " << (summary.complete ? "true" : "false")
                  << ",\n  \"encryption\": " << Json(SchemeName(scheme)).dump()
                  << ",\n  \"compression\": " << Json(compression).dump() << "\n}\n";
    if (InterruptedStatus()) return Interrupted("the listing of " + archive);
    if (!summary.readable) return Error(archive + " is not a readable archive");
    if (!out.AsJson())
        std::cerr << archive << ": encryption: " << SchemeName(scheme)
                  << "; compression: " << compression << "\n";
    if (summary.tooDeep)
        return Error(archive + " is damaged after " + std::to_string(summary.records) +
                     " items: " + kTooDeep);
    if (!summary.complete)
        return Error(archive + " is truncated after " + std::to_string(summary.records) + " items");
    return kExitOk;
}
