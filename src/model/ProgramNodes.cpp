#include "model/ProgramNodes.h"

#include <sys/stat.h>

#include "base/Text.h"
#include "model/FileNodes.h"
#include "model/NodeIconRegistry.h"
#include "model/Outcome.h"
#include "platform/FirefoxBookmarks.h"
#include "platform/ShellFolders.h"

namespace v {

using namespace tindale;
using programs::Part;

const Guid ProgramNode::kTypeGuid = Guid::FromText("{5E0C7A2B-8F4D-4C1E-9A63-2D7B1F0E4C85}");

namespace {

constexpr uint8_t kMagic[4] = {'T', 'Z', 'P', 'G'};
constexpr uint8_t kVersion = 1;

bool IsFolderPath(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "~/.thunderbird/x.default" for a path below the home folder.
std::u16string Shown(const std::string& path) {
    std::string home = shell::HomeFolder();
    if (path.rfind(home + "/", 0) == 0) return text::ToUtf16("~" + path.substr(home.size()));
    return text::ToUtf16(path);
}

}  // namespace

std::vector<uint8_t> ProgramPayload::Encode() const {
    std::vector<uint8_t> out(kMagic, kMagic + 4);
    out.push_back(kVersion);
    out.push_back(static_cast<uint8_t>(part));
    for (const auto& s : {program, profile, home}) text::PutShortString(out, s);
    for (const auto& place : places) text::PutShortString(out, text::ToUtf8(place));
    return out;
}

std::optional<ProgramPayload> ProgramPayload::Decode(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 6 || !std::equal(kMagic, kMagic + 4, bytes.begin()) ||
        bytes[4] != kVersion || bytes[5] < 1 || bytes[5] > 5)
        return std::nullopt;
    ProgramPayload payload;
    payload.part = static_cast<Part>(bytes[5]);
    std::vector<std::string> strings;
    for (size_t at = 6; at < bytes.size();) {
        auto s = text::TakeShortString(bytes, at);
        if (!s) return std::nullopt;
        strings.push_back(std::move(*s));
    }
    if (strings.size() < 3) return std::nullopt;
    payload.program = strings[0];
    payload.profile = strings[1];
    payload.home = strings[2];
    for (size_t i = 3; i < strings.size(); ++i) payload.places.push_back(text::ToUtf16(strings[i]));
    return payload;
}

std::string ProgramPayload::Label() const {
    return programs::ProgramPart{program, profile, {}, part, {}}.Label();
}

ProgramNode::ProgramNode(programs::ProgramPart part) : part_(std::move(part)) {
    displayName = text::ToUtf16(part_.Label());
    iconIndex = NodeIconRegistry::Instance().IndexForKey(
        part_.shelf == programs::Shelf::Favorites ? u"FavoriteItem" : u"Registry");
}

int32_t ProgramNode::EnumContainers(NodeList& out) {
    int32_t added = 0;
    for (const auto& place : part_.places) {
        if (!IsFolderPath(place.path)) continue;
        auto folder = std::make_unique<FileFolderNode>(place.path);
        folder->displayName = Shown(place.path);
        folder->SetPlace(place, "");
        folder->parent = this;
        out.push_back(std::move(folder));
        ++added;
    }
    return added;
}

int32_t ProgramNode::EnumItems(NodeList& out) {
    int32_t added = 0;
    for (const auto& place : part_.places) {
        if (IsFolderPath(place.path)) continue;
        std::unique_ptr<FileFolderNode> file;
        if (place.madeFrom.empty())
            file = std::make_unique<FileFolderNode>(place.path);
        else
            file = std::make_unique<MadeFileNode>(
                place.path, [from = place.madeFrom]() -> std::optional<std::string> {
                    auto bookmarks = programs::ReadFirefoxBookmarks(from);
                    if (!bookmarks) return std::nullopt;
                    return bookmarks->json;
                });
        file->displayName = text::ToUtf16(place.path.substr(place.path.rfind('/') + 1));
        file->parent = this;
        out.push_back(std::move(file));
        ++added;
    }
    return added;
}

bool ProgramNode::MayHoldItems() const {
    for (const auto& place : part_.places)
        if (!IsFolderPath(place.path)) return true;
    return false;
}

bool ProgramNode::CheckedByDefault() const {
    return part_.part != Part::History && part_.part != Part::Secrets;
}

uint64_t ProgramNode::WritePayload(BasicStream& out) {
    ProgramPayload payload{part_.program, part_.profile, shell::HomeFolder(), part_.part, {}};
    std::vector<std::string> places;
    for (const auto& place : part_.places) {
        places.push_back(place.path);
        if (auto stored = shell::ToArchivePath(place.path)) payload.places.push_back(*stored);
    }
    auto busy =
        part_.part == Part::Settings ? programs::InUse(part_.program, places) : std::nullopt;
    if (busy)
        ReportNote(*busy + " while its files were read: the archive holds them as they stood " +
                   "then (close it before a backup to be sure they agree with each other)");
    auto bytes = payload.Encode();
    return static_cast<uint64_t>(out.Write(bytes.data(), static_cast<int32_t>(bytes.size())));
}

ID* ProgramNode::GetId() {
    if (!id_) id_ = NameDigest(displayName);
    return &*id_;
}

const ProgramNode* ProgramOf(const BasicNode* node) {
    for (; node; node = node->parent)
        if (auto* program = dynamic_cast<const ProgramNode*>(node)) return program;
    return nullptr;
}

std::string FileCount(uint64_t files) {
    return std::to_string(files) + (files == 1 ? " file" : " files");
}

int32_t AppendPrograms(BasicNode* parent, programs::Shelf shelf, NodeList& out) {
    int32_t added = 0;
    for (auto& part : programs::FindPrograms(shelf)) {
        auto node = std::make_unique<ProgramNode>(std::move(part));
        node->parent = parent;
        out.push_back(std::move(node));
        ++added;
    }
    return added;
}

}  // namespace v
