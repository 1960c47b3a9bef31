#include "restore/FileSources.h"

#include <span>

#include "base/Text.h"
#include "model/ProgramNodes.h"
#include "platform/ProgramCatalog.h"
#include "platform/ShellFolders.h"

using namespace tindale;

namespace {

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// Whether `folder` holds the home folder (is "/", "/home", ...): a source set to such a
// folder would let an archive write anywhere in the home, settings included.
bool HoldsHome(const std::string& folder) {
    std::string home = WithoutTrailingSlash(shell::HomeFolder());
    std::string f = WithoutTrailingSlash(folder);
    return f == "/" ||
           (home.size() > f.size() && home.compare(0, f.size(), f) == 0 && home[f.size()] == '/');
}

// The restoring person's folder for a source root, by the root's display name.
std::optional<std::string> LocalFolderFor(const std::u16string& name) {
    std::string folder;
    if (name == u"My Documents") folder = shell::DocumentsFolder();
    if (name == u"Contacts") folder = shell::ContactsFolder();
    if (name == u"Windows Address Book") folder = v::WABNode::AddressBookFolder();
    if (folder.empty() || HoldsHome(folder)) return std::nullopt;
    return WithoutTrailingSlash(folder);
}

}  // namespace

bool FileSources::NeedsPayload(const v::NodeRecord& record) {
    bool root = record.ParentGuid().IsZero() && record.TypeGuid() == v::FileFolderNode::kTypeGuid;
    bool program = record.TypeGuid() == v::ProgramNode::kTypeGuid;
    return (root || program) && record.PayloadLength() <= (1u << 20);
}

namespace {

// The places a program's part read from, as they are in this home.
std::vector<std::string> LocalPlaces(const v::ProgramPayload& program) {
    std::vector<std::string> places;
    for (const auto& stored : program.places)
        if (auto local = shell::ExpandArchivePath(stored)) places.push_back(*local);
    return places;
}

}  // namespace

void FileSources::Observe(const v::NodeRecord& record, const std::vector<uint8_t>* payload) {
    if (record.TypeGuid() == v::ProgramNode::kTypeGuid) {
        auto program = payload ? v::ProgramPayload::Decode(*payload) : std::nullopt;
        Source source;
        if (program) {
            source.root = v::FileRestoreRoot{u"", "", true, program->home};
            programs_.push_back(
                {program->Label(), programs::InUse(program->program, LocalPlaces(*program))});
            source.program = programs_.size() - 1;
        }
        sources_.push_back(source);
        sourceOf_[record.InstanceGuid()] = sources_.size() - 1;
        return;
    }
    if (!record.ParentGuid().IsZero()) {
        auto parent = sourceOf_.find(record.ParentGuid());
        if (parent != sourceOf_.end()) sourceOf_[record.InstanceGuid()] = parent->second;
        return;
    }
    Source source;
    auto& root = source.root;
    if (record.TypeGuid() == v::FavoritesNode::kTypeGuid) {
        // Favorites has no payload of its own; its items are stored below this folder.
        root = v::FileRestoreRoot{u"%USERPROFILE%\\Favorites", shell::FavoritesFolder(), false, ""};
    } else if (record.TypeGuid() == v::FileFolderNode::kTypeGuid && payload &&
               payload->size() >= 4096) {
        auto local = LocalFolderFor(record.DisplayName());
        std::u16string stored = text::GetFixedUtf16(std::span(payload->data(), 4096));
        if (local && !stored.empty()) root = v::FileRestoreRoot{stored, *local, false, ""};
    } else {
        return;  // not a file source
    }
    sources_.push_back(source);
    sourceOf_[record.InstanceGuid()] = sources_.size() - 1;
}

std::optional<v::FileRestoreRoot> FileSources::RootFor(const v::NodeRecord& record) const {
    auto it = sourceOf_.find(record.InstanceGuid());
    if (it == sourceOf_.end()) return std::nullopt;
    return sources_[it->second].root;
}

FileSources::Program* FileSources::ProgramFor(const v::NodeRecord& record) {
    auto it = sourceOf_.find(record.InstanceGuid());
    if (it == sourceOf_.end() || !sources_[it->second].program) return nullptr;
    return &programs_[*sources_[it->second].program];
}
