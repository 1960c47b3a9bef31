#pragma once
#include <optional>
#include <string>

#include "archive/Seal.h"

// A password file holds the password, with or without one line ending after it. A file of
// several lines is refused rather than cut at the first.
std::optional<std::string> ReadSecretFile(const std::string& path, std::string& error);
// Asks on the terminal without echo; none when standard input is no terminal.
std::optional<std::string> PromptHidden(const char* text);

// The archive password: from --password-file, else $TINDALE_PASSWORD, else a no-echo prompt
// on the terminal. Never from the command line itself. Empty optional when none can be had.
std::optional<std::u16string> ObtainPassword(const std::string& passwordFile, bool confirm,
                                             std::string& error);

// Opens `archive` for reading: for an encrypted one, obtains the password and checks it (a
// sealed archive's key is derived once, here). Returns the exit status to end with when it
// cannot be opened, with the message already printed; `what` names the job ("restore from
// a.vqz") for an interruption.
std::optional<int> UnlockForReading(const std::string& archive, const std::string& passwordFile,
                                    const std::string& what, std::u16string& password,
                                    std::optional<SealKey>& key);
