#include "cli/Password.h"

#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>

#include "archive/ArchiveReader.h"
#include "base/Text.h"
#include "cli/CommandHelpers.h"
#include "cli/Interrupt.h"
#include "cli/Output.h"

std::optional<std::string> PromptHidden(const char* text) {
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

namespace {

// A password as text: bytes that are not UTF-8 would all turn into one replacement
// character, so that other passwords would open the archive too; they are refused.
std::optional<std::u16string> AsText(const std::string& bytes, std::string& error) {
    std::u16string text = tindale::text::ToUtf16(bytes);
    if (tindale::text::ToUtf8(text) != bytes) {
        error = "the password is not valid UTF-8 text; use a password of UTF-8 characters";
        return std::nullopt;
    }
    return text;
}

}  // namespace

std::optional<std::string> ReadSecretFile(const std::string& path, std::string& error) {
    // Read up to a small limit: /dev/zero or a FIFO that never ends is no password file.
    constexpr std::streamsize kLimit = 4096;
    std::ifstream in(path, std::ios::binary);
    std::string content(static_cast<size_t>(kLimit) + 1, '\0');
    in.read(content.data(), kLimit + 1);
    if (in.bad() || (!in && !in.eof())) {
        error = "cannot read the password file " + path;
        return std::nullopt;
    }
    content.resize(static_cast<size_t>(in.gcount()));
    if (content.size() > static_cast<size_t>(kLimit)) {
        error = "the password file " + path + " is longer than a password can be (4 KiB)";
        return std::nullopt;
    }
    if (!content.empty() && content.back() == '\n') content.pop_back();
    if (!content.empty() && content.back() == '\r') content.pop_back();
    if (content.find_first_of("\r\n") != std::string::npos) {
        error = "the password file " + path +
                " holds more than one line; it must hold the password alone";
        return std::nullopt;
    }
    if (content.empty()) {
        error = "the password file " + path + " is empty";
        return std::nullopt;
    }
    return content;
}

namespace {

std::optional<std::u16string> FromFile(const std::string& path, std::string& error) {
    auto content = ReadSecretFile(path, error);
    if (!content) return std::nullopt;
    return AsText(*content, error);
}

}  // namespace

std::optional<std::u16string> ObtainPassword(const std::string& passwordFile, bool confirm,
                                             std::string& error) {
    if (!passwordFile.empty()) return FromFile(passwordFile, error);
    if (const char* env = std::getenv("TINDALE_PASSWORD"); env && *env) return AsText(env, error);
    auto first = PromptHidden("Password: ");
    if (!first) {
        error = "a password is needed: give --password-file FILE or set TINDALE_PASSWORD";
        return std::nullopt;
    }
    if (confirm) {
        auto second = PromptHidden("Confirm password: ");
        if (second != first) {
            error = "the two passwords differ";
            return std::nullopt;
        }
    }
    return AsText(*first, error);
}

std::optional<int> UnlockForReading(const std::string& archive, const std::string& passwordFile,
                                    const std::string& what, std::u16string& password,
                                    std::optional<SealKey>& key) {
    ArchiveReader reader;
    if (reader.Open(archive) != ArchiveReader::OpenStatus::Readable)
        return Error(archive + " is not a readable archive");
    if (!reader.Header().Encrypted()) {
        // Said, so that nobody believes a plain archive was protected by the password.
        if (!passwordFile.empty() || std::getenv("TINDALE_PASSWORD"))
            std::cerr << "note: " << archive
                      << ": this archive is not encrypted; the password was not used\n";
        return std::nullopt;
    }
    std::string error;
    auto obtained = ObtainPassword(passwordFile, false, error);
    if (!obtained) return Error(error, kExitUsage);
    auto status = reader.Unlock(*obtained, InterruptToken());
    if (status == ArchiveReader::OpenStatus::Cancelled) return Interrupted(what);
    if (status == ArchiveReader::OpenStatus::DamagedHeader)
        return Error(archive + ": its header is damaged, so no password can open it");
    if (status != ArchiveReader::OpenStatus::Readable)
        return Error("wrong password", kExitWrongPassword);
    password = *obtained;
    if (reader.Key()) key = *reader.Key();
    return std::nullopt;
}
