#include "support/TestHome.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Registry.h"

namespace fs = std::filesystem;

namespace {
void ClearXdg() {
    for (const char* v : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "TINDALE_REGISTRY"})
        unsetenv(v);
}
}  // namespace

TestHome::TestHome() {
    const char* home = std::getenv("HOME");
    original_ = home ? home : "";
    std::string pattern = (fs::temp_directory_path() / "tindale-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    SwitchTo(path_);
}

void TestHome::SwitchTo(const std::string& path) {
    fs::create_directories(path);
    setenv("HOME", path.c_str(), 1);
    ClearXdg();
    tindale::reg::CloseConnection();
}

TestHome::~TestHome() {
    tindale::reg::CloseConnection();
    setenv("HOME", original_.c_str(), 1);
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

void MakeOld(const std::string& path) {
    const timespec epoch[2] = {{0, 0}, {0, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), epoch, 0);
}
