#include "cli/Password.h"

#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>

#include "base/Text.h"

namespace {

std::optional<std::string> Prompt(const char* text) {
    if (!::isatty(STDIN_FILENO)) return std::nullopt;
    std::cerr << text << std::flush;
    termios old{};
    ::tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    std::string line;
    std::getline(std::cin, line);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &old);
    std::cerr << "\n";
    return line;
}

}  // namespace

std::optional<std::u16string> ObtainPassword(const std::string& passwordFile, bool confirm,
                                             std::string& error) {
    if (!passwordFile.empty()) {
        std::ifstream in(passwordFile);
        std::string line;
        if (!in || !std::getline(in, line)) {
            error = "cannot read the password file " + passwordFile;
            return std::nullopt;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return tindale::text::ToUtf16(line);
    }
    if (const char* env = std::getenv("TINDALE_PASSWORD"); env && *env)
        return tindale::text::ToUtf16(env);
    auto first = Prompt("Password: ");
    if (!first) {
        error = "a password is needed: give --password-file FILE or set TINDALE_PASSWORD";
        return std::nullopt;
    }
    if (confirm) {
        auto second = Prompt("Confirm password: ");
        if (second != first) {
            error = "the two passwords differ";
            return std::nullopt;
        }
    }
    return tindale::text::ToUtf16(*first);
}
