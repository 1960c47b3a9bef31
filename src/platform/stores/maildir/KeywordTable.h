#pragma once
// The names of a maildir's keyword letters, as Dovecot keeps them in the maildir's
// "dovecot-keywords" file: one "N NAME" line per keyword, letter 'a' + N. A message's
// lowercase flag letters mean nothing without it, and two maildirs may give one letter
// different names, so keywords travel by name and each destination's own table gives
// them their letters there.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/stores/MessageState.h"

namespace tindale::store {

class KeywordTable {
  public:
    static constexpr const char* kFileName = "dovecot-keywords";

    // The table of the maildir `dir`; empty when it has none (or it cannot be read).
    static KeywordTable Load(const std::string& dir);
    static KeywordTable Parse(std::string_view text);
    std::string Serialize() const;

    // The named keywords among the lowercase letters of `flags`.
    std::vector<Keyword> NamesOf(std::string_view flags) const;
    // The letter of the keyword `name` (matched exactly, else in any letter case), adding it
    // to the table when it is not there; none when all 26 letters are taken.
    std::optional<char> LetterFor(std::string_view name);
    // The flags a message with `state` gets here: its own letters, each named keyword by the
    // letter this table gives its name (unnamed letters stay as they were). Keywords that
    // find no letter are added to `lost`.
    std::string FlagsFor(const MessageState& state, std::vector<std::string>* lost = nullptr);
    // Whether LetterFor added a name since the table was loaded.
    bool Changed() const { return changed_; }
    // Writes the table back into `dir` (replacing the file whole); 0 or an errno value.
    int Save(const std::string& dir);

  private:
    std::array<std::string, 26> names_;
    bool changed_ = false;
};

}  // namespace tindale::store
