#include "cli/CommandHelpers.h"

#include <filesystem>

std::string Absolute(const std::string& path) {
    std::error_code ec;
    auto abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
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
