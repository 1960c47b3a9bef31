#pragma once
// A program's part (Thunderbird's settings, Firefox's bookmarks...) as a container of the
// source tree: its folders below it as folder nodes that hold what the part takes, its single
// files as its items. Its payload says whose files they are, so that a restore knows where
// they may go, which program must be closed, and which home folder paths inside them name:
//   0 "TZPG" | 4 version (1) | 5 part | 6 strings, each a u16 length and UTF-8 bytes:
//   program, profile, the home folder at the backup, then the part's places (archive form).
#include <optional>
#include <string>
#include <vector>

#include "model/Node.h"
#include "platform/ProgramCatalog.h"

namespace v {

struct ProgramPayload {
    std::string program, profile, home;
    tindale::programs::Part part = tindale::programs::Part::Settings;
    std::vector<std::u16string> places;  // as stored

    std::vector<uint8_t> Encode() const;
    static std::optional<ProgramPayload> Decode(const std::vector<uint8_t>& bytes);
    std::string Label() const;
};

class ProgramNode : public BasicNode {
  public:
    static const tindale::Guid kTypeGuid;

    explicit ProgramNode(tindale::programs::ProgramPart part);
    ProgramNode(const NodeRecord& record, BasicStream* payload) : BasicNode(record, payload) {}

    int32_t EnumContainers(NodeList& out) override;
    int32_t EnumItems(NodeList& out) override;
    bool MayHoldItems() const override;
    bool CheckedByDefault() const override;
    uint64_t WritePayload(BasicStream& out) override;
    ID* GetId() override;
    std::u16string GetTypeName() const override { return u"ProgramNode"; }
    tindale::Guid GetTypeGuid() const override { return kTypeGuid; }
    bool IsContainer() const override { return true; }

    // Saved passwords and keys: only ever written into sealed archives.
    bool HoldsSecrets() const { return part_.part == tindale::programs::Part::Secrets; }
    tindale::programs::Part PartKind() const { return part_.part; }
    std::string Label() const { return part_.Label(); }

  private:
    tindale::programs::ProgramPart part_;
    std::optional<MD5> id_;
};

// The program part a node belongs to (itself or a container above it), or none.
const ProgramNode* ProgramOf(const BasicNode* node);

// "1 file", "3 files": what a program's part had saved or restored, for notes.
std::string FileCount(uint64_t files);

// Appends a node for each part of the programs found on `shelf`; returns how many.
int32_t AppendPrograms(BasicNode* parent, tindale::programs::Shelf shelf, NodeList& out);

}  // namespace v
