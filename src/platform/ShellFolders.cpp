#include "platform/ShellFolders.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/Text.h"

namespace tindale::shell {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string StripTrailingSlash(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

// Reads XDG_DOCUMENTS_DIR from user-dirs.dirs, expanding a leading $HOME.
std::optional<std::string> DocumentsFromUserDirs() {
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty()) config = HomeFolder() + "/.config";
    std::ifstream in(config + "/user-dirs.dirs");
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_DOCUMENTS_DIR=";
        if (line.rfind(key, 0) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.rfind("$HOME", 0) == 0) value = HomeFolder() + value.substr(5);
        if (value.empty() || value.front() != '/') return std::nullopt;
        return StripTrailingSlash(value);
    }
    return std::nullopt;
}

std::optional<std::string> EnvForArchiveVariable(std::string_view name) {
    std::string upper;
    for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "USERPROFILE") return HomeFolder();
    const char* v = std::getenv(upper.c_str());
    if (!v) v = std::getenv(std::string(name).c_str());
    if (!v) return std::nullopt;
    return std::string(v);
}

}  // namespace

std::string DataFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    return data && *data ? std::string(data) : HomeFolder() + "/.local/share";
}

std::string ConfigFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    return config && *config ? StripTrailingSlash(config) : HomeFolder() + "/.config";
}

std::string HomeFolder() {
    std::string home = Env("HOME");
    return home.empty() ? "/" : StripTrailingSlash(home);
}

std::string DocumentsFolder() {
    std::string docs = DocumentsFromUserDirs().value_or(HomeFolder() + "/Documents");
    std::error_code ec;
    std::filesystem::create_directories(docs, ec);
    return docs;
}

std::string ContactsFolder() {
    return HomeFolder() + "/Contacts";
}
std::string FavoritesFolder() {
    return HomeFolder() + "/Favorites";
}

std::string TempFolder() {
    std::string tmp = Env("TMPDIR");
    return tmp.empty() ? "/tmp" : StripTrailingSlash(tmp);
}

std::optional<std::u16string> ToArchivePath(std::string_view linuxPath) {
    if (linuxPath.find('\\') != std::string_view::npos) return std::nullopt;
    std::string home = HomeFolder();
    std::string path(linuxPath);
    std::string out;
    if (home != "/" && (path == home || path.rfind(home + "/", 0) == 0)) {
        out = "%USERPROFILE%" + path.substr(home.size());
    } else {
        out = path;
    }
    for (char& c : out)
        if (c == '/') c = '\\';
    return text::ToUtf16(out);
}

std::optional<std::string> ExpandArchivePath(std::u16string_view stored, std::string* why) {
    auto fail = [&](std::string reason) -> std::optional<std::string> {
        if (why) *why = std::move(reason);
        return std::nullopt;
    };
    std::string in = text::ToUtf8(stored);
    // Only a leading variable is expanded: "%HOME%" inside a file or folder name is a name.
    std::string expanded = in;
    size_t close = in.rfind('%', 0) == 0 ? in.find('%', 1) : std::string::npos;
    if (close != std::string::npos && close > 1) {
        if (auto value = EnvForArchiveVariable(std::string_view(in).substr(1, close - 1)))
            expanded = *value + in.substr(close + 1);
    }
    for (char& c : expanded)
        if (c == '\\') c = '/';
    if (expanded.empty() || expanded.front() != '/')
        return fail("the stored path \"" + in + "\" is not an absolute path on this system");
    std::filesystem::path p(expanded);
    for (const auto& part : p) {
        if (part == ".." || part == ".")
            return fail("the stored path \"" + in + "\" has relative components");
    }
    return StripTrailingSlash(expanded);
}

}  // namespace tindale::shell
