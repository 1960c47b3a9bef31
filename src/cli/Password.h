#pragma once
#include <optional>
#include <string>

// The archive password: from --password-file, else $TINDALE_PASSWORD, else a no-echo prompt
// on the terminal. Never from the command line itself. Empty optional when none can be had.
std::optional<std::u16string> ObtainPassword(const std::string& passwordFile, bool confirm,
                                             std::string& error);
