#pragma once
// Which file source each record of an archive belongs to, learnt as the restore walks the
// archive: a source's root record (My Documents, Contacts, the address-book folder,
// Favorites) says which of the restoring person's folders its items go back to, and a
// program's record (Thunderbird's settings, Firefox's bookmarks) that its items go back to
// where that program keeps its files. Every record below inherits that. Records of no known
// source get no root and are refused.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "archive/NodeRecord.h"
#include "model/FileNodes.h"

class FileSources {
  public:
    // Whether a record is a source's root whose payload names its stored folder.
    static bool NeedsPayload(const v::NodeRecord& record);
    // Notes a record; `payload` is the decoded payload of a root that NeedsPayload.
    void Observe(const v::NodeRecord& record, const std::vector<uint8_t>* payload = nullptr);
    std::optional<v::FileRestoreRoot> RootFor(const v::NodeRecord& record) const;

    // A program's part, for a record of it: its label, and why its files must not be
    // written now (the program is running), if so.
    struct Program {
        std::string label;
        std::optional<std::string> refusal;
        uint64_t filesRestored = 0;
        bool told = false;  // the refusal was reported
    };
    Program* ProgramFor(const v::NodeRecord& record);
    const std::vector<Program>& Programs() const { return programs_; }

  private:
    struct Source {
        std::optional<v::FileRestoreRoot> root;
        std::optional<size_t> program;  // into programs_
    };
    std::vector<Source> sources_;
    std::vector<Program> programs_;
    std::map<tindale::Guid, size_t> sourceOf_;  // instance GUID -> index into sources_
};
