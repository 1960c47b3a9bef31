// Where a restore may write programs' files, whether a program is running, and how its
// settings text is adapted to a new home.
#include "platform/ProgramCatalog.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <regex>
#include <sstream>

#include "platform/ProgramFileHelpers.h"
#include "platform/ShellFolders.h"

namespace tindale::programs {

using detail::Matches;
using detail::Names;
using detail::ReadText;

namespace {

// The places a restore may write programs' files to, as patterns over absolute paths.
std::vector<std::string> PlacePatterns() {
    std::string home = shell::HomeFolder(), config = shell::ConfigFolder(),
                data = shell::DataFolder();
    return {home + "/.thunderbird",
            home + "/.mozilla-thunderbird",
            home + "/.mozilla/firefox",
            config + "/mozilla/firefox",
            config + "/chromium",
            config + "/google-chrome",
            config + "/evolution",
            data + "/evolution",
            config + "/kmail2rc",
            config + "/emailidentities",
            config + "/emaildefaults",
            config + "/mailtransports",
            config + "/akonadi_*_resource_*rc",
            data + "/contacts",
            home + "/.muttrc",
            home + "/.mutt",
            config + "/mutt",
            home + "/.neomuttrc",
            config + "/neomutt",
            home + "/.mbsyncrc",
            config + "/isyncrc",
            home + "/.notmuch-config",
            config + "/notmuch",
            home + "/.msmtprc",
            config + "/msmtp",
            data + "/keyrings",
            data + "/kwalletd"};
}

size_t PartsOf(std::string_view path) {
    return static_cast<size_t>(std::count(path.begin(), path.end(), '/'));
}

// The first `parts` parts of an absolute path ("/a/b/c", 2 -> "/a/b").
std::string_view Leading(std::string_view path, size_t parts) {
    size_t end = 0;
    for (size_t i = 0; i < parts && end != std::string_view::npos; ++i)
        end = path.find('/', end + 1);
    return path.substr(0, end);
}

}  // namespace

std::optional<std::string> ProgramPlaceRoot(const std::string& path) {
    for (const auto& pattern : PlacePatterns()) {
        size_t parts = PartsOf(pattern);
        std::string_view place = Leading(path, parts);
        if (PartsOf(place) != parts || !Matches(pattern.c_str(), place)) continue;
        std::string_view below = std::string_view(path).substr(place.size());
        if (below.find("/.") != std::string_view::npos) return std::nullopt;
        return std::string(place.substr(0, place.rfind('/')));
    }
    return std::nullopt;
}

namespace {

// Whether a process of this user is alive with that id.
bool Alive(long pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// The process id a profile's lock link names ("127.0.1.1:+4242", "host-4242"), or 0.
long LockHolder(const std::string& link) {
    char target[512];
    ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) return 0;
    std::string text(target, static_cast<size_t>(n));
    auto at = text.find_last_of("+-");
    if (at == std::string::npos) return 0;
    return std::strtol(text.c_str() + at + 1, nullptr, 10);
}

std::vector<std::string> ProcessNames(const std::string& program) {
    if (program == "Thunderbird") return {"thunderbird", "thunderbird-bin"};
    if (program == "Firefox") return {"firefox", "firefox-esr", "firefox-bin"};
    if (program == "Chromium") return {"chromium", "chromium-browse"};
    if (program == "Chrome") return {"chrome", "google-chrome"};
    if (program == "Evolution") return {"evolution"};
    if (program == "KMail") return {"kmail"};
    if (program == "mutt") return {"mutt"};
    if (program == "NeoMutt") return {"neomutt"};
    if (program == "mbsync") return {"mbsync"};
    return {};
}

bool RunningByName(const std::vector<std::string>& names) {
    if (names.empty()) return false;
    uid_t me = ::getuid();
    for (const auto& entry : Names("/proc")) {
        if (entry.find_first_not_of("0123456789") != std::string::npos) continue;
        struct stat st {};
        if (::stat(("/proc/" + entry).c_str(), &st) != 0 || st.st_uid != me) continue;
        std::string comm = ReadText("/proc/" + entry + "/comm", 64);
        while (!comm.empty() && comm.back() == '\n') comm.pop_back();
        if (std::find(names.begin(), names.end(), comm) == names.end()) continue;
        // The same program for another home (another account's session, a test) uses other
        // files.
        const std::string nul(1, '\0');
        std::string environ = nul + ReadText("/proc/" + entry + "/environ", 1 << 16);
        bool otherHome =
            environ.find(nul + "HOME=") != std::string::npos &&
            environ.find(nul + "HOME=" + shell::HomeFolder() + nul) == std::string::npos;
        if (!otherHome) return true;
    }
    return false;
}

}  // namespace

std::optional<std::string> InUse(const std::string& program,
                                 const std::vector<std::string>& places) {
    for (const auto& place : places) {
        for (const char* lock : {"/lock", "/SingletonLock", "/../SingletonLock"})
            if (Alive(LockHolder(place + lock)))
                return program + " is running (" + place + " is in use)";
    }
    if (RunningByName(ProcessNames(program))) return program + " is running";
    return std::nullopt;
}

bool IsTextSettingsFile(std::string_view name) {
    static const std::vector<const char*> patterns = {
        "prefs.js",        "user.js",       "*.ini",         "*rc",         ".muttrc",
        ".neomuttrc",      "*.source",      "*.muttrc",      "muttrc*",     "*.conf",
        "config",          "*.xml",         "*-config",      "Preferences", "Local State",
        "emailidentities", "emaildefaults", "mailtransports"};
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const char* p) { return Matches(p, name); });
}

