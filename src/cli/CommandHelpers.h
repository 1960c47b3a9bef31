#pragma once
// Small pieces shared by several commands.
#include <string>

#include "restore/ArchiveTest.h"
#include "restore/RecordTree.h"

// The path made absolute (as given when that fails).
std::string Absolute(const std::string& path);
// How an archive's payloads are encrypted, in words.
const char* SchemeName(ArchiveTestResult::Scheme scheme);
ArchiveTestResult::Scheme SchemeOf(const RecordTree& tree);
