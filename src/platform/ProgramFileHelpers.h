#pragma once
// Small file-system and pattern helpers shared by the program catalog's parts.
#include <string>
#include <string_view>
#include <vector>

namespace tindale::programs::detail {

// fnmatch with "/" matched only by "/".
bool Matches(const char* pattern, std::string_view path);
// A file's first `limit` bytes (all of a settings file).
std::string ReadText(const std::string& path, size_t limit = 1 << 20);
// A folder's entries, sorted, without names beginning with a dot.
std::vector<std::string> Names(const std::string& folder);

}  // namespace tindale::programs::detail