std::string RewriteHome(std::string_view text, const std::string& oldHome,
                        const std::string& newHome) {
    if (oldHome.empty() || oldHome == "/" || oldHome == newHome) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0;;) {
        size_t found = text.find(oldHome, at);
        if (found == std::string_view::npos) {
            out.append(text.substr(at));
            return out;
        }
        size_t end = found + oldHome.size();
        // Only the home folder itself or a path below it, not "/home/ann2" for "/home/ann".
        bool whole = end == text.size() || std::string_view("/\"'\\ \t\r\n,;)]").find(text[end]) !=
                                               std::string_view::npos;
        out.append(text.substr(at, found - at));
        out.append(whole ? newHome : oldHome);
        at = end;
    }
}

bool HoldsPlainPassword(std::string_view text) {
    static const std::regex pattern(R"(^\s*(Pass|password|set\s+(imap|smtp|pop)_pass)\s*[ =])",
                                    std::regex::multiline | std::regex::icase);
    return std::regex_search(text.begin(), text.end(), pattern);
}

bool IsProfileList(std::string_view name) {
    return name == "profiles.ini" || name == "installs.ini";
}

namespace {

struct IniSection {
    std::string header;  // "[Profile0]"; empty for lines before the first section
    std::vector<std::string> lines;
    std::string Value(const std::string& key) const {
        for (const auto& line : lines)
            if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
        return {};
    }
};

std::vector<IniSection> ParseIni(std::string_view text) {
    std::vector<IniSection> sections(1);
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        while (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[')
            sections.push_back({line, {}});
        else if (!line.empty())
            sections.back().lines.push_back(line);
    }
    return sections;
}

}  // namespace

std::string MergeProfileLists(std::string_view existing, std::string_view archived) {
    auto merged = ParseIni(existing);
    auto has = [&](auto predicate) { return std::any_of(merged.begin(), merged.end(), predicate); };
    int nextProfile = 0;
    for (const auto& s : merged)
        if (s.header.rfind("[Profile", 0) == 0)
            nextProfile = std::max(nextProfile, std::atoi(s.header.c_str() + 8) + 1);
    for (auto section : ParseIni(archived)) {
        if (section.header.empty()) continue;
        if (section.header.rfind("[Profile", 0) == 0) {
            std::string path = section.Value("Path");
            if (has([&](const IniSection& s) {
                    return s.header.rfind("[Profile", 0) == 0 && s.Value("Path") == path;
                }))
                continue;
            // The person's current default stays the default.
            std::erase(section.lines, std::string("Default=1"));
            section.header = "[Profile" + std::to_string(nextProfile++) + "]";
        } else if (has([&](const IniSection& s) { return s.header == section.header; })) {
            continue;
        }
        merged.push_back(std::move(section));
    }
    std::string out;
    for (const auto& s : merged) {
        if (!s.header.empty()) out += (out.empty() ? "" : "\n") + s.header + "\n";
        for (const auto& line : s.lines) out += line + "\n";
    }
    return out;
}

}  // namespace tindale::programs
