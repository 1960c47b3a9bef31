#include "platform/ProgramFileHelpers.h"

#include <dirent.h>
#include <fnmatch.h>

#include <algorithm>
#include <fstream>

namespace tindale::programs::detail {

bool Matches(const char* pattern, std::string_view path) {
    return ::fnmatch(pattern, std::string(path).c_str(), FNM_PATHNAME) == 0;
}

std::string ReadText(const std::string& path, size_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::string text(limit, '\0');
    in.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<size_t>(in.gcount()));
    return text;
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* d = ::readdir(dir))
            if (d->d_name[0] != '.') names.emplace_back(d->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tindale::programs::detail
